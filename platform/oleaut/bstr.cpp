// BSTRs: a 32-bit byte count, the characters, then a NUL character. The
// pointer handed out addresses the first character, so a BSTR can be passed
// wherever a NUL-terminated OLECHAR string is expected.
#include <orafon/win/oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr size_t kPrefix = sizeof(DWORD);
constexpr size_t kTerminator = sizeof(OLECHAR);
// Keeps the byte count representable and prefix + data + NUL from wrapping.
constexpr size_t kMaxBytes = std::numeric_limits<DWORD>::max() - kPrefix - kTerminator - 1;

char *BlockOf(BSTR bstr)
{
    return reinterpret_cast<char *>(bstr) - kPrefix;
}

DWORD StoredByteCount(BSTR bstr)
{
    DWORD bytes;
    std::memcpy(&bytes, BlockOf(bstr), sizeof bytes);
    return bytes;
}

// Writes the prefix and the terminating NUL around `bytes` bytes of data.
BSTR Frame(char *block, size_t bytes)
{
    DWORD count = static_cast<DWORD>(bytes);
    std::memcpy(block, &count, sizeof count);
    std::memset(block + kPrefix + bytes, 0, kTerminator);
    return reinterpret_cast<BSTR>(block + kPrefix);
}

// A new BSTR of `bytes` bytes copied from `data`, or zero-filled when data is null.
BSTR AllocateBytes(const void *data, size_t bytes)
{
    if (bytes > kMaxBytes)
        return nullptr;
    char *block = static_cast<char *>(std::malloc(kPrefix + bytes + kTerminator));
    if (!block)
        return nullptr;
    if (data)
        std::memcpy(block + kPrefix, data, bytes);
    else
        std::memset(block + kPrefix, 0, bytes);
    return Frame(block, bytes);
}

size_t Length(const OLECHAR *psz)
{
    size_t n = 0;
    while (psz[n])
        ++n;
    return n;
}

// Resizes *pbstr to `bytes`, keeping its old contents, then copies `data` in.
// `data` may point into the old string itself.
INT ReallocateBytes(BSTR *pbstr, const void *data, size_t bytes)
{
    if (!pbstr || bytes > kMaxBytes)
        return FALSE;
    BSTR old = *pbstr;
    if (!old) {
        BSTR fresh = AllocateBytes(data, bytes);
        if (!fresh)
            return FALSE;
        *pbstr = fresh;
        return TRUE;
    }
    const char *src = static_cast<const char *>(data);
    char *oldBlock = BlockOf(old);
    size_t oldBytes = StoredByteCount(old);
    auto address = reinterpret_cast<uintptr_t>(src);
    auto start = reinterpret_cast<uintptr_t>(oldBlock) + kPrefix;
    bool inside = src && address >= start && address < start + oldBytes + kTerminator;
    // Text taken from the string itself is never read past the old string's
    // end; when shrinking it is moved into place before the block shrinks.
    size_t offset = inside ? address - start : 0;
    size_t keep = inside ? std::min(bytes, oldBytes + kTerminator - offset) : 0;
    bool growing = bytes > oldBytes;
    if (inside && !growing)
        std::memmove(oldBlock + kPrefix, src, keep);

    char *block = static_cast<char *>(std::realloc(oldBlock, kPrefix + bytes + kTerminator));
    if (!block)
        return FALSE;
    if (inside) {
        if (growing)
            std::memmove(block + kPrefix, block + kPrefix + offset, keep);
        if (bytes > keep)
            std::memset(block + kPrefix + keep, 0, bytes - keep);
    } else if (src) {
        std::memcpy(block + kPrefix, src, bytes);
    } else if (bytes > oldBytes) {
        std::memset(block + kPrefix + oldBytes, 0, bytes - oldBytes);
    }
    *pbstr = Frame(block, bytes);
    return TRUE;
}

} // namespace

STDAPI_(BSTR) SysAllocString(const OLECHAR *psz)
{
    if (!psz)
        return nullptr;
    return AllocateBytes(psz, Length(psz) * sizeof(OLECHAR));
}

STDAPI_(BSTR) SysAllocStringLen(const OLECHAR *strIn, UINT ui)
{
    return AllocateBytes(strIn, static_cast<size_t>(ui) * sizeof(OLECHAR));
}

STDAPI_(BSTR) SysAllocStringByteLen(LPCSTR psz, UINT len)
{
    return AllocateBytes(psz, len);
}

STDAPI_(INT) SysReAllocString(BSTR *pbstr, const OLECHAR *psz)
{
    if (!pbstr)
        return FALSE;
    if (!psz) {
        // Windows frees the old string and stores a null one.
        SysFreeString(*pbstr);
        *pbstr = nullptr;
        return TRUE;
    }
    return ReallocateBytes(pbstr, psz, Length(psz) * sizeof(OLECHAR));
}

STDAPI_(INT) SysReAllocStringLen(BSTR *pbstr, const OLECHAR *psz, UINT len)
{
    return ReallocateBytes(pbstr, psz, static_cast<size_t>(len) * sizeof(OLECHAR));
}

STDAPI_(void) SysFreeString(BSTR bstrString)
{
    if (bstrString)
        std::free(BlockOf(bstrString));
}

STDAPI_(UINT) SysStringLen(BSTR pbstr)
{
    return pbstr ? StoredByteCount(pbstr) / sizeof(OLECHAR) : 0;
}

STDAPI_(UINT) SysStringByteLen(BSTR bstr)
{
    return bstr ? StoredByteCount(bstr) : 0;
}
