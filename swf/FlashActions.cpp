#include "FlashActions.h"

#include "FlashIO.h"

#include <array>
#include <cstring>
#include <functional>

using namespace flashio;

namespace {

[[nodiscard]] bool HasEmbeddedZero(const std::string &text)
{
    return text.find('\0') != std::string::npos;
}

void WriteCString(std::ostream &out, const std::string &text)
{
    WriteBytes(out, text.data(), text.size());
    WriteU8(out, 0);
}

// Counts how deeply record bodies are being read on this thread, so a crafted
// nest of function or with bodies cannot exhaust the stack.
thread_local int g_nesting = 0;

class NestingGuard {
public:
    NestingGuard() { ++g_nesting; }
    ~NestingGuard() { --g_nesting; }
    NestingGuard(const NestingGuard &) = delete;
    NestingGuard &operator=(const NestingGuard &) = delete;
    bool TooDeep() const { return g_nesting > FlashActionVectorImporter::kMaxNesting; }
};

} // namespace

FlashActionRecord::FlashActionRecord(uint16_t code, std::vector<uint8_t> payload)
    : payload_(std::move(payload)), code_(code), length_(static_cast<uint16_t>(payload_.size()))
{
}

std::ostream &operator<<(std::ostream &out, const FlashActionRecord &record)
{
    record.Write(out);
    return out;
}

void FlashActionRecord::WriteHeader(std::ostream &out, size_t length) const
{
    WriteU8(out, static_cast<uint8_t>(code_));
    if (code_ >= 0x80) {
        WriteU16(out, static_cast<uint16_t>(length));
    }
}

bool FlashActionRecord::ReadRecord(std::istream &in, std::vector<uint8_t> &payload)
{
    uint8_t code = 0;
    if (!ReadU8(in, code)) {
        in.setstate(std::ios::failbit);
        return false;
    }
    code_ = code;
    length_ = 0;
    payload.clear();
    if (code < 0x80) {
        return true;
    }
    if (!ReadU16(in, length_)) {
        return false;
    }
    return ReadBytes(in, payload, length_);
}

void FlashActionRecord::Write(std::ostream &out) const
{
    if (code_ >= 0x80 && !FitsLength(payload_.size())) {
        out.setstate(std::ios::failbit);
        return;
    }
    WriteHeader(out, payload_.size());
    if (code_ >= 0x80) {
        WriteBytes(out, payload_.data(), payload_.size());
    }
}

void FlashActionRecord::Read(std::istream &in)
{
    // A failed read leaves the stream failed, which the caller checks.
    static_cast<void>(ReadRecord(in, payload_));
}

void FlashActionCall::Write(std::ostream &out) const
{
    WriteHeader(out, 0);
}

void FlashActionWordRecord::Write(std::ostream &out) const
{
    WriteHeader(out, 2);
    WriteU16(out, value_);
}

void FlashActionWordRecord::Read(std::istream &in)
{
    std::vector<uint8_t> payload;
    if (!ReadRecord(in, payload)) {
        return;
    }
    ByteCursor cursor(payload);
    if (!cursor.U16(value_)) {
        in.setstate(std::ios::failbit);
    }
}

void FlashActionWaitForFrame::Write(std::ostream &out) const
{
    WriteHeader(out, 3);
    WriteU16(out, frame_);
    WriteU8(out, skipCount_);
}

void FlashActionWaitForFrame::Read(std::istream &in)
{
    std::vector<uint8_t> payload;
    if (!ReadRecord(in, payload)) {
        return;
    }
    ByteCursor cursor(payload);
    if (!cursor.U16(frame_) || !cursor.U8(skipCount_)) {
        in.setstate(std::ios::failbit);
    }
}

void FlashActionByteRecord::Write(std::ostream &out) const
{
    WriteHeader(out, 1);
    WriteU8(out, value_);
}

void FlashActionByteRecord::Read(std::istream &in)
{
    std::vector<uint8_t> payload;
    if (!ReadRecord(in, payload)) {
        return;
    }
    ByteCursor cursor(payload);
    if (!cursor.U8(value_)) {
        in.setstate(std::ios::failbit);
    }
}

void FlashActionStringRecord::Write(std::ostream &out) const
{
    if (!FitsLength(text_.size() + 1) || HasEmbeddedZero(text_)) {
        out.setstate(std::ios::failbit);
        return;
    }
    WriteHeader(out, text_.size() + 1);
    WriteCString(out, text_);
}

void FlashActionStringRecord::Read(std::istream &in)
{
    std::vector<uint8_t> payload;
    if (!ReadRecord(in, payload)) {
        return;
    }
    ByteCursor cursor(payload);
    if (!cursor.CString(text_)) {
        in.setstate(std::ios::failbit);
    }
}

void FlashActionGetURL::Write(std::ostream &out) const
{
    const size_t length = url_.size() + target_.size() + 2;
    if (!FitsLength(length) || HasEmbeddedZero(url_) || HasEmbeddedZero(target_)) {
        out.setstate(std::ios::failbit);
        return;
    }
    WriteHeader(out, length);
    WriteCString(out, url_);
    WriteCString(out, target_);
}

