// The reference Keptor server: IGUIServer answered from an in-memory archive, the IGUIServerEvents
// connection point (sinks in a slot array, cookie = slot + 1), and the IKeptorControl surface. Every
// IGUIServer call goes through Serve (logged, failure injection, errors as E_FAIL) and every control
// call through Control (errors as their own code), so a slot body is only what the slot does.
#include "KeptorServerUnit.h"

#include "KeptorPicturesUnit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <memory>
#include <type_traits>

#include <olectl.h>

#include "com/ErrorsUnit.h"
#include "com/RegistryUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex::keptor {
namespace {

constexpr UINT kRunPostedMessage = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"ZorbexKeptorServerWindow";
constexpr wchar_t kSettingsKey[] = L"Software\\Calverin\\Trovella\\Settings";

constexpr DISPID kOnQuit = 201;
constexpr DISPID kOnDocumentDataChange = 203;
constexpr DISPID kOnSettingsChange = 204;
constexpr DISPID kOnFunctionalityChange = 205;

static_assert(sizeof(TVariant) == sizeof(VARIANT) && std::is_standard_layout_v<TVariant>,
              "a vector of TVariant is passed as an array of VARIANT");

std::wstring Str(BSTR text) {
    return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
}
std::wstring Q(BSTR text) {
    return L"\"" + Str(text) + L"\"";
}
std::wstring B(VARIANT_BOOL flag) {
    return flag ? L"true" : L"false";
}
std::wstring N(long number) {
    return std::to_wstring(number);
}
std::wstring Join(std::initializer_list<std::wstring> parts) {
    std::wstring result;
    for (const auto& part : parts)
        result += (result.empty() ? L"" : L", ") + part;
    return result;
}

VARIANT_BOOL Flag(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}
BSTR NewBStr(const std::wstring& text) {
    return TBStr(text).Release();
}

// Element VARTYPE of an array variant's array; VT_EMPTY when there is none.
VARTYPE ElementType(SAFEARRAY* array) {
    VARTYPE type = VT_EMPTY;
    if (!array || FAILED(::SafeArrayGetVartype(array, &type)))
        return VT_EMPTY;
    return type;
}

const VARIANT& Deref(const VARIANT& value) {
    if (V_VT(&value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&value))
        return *V_VARIANTREF(&value);
    return value;
}

SAFEARRAY* ArrayOf(const VARIANT& value) {
    if (!(V_VT(&value) & VT_ARRAY))
        return nullptr;
    return V_VT(&value) & VT_BYREF ? (V_ARRAYREF(&value) ? *V_ARRAYREF(&value) : nullptr) : V_ARRAY(&value);
}

std::wstring HostOf(const std::wstring& url) {
    size_t start = url.find(L"://");
    start = start == std::wstring::npos ? 0 : start + 3;
    size_t end = url.find_first_of(L"/:?#", start);
    std::wstring host = url.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    std::transform(host.begin(), host.end(), host.begin(), [](wchar_t c) { return std::towlower(c); });
    return host;
}

std::vector<BYTE> IdBytes(const std::vector<long>& ids) {
    std::vector<BYTE> bytes;
    for (long id : ids)
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<BYTE>((static_cast<unsigned long>(id) >> shift) & 0xFF));
    return bytes;
}

std::vector<BYTE> BytesOf(const VARIANT& data) {
    SAFEARRAY* array = ArrayOf(Deref(data));
    std::vector<BYTE> bytes;
    if (ElementType(array) != VT_UI1)
        return bytes;
    ULONG length = SafeArrayLength(array);
    TSafeArrayAccess<BYTE> access(array);
    if (access && length)
        bytes.assign(access.Get(), access.Get() + length);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::vector<BYTE>& bytes) {
    TKernelHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        (void)file.Release();
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    }
    DWORD written = 0;
    if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
}

// A variant array's elements as variants, in index order.
std::vector<TVariant> VariantElements(const VARIANT& value) {
    std::vector<TVariant> result;
    SAFEARRAY* array = ArrayOf(Deref(value));
    if (!array || ::SafeArrayGetDim(array) != 1)
        return result;
    VARTYPE type = ElementType(array);
    LONG low = 0;
    OleCheck(::SafeArrayGetLBound(array, 1, &low));
    ULONG length = SafeArrayLength(array);
    for (LONG i = low; i < low + static_cast<LONG>(length); ++i) {
        TVariant element;
        if (type == VT_VARIANT) {
            OleCheck(::SafeArrayGetElement(array, &i, element.Receive()));
        } else if (type == VT_BSTR) {
            TBStr text;
            OleCheck(::SafeArrayGetElement(array, &i, text.Receive()));
            element = TVariant(text.Str());
        } else if (type == VT_I4 || type == VT_INT) {
            LONG number = 0;
            OleCheck(::SafeArrayGetElement(array, &i, &number));
            element = TVariant(static_cast<long>(number));
        } else {
            RaiseComError(DISP_E_TYPEMISMATCH);
        }
        result.push_back(std::move(element));
    }
    return result;
}

std::vector<DISPID> DispidsOf(const VARIANT& value) {
    std::vector<DISPID> result;
    const VARIANT& v = Deref(value);
    if (V_VT(&v) == VT_EMPTY || V_VT(&v) == VT_ERROR)
        return result;
    if (V_VT(&v) == VT_I4) {
        result.push_back(V_I4(&v));
        return result;
    }
    for (auto& element : VariantElements(v)) {
        TVariant number;
        OleCheck(::VariantChangeType(number.Ptr(), const_cast<VARIANT*>(&element.Get()), 0, VT_I4));
        result.push_back(V_I4(&number.Get()));
    }
    return result;
}

// Whether a value has the form the library sends lists in: VT_ARRAY | VT_VARIANT, one dimension, bounds
// 0 to N-1, every element a VT_BSTR variant. count receives N when it does.
bool WellFormedList(const VARIANT& value, size_t& count) {
    if (V_VT(&value) != (VT_ARRAY | VT_VARIANT) || !V_ARRAY(&value))
        return false;
    SAFEARRAY* array = V_ARRAY(&value);
    LONG low = -1;
    if (::SafeArrayGetDim(array) != 1 || ElementType(array) != VT_VARIANT ||
        FAILED(::SafeArrayGetLBound(array, 1, &low)) || low != 0)
        return false;
    count = SafeArrayLength(array);
    TSafeArrayAccess<VARIANT> elements(array);
    if (count > 0 && !elements)
        return false;
    for (size_t i = 0; i < count; ++i)
        if (V_VT(&elements.Get()[i]) != VT_BSTR)
            return false;
    return true;
}

TVariant StringArray(const std::vector<std::wstring>& strings) {
    TSafeArray array(::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(strings.size())));
    if (!array.Get())
        RaiseComError(E_OUTOFMEMORY);
    for (LONG i = 0; i < static_cast<LONG>(strings.size()); ++i) {
        TVariant element(strings[static_cast<size_t>(i)]);
        OleCheck(::SafeArrayPutElement(array.Get(), &i, element.Ptr()));
    }
    TVariant result;
    V_VT(result.Ptr()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(result.Ptr()) = array.Release();
    return result;
}

} // namespace

// --- helpers

std::vector<BYTE> MakeBitmapFile(long width, long height, COLORREF color) {
    if (width <= 0 || height <= 0)
        RaiseComError(E_INVALIDARG);
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + imageSize;
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = imageSize;
    std::vector<BYTE> bytes(file.bfSize, 0);
    std::memcpy(bytes.data(), &file, sizeof(file));
    std::memcpy(bytes.data() + sizeof(file), &info, sizeof(info));
    for (long y = 0; y < height; ++y) {
        BYTE* row = bytes.data() + file.bfOffBits + stride * static_cast<DWORD>(y);
        for (long x = 0; x < width; ++x) {
            row[x * 3] = GetBValue(color);
            row[x * 3 + 1] = GetGValue(color);
            row[x * 3 + 2] = GetRValue(color);
        }
    }
    return bytes;
}

