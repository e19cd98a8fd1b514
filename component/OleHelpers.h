// Owning holders for BSTRs and VARIANTs, and the conversions between UTF-16
// strings and the 8-bit text of the calling thread's ANSI code page.
#pragma once

#include <orafon/win/windows.h>

#include <string>
#include <utility>

namespace orafon {

// Owns one BSTR; frees it with SysFreeString.
class CBstr {
public:
    CBstr() noexcept = default;
    explicit CBstr(BSTR adopted) noexcept : m_str(adopted) {}
    CBstr(const CBstr &) = delete;
    CBstr &operator=(const CBstr &) = delete;
    CBstr(CBstr &&o) noexcept : m_str(std::exchange(o.m_str, nullptr)) {}
    CBstr &operator=(CBstr &&o) noexcept
    {
        if (this != &o)
            Reset(o.Detach());
        return *this;
    }
    ~CBstr() { Reset(); }

    void Reset(BSTR adopted = nullptr) noexcept
    {
        BSTR old = std::exchange(m_str, adopted);
        if (old)
            SysFreeString(old);
    }
    [[nodiscard]] BSTR Detach() noexcept { return std::exchange(m_str, nullptr); }
    BSTR Get() const noexcept { return m_str; }
    UINT Length() const noexcept { return m_str ? SysStringLen(m_str) : 0; }
    // For out parameters: the holder is emptied first.
    BSTR *Out() noexcept
    {
        Reset();
        return &m_str;
    }

private:
    BSTR m_str = nullptr;
};

// Owns one VARIANT; cleared with VariantClear.
class CVariant {
public:
    CVariant() noexcept { VariantInit(&m_var); }
    CVariant(const CVariant &) = delete;
    CVariant &operator=(const CVariant &) = delete;
    ~CVariant() { VariantClear(&m_var); }

    VARIANT *operator&() noexcept { return &m_var; }
    VARIANT *Get() noexcept { return &m_var; }
    const VARIANT *Get() const noexcept { return &m_var; }
    VARIANT *operator->() noexcept { return &m_var; }
    const VARIANT *operator->() const noexcept { return &m_var; }
    // Hands the value over to the caller's VARIANT (assumed empty) and leaves this one empty.
    void Detach(VARIANT *dest) noexcept
    {
        *dest = m_var;
        VariantInit(&m_var);
    }

private:
    VARIANT m_var;
};

// UTF-16 → 8-bit text in the calling thread's ANSI code page. Returns false
// when the text cannot be converted.
bool WideToAnsi(const OLECHAR *text, std::string &out);

// 8-bit text in the calling thread's ANSI code page → a new BSTR in *pOut.
// E_OUTOFMEMORY when the string cannot be allocated.
HRESULT AnsiToBstr(const std::string &text, BSTR *pOut);

} // namespace orafon