void FlashActionGetURL::Read(std::istream &in)
{
    std::vector<uint8_t> payload;
    if (!ReadRecord(in, payload)) {
        return;
    }
    ByteCursor cursor(payload);
    if (!cursor.CString(url_) || !cursor.CString(target_)) {
        in.setstate(std::ios::failbit);
    }
}

void FlashActionPush::Write(std::ostream &out) const
{
    if (!FitsLength(value_.size() + 1)) {
        out.setstate(std::ios::failbit);
        return;
    }
    WriteHeader(out, value_.size() + 1);
    WriteU8(out, type_);
    WriteBytes(out, value_.data(), value_.size());
}

void FlashActionPush::Read(std::istream &in)
{
    std::vector<uint8_t> payload;
    if (!ReadRecord(in, payload)) {
        return;
    }
    ByteCursor cursor(payload);
    if (!cursor.U8(type_)) {
        in.setstate(std::ios::failbit);
        return;
    }
    value_.assign(cursor.Here(), cursor.Here() + cursor.Remaining());
}

FlashActionConstantPool::FlashActionConstantPool(std::vector<std::string> strings)
    : FlashActionRecord(0x88), strings_(std::move(strings))
{
    for (const auto &text : strings_) {
        stringBytes_ += static_cast<uint32_t>(text.size() + 1);
    }
}

void FlashActionConstantPool::Write(std::ostream &out) const
{
    bool clean = strings_.size() <= 0xFFFF && FitsLength(size_t{stringBytes_} + 2);
    for (const auto &text : strings_) {
        clean = clean && !HasEmbeddedZero(text);
    }
    if (!clean) {
        out.setstate(std::ios::failbit);
        return;
    }
    WriteHeader(out, stringBytes_ + 2);
    WriteU16(out, static_cast<uint16_t>(strings_.size()));
    for (const auto &text : strings_) {
        WriteCString(out, text);
    }
}

void FlashActionConstantPool::Read(std::istream &in)
{
    std::vector<uint8_t> payload;
    strings_.clear();
    if (!ReadRecord(in, payload)) {
        return;
    }
    ByteCursor cursor(payload);
    uint16_t count = 0;
    if (!cursor.U16(count)) {
        in.setstate(std::ios::failbit);
        return;
    }
    stringBytes_ = length_ - 2u;
    for (uint16_t i = 0; i < count; ++i) {
        std::string text;
        if (!cursor.CString(text)) {
            in.setstate(std::ios::failbit);
            return;
        }
        strings_.push_back(std::move(text));
    }
}

bool FlashActionBodyRecord::EncodeBody(std::vector<uint8_t> &bytes) const
{
    VectorOStream body;
    for (const FlashActionRecord *record : body_) {
        record->Write(body);
    }
    bytes = body.Bytes();
    return body && FitsLength(bytes.size());
}

bool FlashActionBodyRecord::ReadBodyRecords(std::istream &in, uint16_t codeSize)
{
    if (!FlashActionVectorImporter().Import(in, body_, ownedBody_, codeSize)) {
        in.setstate(std::ios::failbit);
        return false;
    }
    return true;
}

FlashActionDefineFunction::FlashActionDefineFunction(std::string name, std::vector<std::string> parameters)
    : FlashActionBodyRecord(0x9B), name_(std::move(name)), parameters_(std::move(parameters))
{
}

void FlashActionDefineFunction::Write(std::ostream &out) const
{
    size_t length = name_.size() + 5;
    bool clean = parameters_.size() <= 0xFFFF && !HasEmbeddedZero(name_);
    for (const auto &parameter : parameters_) {
        length += parameter.size() + 1;
        clean = clean && !HasEmbeddedZero(parameter);
    }
    std::vector<uint8_t> body;
    if (!clean || !FitsLength(length) || !EncodeBody(body)) {
        out.setstate(std::ios::failbit);
        return;
    }
    WriteHeader(out, length);
    WriteCString(out, name_);
    WriteU16(out, static_cast<uint16_t>(parameters_.size()));
    for (const auto &parameter : parameters_) {
        WriteCString(out, parameter);
    }
    WriteU16(out, static_cast<uint16_t>(body.size()));
    WriteBytes(out, body.data(), body.size());
}

void FlashActionDefineFunction::Read(std::istream &in)
{
    std::vector<uint8_t> payload;
    parameters_.clear();
    if (!ReadRecord(in, payload)) {
        return;
    }
    ByteCursor cursor(payload);
    uint16_t count = 0;
    if (!cursor.CString(name_) || !cursor.U16(count)) {
        in.setstate(std::ios::failbit);
        return;
    }
    for (uint16_t i = 0; i < count; ++i) {
        std::string parameter;
        if (!cursor.CString(parameter)) {
            in.setstate(std::ios::failbit);
            return;
        }
        parameters_.push_back(std::move(parameter));
    }
    uint16_t codeSize = 0;
    if (!cursor.U16(codeSize)) {
        in.setstate(std::ios::failbit);
        return;
    }
    // A failed read leaves the stream failed, which the caller checks.
    static_cast<void>(ReadBodyRecords(in, codeSize));
}