TVariant MakeByteArray(const std::vector<BYTE>& bytes) {
    TSafeArray array(::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
    if (!array.Get())
        RaiseComError(E_OUTOFMEMORY);
    if (!bytes.empty()) {
        TSafeArrayAccess<BYTE> access(array.Get());
        if (!access)
            RaiseComError(E_UNEXPECTED);
        std::memcpy(access.Get(), bytes.data(), bytes.size());
    }
    TVariant result;
    V_VT(result.Ptr()) = VT_ARRAY | VT_UI1;
    V_ARRAY(result.Ptr()) = array.Release();
    return result;
}

std::vector<std::wstring> VariantStrings(const VARIANT& value) {
    std::vector<std::wstring> result;
    for (auto& element : VariantElements(value)) {
        TVariant text;
        if (SUCCEEDED(::VariantChangeType(text.Ptr(), const_cast<VARIANT*>(&element.Get()), 0, VT_BSTR)))
            result.push_back(Str(V_BSTR(&text.Get())));
        else
            result.push_back(L"");
    }
    return result;
}

std::wstring RenderVariant(const VARIANT& value) {
    if (V_VT(&value) & VT_BYREF) {
        if (V_VT(&value) == (VT_BYREF | VT_VARIANT))
            return V_VARIANTREF(&value) ? L"&" + RenderVariant(*V_VARIANTREF(&value)) : L"&nil";
        TVariant copy;
        if (FAILED(::VariantCopyInd(copy.Ptr(), const_cast<VARIANT*>(&value))))
            return L"&?";
        return L"&" + RenderVariant(copy.Get());
    }
    if (V_VT(&value) & VT_ARRAY) {
        SAFEARRAY* array = V_ARRAY(&value);
        if (ElementType(array) == VT_UI1)
            return L"bytes(" + std::to_wstring(SafeArrayLength(array)) + L")";
        std::wstring result = L"[";
        const bool read = Guarded([&] {
            bool first = true;
            for (auto& element : VariantElements(value)) {
                result += (first ? L"" : L", ") + RenderVariant(element.Get());
                first = false;
            }
        });
        return read ? result + L"]" : L"array(" + std::to_wstring(SafeArrayLength(array)) + L")";
    }
    switch (V_VT(&value)) {
    case VT_EMPTY:
        return L"empty";
    case VT_NULL:
        return L"null";
    case VT_BOOL:
        return B(V_BOOL(&value));
    case VT_BSTR:
        return Q(V_BSTR(&value));
    case VT_DISPATCH:
        return V_DISPATCH(&value) ? L"object" : L"nil";
    case VT_UNKNOWN:
        return V_UNKNOWN(&value) ? L"object" : L"nil";
    case VT_ERROR: {
        wchar_t text[24];
        std::swprintf(text, 24, L"error(0x%08lX)", static_cast<unsigned long>(V_ERROR(&value)));
        return text;
    }
    default: {
        TVariant text;
        if (FAILED(::VariantChangeType(text.Ptr(), const_cast<VARIANT*>(&value), 0, VT_BSTR)))
            return L"vt(" + std::to_wstring(V_VT(&value)) + L")";
        return Str(V_BSTR(&text.Get()));
    }
    }
}

ComPtr<ITypeLib> LoadKeptorTypeLib(const std::wstring& path) {
    ComPtr<ITypeLib> library;
    OleCheck(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library));
    return library;
}

// --- creation and identity

namespace {

const TInterfaceEntry kServerInterfaces[] = {
    InterfaceEntry<TKeptorServer, IDispatch, IGUIServer>(IID_IDispatch),
    InterfaceEntry<TKeptorServer, IGUIServer>(IID_IGUIServer),
    InterfaceEntry<TKeptorServer, IConnectionPointContainer>(IID_IConnectionPointContainer),
    InterfaceEntry<TKeptorServer, IConnectionPoint>(IID_IConnectionPoint),
    InterfaceEntry<TKeptorServer, IKeptorControl>(IID_IKeptorControl),
};

} // namespace

ComPtr<TKeptorServer> TKeptorServer::Create(ComPtr<ITypeLib> typeLib) {
    return ComPtr<TKeptorServer>(new TKeptorServer(std::move(typeLib)));
}

TKeptorServer::TKeptorServer(ComPtr<ITypeLib> typeLib)
    : TComObject(TModuleCount::None, kServerInterfaces, nullptr), TypeLib(std::move(typeLib)) {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassW(&windowClass); // fails harmlessly when a previous server registered it
    Window.Reset(
        ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr));
    if (Window)
        ::SetWindowLongPtrW(Window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    LastActivityTick = ::GetTickCount();
}

TKeptorServer::~TKeptorServer() {
    if (Window)
        ::SetWindowLongPtrW(Window.Get(), GWLP_USERDATA, 0);
}

// --- IDispatch, served from the KeptorServer type library

ITypeInfo* TKeptorServer::DispatchTypeInfo() {
    if (!InterfaceInfo) {
        if (!TypeLib)
            RaiseComError(E_NOTIMPL);
        ComPtr<ITypeInfo> dispatchInfo;
        OleCheck(TypeLib->GetTypeInfoOfGuid(IID_IGUIServer, &dispatchInfo));
        HREFTYPE ref = 0;
        OleCheck(dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
        OleCheck(dispatchInfo->GetRefTypeInfo(ref, &InterfaceInfo));
    }
    return InterfaceInfo.Get();
}

STDMETHODIMP TKeptorServer::GetTypeInfoCount(UINT* count) {
    if (!count)
        return E_POINTER;
    *count = TypeLib ? 1 : 0;
    return S_OK;
}

STDMETHODIMP TKeptorServer::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    if (!TypeLib)
        return E_NOTIMPL;
    return TypeLib->GetTypeInfoOfGuid(IID_IGUIServer, info);
}

STDMETHODIMP TKeptorServer::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return ResultOr(E_NOTIMPL, [&] { return ::DispGetIDsOfNames(DispatchTypeInfo(), names, count, ids); });
}

