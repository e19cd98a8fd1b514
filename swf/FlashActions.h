// SWF action records (the SWF 3 to 5 action model): one class per action, each
// writing itself to and reading itself back from a byte stream, and the importer
// that rebuilds record lists from bytes by their action codes.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class FlashActionRecord {
public:
    FlashActionRecord() = default;
    explicit FlashActionRecord(uint16_t code) : code_(code) {}
    // A record of a code this library does not model, kept as raw payload bytes.
    FlashActionRecord(uint16_t code, std::vector<uint8_t> payload);
    virtual ~FlashActionRecord() = default;
    FlashActionRecord(const FlashActionRecord &) = delete;
    FlashActionRecord &operator=(const FlashActionRecord &) = delete;

    // Writes the code and, from 0x80 on, the 16-bit length and the payload. A
    // record whose lengths do not fit their 16-bit fields fails the stream and
    // writes nothing.
    virtual void Write(std::ostream &out) const;
    // Reads the record starting at its code byte. A record that ends early or
    // does not parse fails the stream, keeping what was read.
    virtual void Read(std::istream &in);

    uint16_t Code() const { return code_; }
    uint16_t Length() const { return length_; }
    const std::vector<uint8_t> &Payload() const { return payload_; }

protected:
    void WriteHeader(std::ostream &out, size_t length) const;
    // Reads the code and, from 0x80 on, the length and exactly that many payload bytes.
    [[nodiscard]] bool ReadRecord(std::istream &in, std::vector<uint8_t> &payload);
    [[nodiscard]] static bool FitsLength(size_t length) { return length <= 0xFFFF; }

    std::vector<uint8_t> payload_;
    uint16_t code_ = 0;
    uint16_t length_ = 0;
};

std::ostream &operator<<(std::ostream &out, const FlashActionRecord &record);

// Actions without payload, by code.
#define ORAFON_FLASH_SIMPLE_ACTIONS(X)                                                                                 \
    X(0x04, NextFrame)                                                                                                 \
    X(0x05, PreviousFrame)                                                                                             \
    X(0x06, Play)                                                                                                      \
    X(0x07, Stop)                                                                                                      \
    X(0x08, ToggleQuality)                                                                                             \
    X(0x09, StopSounds)                                                                                                \
    X(0x0A, Add)                                                                                                       \
    X(0x0B, Subtract)                                                                                                  \
    X(0x0C, Multiply)                                                                                                  \
    X(0x0D, Divide)                                                                                                    \
    X(0x0E, Equals)                                                                                                    \
    X(0x0F, Less)                                                                                                      \
    X(0x10, And)                                                                                                       \
    X(0x11, Or)                                                                                                        \
    X(0x12, Not)                                                                                                       \
    X(0x13, StringEquals)                                                                                              \
    X(0x14, StringLength)                                                                                              \
    X(0x15, StringExtract)                                                                                             \
    X(0x17, Pop)                                                                                                       \
    X(0x18, ToInteger)                                                                                                 \
    X(0x1C, GetVariable)                                                                                               \
    X(0x1D, SetVariable)                                                                                               \
    X(0x20, SetTarget2)                                                                                                \
    X(0x21, StringAdd)                                                                                                 \
    X(0x22, GetProperty)                                                                                               \
    X(0x23, SetProperty)                                                                                               \
    X(0x24, CloneSprite)                                                                                               \
    X(0x25, RemoveSprite)                                                                                              \
    X(0x26, Trace)                                                                                                     \
    X(0x27, StartDrag)                                                                                                 \
    X(0x28, EndDrag)                                                                                                   \
    X(0x29, StringLess)                                                                                                \
    X(0x30, RandomNumber)                                                                                              \
    X(0x31, MBStringLength)                                                                                            \
    X(0x32, CharToAscii)                                                                                               \
    X(0x33, AsciiToChar)                                                                                               \
    X(0x34, GetTime)                                                                                                   \
    X(0x35, MBStringExtract)                                                                                           \
    X(0x36, MBCharToAscii)                                                                                             \
    X(0x37, MBAsciToChar)                                                                                              \
    X(0x3A, Delete)                                                                                                    \
    X(0x3B, Delete2)                                                                                                   \
    X(0x3C, DefineLocal)                                                                                               \
    X(0x3D, CallFunction)                                                                                              \
    X(0x3E, Return)                                                                                                    \
    X(0x3F, Modulo)                                                                                                    \
    X(0x40, NewObject)                                                                                                 \
    X(0x41, DefineLocal2)                                                                                              \
    X(0x42, InitArray)                                                                                                 \
    X(0x43, InitObject)                                                                                                \
    X(0x44, TypeOf)                                                                                                    \
    X(0x45, TargetPath)                                                                                                \
    X(0x46, Enumerate)                                                                                                 \
    X(0x47, Add2)                                                                                                      \
    X(0x48, Less2)                                                                                                     \
    X(0x49, Equals2)                                                                                                   \
    X(0x4A, ToNumber)                                                                                                  \
    X(0x4B, ToString)                                                                                                  \
    X(0x4C, PushDuplicate)                                                                                             \
    X(0x4D, StackSwap)                                                                                                 \
    X(0x4E, GetMember)                                                                                                 \
    X(0x4F, SetMember)                                                                                                 \
    X(0x50, Increment)                                                                                                 \
    X(0x51, Decrement)                                                                                                 \
    X(0x52, CallMethod)                                                                                                \
    X(0x53, NewMethod)                                                                                                 \
    X(0x60, BitAnd)                                                                                                    \
    X(0x61, BitOr)                                                                                                     \
    X(0x62, BitXor)                                                                                                    \
    X(0x63, BitLShift)                                                                                                 \
    X(0x64, BitRShift)                                                                                                 \
    X(0x65, BitURShift)

