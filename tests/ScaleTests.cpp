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
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "band/TrovellaQLToolbarUnit.h"
#include "band/ZorbexExplorerBarUnit.h"
#include "com/ComSupportUnit.h"
#include "server/ServerWrapperUnit.h"
#include "support/BrowserHostUnit.h"
#include "support/EnvironmentUnit.h"
#include "support/ClassProbes.h"
#include "support/HighContrastUnit.h"
#include "support/MenuProbeUnit.h"
#include "support/TestSupport.h"
#include "support/ToolbarProbeUnit.h"
#include "ui/ControlsUnit.h"
#include "ui/FormsUnit.h"
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

// --- Drop-down arrows and high contrast ------------------------------------------------------------------

// A toolbar's client area drawn into a bitmap (32-bit pixels, top row first) over the form's background
// colour. own: as the control draws itself, with the form's custom drawing held back (a subclass of the
// form answers the toolbar's custom-draw notifications before the form hears them).
struct TPicture {
    int Width = 0;
    int Height = 0;
    std::vector<COLORREF> Pixels;
    COLORREF At(int x, int y) const { return Pixels[static_cast<size_t>(y * Width + x)]; }
};

LRESULT CALLBACK OwnDrawingOnly(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == NM_CUSTOMDRAW)
        return CDRF_DODEFAULT;
    return ::DefSubclassProc(window, message, wParam, lParam);
}

TPicture Render(HWND bar, bool own) {
    RECT client{};
    ::GetClientRect(bar, &client);
    TPicture picture{client.right, client.bottom, {}};
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), picture.Width, -picture.Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    // The form's background, which the flat toolbar lets show through.
    ::FillRect(dc, &client, ::GetSysColorBrush(COLOR_BTNFACE));
    HWND parent = ::GetParent(bar);
    if (own)
        ::SetWindowSubclass(parent, OwnDrawingOnly, 1, 0);
    ::SendMessageW(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    if (own)
        ::RemoveWindowSubclass(parent, OwnDrawingOnly, 1);
    ::GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    for (int i = 0; i < picture.Width * picture.Height; ++i)
        picture.Pixels.push_back(RGB(GetBValue(pixels[i]), GetGValue(pixels[i]), GetRValue(pixels[i])));
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    return picture;
}

class ArrowScaleTest : public ScaleTest, public ::testing::WithParamInterface<bool> {};

