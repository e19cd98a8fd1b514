#include "FlashIO.h"

#include <algorithm>
#include <cstring>

namespace flashio {

void WriteU8(std::ostream &out, uint8_t value)
{
    out.put(static_cast<char>(value));
}

void WriteU16(std::ostream &out, uint16_t value)
{
    const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
    out.write(bytes, 2);
}

void WriteU32(std::ostream &out, uint32_t value)
{
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
    out.write(bytes, 4);
}

void WriteBytes(std::ostream &out, const void *data, size_t count)
{
    if (count > 0) {
        out.write(static_cast<const char *>(data), static_cast<std::streamsize>(count));
    }
}

[[nodiscard]] bool ReadU8(std::istream &in, uint8_t &value)
{
    const auto ch = in.get();
    if (ch == std::char_traits<char>::eof()) {
        return false;
    }
    value = static_cast<uint8_t>(ch);
    return true;
}

[[nodiscard]] bool ReadU16(std::istream &in, uint16_t &value)
{
    unsigned char bytes[2];
    if (!in.read(reinterpret_cast<char *>(bytes), 2)) {
        return false;
    }
    value = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    return true;
}

[[nodiscard]] bool ReadU32(std::istream &in, uint32_t &value)
{
    unsigned char bytes[4];
    if (!in.read(reinterpret_cast<char *>(bytes), 4)) {
        return false;
    }
    value = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
            (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

[[nodiscard]] bool ReadBytes(std::istream &in, std::vector<uint8_t> &bytes, size_t count)
{
    constexpr size_t kStep = size_t{1} << 20;
    bytes.clear();
    while (bytes.size() < count) {
        const size_t have = bytes.size();
        const size_t chunk = std::min(kStep, count - have);
        bytes.resize(have + chunk);
        in.read(reinterpret_cast<char *>(bytes.data() + have), static_cast<std::streamsize>(chunk));
        const auto got = static_cast<size_t>(in.gcount());
        if (got < chunk) {
            bytes.resize(have + got);
            in.setstate(std::ios::failbit);
            return false;
        }
    }
    return true;
}

MemoryInBuf::MemoryInBuf(const uint8_t *data, size_t size)
{
    // The get area is never written through; streambuf just lacks a const variant.
    char *begin = const_cast<char *>(reinterpret_cast<const char *>(data));
    setg(begin, begin, begin + size);
}

MemoryInBuf::pos_type MemoryInBuf::seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which)
{
    if (!(which & std::ios_base::in)) {
        return pos_type(off_type(-1));
    }
    off_type base = 0;
    if (dir == std::ios_base::cur) {
        base = gptr() - eback();
    } else if (dir == std::ios_base::end) {
        base = egptr() - eback();
    }
    const off_type target = base + off;
    if (target < 0 || target > egptr() - eback()) {
        return pos_type(off_type(-1));
    }
    setg(eback(), eback() + target, egptr());
    return pos_type(target);
}

MemoryInBuf::pos_type MemoryInBuf::seekpos(pos_type pos, std::ios_base::openmode which)
{
    return seekoff(off_type(pos), std::ios_base::beg, which);
}

MemoryIStream::MemoryIStream(const uint8_t *data, size_t size) : std::istream(nullptr), buf_(data, size)
{
    rdbuf(&buf_);
}

VectorOutBuf::int_type VectorOutBuf::overflow(int_type ch)
{
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        bytes_.push_back(static_cast<uint8_t>(ch));
    }
    return traits_type::not_eof(ch);
}

std::streamsize VectorOutBuf::xsputn(const char *s, std::streamsize n)
{
    bytes_.insert(bytes_.end(), reinterpret_cast<const uint8_t *>(s), reinterpret_cast<const uint8_t *>(s) + n);
    return n;
}

bool ByteCursor::U8(uint8_t &value)
{
    if (Remaining() < 1) {
        return false;
    }
    value = data_[pos_++];
    return true;
}

bool ByteCursor::U16(uint16_t &value)
{
    if (Remaining() < 2) {
        return false;
    }
    value = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return true;
}

bool ByteCursor::U32(uint32_t &value)
{
    if (Remaining() < 4) {
        return false;
    }
    value = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
            (static_cast<uint32_t>(data_[pos_ + 2]) << 16) | (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
    pos_ += 4;
    return true;
}

bool ByteCursor::CString(std::string &value)
{
    const void *zero = Remaining() > 0 ? std::memchr(Here(), 0, Remaining()) : nullptr;
    if (zero == nullptr) {
        return false;
    }
    const size_t length = static_cast<const uint8_t *>(zero) - Here();
    value.assign(reinterpret_cast<const char *>(Here()), length);
    pos_ += length + 1;
    return true;
}

} // namespace flashio