STDMETHODIMP TKeptorServer::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) {
    if (iid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    return ResultOr(E_NOTIMPL, [&] {
        return ::DispInvoke(static_cast<IGUIServer*>(this), DispatchTypeInfo(), id, flags, params, result,
                            exception, argError);
    });
}

// --- the common part of every call

HRESULT TKeptorServer::InjectedFailure(int slot) {
    if (Dead)
        return RPC_E_DISCONNECTED;
    for (long key : {static_cast<long>(slot), kAnySlot}) {
        auto once = FailOnce.find(key);
        if (once != FailOnce.end()) {
            HRESULT result = once->second;
            FailOnce.erase(once);
            return result;
        }
    }
    for (long key : {static_cast<long>(slot), kAnySlot}) {
        auto every = FailEvery.find(key);
        if (every != FailEvery.end())
            return every->second;
    }
    return S_OK;
}

template <typename F>
HRESULT TKeptorServer::Serve(int slot, const wchar_t* name, const std::wstring& args, F&& work) {
    LastActivityTick = ::GetTickCount();
    return ResultOr(E_FAIL, [&]() -> HRESULT {
        Log.push_back(std::to_wstring(slot) + L" " + name + L"(" + args + L")");
        if (auto before = BeforeAnswer.find(slot); before != BeforeAnswer.end()) {
            const std::function<void()> action = std::move(before->second);
            BeforeAnswer.erase(before);
            ComPtr<TKeptorServer> keep(this);
            action();
        }
        HRESULT injected = InjectedFailure(slot);
        if (SUCCEEDED(injected) && OnServe)
            injected = OnServe(slot);
        if (FAILED(injected))
            return injected;
        work();
        return S_OK;
    });
}

void TKeptorServer::RunBeforeAnswer(long slot, std::function<void()> action) {
    BeforeAnswer[slot] = std::move(action);
}

template <typename F> HRESULT TKeptorServer::Control(F&& work) {
    LastActivityTick = ::GetTickCount();
    return ErrorCodeOr(E_FAIL, [&] { work(); });
}

// --- IGUIServer

#define KEPTOR_RESERVED(slot)                                                                                \
    STDMETHODIMP TKeptorServer::Reserved##slot() {                                                           \
        HRESULT result = Serve(slot, L"Reserved" #slot, L"", [] {});                                         \
        return FAILED(result) ? result : E_NOTIMPL;                                                          \
    }
KEPTOR_RESERVED(07)
KEPTOR_RESERVED(12)
KEPTOR_RESERVED(13)
KEPTOR_RESERVED(23)
KEPTOR_RESERVED(25)
KEPTOR_RESERVED(26)
KEPTOR_RESERVED(27)
KEPTOR_RESERVED(28)
KEPTOR_RESERVED(29)
KEPTOR_RESERVED(30)
KEPTOR_RESERVED(31)
KEPTOR_RESERVED(38)
KEPTOR_RESERVED(44)
KEPTOR_RESERVED(51)
#undef KEPTOR_RESERVED

STDMETHODIMP TKeptorServer::AddDocumentToRubric(BSTR ATitle, BSTR AURL, BSTR AExtra1, BSTR AExtra2,
                                                BSTR* AAnswer, VARIANT_BOOL AWithDialog) {
    if (AAnswer)
        *AAnswer = nullptr;
    return Serve(8, L"AddDocumentToRubric",
                 Join({Q(ATitle), Q(AURL), Q(AExtra1), Q(AExtra2), B(AWithDialog)}), [&] {
                     auto [entry, added] = Data.Documents.try_emplace(Str(AURL));
                     if (added)
                         entry->second.Id = NextDocumentId++;
                     if (AAnswer)
                         *AAnswer = NewBStr(Data.CurrentRubricName);
                     if (AutoEvents) {
                         const TKeptorDocument& document = entry->second;
                         std::vector<TVariant> args;
                         args.emplace_back(document.Rating);
                         args.emplace_back(document.Status);
                         args.emplace_back(document.Comments);
                         TVariant present;
                         V_VT(present.Ptr()) = VT_BOOL;
                         V_BOOL(present.Ptr()) = VARIANT_TRUE;
                         args.push_back(std::move(present));
                         args.emplace_back(document.Id);
                         FireLater(kOnDocumentDataChange, std::move(args));
                     }
                 });
}

HRESULT TKeptorServer::RecordList(int slot, const wchar_t* method, const VARIANT& urls, const VARIANT* texts,
                                  const std::wstring& extra1, const std::wstring& extra2, bool flag) {
    return Serve(slot, method,
                 texts ? Join({RenderVariant(urls), RenderVariant(*texts), L"\"" + extra1 + L"\"",
                               slot == 10 ? B(Flag(flag)) : L"\"" + extra2 + L"\""})
                       : RenderVariant(urls),
                 [&] {
                     TKeptorList list;
                     list.Kind = method;
                     list.Urls = VariantStrings(urls);
                     if (texts)
                         list.Texts = VariantStrings(*texts);
                     list.Extra1 = extra1;
                     list.Extra2 = extra2;
                     list.Flag = flag;
                     size_t count = 0, textCount = 0;
                     list.WellFormed = WellFormedList(urls, count) && (!texts || WellFormedList(*texts, textCount));
                     ReceivedLists.push_back(std::move(list));
                 });
}

STDMETHODIMP TKeptorServer::AddLinkList(VARIANT AURLs, VARIANT ATexts, BSTR ADocumentURL, BSTR ACharset) {
    return RecordList(9, L"AddLinkList", AURLs, &ATexts, Str(ADocumentURL), Str(ACharset), false);
}

STDMETHODIMP TKeptorServer::OpenLinkList(VARIANT AURLs, VARIANT ATexts, BSTR AReserved,
                                         VARIANT_BOOL AOutsideBrowser) {
    return RecordList(10, L"OpenLinkList", AURLs, &ATexts, Str(AReserved), L"",
                      AOutsideBrowser != VARIANT_FALSE);
}

STDMETHODIMP TKeptorServer::AddBannerList(VARIANT ASources) {
    return RecordList(35, L"AddBannerList", ASources, nullptr, L"", L"", false);
}

STDMETHODIMP TKeptorServer::GetInternalBrowser(IDispatch** ABrowser, VARIANT_BOOL AFlag) {
    if (ABrowser)
        *ABrowser = nullptr;
    return Serve(11, L"GetInternalBrowser", B(AFlag), [&] {
        if (!ABrowser)
            RaiseComError(E_POINTER);
        if (Data.InternalBrowser)
            Data.InternalBrowser.CopyTo(ABrowser);
    });
}

STDMETHODIMP TKeptorServer::GetLinkImage(BSTR AURL, LONG AIndex, VARIANT_BOOL* AFound, VARIANT* AData,
                                         VARIANT_BOOL AFlag) {
    if (AFound)
        *AFound = VARIANT_FALSE;
    if (AData)
        ::VariantInit(AData);
    return Serve(14, L"GetLinkImage", Join({Q(AURL), N(AIndex), B(AFlag)}), [&] {
        ReceivedImageRequests.push_back({Str(AURL), AIndex, AFlag});
        if (!AFound || !AData)
            RaiseComError(E_POINTER);
        auto image = Data.LinkImages.find({Str(AURL), AIndex});
        if (image == Data.LinkImages.end()) {
            if (Data.PreviewAnyUrl && AIndex == -1 && ::SysStringLen(AURL) > 0) {
                // The link preview of any page: a card of its host and path in one of a few colours.
                const std::wstring url = Str(AURL);
                const COLORREF kAccents[] = {RGB(0x30, 0x60, 0xC0), RGB(0x30, 0xA0, 0x50), RGB(0xC0, 0x50, 0x30),
                                             RGB(0x80, 0x40, 0xA0)};
                // FNV-1a over the characters: the same colour for the same URL in both architectures
                // (std::hash is as wide as size_t).
                uint32_t hash = 2166136261u;
                for (const wchar_t c : url)
                    hash = (hash ^ static_cast<uint32_t>(c)) * 16777619u;
                const COLORREF accent = kAccents[hash % std::size(kAccents)];
                TVariant picture = MakeByteArray(RenderUrlPreview(url, accent));
                *AFound = VARIANT_TRUE;
                OleCheck(::VariantCopy(AData, picture.Ptr()));
            }
            return;
        }
        *AFound = image->second.Found;
        OleCheck(::VariantCopy(AData, const_cast<VARIANT*>(&image->second.Data.Get())));
    });
}

STDMETHODIMP TKeptorServer::GetHintSettings(LONG* AAlpha, LONG* AShowDelay, LONG* AHideDelay) {
    return Serve(15, L"GetHintSettings", L"", [&] {
        if (!AAlpha || !AShowDelay || !AHideDelay)
            RaiseComError(E_POINTER);
        *AAlpha = Data.Hint.Alpha;
        *AShowDelay = Data.Hint.ShowDelay;
        *AHideDelay = Data.Hint.HideDelay;
    });
}

STDMETHODIMP TKeptorServer::GetHighlightSettings(LONG ABrowserID, VARIANT_BOOL* AEnabled,
                                                 VARIANT_BOOL* AMarkSaved, VARIANT_BOOL* ADefaultBack,
                                                 LONG* ABackColor, VARIANT_BOOL* ADefaultText,
                                                 LONG* ATextColor, VARIANT_BOOL* ABold, LONG* ADecoration) {
    return Serve(16, L"GetHighlightSettings", N(ABrowserID), [&] {
        if (!AEnabled || !AMarkSaved || !ADefaultBack || !ABackColor || !ADefaultText || !ATextColor ||
            !ABold || !ADecoration)
            RaiseComError(E_POINTER);
        const TKeptorHighlight& h = Data.Highlight;
        *AEnabled = Flag(h.Enabled);
        *AMarkSaved = Flag(h.MarkSaved);
        *ADefaultBack = Flag(h.DefaultBack);
        *ABackColor = h.BackColor;
        *ADefaultText = Flag(h.DefaultText);
        *ATextColor = h.TextColor;
        *ABold = Flag(h.Bold);
        *ADecoration = h.Decoration;
    });
}

STDMETHODIMP TKeptorServer::GetLinkStates(VARIANT AURLs, VARIANT* AStates) {
    return Serve(17, L"GetLinkStates", RenderVariant(AURLs), [&] {
        if (!AStates)
            RaiseComError(E_POINTER);
        std::vector<std::wstring> urls = VariantStrings(AURLs);
        {
            size_t count = 0;
            LONG stateLow = -1, stateHigh = -2;
            const bool wellFormed = WellFormedList(AURLs, count) && V_VT(AStates) == (VT_ARRAY | VT_VARIANT) &&
                                    SUCCEEDED(::SafeArrayGetLBound(V_ARRAY(AStates), 1, &stateLow)) &&
                                    SUCCEEDED(::SafeArrayGetUBound(V_ARRAY(AStates), 1, &stateHigh)) &&
                                    stateLow == 0 && stateHigh == static_cast<LONG>(count) - 1;
            ReceivedStateRequests.push_back({urls, wellFormed});
        }
        if (Data.LinkStatesForm != kStatesFromArchive) {
            OleCheck(::VariantClear(AStates));
            TVariant& answer = Data.LinkStatesAnswer;
            if (Data.LinkStatesForm == kStatesArrayRef && (answer.Type() & VT_ARRAY)) {
                AnsweredStates = V_ARRAY(answer.Ptr());
                V_VT(AStates) = static_cast<VARTYPE>(answer.Type() | VT_BYREF);
                V_ARRAYREF(AStates) = &AnsweredStates;
            } else if (Data.LinkStatesForm == kStatesVariantRef) {
                V_VT(AStates) = VT_VARIANT | VT_BYREF;
                V_VARIANTREF(AStates) = answer.Ptr();
            } else {
                OleCheck(::VariantCopy(AStates, answer.Ptr()));
            }
            return;
        }
        LONG low = 0;
        if (SAFEARRAY* source = ArrayOf(Deref(AURLs)))
            ::SafeArrayGetLBound(source, 1, &low);
        std::vector<long> states;
        for (const auto& url : urls) {
            auto state = Data.LinkStates.find(url);
            states.push_back(state == Data.LinkStates.end() ? -1 : state->second);
        }
        // Fill the caller's array when it has the right shape, otherwise answer a new variant array.
        SAFEARRAY* target = ArrayOf(*AStates);
        VARTYPE type = ElementType(target);
        LONG targetLow = 0;
        if (target && (type == VT_VARIANT || type == VT_I4) && SafeArrayLength(target) == states.size() &&
            SUCCEEDED(::SafeArrayGetLBound(target, 1, &targetLow))) {
            for (LONG i = 0; i < static_cast<LONG>(states.size()); ++i) {
                LONG index = targetLow + i;
                TVariant element(states[static_cast<size_t>(i)]);
                LONG number = states[static_cast<size_t>(i)];
                OleCheck(::SafeArrayPutElement(
                    target, &index, type == VT_VARIANT ? static_cast<void*>(element.Ptr()) : &number));
            }
            return;
        }
        SAFEARRAYBOUND bound{static_cast<ULONG>(states.size()), low};
        TSafeArray array(::SafeArrayCreate(VT_VARIANT, 1, &bound));
        if (!array.Get())
            RaiseComError(E_OUTOFMEMORY);
        for (LONG i = 0; i < static_cast<LONG>(states.size()); ++i) {
            LONG index = low + i;
            TVariant element(states[static_cast<size_t>(i)]);
            OleCheck(::SafeArrayPutElement(array.Get(), &index, element.Ptr()));
        }
        TVariant answer;
        V_VT(answer.Ptr()) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(answer.Ptr()) = array.Release();
        OleCheck(::VariantClear(AStates));
        *AStates = answer.Release();
    });
}

HRESULT TKeptorServer::WriteSwitch(int slot, const wchar_t* method, const wchar_t* valueName,
                                   VARIANT_BOOL enabled) {
    return Serve(slot, method, B(enabled), [&] {
        TRegKey key = OpenOrCreateKey(HKEY_CURRENT_USER, kSettingsKey);
        DWORD value = enabled ? 1 : 0;
        if (!key || ::RegSetValueExW(key.Get(), valueName, 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&value), sizeof(value)) != ERROR_SUCCESS)
            RaiseError(L"Cannot store the setting");
        Switches[valueName] = static_cast<long>(value);
        if (AutoEvents)
            FireLater(slot == 52 ? kOnFunctionalityChange : kOnSettingsChange, {});
    });
}