void FlashActionWith::Write(std::ostream &out) const
{
    std::vector<uint8_t> body;
    if (!EncodeBody(body)) {
        out.setstate(std::ios::failbit);
        return;
    }
    WriteHeader(out, 2);
    WriteU16(out, static_cast<uint16_t>(body.size()));
    WriteBytes(out, body.data(), body.size());
}

void FlashActionWith::Read(std::istream &in)
{
    std::vector<uint8_t> payload;
    if (!ReadRecord(in, payload)) {
        return;
    }
    ByteCursor cursor(payload);
    uint16_t size = 0;
    if (!cursor.U16(size)) {
        in.setstate(std::ios::failbit);
        return;
    }
    // A failed read leaves the stream failed, which the caller checks.
    static_cast<void>(ReadBodyRecords(in, size));
}

namespace {

struct ActionClass {
    uint8_t code;
    const char *name;
    std::unique_ptr<FlashActionRecord> (*create)();
};

template <typename T> std::unique_ptr<FlashActionRecord> Make()
{
    return std::make_unique<T>();
}

#define ORAFON_FLASH_ACTION_ENTRY(code, name) {code, #name, &Make<FlashAction##name>},

constexpr ActionClass kActionClasses[] = {
    ORAFON_FLASH_SIMPLE_ACTIONS(ORAFON_FLASH_ACTION_ENTRY) //
    {0x81, "GotoFrame", &Make<FlashActionGotoFrame>},
    {0x83, "GetURL", &Make<FlashActionGetURL>},
    {0x87, "StoreRegister", &Make<FlashActionStoreRegister>},
    {0x88, "ConstantPool", &Make<FlashActionConstantPool>},
    {0x8A, "WaitForFrame", &Make<FlashActionWaitForFrame>},
    {0x8B, "SetTarget", &Make<FlashActionSetTarget>},
    {0x8C, "GotoLabel", &Make<FlashActionGotoLabel>},
    {0x8D, "WaitForFrame2", &Make<FlashActionWaitForFrame2>},
    {0x94, "With", &Make<FlashActionWith>},
    {0x96, "Push", &Make<FlashActionPush>},
    {0x99, "Jump", &Make<FlashActionJump>},
    {0x9A, "GetURL2", &Make<FlashActionGetURL2>},
    {0x9B, "DefineFunction", &Make<FlashActionDefineFunction>},
    {0x9D, "If", &Make<FlashActionIf>},
    {0x9E, "Call", &Make<FlashActionCall>},
    {0x9F, "GotoFrame2", &Make<FlashActionGotoFrame2>},
};

#undef ORAFON_FLASH_ACTION_ENTRY

const ActionClass *FindActionClass(uint8_t code)
{
    for (const auto &entry : kActionClasses) {
        if (entry.code == code) {
            return &entry;
        }
    }
    return nullptr;
}

// Reads records from in until it runs dry or stop() says so.
[[nodiscard]] bool ImportRecords(std::istream &in, std::vector<FlashActionRecord *> &records,
                                 std::vector<std::unique_ptr<FlashActionRecord>> &owned, bool stopAtEndByte)
{
    NestingGuard guard;
    if (guard.TooDeep()) {
        in.setstate(std::ios::failbit);
        return false;
    }
    for (;;) {
        const auto next = in.peek();
        if (next == std::char_traits<char>::eof()) {
            // Running out is the normal end of a counted body, a defect otherwise.
            return !stopAtEndByte && !in.bad();
        }
        if (stopAtEndByte && next == 0) {
            in.get();
            return true;
        }
        auto record = FlashCreateAction(static_cast<uint8_t>(next));
        record->Read(in);
        records.push_back(record.get());
        owned.push_back(std::move(record));
        if (!in) {
            return false;
        }
    }
}

} // namespace

[[nodiscard]] std::unique_ptr<FlashActionRecord> FlashCreateAction(uint8_t code)
{
    if (const ActionClass *entry = FindActionClass(code)) {
        return entry->create();
    }
    return std::make_unique<FlashActionRecord>(code);
}

const char *FlashActionName(uint8_t code)
{
    const ActionClass *entry = FindActionClass(code);
    return entry ? entry->name : nullptr;
}

size_t FlashActionClassCount()
{
    return std::size(kActionClasses);
}

bool FlashActionVectorImporter::Import(std::istream &in, std::vector<FlashActionRecord *> &records,
                                       std::vector<std::unique_ptr<FlashActionRecord>> &owned)
{
    return ImportRecords(in, records, owned, true);
}

bool FlashActionVectorImporter::Import(std::istream &in, std::vector<FlashActionRecord *> &records,
                                       std::vector<std::unique_ptr<FlashActionRecord>> &owned, uint32_t byteCount)
{
    // Parse the counted bytes on their own so no record can reach past them.
    std::vector<uint8_t> bytes;
    if (!ReadBytes(in, bytes, byteCount)) {
        return false;
    }
    MemoryIStream bodyIn(bytes);
    return ImportRecords(bodyIn, records, owned, false);
}
