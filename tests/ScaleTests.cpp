// Both toolbars at the system's text scale, read from outside through the platform: the image lists'
// image size, the button and band heights, every window and button inside the form and clear of the
// others, texts that fit their labels, menus that hold their pictures, the hint that holds its text,
// and no GDI or USER object kept over repeated creation.
//
// tests/every_dpi.sh runs this program once per screen scale (96, 120, 144 and 192 dots per inch, the
// LogPixels of its own Wine prefix) and tells it the scale it should find in ZORBEX_EXPECTED_DPI; run
// alone, it checks the scale it finds.
#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "band/TrovellaQLToolbarUnit.h"
#include "band/ZorbexExplorerBarUnit.h"
#include "com/ComSupportUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/ClassProbes.h"
#include "support/MenuProbeUnit.h"
#include "support/TestSupport.h"
#include "support/ToolbarProbeUnit.h"
#include "ui/MainIEToolBandFormUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;
using keptor::TKeptorServer;

namespace {

// The image size each screen scale calls for.
struct TScale {
    int Dpi;
    int ImageSize;
};
constexpr TScale kScales[] = {{96, 16}, {120, 20}, {144, 24}, {192, 32}};

constexpr int kDomainLinks = 14;
const wchar_t kArchived[] = L"http://archive.example/page";

int ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

// The scale this run is about: the one named by the runner, else the one the system has.
std::optional<TScale> CurrentScale() {
    const char* expected = std::getenv("ZORBEX_EXPECTED_DPI");
    const int dpi = expected ? std::atoi(expected) : ScreenDpi();
    for (const TScale& scale : kScales)
        if (scale.Dpi == dpi)
            return scale;
    return std::nullopt;
}

// The height of a font's text, and the extent of a text in it.
int FontHeight(HFONT font) {
    HDC screen = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(screen, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(screen, &metrics);
    ::SelectObject(screen, old);
    ::ReleaseDC(nullptr, screen);
    return metrics.tmHeight;
}
SIZE TextExtent(HFONT font, const std::wstring& text) {
    HDC screen = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(screen, font);
    SIZE extent{};
    ::GetTextExtentPoint32W(screen, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(screen, old);
    ::ReleaseDC(nullptr, screen);
    return extent;
}
HFONT WindowFont(HWND window) { return reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)); }
std::wstring WindowText(HWND window) {
    wchar_t text[256]{};
    ::GetWindowTextW(window, text, 256);
    return text;
}

RECT ScreenRect(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return rect;
}
bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}
bool Overlap(const RECT& a, const RECT& b) {
    RECT both{};
    return ::IntersectRect(&both, &a, &b) != FALSE;
}
std::string Describe(const RECT& rect) {
    char text[96];
    std::snprintf(text, sizeof(text), "(%ld, %ld)-(%ld, %ld)", rect.left, rect.top, rect.right, rect.bottom);
    return text;
}

// A part of the form as the platform shows it: its name for messages, its rectangle on the screen.
struct TPart {
    std::string Name;
    RECT Rect;
};

// The shown buttons of a toolbar, on the screen (separators holding controls are not buttons).
std::vector<TPart> ShownButtons(HWND bar) {
    std::vector<TPart> parts;
    const int count = static_cast<int>(::SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
    for (int index = 0; index < count; ++index) {
        TBBUTTON button{};
        ::SendMessageW(bar, TB_GETBUTTON, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&button));
        if ((button.fsState & TBSTATE_HIDDEN) || (button.fsStyle & BTNS_SEP))
            continue;
        RECT rect{};
        ::SendMessageW(bar, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect));
        ::MapWindowPoints(bar, nullptr, reinterpret_cast<POINT*>(&rect), 2);
        parts.push_back({"button with image " + std::to_string(button.iBitmap), rect});
    }
    return parts;
}

std::vector<HWND> Toolbars(HWND form) {
    std::vector<HWND> bars;
    for (HWND bar = ::FindWindowExW(form, nullptr, TOOLBARCLASSNAMEW, nullptr); bar;
         bar = ::FindWindowExW(form, bar, TOOLBARCLASSNAMEW, nullptr))
        bars.push_back(bar);
    return bars;
}