STDMETHODIMP TKeptorServer::SetHighlightEnabled(VARIANT_BOOL AEnabled) {
    return WriteSwitch(18, L"SetHighlightEnabled", L"Highlight enabled", AEnabled);
}
STDMETHODIMP TKeptorServer::SetPopupKillerEnabled(VARIANT_BOOL AEnabled) {
    return WriteSwitch(19, L"SetPopupKillerEnabled", L"Popup killer enabled", AEnabled);
}
STDMETHODIMP TKeptorServer::SetBannerKillerEnabled(VARIANT_BOOL AEnabled) {
    return WriteSwitch(36, L"SetBannerKillerEnabled", L"Banner killer enabled", AEnabled);
}
STDMETHODIMP TKeptorServer::SetLinkHintEnabled(VARIANT_BOOL AEnabled) {
    return WriteSwitch(39, L"SetLinkHintEnabled", L"Link hint enabled", AEnabled);
}
STDMETHODIMP TKeptorServer::SetToolbarEnabled(VARIANT_BOOL AEnabled) {
    return WriteSwitch(52, L"SetToolbarEnabled", L"Enabled", AEnabled);
}

STDMETHODIMP TKeptorServer::ShowPopupKillerSettings(BSTR AURL) {
    return Serve(20, L"ShowPopupKillerSettings", Q(AURL), [] {});
}
STDMETHODIMP TKeptorServer::ShowLinkSearch() {
    return Serve(21, L"ShowLinkSearch", L"", [] {});
}
STDMETHODIMP TKeptorServer::ShowDocumentProperties(BSTR AURL) {
    return Serve(22, L"ShowDocumentProperties", Q(AURL), [] {});
}
STDMETHODIMP TKeptorServer::ShowSettings() {
    return Serve(24, L"ShowSettings", L"", [] {});
}
STDMETHODIMP TKeptorServer::ShowComments(LONG ADocumentID) {
    return Serve(34, L"ShowComments", N(ADocumentID), [] {});
}
STDMETHODIMP TKeptorServer::ShowQuickGroupManager() {
    return Serve(56, L"ShowQuickGroupManager", L"", [] {});
}

STDMETHODIMP TKeptorServer::GetLinkUrl(LONG ALinkID, BSTR* AURL) {
    if (AURL)
        *AURL = nullptr;
    return Serve(32, L"GetLinkUrl", N(ALinkID), [&] {
        if (!AURL)
            RaiseComError(E_POINTER);
        auto link = Data.DomainLinks.find(ALinkID);
        *AURL = NewBStr(link == Data.DomainLinks.end() ? std::wstring() : link->second);
    });
}

STDMETHODIMP TKeptorServer::GetDomainLinks(BSTR AURL, VARIANT* ALinks) {
    if (ALinks)
        ::VariantInit(ALinks);
    return Serve(33, L"GetDomainLinks", Q(AURL), [&] {
        if (!ALinks)
            RaiseComError(E_POINTER);
        if (Data.DomainLinksAnswer.Type() != VT_EMPTY) {
            OleCheck(::VariantCopy(ALinks, const_cast<VARIANT*>(&Data.DomainLinksAnswer.Get())));
            return;
        }
        std::vector<long> ids;
        const std::wstring host = HostOf(Str(AURL));
        for (const auto& [id, url] : Data.DomainLinks)
            if (!host.empty() && HostOf(url) == host)
                ids.push_back(id);
        *ALinks = MakeByteArray(IdBytes(ids)).Release();
    });
}

STDMETHODIMP TKeptorServer::GetDomainLinkCount(BSTR AURL, LONG* ACount) {
    return Serve(40, L"GetDomainLinkCount", Q(AURL), [&] {
        if (!ACount)
            RaiseComError(E_POINTER);
        if (Data.DomainLinksAnswer.Type() != VT_EMPTY) {
            *ACount = static_cast<LONG>(BytesOf(Data.DomainLinksAnswer.Get()).size() / 4);
            return;
        }
        const std::wstring host = HostOf(Str(AURL));
        *ACount = static_cast<LONG>(
            std::count_if(Data.DomainLinks.begin(), Data.DomainLinks.end(),
                          [&](auto& link) { return !host.empty() && HostOf(link.second) == host; }));
    });
}

STDMETHODIMP TKeptorServer::GetCurrentRubricName(BSTR* AName) {
    if (AName)
        *AName = nullptr;
    return Serve(37, L"GetCurrentRubricName", L"", [&] {
        if (!AName)
            RaiseComError(E_POINTER);
        *AName = NewBStr(Data.CurrentRubricName);
    });
}

STDMETHODIMP TKeptorServer::GetRatingCount(LONG* ACount) {
    return Serve(41, L"GetRatingCount", L"", [&] {
        if (!ACount)
            RaiseComError(E_POINTER);
        *ACount = Data.RatingCount;
    });
}

STDMETHODIMP TKeptorServer::GetRatingColors(LONG ARating, LONG* ATextColor, LONG* ABackColor) {
    return Serve(42, L"GetRatingColors", N(ARating), [&] {
        if (!ATextColor || !ABackColor)
            RaiseComError(E_POINTER);
        auto colors = Data.RatingColors.find(ARating);
        *ATextColor = colors == Data.RatingColors.end() ? 0x00000000 : colors->second.first;
        *ABackColor = colors == Data.RatingColors.end() ? 0x00FFFFFF : colors->second.second;
    });
}