#define ORAFON_FLASH_DECLARE_SIMPLE_ACTION(code, name)                                                                 \
    class FlashAction##name : public FlashActionRecord {                                                               \
    public:                                                                                                            \
        FlashAction##name() : FlashActionRecord(code) {}                                                               \
    };
ORAFON_FLASH_SIMPLE_ACTIONS(ORAFON_FLASH_DECLARE_SIMPLE_ACTION)
#undef ORAFON_FLASH_DECLARE_SIMPLE_ACTION

// Calls the frame whose label or number is on the stack; no payload but a zero length.
class FlashActionCall : public FlashActionRecord {
public:
    FlashActionCall() : FlashActionRecord(0x9E) {}
    void Write(std::ostream &out) const override;
};

// Base of the records that carry one 16-bit value.
class FlashActionWordRecord : public FlashActionRecord {
public:
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

protected:
    FlashActionWordRecord(uint16_t code, uint16_t value) : FlashActionRecord(code), value_(value) {}
    uint16_t value_;
};

class FlashActionGotoFrame : public FlashActionWordRecord {
public:
    explicit FlashActionGotoFrame(uint16_t frame = 0) : FlashActionWordRecord(0x81, frame) {}
    uint16_t Frame() const { return value_; }
};

class FlashActionJump : public FlashActionWordRecord {
public:
    explicit FlashActionJump(int16_t offset = 0) : FlashActionWordRecord(0x99, static_cast<uint16_t>(offset)) {}
    int16_t Offset() const { return static_cast<int16_t>(value_); }
};

class FlashActionIf : public FlashActionWordRecord {
public:
    explicit FlashActionIf(int16_t offset = 0) : FlashActionWordRecord(0x9D, static_cast<uint16_t>(offset)) {}
    int16_t Offset() const { return static_cast<int16_t>(value_); }
};