// Checks what both toolbar forms promise at every scale: the images of the scale in both lists of every
// toolbar; buttons high and wide enough for them; a band as high as the form and the buttons; every
// toolbar, button, panel and label inside the form and clear of its neighbours; every label's text
// inside its frame.
void ExpectFits(HWND form, IDeskBand* band, const TScale& scale) {
    const RECT formRect = ScreenRect(form);
    const int textHeight = FontHeight(WindowFont(Toolbars(form).front()));
    DESKBANDINFO info{};
    info.dwMask = DBIM_ACTUAL | DBIM_MINSIZE;
    ASSERT_EQ(S_OK, band->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info));
    EXPECT_EQ(formRect.bottom - formRect.top, info.ptActual.y) << "the band is as high as the form";
    EXPECT_EQ(info.ptMinSize.y, info.ptActual.y);
    EXPECT_GE(info.ptActual.y, ::MulDiv(22, textHeight, 13)) << "at least the designed 22 pixels, scaled";
    std::printf("%d dpi: text %d pixels high, images %d, band %ld pixels high\n", scale.Dpi, textHeight,
                scale.ImageSize, info.ptActual.y);

    std::vector<TPart> bars;
    for (HWND bar : Toolbars(form)) {
        const std::wstring barName = WindowText(bar);
        SCOPED_TRACE(std::string(barName.begin(), barName.end()));
        for (const UINT message : {static_cast<UINT>(TB_GETIMAGELIST), static_cast<UINT>(TB_GETHOTIMAGELIST)}) {
            const auto list = reinterpret_cast<HIMAGELIST>(::SendMessageW(bar, message, 0, 0));
            int width = 0, height = 0;
            ASSERT_TRUE(list && ::ImageList_GetIconSize(list, &width, &height));
            EXPECT_EQ(scale.ImageSize, width);
            EXPECT_EQ(scale.ImageSize, height);
        }
        const DWORD size = static_cast<DWORD>(::SendMessageW(bar, TB_GETBUTTONSIZE, 0, 0));
        const int buttonHeight = HIWORD(size);
        EXPECT_GE(buttonHeight, scale.ImageSize + 2) << "the image and its pressed offset";
        EXPECT_LE(buttonHeight, info.ptActual.y) << "the band holds the buttons";
        const RECT barRect = ScreenRect(bar);
        if (barRect.right > barRect.left)
            bars.push_back({"toolbar " + std::string(barName.begin(), barName.end()), barRect});

        std::vector<TPart> parts = ShownButtons(bar);
        for (const TPart& button : parts) {
            EXPECT_GE(button.Rect.bottom - button.Rect.top, scale.ImageSize + 2) << button.Name;
            EXPECT_GE(button.Rect.right - button.Rect.left, scale.ImageSize + 2) << button.Name;
        }
        // Controls over the toolbar's separators: the panels and their labels.
        for (HWND panel = ::GetWindow(bar, GW_CHILD); panel; panel = ::GetWindow(panel, GW_HWNDNEXT)) {
            if (!::IsWindowVisible(panel))
                continue;
            parts.push_back({"panel", ScreenRect(panel)});
            for (HWND label = ::GetWindow(panel, GW_CHILD); label; label = ::GetWindow(label, GW_HWNDNEXT)) {
                const std::wstring caption = WindowText(label);
                const std::string name(caption.begin(), caption.end());
                EXPECT_TRUE(Inside(ScreenRect(label), ScreenRect(panel)))
                    << "label '" << name << "' " << Describe(ScreenRect(label)) << " in its panel "
                    << Describe(ScreenRect(panel));
                RECT client{};
                ::GetClientRect(label, &client);
                const SIZE text = TextExtent(WindowFont(label), caption);
                EXPECT_GE(client.right, text.cx) << "label '" << name << "'";
                EXPECT_GE(client.bottom, text.cy) << "label '" << name << "'";
                EXPECT_EQ(textHeight, FontHeight(WindowFont(label))) << "label '" << name << "'";
            }
        }
        for (size_t i = 0; i < parts.size(); ++i) {
            EXPECT_TRUE(Inside(parts[i].Rect, barRect))
                << parts[i].Name << " " << Describe(parts[i].Rect) << " outside its toolbar " << Describe(barRect);
            EXPECT_TRUE(Inside(parts[i].Rect, formRect))
                << parts[i].Name << " " << Describe(parts[i].Rect) << " outside the form " << Describe(formRect);
            for (size_t j = i + 1; j < parts.size(); ++j)
                EXPECT_FALSE(Overlap(parts[i].Rect, parts[j].Rect))
                    << parts[i].Name << " " << Describe(parts[i].Rect) << " overlaps " << parts[j].Name << " "
                    << Describe(parts[j].Rect);
        }
    }
    for (size_t i = 0; i < bars.size(); ++i) {
        EXPECT_TRUE(Inside(bars[i].Rect, formRect)) << bars[i].Name << " " << Describe(bars[i].Rect);
        for (size_t j = i + 1; j < bars.size(); ++j)
            EXPECT_FALSE(Overlap(bars[i].Rect, bars[j].Rect)) << bars[i].Name << " overlaps " << bars[j].Name;
    }
}

