// The archive of the demo.
#include "KeptorArchiveUnit.h"

#include "KeptorPicturesUnit.h"
#include "KeptorVariantsUnit.h"

namespace zorbex::keptor {

TKeptorArchive DemoArchive() {
    TKeptorArchive archive;
    archive.CurrentRubricName = L"Reading list";
    archive.Documents[L"http://www.example.com/"] = {1, L"The front page of the example site", 1, 3};
    archive.Documents[L"http://www.example.com/docs/"] = {2, L"", 0, 1};
    archive.Documents[L"http://www.example.org/"] = {3, L"Another site", 2, 4};
    const COLORREF kPictureColors[] = {RGB(0x30, 0x60, 0xC0), RGB(0x30, 0xA0, 0x50), RGB(0xC0, 0x50, 0x30)};
    const wchar_t* kDomainLinks[] = {L"http://www.example.com/about/", L"http://www.example.com/docs/",
                                     L"http://www.example.com/news/"};
    for (long i = 0; i < 3; ++i) {
        archive.DomainLinks[11 + i] = kDomainLinks[i];
        // The domain-links menu shows each link as a picture of its address; the link hint, a card.
        archive.LinkImages[{L"", 11 + i}] = {
            VARIANT_TRUE, MakeByteArray(RenderCardBitmap(230, 20, kPictureColors[i], {kDomainLinks[i]}))};
        archive.LinkImages[{kDomainLinks[i], -1}] = {VARIANT_TRUE,
                                                  MakeByteArray(RenderUrlPreview(kDomainLinks[i], kPictureColors[i]))};
    }
    archive.RatingCount = 5;
    const COLORREF kRatingBacks[] = {RGB(0xE0, 0xE0, 0xE0), RGB(0xFF, 0xE0, 0xE0), RGB(0xFF, 0xF0, 0xC0),
                                     RGB(0xE0, 0xFF, 0xE0), RGB(0xC0, 0xE0, 0xFF)};
    for (long i = 0; i < 5; ++i)
        archive.RatingColors[i] = {RGB(0, 0, 0), static_cast<long>(kRatingBacks[i])};
    archive.LinkStates[L"http://www.example.com/docs/"] = 0;
    archive.LinkStates[L"http://www.example.com/"] = 0;
    archive.Hint = {220, 500, 4000};
    archive.PreviewAnyUrl = true;
    archive.QuickGroups = {
        {L"News",
         true,
         {{L"Example news", L"http://www.example.com/news/"}, {L"Example org", L"http://www.example.org/"}}},
        {L"Tools", true, {{L"Docs", L"http://www.example.com/docs/"}}},
        {L"Hidden", false, {{L"Secret", L"http://www.example.net/"}}}};
    return archive;
}

} // namespace zorbex::keptor