// The arrow of a drop-down button (a quick-link group) in the arrow part the toolbar reports: in every
// state of the button (plain, hot, pressed, checked) nothing changes on the button outside the part; on
// the plain button the part shows, on the toolbar's background, one glyph of the toolbar's text colour, as
// wide as the scale asks and centred. At 100 % the toolbar's own arrow stands untouched.
TEST_P(ArrowScaleTest, DropDownArrowsSitInTheArrowPartTheToolbarReports) {
    std::optional<THighContrast> contrast;
    if (GetParam()) {
        contrast.emplace(::GetModuleHandleW(nullptr));
        ASSERT_TRUE(contrast->Applied());
    }
    OpenQuickLinks();
    HWND groups = ::FindWindowExW(QuickLinks->Window(), nullptr, TOOLBARCLASSNAMEW, L"QLToolBar");
    TBBUTTON button{};
    ASSERT_TRUE(::SendMessageW(groups, TB_GETBUTTON, 0, reinterpret_cast<LPARAM>(&button)));
    RECT whole{};
    ASSERT_TRUE(::SendMessageW(groups, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&whole)));
    // The part as the toolbar reports it; comctl32 before version 6 (and Wine's) reports none and gives
    // every arrow part 11 pixels at the button's right.
    RECT part{};
    if (!::SendMessageW(groups, TB_GETITEMDROPDOWNRECT, 0, reinterpret_cast<LPARAM>(&part))) {
        part = whole;
        part.left = part.right - TToolBar::kClassicArrowPartWidth;
    }
    const RECT inner{part.left + 1, part.top + 1, part.right - 1, part.bottom - 1};
    const int width = TForm::Scale(TToolBar::kArrowWidth) | 1;
    const COLORREF glyph = ::GetSysColor(COLOR_BTNTEXT);
    const struct {
        const char* Name;
        BYTE State;
        bool Hot;
    } states[] = {{"Plain", TBSTATE_ENABLED, false},
                  {"Hot", TBSTATE_ENABLED, true},
                  {"Pressed", TBSTATE_ENABLED | TBSTATE_PRESSED, false},
                  {"Checked", TBSTATE_ENABLED | TBSTATE_CHECKED, false},
                  {"CheckedHot", TBSTATE_ENABLED | TBSTATE_CHECKED, true}};
    for (const auto& state : states) {
        SCOPED_TRACE(state.Name);
        ::SendMessageW(groups, TB_SETSTATE, static_cast<WPARAM>(button.idCommand), MAKELPARAM(state.State, 0));
        ::SendMessageW(groups, TB_SETHOTITEM, state.Hot ? 0 : static_cast<WPARAM>(-1), 0);
        const TPicture drawn = Render(groups, false);
        const TPicture own = Render(groups, true);
        if (Scale.Dpi == 96) {
            EXPECT_TRUE(drawn.Pixels == own.Pixels) << "at 100 % the toolbar's own arrow stands";
            continue;
        }
        int outside = 0;
        for (int y = whole.top; y < whole.bottom; ++y)
            for (int x = whole.left; x < whole.right; ++x)
                if (drawn.At(x, y) != own.At(x, y) &&
                    !(x >= inner.left && x < inner.right && y >= inner.top && y < inner.bottom))
                    ++outside;
        EXPECT_EQ(0, outside) << "pixels changed outside the arrow part " << Describe(part);
        if (state.State != TBSTATE_ENABLED || state.Hot)
            continue; // a themed hot, pressed or checked part has a shaded background of its own
        // The glyph: what differs from the part's background (taken above the glyph) in the rows around
        // the part's middle (a themed part has edges of its own at its top and bottom).
        const int middle = (part.top + part.bottom) / 2, reach = width;
        const COLORREF background = drawn.At((inner.left + inner.right) / 2, middle - reach);
        RECT box{inner.right, inner.bottom, inner.left, inner.top};
        bool glyphColoured = true;
        for (int y = middle - reach; y <= middle + reach; ++y)
            for (int x = inner.left; x < inner.right; ++x)
                if (drawn.At(x, y) != background) {
                    box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x + 1),
                           std::max<LONG>(box.bottom, y + 1)};
                    glyphColoured = glyphColoured && drawn.At(x, y) == glyph;
                }
        ASSERT_LT(box.left, box.right) << "no arrow in the part " << Describe(part);
        EXPECT_TRUE(glyphColoured) << "only the glyph stands on the background";
        EXPECT_EQ(width, box.right - box.left) << Describe(box);
        EXPECT_EQ((width + 1) / 2, box.bottom - box.top) << Describe(box);
        const int shift = (state.State & TBSTATE_PRESSED) ? 1 : 0;
        EXPECT_LE(std::abs((box.left + box.right) - (part.left + part.right) - 2 * shift), 2) << Describe(box);
        EXPECT_LE(std::abs((box.top + box.bottom) - (part.top + part.bottom) - 2 * shift), 3) << Describe(box);
    }
    ::SendMessageW(groups, TB_SETSTATE, static_cast<WPARAM>(button.idCommand), MAKELPARAM(TBSTATE_ENABLED, 0));
}

INSTANTIATE_TEST_SUITE_P(Themes, ArrowScaleTest, ::testing::Bool(),
                         [](const auto& param) { return std::string(param.param ? "HighContrast" : "Standard"); });

// Under a high-contrast theme the labels take the system's colours whatever the application gives, the
// comments label says in words whether there are comments, and the rating menu asks for no colours.
TEST_F(ScaleTest, HighContrastLabelsUseTheSystemColoursAndSayWhatColoursWould) {
    THighContrast contrast(::GetModuleHandleW(nullptr));
    ASSERT_TRUE(contrast.Applied());
    Server->Archive().RatingColors[3] = {0x000000FF, 0x0000FFFF};
    Server->Archive().Documents[kArchived] = {2001, L"", 1, 3};
    OpenMain();
    const std::vector<HWND> labels = ToolbarLabels(Main->Window());
    ASSERT_EQ(3u, labels.size());
    const std::pair<COLORREF, COLORREF> system{::GetSysColor(COLOR_WINDOWTEXT), ::GetSysColor(COLOR_WINDOW)};
    for (HWND label : labels) {
        HDC dc = ::GetDC(label);
        ::SendMessageW(::GetParent(label), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(label));
        EXPECT_EQ(system, std::make_pair(::GetTextColor(dc), ::GetBkColor(dc))) << Utf8(WindowText(label));
        ::ReleaseDC(label, dc);
    }
    EXPECT_EQ(L"  Rating: 3  ", WindowText(labels[0]));
    EXPECT_EQ(L"  No comments  ", WindowText(labels[2]));
    Server->Archive().Documents[kArchived] = {2001, L"Worth keeping", 2, 3};
    Main->Site->Browser().FireNavigateComplete(kArchived);
    PumpMessages(30);
    EXPECT_EQ(L"  Comments  ", WindowText(labels[2]));

    Server->ClearCallLog();
    const TMenuProbe ratings = ProbeMenu([&] {
        ::SendMessageW(::GetParent(labels[0]), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(labels[0]), STN_CLICKED),
                       reinterpret_cast<LPARAM>(labels[0]));
    });
    EXPECT_EQ(5, ratings.Count);
    for (const std::wstring& call : Server->CallLog())
        EXPECT_FALSE(call.starts_with(L"42 ")) << Utf8(call);
}

} // namespace
