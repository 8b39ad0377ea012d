// The reference Keptor server's answers: IGUIServer from its archive, as the application answers the
// library. Each slot body is only what the slot does; Serve logs the call and injects failures.
#include "KeptorServerUnit.h"

#include "KeptorCallsUnit.h"
#include "KeptorPicturesUnit.h"
#include "KeptorVariantsUnit.h"

#include <algorithm>
#include <cstdint>
#include <cwctype>

#include "com/ErrorsUnit.h"
#include "com/RegistryUnit.h"

using Microsoft::WRL::ComPtr;

namespace zorbex::keptor {

using namespace detail;

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Calverin\\Trovella\\Settings";

// Arguments as the call log shows them.
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

} // namespace

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
                         FireLater(kOnDocumentDataChange, DocumentDataArgs(document.Id, VARIANT_TRUE, document.Comments,
                                                                           document.Status, document.Rating));
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
            if (AutoEvents)
                FireLater(kOnDocumentDataChange, DocumentDataArgs(document.Id, VARIANT_TRUE, document.Comments,
                                                                  document.Status, document.Rating));
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

} // namespace zorbex::keptor
