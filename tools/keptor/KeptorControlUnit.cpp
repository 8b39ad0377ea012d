// The control surface of the reference Keptor server: what tests and the demo use to seed its archive,
// fire its events, inject failures, read back what it received and stop it (IKeptorControl, and the same
// from C++ in the process that holds the server).
#include "KeptorServerUnit.h"

#include "KeptorCallsUnit.h"
#include "KeptorVariantsUnit.h"

#include <algorithm>

#include "com/ErrorsUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex::keptor {

using namespace detail;

namespace {

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

} // namespace

// --- IKeptorControl: archive

void TKeptorServer::SeedDemoArchive() {
    Data = DemoArchive();
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
        std::vector<TVariant> args = DocumentDataArgs(AID, APresent, Str(AComments), AStatus, ARating);
        if (APosted)
            FireLater(kOnDocumentDataChange, std::move(args));
        HRESULT result = APosted ? S_OK : Fire(kOnDocumentDataChange, std::move(args));
        if (AResult)
            *AResult = result;
    });
}

// --- IKeptorControl: failures and process control

void TKeptorServer::RunBeforeAnswer(long slot, std::function<void()> action) {
    BeforeAnswer[slot] = std::move(action);
}

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