class ScaleTest : public TComTest {
protected:
    void SetUp() override {
        const std::optional<TScale> scale = CurrentScale();
        if (!scale)
            GTEST_SKIP() << "no expected image size for " << ScreenDpi() << " dots per inch";
        Scale = *scale;
        SetEverySwitch(true);
        Server = TKeptorServer::Create();
        auto& archive = Server->Archive();
        archive.Documents[kArchived] = {2001, L"Read later", 1, 3};
        archive.QuickGroups = {{L"News", true, {{L"Front page", L"http://news.test/"}}},
                               {L"Reading for the weekend", true, {{L"Long read", L"http://long.test/"}}},
                               {L"Tools", true, {}}};
        for (long id = 1; id <= 3; ++id) {
            archive.DomainLinks[id] = L"http://archive.example/other" + std::to_wstring(id);
            Server->SetLinkPicture(nullptr, id, 120, 18, 0x00C08040);
        }
        ASSERT_EQ(S_OK, Server->RegisterRunning());
    }
    void TearDown() override {
        Main.reset();
        QuickLinks.reset();
        PumpMessages(30);
        if (Server) {
            Server->RevokeRunning();
            Server.Reset();
        }
        EXPECT_EQ(nullptr, TServerWrapperProbe::Current()) << "a wrapper was left behind";
        TComTest::TearDown();
    }

    void OpenMain() {
        Main.emplace(TakeCreated<IDeskBand>(TZorbexExplorerBar::CreateObject()));
        ASSERT_EQ(S_OK, Main->SiteResult);
        Main->Site->Browser().FireNavigateComplete(kArchived);
        PumpMessages(30);
    }
    void OpenQuickLinks() {
        QuickLinks.emplace(TakeCreated<IDeskBand>(TTrovellaQLToolbar::CreateObject()));
        ASSERT_EQ(S_OK, QuickLinks->SiteResult);
        PumpMessages(30);
    }
    TMainIEToolBandFormProbe MainForm() {
        return TMainIEToolBandFormProbe(
            *static_cast<TMainIEToolBandForm*>(static_cast<TZorbexExplorerBar*>(Main->Band.Get())->Form()));
    }

    TScale Scale{};
    ComPtr<TKeptorServer> Server;
    std::optional<TLibraryBand> Main;
    std::optional<TLibraryBand> QuickLinks;
};

TEST_F(ScaleTest, RunsAtTheScaleItWasGiven) {
    EXPECT_EQ(Scale.Dpi, ScreenDpi()) << "the prefix's LogPixels";
}

TEST_F(ScaleTest, MainToolbarFitsItsImagesAndTexts) {
    OpenMain();
    ASSERT_NO_FATAL_FAILURE(ExpectFits(Main->Window(), Main->Band.Get(), Scale));
    // A longer rating widens its panel and moves what stands right of it; everything still fits.
    Server->Archive().Documents[kArchived] = {2001, L"Read later", 1, 2147483647};
    Main->Site->Browser().FireNavigateComplete(kArchived);
    PumpMessages(30);
    EXPECT_EQ(L"  Rating: 2147483647  ", WindowText(ToolbarLabels(Main->Window())[0]));
    ExpectFits(Main->Window(), Main->Band.Get(), Scale);
}

TEST_F(ScaleTest, QuickLinkToolbarFitsItsImagesAndTexts) {
    OpenQuickLinks();
    HWND groups = ::FindWindowExW(QuickLinks->Window(), nullptr, TOOLBARCLASSNAMEW, L"QLToolBar");
    ASSERT_EQ(3, static_cast<int>(::SendMessageW(groups, TB_BUTTONCOUNT, 0, 0)));
    ExpectFits(QuickLinks->Window(), QuickLinks->Band.Get(), Scale);
}

