// The Keptor application's event sink.
#include "server/CVKeptorEvents.h"

#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "com/FormatUnit.h"
#include "com/ZorbexGUI_TLB.h"

#include <initializer_list>

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

constexpr DISPID kOnQuit = 201;
constexpr DISPID kOnRefreshHighlight = 202;
constexpr DISPID kOnDocumentDataChange = 203;
constexpr DISPID kOnSettingsChange = 204;
constexpr DISPID kOnFunctionalityChange = 205;
constexpr DISPID kOnQuickGroupChange = 206;

// Reads one event argument as the listed type. The caller is another process: a by-reference value is
// followed, a narrower integer is widened, anything else is refused rather than misread.
HRESULT ReadArgument(const VARIANT& argument, VARTYPE wanted, TVariant& value) {
    if (FAILED(::VariantCopyInd(value.Receive(), const_cast<VARIANT*>(&argument))))
        return DISP_E_TYPEMISMATCH;
    const VARTYPE type = value.Type();
    bool lossless = type == wanted;
    if (wanted == VT_I4)
        lossless = lossless || type == VT_I1 || type == VT_UI1 || type == VT_I2 || type == VT_UI2 || type == VT_INT;
    if (!lossless)
        return DISP_E_TYPEMISMATCH;
    if (type != wanted && FAILED(::VariantChangeType(value.Ptr(), value.Ptr(), 0, wanted)))
        return DISP_E_TYPEMISMATCH;
    return S_OK;
}

} // namespace

// --- TCVKeptorEventsBaseSink -------------------------------------------------------------------------

TCVKeptorEventsBaseSink::TCVKeptorEventsBaseSink(const IID& eventIID) : EventIID(eventIID) {}

TCVKeptorEventsBaseSink::~TCVKeptorEventsBaseSink() {
    DisconnectFrom();
}

void TCVKeptorEventsBaseSink::ConnectTo(IUnknown* source) {
    DisconnectFrom();
    try {
        if (!source)
            RaiseComError(E_POINTER);
        ComPtr<IConnectionPointContainer> container;
        OleCheck(source->QueryInterface(IID_PPV_ARGS(&container)));
        ComPtr<IConnectionPoint> point;
        OleCheck(container->FindConnectionPoint(EventIID, &point));
        DWORD cookie = 0;
        OleCheck(point->Advise(static_cast<IDispatch*>(this), &cookie));
        ConnectionPoint = point;
        Cookie = cookie;
        Source = source;
    } catch (...) {
        TErrorInfo error = CurrentErrorInfo();
        RaiseError(FormatText(L"Unable to connect %s.\r%s", {SinkName, error.Message}));
    }
}

void TCVKeptorEventsBaseSink::DisconnectFrom() noexcept {
    if (!Source)
        return;
    if (ConnectionPoint)
        ConnectionPoint->Unadvise(Cookie); // fails when the application has ended: nothing more to do
    // The references are released either way: releasing a proxy of a vanished server is harmless.
    ConnectionPoint.Reset();
    Source.Reset();
    Cookie = 0;
}

STDMETHODIMP TCVKeptorEventsBaseSink::QueryInterface(REFIID iid, void** object) {
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == EventIID) {
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP TCVKeptorEventsBaseSink::GetTypeInfoCount(UINT* count) {
    if (count)
        *count = 0;
    return E_NOTIMPL;
}

STDMETHODIMP TCVKeptorEventsBaseSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info)
        *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TCVKeptorEventsBaseSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

STDMETHODIMP TCVKeptorEventsBaseSink::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                                             EXCEPINFO* exception, UINT*) {
    try {
        if (!(flags & DISPATCH_METHOD))
            RaiseError(FormatText(L"%s only supports sinking of method calls!", {ClassName()}));
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        const DISPPARAMS& args = params ? *params : none;
        if (args.cArgs && !args.rgvarg)
            return E_INVALIDARG;
        // Positional arguments come last to first; a named argument sits where its DISPID says.
        std::vector<UINT> map(args.cArgs);
        for (UINT i = 0; i < args.cArgs; ++i)
            map[i] = args.cArgs - 1 - i;
        for (UINT j = 0; j < args.cNamedArgs && args.rgdispidNamedArgs; ++j) {
            DISPID named = args.rgdispidNamedArgs[j];
            if (named >= 0 && static_cast<UINT>(named) < args.cArgs && j < args.cArgs)
                map[static_cast<UINT>(named)] = j;
        }
        return InvokeEvent(id, args, map);
    } catch (...) {
        TErrorInfo error = CurrentErrorInfo();
        if (exception) {
            *exception = EXCEPINFO{};
            exception->bstrDescription = TBStr(error.Message).Release();
            exception->scode = E_UNEXPECTED;
        }
        return exception ? DISP_E_EXCEPTION : E_UNEXPECTED;
    }
}

// --- TCVKeptorIGUIServerEvents -----------------------------------------------------------------------

TCVKeptorIGUIServerEvents::TCVKeptorIGUIServerEvents() : TCVKeptorEventsBaseSink(DIID_IGUIServerEvents) {}

HRESULT TCVKeptorIGUIServerEvents::InvokeEvent(DISPID id, const DISPPARAMS& params, const std::vector<UINT>& map) {
    IUnknown* sender = static_cast<IDispatch*>(this);
    auto notify = [sender](const TNotifyEvent& handler) -> HRESULT {
        try {
            if (handler)
                handler(sender);
            return S_OK;
        } catch (...) {
            return E_UNEXPECTED;
        }
    };
    switch (id) {
    case kOnQuit:
        return notify(OnQuit);
    case kOnRefreshHighlight:
        return notify(OnRefreshHighlight);
    case kOnSettingsChange:
        return notify(OnSettingsChange);
    case kOnFunctionalityChange:
        return notify(OnFunctionalityChange);
    case kOnQuickGroupChange:
        return notify(OnQuickGroupChange);
    case kOnDocumentDataChange: {
        if (!OnDocumentDataChange)
            return S_OK;
        static constexpr VARTYPE kTypes[5] = {VT_I4, VT_BOOL, VT_BSTR, VT_I4, VT_I4};
        if (map.size() < 5)
            return DISP_E_BADPARAMCOUNT;
        TVariant values[5];
        for (size_t k = 0; k < 5; ++k) {
            HRESULT result = ReadArgument(params.rgvarg[map[k]], kTypes[k], values[k]);
            if (FAILED(result))
                return result;
        }
        try {
            const BSTR comments = V_BSTR(values[2].Ptr());
            OnDocumentDataChange(sender, V_I4(values[0].Ptr()), V_BOOL(values[1].Ptr()),
                                 comments ? std::wstring(comments) : std::wstring(), V_I4(values[3].Ptr()),
                                 V_I4(values[4].Ptr()));
            return S_OK;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

} // namespace zorbex