class FlashActionWaitForFrame : public FlashActionRecord {
public:
    FlashActionWaitForFrame(uint16_t frame = 0, uint8_t skipCount = 0)
        : FlashActionRecord(0x8A), frame_(frame), skipCount_(skipCount)
    {
    }
    uint16_t Frame() const { return frame_; }
    uint8_t SkipCount() const { return skipCount_; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    uint16_t frame_;
    uint8_t skipCount_;
};

// Base of the records that carry one byte.
class FlashActionByteRecord : public FlashActionRecord {
public:
    uint8_t Value() const { return value_; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

protected:
    FlashActionByteRecord(uint16_t code, uint8_t value) : FlashActionRecord(code), value_(value) {}
    uint8_t value_;
};

class FlashActionWaitForFrame2 : public FlashActionByteRecord {
public:
    explicit FlashActionWaitForFrame2(uint8_t skipCount = 0) : FlashActionByteRecord(0x8D, skipCount) {}
};

// The byte holds the send-vars method and the target/load flags.
class FlashActionGetURL2 : public FlashActionByteRecord {
public:
    explicit FlashActionGetURL2(uint8_t flags = 0) : FlashActionByteRecord(0x9A, flags) {}
};

// The byte holds the play flag (and, from SWF 7 on, the scene-bias flag).
class FlashActionGotoFrame2 : public FlashActionByteRecord {
public:
    explicit FlashActionGotoFrame2(uint8_t flags = 0) : FlashActionByteRecord(0x9F, flags) {}
};

class FlashActionStoreRegister : public FlashActionByteRecord {
public:
    explicit FlashActionStoreRegister(uint8_t reg = 0) : FlashActionByteRecord(0x87, reg) {}
};

// Base of the records that carry one zero-terminated string.
class FlashActionStringRecord : public FlashActionRecord {
public:
    const std::string &Text() const { return text_; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

protected:
    FlashActionStringRecord(uint16_t code, std::string text) : FlashActionRecord(code), text_(std::move(text)) {}
    std::string text_;
};

class FlashActionSetTarget : public FlashActionStringRecord {
public:
    explicit FlashActionSetTarget(std::string target = {}) : FlashActionStringRecord(0x8B, std::move(target)) {}
};

class FlashActionGotoLabel : public FlashActionStringRecord {
public:
    explicit FlashActionGotoLabel(std::string label = {}) : FlashActionStringRecord(0x8C, std::move(label)) {}
};

class FlashActionGetURL : public FlashActionRecord {
public:
    FlashActionGetURL(std::string url = {}, std::string target = {})
        : FlashActionRecord(0x83), url_(std::move(url)), target_(std::move(target))
    {
    }
    const std::string &Url() const { return url_; }
    const std::string &Target() const { return target_; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    std::string url_;
    std::string target_;
};

// Pushes one typed value, held as its raw bytes.
class FlashActionPush : public FlashActionRecord {
public:
    FlashActionPush() : FlashActionRecord(0x96) {}
    FlashActionPush(uint8_t type, std::vector<uint8_t> value)
        : FlashActionRecord(0x96), type_(type), value_(std::move(value))
    {
    }
    uint8_t Type() const { return type_; }
    virtual uint16_t ValueLength() const { return static_cast<uint16_t>(value_.size()); }
    virtual const uint8_t *Value() const { return value_.data(); }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    uint8_t type_ = 0;
    std::vector<uint8_t> value_;
};

class FlashActionConstantPool : public FlashActionRecord {
public:
    FlashActionConstantPool() : FlashActionRecord(0x88) {}
    explicit FlashActionConstantPool(std::vector<std::string> strings);
    const std::vector<std::string> &Strings() const { return strings_; }
    // Byte count of all strings, terminators included.
    uint32_t StringBytes() const { return stringBytes_; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    uint32_t stringBytes_ = 0;
    std::vector<std::string> strings_;
};

// Base of the records followed by a body of further records (DefineFunction, With).
// Body records added by the caller stay the caller's; read ones belong to the record.
class FlashActionBodyRecord : public FlashActionRecord {
public:
    void AddBodyRecord(FlashActionRecord *record) { body_.push_back(record); }
    const std::vector<FlashActionRecord *> &Body() const { return body_; }

protected:
    using FlashActionRecord::FlashActionRecord;
    // Encodes the body; false when it exceeds the 16-bit code size.
    [[nodiscard]] bool EncodeBody(std::vector<uint8_t> &bytes) const;
    [[nodiscard]] bool ReadBodyRecords(std::istream &in, uint16_t codeSize);

    std::vector<FlashActionRecord *> body_;
    std::vector<std::unique_ptr<FlashActionRecord>> ownedBody_;
};

class FlashActionDefineFunction : public FlashActionBodyRecord {
public:
    FlashActionDefineFunction() : FlashActionBodyRecord(0x9B) {}
    FlashActionDefineFunction(std::string name, std::vector<std::string> parameters);
    const std::string &Name() const { return name_; }
    uint16_t ParameterCount() const { return static_cast<uint16_t>(parameters_.size()); }
    const std::vector<std::string> &Parameters() const { return parameters_; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    std::string name_;
    std::vector<std::string> parameters_;
};

// Laid out as the SWF format has it: length 2, the body size (16 bits), then the body.
class FlashActionWith : public FlashActionBodyRecord {
public:
    FlashActionWith() : FlashActionBodyRecord(0x94) {}
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;
};

// Creates the record class for an action code; a plain record for unknown codes.
[[nodiscard]] std::unique_ptr<FlashActionRecord> FlashCreateAction(uint8_t code);

// The class name (without the Flash prefix) for a known code, or nullptr.
const char *FlashActionName(uint8_t code);

// Number of action codes modelled by a class of their own.
size_t FlashActionClassCount();

class FlashActionVectorImporter {
public:
    // Nested function and with bodies deeper than this end the read.
    static constexpr int kMaxNesting = 32;

    virtual ~FlashActionVectorImporter() = default;

    // Reads records up to and including the 0 end-of-actions byte. Returns true
    // when the end byte was reached with every record intact.
    [[nodiscard]] bool Import(std::istream &in, std::vector<FlashActionRecord *> &records,
                              std::vector<std::unique_ptr<FlashActionRecord>> &owned);
    // Reads records from exactly byteCount bytes. Returns true when they held
    // whole records only.
    [[nodiscard]] bool Import(std::istream &in, std::vector<FlashActionRecord *> &records,
                              std::vector<std::unique_ptr<FlashActionRecord>> &owned, uint32_t byteCount);
};
