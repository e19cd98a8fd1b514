// Little-endian byte encoding on standard streams, shared by the tag, action and
// sound-stream classes, plus the bounded reads that keep untrusted SWF data from
// making us allocate or read more than the input actually holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace flashio {

void WriteU8(std::ostream &out, uint8_t value);
void WriteU16(std::ostream &out, uint16_t value);
void WriteU32(std::ostream &out, uint32_t value);
void WriteBytes(std::ostream &out, const void *data, size_t count);

[[nodiscard]] bool ReadU8(std::istream &in, uint8_t &value);
[[nodiscard]] bool ReadU16(std::istream &in, uint16_t &value);
[[nodiscard]] bool ReadU32(std::istream &in, uint32_t &value);

// Reads exactly count bytes into bytes (replacing its contents). The buffer grows
// in bounded steps as data arrives, so a corrupt length field cannot force a huge
// allocation. On a short read the stream is left failed and false is returned.
[[nodiscard]] bool ReadBytes(std::istream &in, std::vector<uint8_t> &bytes, size_t count);

// Read-only stream buffer over bytes owned elsewhere. Lets record bodies be parsed
// from a buffer of exactly their declared length, so a parser can never run past
// the record into its neighbours.
class MemoryInBuf : public std::streambuf {
public:
    MemoryInBuf(const uint8_t *data, size_t size);

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
};

// An istream over a byte range (the range must outlive the stream).
class MemoryIStream : public std::istream {
public:
    MemoryIStream(const uint8_t *data, size_t size);
    explicit MemoryIStream(const std::vector<uint8_t> &bytes) : MemoryIStream(bytes.data(), bytes.size()) {}

private:
    MemoryInBuf buf_;
};

// Growable output buffer; cheaper than ostringstream when the bytes are wanted as a vector.
class VectorOutBuf : public std::streambuf {
public:
    const std::vector<uint8_t> &Bytes() const { return bytes_; }

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char *s, std::streamsize n) override;

private:
    std::vector<uint8_t> bytes_;
};

class VectorOStream : public std::ostream {
public:
    VectorOStream() : std::ostream(&buf_) {}
    const std::vector<uint8_t> &Bytes() const { return buf_.Bytes(); }

private:
    VectorOutBuf buf_;
};

// Cursor over a record body already read into memory. Every accessor fails
// instead of reading past the end.
class ByteCursor {
public:
    ByteCursor(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    explicit ByteCursor(const std::vector<uint8_t> &bytes) : ByteCursor(bytes.data(), bytes.size()) {}

    [[nodiscard]] bool U8(uint8_t &value);
    [[nodiscard]] bool U16(uint16_t &value);
    [[nodiscard]] bool U32(uint32_t &value);
    // A zero-terminated string; fails (consuming nothing) when no terminator is left.
    [[nodiscard]] bool CString(std::string &value);
    size_t Remaining() const { return size_ - pos_; }
    size_t Position() const { return pos_; }
    const uint8_t *Here() const { return data_ + pos_; }
    void Skip(size_t count) { pos_ += count < Remaining() ? count : Remaining(); }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

} // namespace flashio
