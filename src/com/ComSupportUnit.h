// RAII owners for the raw resources of COM and Win32: BSTR, VARIANT, SAFEARRAY (with access
// locks), and one template for every handle kind (registry keys, windows, hooks, GDI objects).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

#include <wrl/client.h>

// MinGW's ComPtr has no comparison operators: `a == b` would compare the two pointers' truth values
// through their conversion to bool. These compare what they point to, as Microsoft's ComPtr does.
namespace Microsoft::WRL {
template <typename T, typename U> bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) {
    return a.Get() == b.Get();
}
template <typename T, typename U> bool operator!=(const ComPtr<T>& a, const ComPtr<U>& b) {
    return a.Get() != b.Get();
}
} // namespace Microsoft::WRL

namespace zorbex {

// Owner of a handle-like value with a close function; `unique_ptr` vocabulary.
template <typename T, auto Close, T Invalid = T{}> class TUniqueAny {
public:
    TUniqueAny() = default;
    explicit TUniqueAny(T value) : Value(value) {}
    TUniqueAny(const TUniqueAny&) = delete;
    TUniqueAny& operator=(const TUniqueAny&) = delete;
    TUniqueAny(TUniqueAny&& other) noexcept : Value(other.Release()) {}
    TUniqueAny& operator=(TUniqueAny&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~TUniqueAny() { Reset(); }

    T Get() const { return Value; }
    explicit operator bool() const { return Value != Invalid; }
    void Reset(T value = Invalid) {
        T old = std::exchange(Value, value);
        if (old != Invalid)
            Close(old);
    }
    [[nodiscard]] T Release() { return std::exchange(Value, Invalid); }
    // Address for an API that writes a new value; the owner must be empty.
    T* Receive() {
        Reset();
        return &Value;
    }

private:
    T Value = Invalid;
};

namespace detail {
inline void CloseRegKey(HKEY key) { ::RegCloseKey(key); }
inline void CloseWindow(HWND window) { ::DestroyWindow(window); }
inline void CloseHook(HHOOK hook) { ::UnhookWindowsHookEx(hook); }
inline void CloseGdiObject(HGDIOBJ object) { ::DeleteObject(object); }
inline void CloseDC(HDC dc) { ::DeleteDC(dc); }
inline void CloseHandleValue(HANDLE handle) { ::CloseHandle(handle); }
inline void CloseLibrary(HMODULE module) { ::FreeLibrary(module); }
inline void CloseGlobal(HGLOBAL memory) { ::GlobalFree(memory); }
} // namespace detail

using TRegKey = TUniqueAny<HKEY, detail::CloseRegKey>;
using TWindowHandle = TUniqueAny<HWND, detail::CloseWindow>;
using THookHandle = TUniqueAny<HHOOK, detail::CloseHook>;
using TGdiObject = TUniqueAny<HGDIOBJ, detail::CloseGdiObject>;
using TBitmapHandle = TUniqueAny<HBITMAP, detail::CloseGdiObject>;
using TMemoryDC = TUniqueAny<HDC, detail::CloseDC>;
using TKernelHandle = TUniqueAny<HANDLE, detail::CloseHandleValue>;
using TLibraryHandle = TUniqueAny<HMODULE, detail::CloseLibrary>;
using TGlobalMemory = TUniqueAny<HGLOBAL, detail::CloseGlobal>;

// SelectObject's failure for a region: HGDI_ERROR, which MinGW spells as LongToHandle(0xFFFFFFFF), an
// unsigned constant squeezed into a LONG that the sign-conversion warning rejects on 64-bit. It is the
// handle with every bit set on both architectures.
inline HGDIOBJ GdiError() { return reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(-1)); }

// Selects a GDI object into a device context and restores the previous one on scope exit.
class TSelectGuard {
public:
    TSelectGuard(HDC dc, HGDIOBJ object) : DC(dc), Previous(::SelectObject(dc, object)) {}
    TSelectGuard(const TSelectGuard&) = delete;
    TSelectGuard& operator=(const TSelectGuard&) = delete;
    ~TSelectGuard() {
        if (Previous && Previous != GdiError())
            ::SelectObject(DC, Previous);
    }

private:
    HDC DC;
    HGDIOBJ Previous;
};

// Holds a slim reader/writer lock exclusively for its scope. The library's locks are SRW locks: they need
// no initialisation beyond SRWLOCK_INIT and own no kernel object, so nothing is left behind at unload.
class TExclusiveLock {
public:
    explicit TExclusiveLock(SRWLOCK& lock) noexcept : Lock(lock) { ::AcquireSRWLockExclusive(&Lock); }
    TExclusiveLock(const TExclusiveLock&) = delete;
    TExclusiveLock& operator=(const TExclusiveLock&) = delete;
    ~TExclusiveLock() { ::ReleaseSRWLockExclusive(&Lock); }

private:
    SRWLOCK& Lock;
};

// Screen device context from GetDC, released with ReleaseDC.
class TWindowDC {
public:
    explicit TWindowDC(HWND window) : Window(window), DC(::GetDC(window)) {}
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    ~TWindowDC() {
        if (DC)
            ::ReleaseDC(Window, DC);
    }
    HDC Get() const { return DC; }

private:
    HWND Window;
    HDC DC;
};

// Owner of a BSTR.
class TBStr {
public:
    TBStr() = default;
    explicit TBStr(std::wstring_view text);
    TBStr(const TBStr&) = delete;
    TBStr& operator=(const TBStr&) = delete;
    TBStr(TBStr&& other) noexcept : Value(other.Release()) {}
    TBStr& operator=(TBStr&& other) noexcept;
    ~TBStr() { Reset(); }

