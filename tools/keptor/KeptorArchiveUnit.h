// The archive the reference Keptor server keeps, and the records of what it received: plain data, seeded
// through the control surface (or directly in the process that holds the server) and read by its
// answers.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <wrl/client.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "com/ComSupportUnit.h"

namespace zorbex::keptor {

struct TKeptorDocument {
    long Id = -1;
    std::wstring Comments;
    long Status = 0;
    long Rating = 0;
};

struct TKeptorQuickLink {
    std::wstring Caption;
    std::wstring Url;
    bool Readable = true; // false: GetQuickLink answers false for it
};

struct TKeptorQuickGroup {
    std::wstring Name;
    bool Shown = true;
    std::vector<TKeptorQuickLink> Links;
    long LinkCountAnswer = -1; // when not negative: the link count GetQuickGroup answers, true or not
};

// The eight out values of GetHighlightSettings, in slot order.
struct TKeptorHighlight {
    bool Enabled = true;
    bool MarkSaved = true;
    bool DefaultBack = false;
    long BackColor = 0x00C0FFFF; // Windows colour 0x00BBGGRR
    bool DefaultText = true;
    long TextColor = 0;
    bool Bold = true;
    long Decoration = 3;
};

struct TKeptorHint {
    long Alpha = -1;
    long ShowDelay = 500;
    long HideDelay = 5000;
};

// The six out values of GetScreenShotSettings, in slot order.
struct TKeptorScreenShotSettings {
    bool TakeFirst = true;
    long FirstScale = 100;
    long FirstFormat = 6;
    bool TakeSecond = false;
    long SecondScale = 25;
    long SecondFormat = 6;
};

// One StoreScreenShot (Which 1) or StoreSecondScreenShot (Which 2) call.
struct TKeptorScreenShot {
    std::wstring Url;
    long Which = 1;
    bool IsImage = false;    // the data was a byte array
    std::vector<BYTE> Data;  // its bytes
    std::wstring FileName;   // where it was written, empty when not written
    VARTYPE Type = VT_EMPTY; // the data's variant type as received
    long Number = 0;         // the data when it was a VT_I4
    UINT Dimensions = 0;     // of the array, when it was one
    LONG LowerBound = 0;     // of the array's first dimension
};

// One AddLinkList / OpenLinkList / AddBannerList call.
struct TKeptorList {
    std::wstring Kind; // "AddLinkList", "OpenLinkList", "AddBannerList"
    std::vector<std::wstring> Urls;
    std::vector<std::wstring> Texts;
    std::wstring Extra1; // document URL / reserved
    std::wstring Extra2; // character set
    bool Flag = false;   // OpenLinkList: outside the browser
    // The arrays had the form the library sends: VT_ARRAY | VT_VARIANT, one dimension, bounds 0 to N-1,
    // every element a VT_BSTR variant.
    bool WellFormed = false;
};

// One GetLinkStates call: the URLs, and whether both arrays had the form of a list with the same bounds.
struct TKeptorStateRequest {
    std::vector<std::wstring> Urls;
    bool WellFormed = false;
};

// One GetLinkImage call, its flag as it arrived.
struct TKeptorImageRequest {
    std::wstring Url;
    long Index = 0;
    VARIANT_BOOL Flag = VARIANT_FALSE;
};

struct TKeptorLinkImage {
    VARIANT_BOOL Found = VARIANT_TRUE; // answered as it stands (a test may give a non-canonical true)
    TVariant Data;
};

// How GetLinkStates answers (IKeptorControl::SetLinkStatesAnswer).
enum TKeptorStatesForm : long {
    kStatesFromArchive = 0,  // the archive's state of each URL, -1 for a URL it does not hold
    kStatesAnswer = 1,       // LinkStatesAnswer as it stands
    kStatesArrayRef = 2,     // by reference to LinkStatesAnswer's array
    kStatesVariantRef = 3,   // by reference to a variant holding LinkStatesAnswer
};

struct TKeptorArchive {
    std::map<std::wstring, TKeptorDocument> Documents; // by URL, exact
    std::wstring CurrentRubricName;
    std::map<long, std::wstring> DomainLinks; // id -> URL
    TVariant DomainLinksAnswer;               // when not empty: GetDomainLinks answers this as it stands
    long RatingCount = 5;
    std::map<long, std::pair<long, long>> RatingColors; // rating -> (text, back)
    long CommentColors[4] = {0x00808080, 0x00FFFFFF, 0x00000000, 0x00C0FFFF};
    std::vector<TKeptorQuickGroup> QuickGroups;
    long QuickGroupCountAnswer = -1; // when not negative: what GetQuickGroupCount answers, true or not
    TKeptorHighlight Highlight;
    std::map<std::wstring, long> LinkStates; // by URL, exact; missing: -1
    long LinkStatesForm = kStatesFromArchive;
    TVariant LinkStatesAnswer;
    TKeptorHint Hint;
    TKeptorScreenShotSettings ScreenShot;
    std::map<std::pair<std::wstring, long>, TKeptorLinkImage> LinkImages; // (URL, index)
    Microsoft::WRL::ComPtr<IDispatch> InternalBrowser;
    std::wstring ScreenShotDirectory; // empty: screenshots are kept in memory only
    // When set, GetLinkImage renders a preview card for any URL asked with index -1 that LinkImages
    // does not hold (the demo seed sets it); otherwise such a URL is not found.
    bool PreviewAnyUrl = false;
};

// The archive of the demo: a few documents and domain links with pictures, ratings, quick groups, and a
// preview of every link.
TKeptorArchive DemoArchive();

} // namespace zorbex::keptor
