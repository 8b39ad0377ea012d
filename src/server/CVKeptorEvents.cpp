// The Keptor application's event sink: subscription, the argument positions of a dispatch call, and
// the checked reading of OnDocumentDataChange's arguments.
#include "server/CVKeptorEvents.h"

#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "com/FormatUnit.h"
#include "com/ZorbexGUI_TLB.h"

#include <vector>

using Microsoft::WRL::ComPtr;

namespace zorbex {
namespace {

constexpr DISPID kOnQuit = 201;
constexpr DISPID kOnRefreshHighlight = 202;
constexpr DISPID kOnDocumentDataChange = 203;
constexpr DISPID kOnSettingsChange = 204;
constexpr DISPID kOnFunctionalityChange = 205;
constexpr DISPID kOnQuickGroupChange = 206;

// Entry k is the index, in params.rgvarg, of the event's argument k: positional arguments come last to
// first, a named argument sits where its DISPID says.
std::vector<UINT> ArgumentPositions(const DISPPARAMS& params) {
    std::vector<UINT> map(params.cArgs);
    for (UINT i = 0; i < params.cArgs; ++i)
        map[i] = params.cArgs - 1 - i;
    for (UINT j = 0; j < params.cNamedArgs && params.rgdispidNamedArgs; ++j) {
        const DISPID named = params.rgdispidNamedArgs[j];
        if (named >= 0 && static_cast<UINT>(named) < params.cArgs && j < params.cArgs)
            map[static_cast<UINT>(named)] = j;
    }
    return map;
}

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

ComPtr<TCVKeptorIGUIServerEvents> TCVKeptorIGUIServerEvents::Create() {
    return ComPtr<TCVKeptorIGUIServerEvents>(new TCVKeptorIGUIServerEvents());
}

TCVKeptorIGUIServerEvents::TCVKeptorIGUIServerEvents() : TEventSink(E_UNEXPECTED) {
    SetEventId(DIID_IGUIServerEvents);
}

void TCVKeptorIGUIServerEvents::ConnectTo(IUnknown* source) {
    const HRESULT result = Subscribe(source, DIID_IGUIServerEvents);
    // The sink has no name of its own, so none stands before the full stop.
    if (FAILED(result))
        RaiseError(L"Unable to connect .\r" + SysErrorMessage(result));
}

void TCVKeptorIGUIServerEvents::DropHandlers() noexcept {
    OnQuit = nullptr;
    OnDocumentDataChange = nullptr;
    OnSettingsChange = nullptr;
    OnFunctionalityChange = nullptr;
    OnQuickGroupChange = nullptr;
}

HRESULT TCVKeptorIGUIServerEvents::InvokeEvent(DISPID id, WORD flags, DISPPARAMS* params) {
    if (!(flags & DISPATCH_METHOD))
        RaiseError(L"TCVKeptorIGUIServerEvents only supports sinking of method calls!");
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const DISPPARAMS& args = params ? *params : none;
    if (args.cArgs && !args.rgvarg)
        return E_INVALIDARG;
    IUnknown* sender = static_cast<IDispatch*>(this);
    auto notify = [sender](const TNotifyEvent& handler) {
        if (handler)
            handler(sender);
        return S_OK;
    };
    switch (id) {
    case kOnQuit:
        return notify(OnQuit);
    case kOnRefreshHighlight:
        return S_OK;
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
        const std::vector<UINT> map = ArgumentPositions(args);
        if (map.size() < 5)
            return DISP_E_BADPARAMCOUNT;
        TVariant values[5];
        for (size_t k = 0; k < 5; ++k) {
            HRESULT result = ReadArgument(args.rgvarg[map[k]], kTypes[k], values[k]);
            if (FAILED(result))
                return result;
        }
        const BSTR comments = V_BSTR(values[2].Ptr());
        OnDocumentDataChange(sender, V_I4(values[0].Ptr()), V_BOOL(values[1].Ptr()),
                             comments ? std::wstring(comments) : std::wstring(), V_I4(values[3].Ptr()),
                             V_I4(values[4].Ptr()));
        return S_OK;
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

} // namespace zorbex