    BSTR Get() const { return Value; }
    void Reset(BSTR value = nullptr);
    [[nodiscard]] BSTR Release() { return std::exchange(Value, nullptr); }
    BSTR* Receive();
    UINT Length() const { return Value ? ::SysStringLen(Value) : 0; }
    std::wstring Str() const { return Value ? std::wstring(Value, Length()) : std::wstring(); }

private:
    BSTR Value = nullptr;
};

// Owner of a VARIANT; cleared with VariantClear.
class TVariant {
public:
    TVariant() { ::VariantInit(&Value); }
    explicit TVariant(const VARIANT& source); // deep copy; throws on failure
    explicit TVariant(std::wstring_view text);
    explicit TVariant(long number);
    explicit TVariant(IDispatch* object); // AddRefs
    TVariant(const TVariant&) = delete;
    TVariant& operator=(const TVariant&) = delete;
    TVariant(TVariant&& other) noexcept;
    TVariant& operator=(TVariant&& other) noexcept;
    ~TVariant() { Reset(); }

    static TVariant Omitted(); // the omitted optional argument: VT_ERROR holding DISP_E_PARAMNOTFOUND

    const VARIANT& Get() const { return Value; }
    VARIANT* Ptr() { return &Value; }
    VARTYPE Type() const { return V_VT(&Value); }
    void Reset();
    [[nodiscard]] VARIANT Release();
    VARIANT* Receive();

private:
    VARIANT Value;
};

// Owner of a SAFEARRAY.
class TSafeArray {
public:
    TSafeArray() = default;
    explicit TSafeArray(SAFEARRAY* array) : Value(array) {}
    TSafeArray(const TSafeArray&) = delete;
    TSafeArray& operator=(const TSafeArray&) = delete;
    TSafeArray(TSafeArray&& other) noexcept : Value(other.Release()) {}
    ~TSafeArray() { Reset(); }

    SAFEARRAY* Get() const { return Value; }
    void Reset(SAFEARRAY* array = nullptr);
    [[nodiscard]] SAFEARRAY* Release() { return std::exchange(Value, nullptr); }

private:
    SAFEARRAY* Value = nullptr;
};

// Holds SafeArrayAccessData for the lifetime of the object.
template <typename T> class TSafeArrayAccess {
public:
    explicit TSafeArrayAccess(SAFEARRAY* array) : Array(array) {
        void* data = nullptr;
        if (array && SUCCEEDED(::SafeArrayAccessData(array, &data)))
            Data = static_cast<T*>(data);
        else
            Array = nullptr;
    }
    TSafeArrayAccess(const TSafeArrayAccess&) = delete;
    TSafeArrayAccess& operator=(const TSafeArrayAccess&) = delete;
    ~TSafeArrayAccess() {
        if (Array)
            ::SafeArrayUnaccessData(Array);
    }
    explicit operator bool() const { return Data != nullptr; }
    T* Get() const { return Data; }

private:
    SAFEARRAY* Array;
    T* Data = nullptr;
};

// Element count of dimension 1 of a one-dimensional array, 0 for anything else.
ULONG SafeArrayLength(SAFEARRAY* array);

std::wstring GuidToString(const GUID& guid); // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case

} // namespace zorbex