STDMETHODIMP TKeptorServer::SetDocumentRating(LONG ADocumentID, LONG ARating) {
    return Serve(43, L"SetDocumentRating", Join({N(ADocumentID), N(ARating)}), [&] {
        for (auto& [url, document] : Data.Documents) {
            if (document.Id != ADocumentID)
                continue;
            document.Rating = ARating;
            if (AutoEvents) {
                std::vector<TVariant> args;
                args.emplace_back(document.Rating);
                args.emplace_back(document.Status);
                args.emplace_back(document.Comments);
                TVariant present;
                V_VT(present.Ptr()) = VT_BOOL;
                V_BOOL(present.Ptr()) = VARIANT_TRUE;
                args.push_back(std::move(present));
                args.emplace_back(document.Id);
                FireLater(kOnDocumentDataChange, std::move(args));
            }
        }
    });
}

STDMETHODIMP TKeptorServer::GetDocumentId(BSTR AURL, LONG* AID) {
    return Serve(45, L"GetDocumentId", Q(AURL), [&] {
        if (!AID)
            RaiseComError(E_POINTER);
        auto document = Data.Documents.find(Str(AURL));
        *AID = document == Data.Documents.end() ? -1 : document->second.Id;
    });
}

STDMETHODIMP TKeptorServer::GetCommentColors(LONG* ANoCommentsText, LONG* ANoCommentsBack,
                                             LONG* ACommentsText, LONG* ACommentsBack) {
    return Serve(46, L"GetCommentColors", L"", [&] {
        if (!ANoCommentsText || !ANoCommentsBack || !ACommentsText || !ACommentsBack)
            RaiseComError(E_POINTER);
        *ANoCommentsText = Data.CommentColors[0];
        *ANoCommentsBack = Data.CommentColors[1];
        *ACommentsText = Data.CommentColors[2];
        *ACommentsBack = Data.CommentColors[3];
    });
}

STDMETHODIMP TKeptorServer::GetDocumentInfo(BSTR AURL, LONG* AID, BSTR* AComments, LONG* AStatus,
                                            LONG* ARating) {
    if (AComments)
        *AComments = nullptr;
    return Serve(47, L"GetDocumentInfo", Q(AURL), [&] {
        if (!AID || !AComments || !AStatus || !ARating)
            RaiseComError(E_POINTER);
        auto found = Data.Documents.find(Str(AURL));
        const TKeptorDocument document = found == Data.Documents.end() ? TKeptorDocument{} : found->second;
        *AID = document.Id;
        *AComments = NewBStr(document.Comments);
        *AStatus = document.Status;
        *ARating = document.Rating;
    });
}

STDMETHODIMP TKeptorServer::GetScreenShotSettings(BSTR AURL, VARIANT_BOOL ARewriteIfExists,
                                                  VARIANT_BOOL* ATakeFirst, LONG* AFirstScale,
                                                  LONG* AFirstFormat, VARIANT_BOOL* ATakeSecond,
                                                  LONG* ASecondScale, LONG* ASecondFormat) {
    return Serve(48, L"GetScreenShotSettings", Join({Q(AURL), B(ARewriteIfExists)}), [&] {
        if (!ATakeFirst || !AFirstScale || !AFirstFormat || !ATakeSecond || !ASecondScale || !ASecondFormat)
            RaiseComError(E_POINTER);
        const TKeptorScreenShotSettings& s = Data.ScreenShot;
        *ATakeFirst = Flag(s.TakeFirst);
        *AFirstScale = s.FirstScale;
        *AFirstFormat = s.FirstFormat;
        *ATakeSecond = Flag(s.TakeSecond);
        *ASecondScale = s.SecondScale;
        *ASecondFormat = s.SecondFormat;
    });
}

HRESULT TKeptorServer::Store(int slot, const wchar_t* method, long which, BSTR url, const VARIANT& data) {
    return Serve(slot, method, Join({Q(url), RenderVariant(data)}), [&] {
        TKeptorScreenShot shot;
        shot.Url = Str(url);
        shot.Which = which;
        SAFEARRAY* array = ArrayOf(Deref(data));
        shot.IsImage = ElementType(array) == VT_UI1;
        shot.Data = BytesOf(data);
        shot.Type = V_VT(&data);
        if (V_VT(&data) == VT_I4)
            shot.Number = V_I4(&data);
        if (array) {
            shot.Dimensions = ::SafeArrayGetDim(array);
            ::SafeArrayGetLBound(array, 1, &shot.LowerBound);
        }
        if (shot.IsImage && !Data.ScreenShotDirectory.empty()) {
            shot.FileName = Data.ScreenShotDirectory + L"\\screenshot-" + std::to_wstring(Shots.size() + 1) +
                            (which == 1 ? L"-first.gif" : L"-second.gif");
            WriteFileBytes(shot.FileName, shot.Data);
        }
        Shots.push_back(std::move(shot));
    });
}

STDMETHODIMP TKeptorServer::StoreScreenShot(BSTR AURL, VARIANT AData) {
    return Store(49, L"StoreScreenShot", 1, AURL, AData);
}

STDMETHODIMP TKeptorServer::StoreSecondScreenShot(BSTR AURL, VARIANT AData) {
    return Store(50, L"StoreSecondScreenShot", 2, AURL, AData);
}

STDMETHODIMP TKeptorServer::GetQuickGroupCount(LONG* ACount) {
    return Serve(53, L"GetQuickGroupCount", L"", [&] {
        if (!ACount)
            RaiseComError(E_POINTER);
        *ACount = Data.QuickGroupCountAnswer >= 0 ? Data.QuickGroupCountAnswer
                                                  : static_cast<LONG>(Data.QuickGroups.size());
    });
}

STDMETHODIMP TKeptorServer::GetQuickGroup(LONG AIndex, VARIANT_BOOL* AShown, BSTR* AName, LONG* ALinkCount,
                                          VARIANT_BOOL* AResult) {
    if (AName)
        *AName = nullptr;
    return Serve(54, L"GetQuickGroup", N(AIndex), [&] {
        if (!AShown || !AName || !ALinkCount || !AResult)
            RaiseComError(E_POINTER);
        const bool valid = AIndex >= 0 && static_cast<size_t>(AIndex) < Data.QuickGroups.size();
        const TKeptorQuickGroup group =
            valid ? Data.QuickGroups[static_cast<size_t>(AIndex)] : TKeptorQuickGroup{};
        *AShown = Flag(valid && group.Shown);
        *AName = NewBStr(group.Name);
        *ALinkCount = group.LinkCountAnswer >= 0 ? group.LinkCountAnswer : static_cast<LONG>(group.Links.size());
        *AResult = Flag(valid);
    });
}

STDMETHODIMP TKeptorServer::GetQuickLink(LONG AGroupIndex, LONG ALinkIndex, BSTR* ACaption, BSTR* AURL,
                                         VARIANT_BOOL* AResult) {
    if (ACaption)
        *ACaption = nullptr;
    if (AURL)
        *AURL = nullptr;
    return Serve(55, L"GetQuickLink", Join({N(AGroupIndex), N(ALinkIndex)}), [&] {
        if (!ACaption || !AURL || !AResult)
            RaiseComError(E_POINTER);
        TKeptorQuickLink link;
        bool valid = AGroupIndex >= 0 && static_cast<size_t>(AGroupIndex) < Data.QuickGroups.size();
        if (valid) {
            const auto& links = Data.QuickGroups[static_cast<size_t>(AGroupIndex)].Links;
            valid = ALinkIndex >= 0 && static_cast<size_t>(ALinkIndex) < links.size() &&
                    links[static_cast<size_t>(ALinkIndex)].Readable;
            if (valid)
                link = links[static_cast<size_t>(ALinkIndex)];
        }
        *ACaption = NewBStr(link.Caption);
        *AURL = NewBStr(link.Url);
        *AResult = Flag(valid);
    });
}

// --- IConnectionPointContainer and the connection point

STDMETHODIMP TKeptorServer::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points)
        *points = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TKeptorServer::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (iid != DIID_IGUIServerEvents)
        return CONNECT_E_NOCONNECTION;
    *point = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP TKeptorServer::GetConnectionInterface(IID* iid) {
    if (!iid)
        return E_POINTER;
    *iid = DIID_IGUIServerEvents;
    return S_OK;
}