// Menu items hold their pictures: the rating pictures (the size of the rating label), the application's
// link pictures (the size it gives, 120 x 18 here) and the quick links' images.
TEST_F(ScaleTest, MenusHoldTheirPictures) {
    OpenMain();
    const HWND rating = ToolbarLabels(Main->Window())[0];
    const RECT label = ScreenRect(rating);
    const TMenuProbe ratings = ProbeMenu([&] {
        ::SendMessageW(::GetParent(rating), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(rating), STN_CLICKED),
                       reinterpret_cast<LPARAM>(rating));
    });
    ASSERT_EQ(5, ratings.Count);
    for (const RECT& item : ratings.ItemRects) {
        EXPECT_GE(item.right - item.left, label.right - label.left) << "rating item " << Describe(item);
        EXPECT_GE(item.bottom - item.top, label.bottom - label.top) << "rating item " << Describe(item);
    }

    const TMenuProbe links = ProbeMenu([&] { ClickToolbarButton(Main->Window(), kDomainLinks); });
    ASSERT_EQ(3, links.Count);
    for (const RECT& item : links.ItemRects) {
        EXPECT_GE(item.right - item.left, 120) << "link item " << Describe(item);
        EXPECT_GE(item.bottom - item.top, 18) << "link item " << Describe(item);
    }

    OpenQuickLinks();
    HWND groups = ::FindWindowExW(QuickLinks->Window(), nullptr, TOOLBARCLASSNAMEW, L"QLToolBar");
    HWND manage = ::FindWindowExW(QuickLinks->Window(), nullptr, TOOLBARCLASSNAMEW, L"QLMngToolBar");
    for (HWND bar : {groups, manage}) {
        const TMenuProbe menu = ProbeMenu([&] { ClickArrowPart(bar, 0); });
        ASSERT_TRUE(menu.Opened);
        for (const RECT& item : menu.ItemRects)
            EXPECT_GE(item.bottom - item.top, Scale.ImageSize) << "quick-link item " << Describe(item);
    }
}

TEST_F(ScaleTest, ButtonHintHoldsItsText) {
    OpenMain();
    ASSERT_TRUE(PointAtToolbarButton(Main->Window(), kDomainLinks));
    MainForm().ShowButtonHint();
    const HWND hint = MainForm().ButtonHintWindow();
    ASSERT_TRUE(hint && ::IsWindowVisible(hint));
    const HWND label = ::GetWindow(hint, GW_CHILD);
    ASSERT_TRUE(label);
    const RECT window = ScreenRect(hint), text = ScreenRect(label);
    EXPECT_TRUE(Inside(text, window)) << Describe(text) << " in " << Describe(window);
    // The margin around the text follows the scale: 3 pixels as designed, and more on larger scales.
    const int textHeight = FontHeight(WindowFont(label));
    const int margin = ::MulDiv(3, textHeight, 13);
    EXPECT_EQ(margin, text.left - window.left);
    EXPECT_EQ(margin, text.top - window.top);
    EXPECT_EQ(margin, window.right - text.right);
    EXPECT_EQ(margin, window.bottom - text.bottom);
    const SIZE extent = TextExtent(WindowFont(label), WindowText(label));
    EXPECT_EQ(L"View links from current domain", WindowText(label));
    EXPECT_GE(text.right - text.left, extent.cx);
    EXPECT_GE(text.bottom - text.top, extent.cy);
    EXPECT_EQ(FontHeight(WindowFont(Toolbars(Main->Window()).front())), textHeight) << "the toolbars' font";
}

// Creating and closing the toolbars again and again at this scale keeps no GDI or USER object: the
// larger image lists, the fonts and the panels all go with their form.
TEST_F(ScaleTest, RepeatedCreationKeepsNoGdiOrUserObject) {
    auto cycle = [&](int times) {
        for (int i = 0; i < times; ++i) {
            OpenMain();
            OpenQuickLinks();
            Main.reset();
            QuickLinks.reset();
            PumpMessages(5);
        }
    };
    cycle(5); // warm-up: caches of the system and of the test doubles settle
    const TGuiObjectCounts before = GuiObjectCounts();
    cycle(60);
    const TGuiObjectCounts after = GuiObjectCounts();
    std::printf("%d dpi: GDI objects %ld -> %ld, USER objects %ld -> %ld over 60 creations of both toolbars\n",
                Scale.Dpi, before.Gdi, after.Gdi, before.User, after.User);
    EXPECT_LE(after.Gdi, before.Gdi);
    EXPECT_LE(after.User, before.User);
}

} // namespace
