// Owning holders for what the platform hands out: BSTRs, VARIANTs, EXCEPINFOs, registry
// keys, CoTaskMem blocks, mmio handles and C streams. Each one frees what it
// holds exactly once: when it is destroyed, reset or assigned over. CComPtr,
// the holder for interface references, lives beside IUnknown in <orafon/win/unknwn.h>.
#pragma once

#include <orafon/win/mmio.h>
#include <orafon/win/windows.h>

#include <concepts>
#include <cstdio>
#include <string_view>
#include <type_traits>
#include <utility>

namespace orafon {

// Holds one handle of the kind Traits describes:
//   using Handle = ...;                    the raw handle type
//   static Handle Empty() noexcept;        the value that holds nothing
//   static R Close(Handle) noexcept;       frees a handle that is not Empty()
template <typename Traits> class CUniqueHandle {
public:
    using Handle = typename Traits::Handle;
    using CloseResult = decltype(Traits::Close(std::declval<Handle>()));

    CUniqueHandle() noexcept = default;
    explicit CUniqueHandle(Handle adopted) noexcept : m_handle(adopted) {}
    CUniqueHandle(const CUniqueHandle &) = delete;
    CUniqueHandle &operator=(const CUniqueHandle &) = delete;
    CUniqueHandle(CUniqueHandle &&other) noexcept : m_handle(other.Detach()) {}
    CUniqueHandle &operator=(CUniqueHandle &&other) noexcept
    {
        if (this != &other)
            Reset(other.Detach());
        return *this;
    }
    ~CUniqueHandle() { Reset(); }

    // Frees the handle held (if any) and adopts another.
    void Reset(Handle adopted = Traits::Empty()) noexcept
    {
        const Handle old = std::exchange(m_handle, adopted);
        if (old != Traits::Empty())
            static_cast<void>(Traits::Close(old));
    }
    // Frees the handle now and returns what freeing it reported, for handles
    // whose closing can fail (a stream's last buffered bytes are written
    // then). The holder is empty afterwards; an empty holder reports
    // Traits::CloseEmpty().
    [[nodiscard]] CloseResult Close() noexcept requires(!std::is_void_v<CloseResult>)
    {
        const Handle old = std::exchange(m_handle, Traits::Empty());
        return old != Traits::Empty() ? Traits::Close(old) : Traits::CloseEmpty();
    }
    [[nodiscard]] Handle Detach() noexcept { return std::exchange(m_handle, Traits::Empty()); }
    Handle Get() const noexcept { return m_handle; }
    explicit operator bool() const noexcept { return m_handle != Traits::Empty(); }
    // For out parameters: what was held is freed first.
    Handle *Out() noexcept
    {
        Reset();
        return &m_handle;
    }

private:
    Handle m_handle = Traits::Empty();
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Empty() noexcept { return nullptr; }
    static LSTATUS Close(Handle key) noexcept { return RegCloseKey(key); }
    static LSTATUS CloseEmpty() noexcept { return ERROR_INVALID_HANDLE; }
};
// An open registry key (predefined roots may be held too: closing them is harmless).
using CRegKey = CUniqueHandle<RegKeyTraits>;

struct MmioTraits {
    using Handle = HMMIO;
    static Handle Empty() noexcept { return nullptr; }
    static MMRESULT Close(Handle file) noexcept { return mmioClose(file, 0); }
    static MMRESULT CloseEmpty() noexcept { return MMSYSERR_INVALHANDLE; }
};
// An open mmio file; Close() reports whether the buffered data reached the file.
using CMmioFile = CUniqueHandle<MmioTraits>;

struct StdioTraits {
    using Handle = std::FILE *;
    static Handle Empty() noexcept { return nullptr; }
    static int Close(Handle file) noexcept { return std::fclose(file); }
    static int CloseEmpty() noexcept { return EOF; }
};
// An open C stream; Close() returns fclose's result (0, or EOF when the last
// buffered bytes could not be written).
using CStdioFile = CUniqueHandle<StdioTraits>;

template <typename T> struct CoTaskMemTraits {
    using Handle = T *;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle block) noexcept { CoTaskMemFree(const_cast<std::remove_const_t<T> *>(block)); }
};
// A block from CoTaskMemAlloc, such as a string or structure an API returns
// through an out parameter for its caller to free.
template <typename T> class CComHeapPtr : public CUniqueHandle<CoTaskMemTraits<T>> {
public:
    using CUniqueHandle<CoTaskMemTraits<T>>::CUniqueHandle;
    T *operator->() const noexcept { return this->Get(); }
    std::add_lvalue_reference_t<T> operator*() const noexcept requires(!std::is_void_v<T>) { return *this->Get(); }
};

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
    explicit CVariant(LONG value) noexcept : CVariant()
    {
        m_var.vt = VT_I4;
        m_var.lVal = value;
    }
    // Only a bool itself: a pointer or number must not become VT_BOOL.
    template <std::same_as<bool> Bool> explicit CVariant(Bool value) noexcept : CVariant()
    {
        m_var.vt = VT_BOOL;
        m_var.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    // A VT_BSTR holding a copy of the text; a null BSTR (the empty string)
    // when the copy cannot be allocated.
    explicit CVariant(std::u16string_view text) noexcept : CVariant()
    {
        m_var.vt = VT_BSTR;
        m_var.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
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

// Owns the strings of one EXCEPINFO that a callee fills (an Invoke that
// fails with DISP_E_EXCEPTION, or an event sink that fills it anyway); frees
// them exactly once, whatever the caller does with the rest.
class CExcepInfo {
public:
    CExcepInfo() noexcept = default;
    CExcepInfo(const CExcepInfo &) = delete;
    CExcepInfo &operator=(const CExcepInfo &) = delete;
    ~CExcepInfo() { Clear(); }

    // For the EXCEPINFO argument of a call: what an earlier call left is
    // freed first.
    EXCEPINFO *Out() noexcept
    {
        Clear();
        return &m_info;
    }
    const EXCEPINFO &Get() const noexcept { return m_info; }
    const EXCEPINFO *operator->() const noexcept { return &m_info; }

    // Runs the callee's deferred fill-in, once, when it left one; its
    // failure leaves what was filled so far.
    void FillIn() noexcept
    {
        if (auto fill = std::exchange(m_info.pfnDeferredFillIn, nullptr))
            static_cast<void>(fill(&m_info)); // a failed fill-in leaves the fields it had
    }
    // Hands the description to the caller, who frees it.
    [[nodiscard]] BSTR DetachDescription() noexcept { return std::exchange(m_info.bstrDescription, nullptr); }

    // Frees the strings and empties every field.
    void Clear() noexcept
    {
        SysFreeString(m_info.bstrSource);
        SysFreeString(m_info.bstrDescription);
        SysFreeString(m_info.bstrHelpFile);
        m_info = EXCEPINFO{};
    }

private:
    EXCEPINFO m_info{};
};

} // namespace orafon