STDMETHODIMP TKeptorServer::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container)
        return E_POINTER;
    *container = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP TKeptorServer::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    Log.push_back(L"Advise");
    ComPtr<IDispatch> dispatch;
    if (FAILED(
            sink->QueryInterface(DIID_IGUIServerEvents, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
    auto slot = std::find_if(Sinks.begin(), Sinks.end(), [](const TSink& s) { return !s.Events; });
    if (slot == Sinks.end())
        slot = Sinks.insert(Sinks.end(), TSink{});
    *slot = TSink{sink, std::move(dispatch)};
    *cookie = static_cast<DWORD>(slot - Sinks.begin()) + 1;
    return S_OK;
}

STDMETHODIMP TKeptorServer::Unadvise(DWORD cookie) {
    Log.push_back(L"Unadvise");
    if (cookie == 0 || cookie > Sinks.size() || !Sinks[cookie - 1].Events)
        return CONNECT_E_NOCONNECTION;
    TSink sink = std::exchange(Sinks[cookie - 1], TSink{}); // released after the slot is clear
    return S_OK;
}

STDMETHODIMP TKeptorServer::EnumConnections(IEnumConnections** connections) {
    if (connections)
        *connections = nullptr;
    return E_NOTIMPL;
}

long TKeptorServer::SinkCount() const {
    return static_cast<long>(AdvisedSinks().size());
}

std::vector<IUnknown*> TKeptorServer::AdvisedSinks() const {
    std::vector<IUnknown*> sinks;
    for (const TSink& sink : Sinks)
        if (sink.Events)
            sinks.push_back(sink.Advised.Get());
    return sinks;
}

// --- events

HRESULT TKeptorServer::Fire(DISPID dispid, std::vector<TVariant> args, std::vector<DISPID> named,
                            WORD flags) {
    if (Dead)
        return S_FALSE;
    DISPPARAMS params{args.empty() ? nullptr : reinterpret_cast<VARIANT*>(args.data()),
                      named.empty() ? nullptr : named.data(), static_cast<UINT>(args.size()),
                      static_cast<UINT>(named.size())};
    const auto sinks = Sinks; // a sink may unadvise while it is called
    HRESULT result = S_FALSE;
    for (const auto& sink : sinks) {
        if (!sink.Events)
            continue;
        HRESULT hr =
            sink.Events->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, nullptr, nullptr);
        if (result == S_FALSE)
            result = S_OK;
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

void TKeptorServer::FireLater(DISPID dispid, std::vector<TVariant> args, std::vector<DISPID> named,
                              WORD flags) {
    auto event =
        std::make_shared<TPendingEvent>(TPendingEvent{dispid, std::move(args), std::move(named), flags});
    PendingActions.push_back(
        [this, event] { Fire(event->Dispid, std::move(event->Args), event->Named, event->Flags); });
    ::PostMessageW(Window.Get(), kRunPostedMessage, 0, 0);
}

void TKeptorServer::RunPosted() {
    auto actions = std::move(PendingActions);
    PendingActions.clear();
    for (auto& action : actions)
        Guarded(action);
}

LRESULT CALLBACK TKeptorServer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunPostedMessage) {
        if (auto* server = reinterpret_cast<TKeptorServer*>(::GetWindowLongPtrW(window, GWLP_USERDATA))) {
            ComPtr<TKeptorServer> keep(server);
            server->RunPosted();
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// --- running object table

HRESULT TKeptorServer::RegisterRunning() {
    if (RotCookie)
        return S_FALSE;
    Guarded([] {
        CreateRegKey(HKEY_CLASSES_ROOT, kProgID, L"", L"Keptor application server");
        CreateRegKey(HKEY_CLASSES_ROOT, std::wstring(kProgID) + L"\\CLSID", L"",
                     GuidToString(CLSID_TrovellaServer));
    });
    return ::RegisterActiveObject(static_cast<IGUIServer*>(this), CLSID_TrovellaServer, ACTIVEOBJECT_STRONG,
                                  &RotCookie);
}

void TKeptorServer::RevokeRunning() {
    if (DWORD cookie = std::exchange(RotCookie, 0))
        ::RevokeActiveObject(cookie, nullptr);
}

void TKeptorServer::DoQuit() {
    ComPtr<TKeptorServer> keep(this);
    Fire(kOnQuit, {});
    RevokeRunning();
    if (OnQuitRequested)
        OnQuitRequested();
}

void TKeptorServer::DoDie(UINT exitCode) {
    ComPtr<TKeptorServer> keep(this);
    if (OnDieRequested)
        OnDieRequested(exitCode);
    RevokeRunning();
    Dead = true;
}

// --- IKeptorControl: archive

void TKeptorServer::SeedDemoArchive() {
    Data = TKeptorArchive();
    Data.CurrentRubricName = L"Reading list";
    Data.Documents[L"http://www.example.com/"] = {1, L"The front page of the example site", 1, 3};
    Data.Documents[L"http://www.example.com/docs/"] = {2, L"", 0, 1};
    Data.Documents[L"http://www.example.org/"] = {3, L"Another site", 2, 4};
    const COLORREF kPictureColors[] = {RGB(0x30, 0x60, 0xC0), RGB(0x30, 0xA0, 0x50), RGB(0xC0, 0x50, 0x30)};
    const wchar_t* kDomainLinks[] = {L"http://www.example.com/about/", L"http://www.example.com/docs/",
                                     L"http://www.example.com/news/"};
    for (long i = 0; i < 3; ++i) {
        Data.DomainLinks[11 + i] = kDomainLinks[i];
        // The domain-links menu shows each link as a picture of its address; the link hint, a card.
        Data.LinkImages[{L"", 11 + i}] = {
            VARIANT_TRUE, MakeByteArray(RenderCardBitmap(230, 20, kPictureColors[i], {kDomainLinks[i]}))};
        Data.LinkImages[{kDomainLinks[i], -1}] = {VARIANT_TRUE,
                                                  MakeByteArray(RenderUrlPreview(kDomainLinks[i], kPictureColors[i]))};
    }
    Data.RatingCount = 5;
    const COLORREF kRatingBacks[] = {RGB(0xE0, 0xE0, 0xE0), RGB(0xFF, 0xE0, 0xE0), RGB(0xFF, 0xF0, 0xC0),
                                     RGB(0xE0, 0xFF, 0xE0), RGB(0xC0, 0xE0, 0xFF)};
    for (long i = 0; i < 5; ++i)
        Data.RatingColors[i] = {RGB(0, 0, 0), static_cast<long>(kRatingBacks[i])};
    Data.LinkStates[L"http://www.example.com/docs/"] = 0;
    Data.LinkStates[L"http://www.example.com/"] = 0;
    Data.Hint = {220, 500, 4000};
    Data.PreviewAnyUrl = true;
    Data.QuickGroups = {
        {L"News",
         true,
         {{L"Example news", L"http://www.example.com/news/"}, {L"Example org", L"http://www.example.org/"}}},
        {L"Tools", true, {{L"Docs", L"http://www.example.com/docs/"}}},
        {L"Hidden", false, {{L"Secret", L"http://www.example.net/"}}}};
    NextDocumentId = 100;
    AutoEvents = true;
}

STDMETHODIMP TKeptorServer::Reset() {
    return Control([&] {
        Data = TKeptorArchive();
        Log.clear();
        Shots.clear();
        ReceivedLists.clear();
        ReceivedStateRequests.clear();
        ReceivedImageRequests.clear();
        Switches.clear();
        FailOnce.clear();
        FailEvery.clear();
        BeforeAnswer.clear();
        AutoEvents = false;
    });
}

STDMETHODIMP TKeptorServer::SeedDemo() {
    return Control([&] { SeedDemoArchive(); });
}

STDMETHODIMP TKeptorServer::SetDocument(BSTR AURL, LONG AID, BSTR AComments, LONG AStatus, LONG ARating) {
    return Control([&] { Data.Documents[Str(AURL)] = {AID, Str(AComments), AStatus, ARating}; });
}

STDMETHODIMP TKeptorServer::RemoveDocument(BSTR AURL) {
    return Control([&] { Data.Documents.erase(Str(AURL)); });
}

STDMETHODIMP TKeptorServer::SetCurrentRubricName(BSTR AName) {
    return Control([&] { Data.CurrentRubricName = Str(AName); });
}

STDMETHODIMP TKeptorServer::AddDomainLink(LONG AID, BSTR AURL) {
    return Control([&] { Data.DomainLinks[AID] = Str(AURL); });
}

STDMETHODIMP TKeptorServer::SetDomainLinksAnswer(VARIANT AAnswer) {
    return Control([&] { Data.DomainLinksAnswer = TVariant(AAnswer); });
}

STDMETHODIMP TKeptorServer::SetRatingCount(LONG ACount) {
    return Control([&] { Data.RatingCount = ACount; });
}

STDMETHODIMP TKeptorServer::SetRatingColors(LONG ARating, LONG ATextColor, LONG ABackColor) {
    return Control([&] { Data.RatingColors[ARating] = {ATextColor, ABackColor}; });
}

STDMETHODIMP TKeptorServer::SetCommentColors(LONG ANoCommentsText, LONG ANoCommentsBack, LONG ACommentsText,
                                             LONG ACommentsBack) {
    return Control([&] {
        Data.CommentColors[0] = ANoCommentsText;
        Data.CommentColors[1] = ANoCommentsBack;
        Data.CommentColors[2] = ACommentsText;
        Data.CommentColors[3] = ACommentsBack;
    });
}

STDMETHODIMP TKeptorServer::AddQuickGroup(BSTR AName, VARIANT_BOOL AShown, LONG* AIndex) {
    return Control([&] {
        Data.QuickGroups.push_back({Str(AName), AShown != VARIANT_FALSE, {}});
        if (AIndex)
            *AIndex = static_cast<LONG>(Data.QuickGroups.size() - 1);
    });
}

STDMETHODIMP TKeptorServer::AddQuickLink(LONG AGroupIndex, BSTR ACaption, BSTR AURL) {
    return Control([&] {
        if (AGroupIndex < 0 || static_cast<size_t>(AGroupIndex) >= Data.QuickGroups.size())
            RaiseComError(E_INVALIDARG);
        Data.QuickGroups[static_cast<size_t>(AGroupIndex)].Links.push_back({Str(ACaption), Str(AURL)});
    });
}

STDMETHODIMP TKeptorServer::ClearQuickGroups() {
    return Control([&] { Data.QuickGroups.clear(); });
}

STDMETHODIMP TKeptorServer::SetHighlightSettings(VARIANT_BOOL AEnabled, VARIANT_BOOL AMarkSaved,
                                                 VARIANT_BOOL ADefaultBack, LONG ABackColor,
                                                 VARIANT_BOOL ADefaultText, LONG ATextColor,
                                                 VARIANT_BOOL ABold, LONG ADecoration) {
    return Control([&] {
        Data.Highlight = {AEnabled != VARIANT_FALSE,     AMarkSaved != VARIANT_FALSE,
                          ADefaultBack != VARIANT_FALSE, ABackColor,
                          ADefaultText != VARIANT_FALSE, ATextColor,
                          ABold != VARIANT_FALSE,        ADecoration};
    });
}

STDMETHODIMP TKeptorServer::SetLinkState(BSTR AURL, LONG AState) {
    return Control([&] { Data.LinkStates[Str(AURL)] = AState; });
}

STDMETHODIMP TKeptorServer::SetHintSettings(LONG AAlpha, LONG AShowDelay, LONG AHideDelay) {
    return Control([&] { Data.Hint = {AAlpha, AShowDelay, AHideDelay}; });
}

STDMETHODIMP TKeptorServer::SetScreenShotSettings(VARIANT_BOOL ATakeFirst, LONG AFirstScale,
                                                  LONG AFirstFormat, VARIANT_BOOL ATakeSecond,
                                                  LONG ASecondScale, LONG ASecondFormat) {
    return Control([&] {
        Data.ScreenShot = {ATakeFirst != VARIANT_FALSE,  AFirstScale,  AFirstFormat,
                           ATakeSecond != VARIANT_FALSE, ASecondScale, ASecondFormat};
    });
}

STDMETHODIMP TKeptorServer::SetScreenShotDirectory(BSTR ADirectory) {
    return Control([&] { Data.ScreenShotDirectory = Str(ADirectory); });
}

STDMETHODIMP TKeptorServer::SetLinkImage(BSTR AURL, LONG AIndex, VARIANT_BOOL AFound, VARIANT AData) {
    return Control([&] {
        Data.LinkImages[{Str(AURL), AIndex}] = {AFound, TVariant(AData)};
    });
}

STDMETHODIMP TKeptorServer::SetLinkPicture(BSTR AURL, LONG AIndex, LONG AWidth, LONG AHeight, LONG AColor) {
    return Control([&] {
        Data.LinkImages[{Str(AURL), AIndex}] = {
            VARIANT_TRUE, MakeByteArray(MakeBitmapFile(AWidth, AHeight, static_cast<COLORREF>(AColor)))};
    });
}

STDMETHODIMP TKeptorServer::SetInternalBrowser(IDispatch* ABrowser) {
    return Control([&] { Data.InternalBrowser = ABrowser; });
}

STDMETHODIMP TKeptorServer::SetAutoEvents(VARIANT_BOOL AEnabled) {
    return Control([&] { AutoEvents = AEnabled != VARIANT_FALSE; });
}

// --- IKeptorControl: what the server received

STDMETHODIMP TKeptorServer::GetCallLog(VARIANT* ALog) {
    if (!ALog)
        return E_POINTER;
    ::VariantInit(ALog);
    return Control([&] {
        TSafeArray array(::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(Log.size())));
        if (!array.Get())
            RaiseComError(E_OUTOFMEMORY);
        for (LONG i = 0; i < static_cast<LONG>(Log.size()); ++i) {
            TBStr entry(Log[static_cast<size_t>(i)]);
            OleCheck(::SafeArrayPutElement(array.Get(), &i, entry.Get()));
        }
        V_VT(ALog) = VT_ARRAY | VT_BSTR;
        V_ARRAY(ALog) = array.Release();
    });
}

STDMETHODIMP TKeptorServer::ClearCallLog() {
    return Control([&] { Log.clear(); });
}

STDMETHODIMP TKeptorServer::GetScreenShotCount(LONG* ACount) {
    return Control([&] {
        if (!ACount)
            RaiseComError(E_POINTER);
        *ACount = static_cast<LONG>(Shots.size());
    });
}

STDMETHODIMP TKeptorServer::GetScreenShot(LONG AIndex, BSTR* AURL, LONG* AWhich, VARIANT* AData) {
    if (!AURL || !AWhich || !AData)
        return E_POINTER;
    *AURL = nullptr;
    ::VariantInit(AData);
    return Control([&] {
        if (AIndex < 0 || static_cast<size_t>(AIndex) >= Shots.size())
            RaiseComError(E_INVALIDARG);
        const TKeptorScreenShot& shot = Shots[static_cast<size_t>(AIndex)];
        TVariant data = shot.IsImage ? MakeByteArray(shot.Data) : TVariant(0L);
        *AURL = NewBStr(shot.Url);
        *AWhich = shot.Which;
        *AData = data.Release();
    });
}

STDMETHODIMP TKeptorServer::GetListCount(LONG* ACount) {
    return Control([&] {
        if (!ACount)
            RaiseComError(E_POINTER);
        *ACount = static_cast<LONG>(ReceivedLists.size());
    });
}

STDMETHODIMP TKeptorServer::GetList(LONG AIndex, BSTR* AKind, VARIANT* AURLs, VARIANT* ATexts, BSTR* AExtra1,
                                    BSTR* AExtra2, VARIANT_BOOL* AFlag) {
    if (!AKind || !AURLs || !ATexts || !AExtra1 || !AExtra2 || !AFlag)
        return E_POINTER;
    *AKind = *AExtra1 = *AExtra2 = nullptr;
    ::VariantInit(AURLs);
    ::VariantInit(ATexts);
    return Control([&] {
        if (AIndex < 0 || static_cast<size_t>(AIndex) >= ReceivedLists.size())
            RaiseComError(E_INVALIDARG);
        const TKeptorList& list = ReceivedLists[static_cast<size_t>(AIndex)];
        TVariant urls = StringArray(list.Urls), texts = StringArray(list.Texts);
        *AKind = NewBStr(list.Kind);
        *AExtra1 = NewBStr(list.Extra1);
        *AExtra2 = NewBStr(list.Extra2);
        *AFlag = Flag(list.Flag);
        *AURLs = urls.Release();
        *ATexts = texts.Release();
    });
}

STDMETHODIMP TKeptorServer::GetSinkCount(LONG* ACount) {
    return Control([&] {
        if (!ACount)
            RaiseComError(E_POINTER);
        *ACount = SinkCount();
    });
}

STDMETHODIMP TKeptorServer::GetSetting(BSTR AName, LONG* AValue) {
    return Control([&] {
        if (!AValue)
            RaiseComError(E_POINTER);
        auto value = Switches.find(Str(AName));
        *AValue = value == Switches.end() ? -1 : value->second;
    });
}

// --- IKeptorControl: events

STDMETHODIMP TKeptorServer::FireEvent(LONG ADispid, VARIANT AArgs, VARIANT_BOOL APosted, LONG* AResult) {
    return Control([&] {
        std::vector<TVariant> args = VariantElements(AArgs);
        std::reverse(args.begin(), args.end()); // the caller's order, last argument first
        if (APosted)
            FireLater(ADispid, std::move(args));
        HRESULT result = APosted ? S_OK : Fire(ADispid, std::move(args));
        if (AResult)
            *AResult = result;
    });
}

STDMETHODIMP TKeptorServer::FireRaw(LONG ADispid, VARIANT AArgs, VARIANT ANamedDispids, LONG AFlags,
                                    VARIANT_BOOL APosted, LONG* AResult) {
    return Control([&] {
        std::vector<TVariant> args = VariantElements(AArgs);
        std::vector<DISPID> named = DispidsOf(ANamedDispids);
        const WORD flags = static_cast<WORD>(AFlags);
        if (APosted)
            FireLater(ADispid, std::move(args), std::move(named), flags);
        HRESULT result = APosted ? S_OK : Fire(ADispid, std::move(args), std::move(named), flags);
        if (AResult)
            *AResult = result;
    });
}

STDMETHODIMP TKeptorServer::FireDocumentDataChange(LONG AID, VARIANT_BOOL APresent, BSTR AComments,
                                                   LONG AStatus, LONG ARating, VARIANT_BOOL APosted,
                                                   LONG* AResult) {
    return Control([&] {
        std::vector<TVariant> args;
        args.emplace_back(static_cast<long>(ARating));
        args.emplace_back(static_cast<long>(AStatus));
        args.emplace_back(Str(AComments));
        TVariant present;
        V_VT(present.Ptr()) = VT_BOOL;
        V_BOOL(present.Ptr()) = APresent;
        args.push_back(std::move(present));
        args.emplace_back(static_cast<long>(AID));
        if (APosted)
            FireLater(kOnDocumentDataChange, std::move(args));
        HRESULT result = APosted ? S_OK : Fire(kOnDocumentDataChange, std::move(args));
        if (AResult)
            *AResult = result;
    });
}

// --- IKeptorControl: failures and process control

STDMETHODIMP TKeptorServer::FailNext(LONG ASlot, LONG AResult) {
    return Control([&] { FailOnce[ASlot] = AResult; });
}

STDMETHODIMP TKeptorServer::FailAlways(LONG ASlot, LONG AResult) {
    return Control([&] { FailEvery[ASlot] = AResult; });
}

STDMETHODIMP TKeptorServer::ClearFailures() {
    return Control([&] {
        FailOnce.clear();
        FailEvery.clear();
    });
}

STDMETHODIMP TKeptorServer::PostStartMessage(LONG AThreadId) {
    return Control([&] {
        if (!::PostThreadMessageW(static_cast<DWORD>(AThreadId), kStartMessage, 0, 0))
            RaiseComError(HRESULT_FROM_WIN32(::GetLastError()));
    });
}

STDMETHODIMP TKeptorServer::Quit(VARIANT_BOOL APosted) {
    return Control([&] {
        if (!APosted) {
            DoQuit();
            return;
        }
        PendingActions.push_back([this] { DoQuit(); });
        ::PostMessageW(Window.Get(), kRunPostedMessage, 0, 0);
    });
}

STDMETHODIMP TKeptorServer::Die(LONG AExitCode) {
    return Control([&] {
        PendingActions.push_back([this, AExitCode] { DoDie(static_cast<UINT>(AExitCode)); });
        ::PostMessageW(Window.Get(), kRunPostedMessage, 0, 0);
    });
}

STDMETHODIMP TKeptorServer::GetProcessId(LONG* AProcessId) {
    return Control([&] {
        if (!AProcessId)
            RaiseComError(E_POINTER);
        *AProcessId = static_cast<LONG>(::GetCurrentProcessId());
    });
}

// --- IKeptorControl: answers and records of the page operations

STDMETHODIMP TKeptorServer::SetLinkStatesAnswer(LONG AForm, VARIANT AAnswer) {
    return Control([&] {
        if (AForm < kStatesFromArchive || AForm > kStatesVariantRef)
            RaiseComError(E_INVALIDARG);
        Data.LinkStatesForm = AForm;
        Data.LinkStatesAnswer = AForm == kStatesFromArchive ? TVariant() : TVariant(AAnswer);
    });
}

STDMETHODIMP TKeptorServer::ClearLists() {
    return Control([&] {
        ReceivedLists.clear();
        ReceivedStateRequests.clear();
        ReceivedImageRequests.clear();
    });
}

STDMETHODIMP TKeptorServer::GetListWellFormed(LONG AIndex, VARIANT_BOOL* AWellFormed) {
    return Control([&] {
        if (!AWellFormed)
            RaiseComError(E_POINTER);
        if (AIndex < 0 || static_cast<size_t>(AIndex) >= ReceivedLists.size())
            RaiseComError(E_INVALIDARG);
        *AWellFormed = Flag(ReceivedLists[static_cast<size_t>(AIndex)].WellFormed);
    });
}

STDMETHODIMP TKeptorServer::GetStateRequestCount(LONG* ACount) {
    return Control([&] {
        if (!ACount)
            RaiseComError(E_POINTER);
        *ACount = static_cast<LONG>(ReceivedStateRequests.size());
    });
}

STDMETHODIMP TKeptorServer::GetStateRequest(LONG AIndex, VARIANT* AURLs, VARIANT_BOOL* AWellFormed) {
    if (!AURLs || !AWellFormed)
        return E_POINTER;
    ::VariantInit(AURLs);
    return Control([&] {
        if (AIndex < 0 || static_cast<size_t>(AIndex) >= ReceivedStateRequests.size())
            RaiseComError(E_INVALIDARG);
        const TKeptorStateRequest& request = ReceivedStateRequests[static_cast<size_t>(AIndex)];
        TVariant urls = StringArray(request.Urls);
        *AWellFormed = Flag(request.WellFormed);
        *AURLs = urls.Release();
    });
}

STDMETHODIMP TKeptorServer::GetImageRequestCount(LONG* ACount) {
    return Control([&] {
        if (!ACount)
            RaiseComError(E_POINTER);
        *ACount = static_cast<LONG>(ReceivedImageRequests.size());
    });
}

STDMETHODIMP TKeptorServer::GetImageRequest(LONG AIndex, BSTR* AURL, LONG* AImageIndex, VARIANT_BOOL* AFlag) {
    if (!AURL || !AImageIndex || !AFlag)
        return E_POINTER;
    *AURL = nullptr;
    return Control([&] {
        if (AIndex < 0 || static_cast<size_t>(AIndex) >= ReceivedImageRequests.size())
            RaiseComError(E_INVALIDARG);
        const TKeptorImageRequest& request = ReceivedImageRequests[static_cast<size_t>(AIndex)];
        *AImageIndex = request.Index;
        *AFlag = request.Flag;
        *AURL = NewBStr(request.Url);
    });
}

// --- IKeptorControl: quick groups that answer badly

STDMETHODIMP TKeptorServer::SetQuickLinkReadable(LONG AGroupIndex, LONG ALinkIndex, VARIANT_BOOL AReadable) {
    return Control([&] {
        if (AGroupIndex < 0 || static_cast<size_t>(AGroupIndex) >= Data.QuickGroups.size())
            RaiseComError(E_INVALIDARG);
        auto& links = Data.QuickGroups[static_cast<size_t>(AGroupIndex)].Links;
        if (ALinkIndex < 0 || static_cast<size_t>(ALinkIndex) >= links.size())
            RaiseComError(E_INVALIDARG);
        links[static_cast<size_t>(ALinkIndex)].Readable = AReadable != VARIANT_FALSE;
    });
}

STDMETHODIMP TKeptorServer::SetQuickGroupCountAnswer(LONG ACount) {
    return Control([&] { Data.QuickGroupCountAnswer = ACount; });
}

STDMETHODIMP TKeptorServer::SetQuickLinkCountAnswer(LONG AGroupIndex, LONG ACount) {
    return Control([&] {
        if (AGroupIndex < 0 || static_cast<size_t>(AGroupIndex) >= Data.QuickGroups.size())
            RaiseComError(E_INVALIDARG);
        Data.QuickGroups[static_cast<size_t>(AGroupIndex)].LinkCountAnswer = ACount;
    });
}

} // namespace zorbex::keptor
