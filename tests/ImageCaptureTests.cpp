// Tests of the page screenshot: CaptureScreenShot through the page-utilities object against a test
// document (its URL, view and window) shown in a test browser and the reference Keptor server. The GIFs
// are checked here by their headers and colour tables; with ZORBEX_CAPTURE_OUT set every GIF is also
// written there with the picture it must show (a PPM drawn directly at the GIF's size), for
// tests/check_capture_gifs.sh to decode and compare with ImageMagick.
#include "page/ImageCaptureUnit.h"

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "KeptorServerUnit.h"
#include "library/IEHKepUtilsUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "support/BrowserHostUnit.h"
#include "support/SessionUnit.h"
#include "support/TestDocumentUnit.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using keptor::TKeptorScreenShot;
using keptor::TKeptorScreenShotSettings;

namespace {

// ---------------------------------------------------------------------------------------------------
// Pictures the test view draws: colour blocks over the whole bounds, so that a picture drawn directly
// at a smaller size looks like the larger one scaled down.

enum class TPicture { Rich, Vga, BlackWhite };

const COLORREF kVgaColors[16] = {RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
                                 RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
                                 RGB(128, 128, 128), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
                                 RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)};
const COLORREF kRichColors[12] = {RGB(231, 76, 60),   RGB(46, 204, 113),  RGB(52, 152, 219),
                                  RGB(241, 196, 15),  RGB(155, 89, 182),  RGB(26, 188, 156),
                                  RGB(236, 240, 241), RGB(52, 73, 94),    RGB(230, 126, 34),
                                  RGB(127, 140, 141), RGB(255, 255, 255), RGB(20, 20, 20)};

void FillBlock(HDC dc, LONG left, LONG top, LONG right, LONG bottom, COLORREF color) {
    TGdiObject brush(::CreateSolidBrush(color));
    const RECT rect{left, top, right, bottom};
    ::FillRect(dc, &rect, static_cast<HBRUSH>(brush.Get()));
}

// A 4-column grid of blocks (VGA: the 16 colours; black and white: a checkerboard; rich: 12 colours
// above a gradient band that takes the lowest quarter).
void Paint(HDC dc, const RECT& bounds, TPicture picture) {
    const LONG width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    const LONG gridHeight = picture == TPicture::Rich ? height * 3 / 4 : height;
    const int rows = picture == TPicture::Vga ? 4 : 3;
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < 4; ++col) {
            const COLORREF color = picture == TPicture::Vga    ? kVgaColors[row * 4 + col]
                                   : picture == TPicture::Rich ? kRichColors[row * 4 + col]
                                   : (row + col) % 2           ? RGB(255, 255, 255)
                                                               : RGB(0, 0, 0);
            FillBlock(dc, bounds.left + width * col / 4, bounds.top + gridHeight * row / rows,
                      bounds.left + width * (col + 1) / 4, bounds.top + gridHeight * (row + 1) / rows, color);
        }
    }
    if (picture == TPicture::Rich) {
        for (LONG x = 0; x < width; ++x) {
            const int t = width > 1 ? static_cast<int>(x * 255 / (width - 1)) : 0;
            FillBlock(dc, bounds.left + x, bounds.top + gridHeight, bounds.left + x + 1, bounds.bottom,
                      RGB(t, 128 - t / 2, 255 - t));
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// GIF checks

struct TGifHeader {
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::vector<TRgbColor> Table; // the global colour table
};

// The logical screen size and global colour table of a complete GIF file (empty for anything else).
TGifHeader ReadGifHeader(const std::vector<uint8_t>& gif) {
    TGifHeader header;
    if (gif.size() < 14 ||
        (std::string(gif.begin(), gif.begin() + 6) != "GIF89a" &&
         std::string(gif.begin(), gif.begin() + 6) != "GIF87a") ||
        gif.back() != 0x3B)
        return header;
    header.Width = gif[6] | gif[7] << 8;
    header.Height = gif[8] | gif[9] << 8;
    if (gif[10] & 0x80) {
        const size_t entries = size_t{2} << (gif[10] & 7);
        for (size_t i = 0; i < entries && 13 + i * 3 + 2 < gif.size(); ++i)
            header.Table.push_back({gif[13 + i * 3], gif[14 + i * 3], gif[15 + i * 3]});
    }
    return header;
}

// The directory for the external check, emptied once per run; empty when ZORBEX_CAPTURE_OUT is not set.
std::filesystem::path SampleDirectory() {
    static const std::filesystem::path directory = [] {
        const char* value = std::getenv("ZORBEX_CAPTURE_OUT");
        if (!value || !*value)
            return std::filesystem::path();
        std::string root = value;
        if (root.front() == '/')
            root = "Z:" + root; // a Unix path under Wine: drive Z: is the Unix root
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root);
        return std::filesystem::path(root);
    }();
    return directory;
}

// Writes the GIF and the picture it must show, drawn directly at the GIF's size, as
// <name>_<width>x<height>_f<format>_psnr<minimum PSNR, 0: not compared>.gif and .ppm.
void ExportSample(const std::string& name, const std::vector<uint8_t>& gif, TPicture picture, LONG format,
                  int minPsnr) {
    const std::filesystem::path directory = SampleDirectory();
    const TGifHeader header = ReadGifHeader(gif);
    if (directory.empty() || header.Width == 0)
        return;
    const std::string stem = name + "_" + std::to_string(header.Width) + "x" + std::to_string(header.Height) +
                             "_f" + std::to_string(format) + "_psnr" + std::to_string(minPsnr);
    std::ofstream(directory / (stem + ".gif"), std::ios::binary)
        .write(reinterpret_cast<const char*>(gif.data()), static_cast<std::streamsize>(gif.size()));
    TBitmap expected(static_cast<int>(header.Width), static_cast<int>(header.Height), TPixelFormat::pf32bit,
                     TBitmap::TRowOrder::TopDown);
    Paint(expected.Canvas(), {0, 0, static_cast<LONG>(header.Width), static_cast<LONG>(header.Height)},
          picture);
    std::ofstream ppm(directory / (stem + ".ppm"), std::ios::binary);
    ppm << "P6\n" << header.Width << " " << header.Height << "\n255\n";
    const auto pixels = expected.Memory();
    for (size_t i = 0; i < pixels.size(); i += 4)
        ppm << static_cast<char>(pixels[i + 2]) << static_cast<char>(pixels[i + 1])
            << static_cast<char>(pixels[i]);
}

std::vector<TRgbColor> Colors(std::initializer_list<COLORREF> colors) {
    std::vector<TRgbColor> result;
    for (COLORREF c : colors)
        result.push_back({GetRValue(c), GetGValue(c), GetBValue(c)});
    return result;
}

// ---------------------------------------------------------------------------------------------------
// Fixture: a browser showing a test document in a window of a chosen size, the reference server, and
// the page-utilities object that the capture is called through.

const std::wstring kUrl = L"http://example.test/dir/page.html#part";

class ImageCaptureTest : public test::TComTest {
protected:
    void SetUp() override {
        Server = keptor::TKeptorServer::Create();
        RequestImages({false, 100, 7, false, 100, 7});
        Picture = TPicture::Rich;
        Dom = std::make_shared<test::TTestDom>();
        Dom->Painter = [this](HDC dc, const RECT& bounds) {
            Paint(dc, bounds, Picture);
            return S_OK;
        };
        Document = test::LoadTestDocument(Dom, "<p>page</p>", kUrl);
        Browser = test::TTestBrowser::Create();
        Browser->SetDocument(Document.Get());
        ShowWindow(400, 240);
    }
    void TearDown() override {
        Browser.Reset();
        Document.Reset();
        Dom.reset();
        Server.Reset();
        Window.Reset();
        EXPECT_EQ(0, test::LiveTestDomObjects());
        TComTest::TearDown();
    }

    void ShowWindow(LONG width, LONG height) {
        Window.Reset(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                                       ::GetModuleHandleW(nullptr), nullptr));
        ASSERT_TRUE(Window);
        RECT rect{};
        ::GetWindowRect(Window.Get(), &rect);
        ASSERT_EQ(width, rect.right - rect.left);
        ASSERT_EQ(height, rect.bottom - rect.top);
        Dom->Window = Window.Get();
    }

    HRESULT Capture(VARIANT_BOOL rewrite = VARIANT_FALSE) {
        return CaptureWith(static_cast<IWebBrowser2*>(Browser.Get()), rewrite, ServerObject());
    }
    HRESULT CaptureWith(IUnknown* browser, VARIANT_BOOL rewrite, IUnknown* server) {
        ComPtr<IIEHKepUtils> utils = test::TakeCreated<IIEHKepUtils>(TIEHKepUtils::CreateObject());
        return utils->CaptureScreenShot(browser, rewrite, server);
    }

    IUnknown* ServerObject() const { return static_cast<IGUIServer*>(Server.Get()); }
    void RequestImages(const TKeptorScreenShotSettings& settings) { Server->Archive().ScreenShot = settings; }

    // The IGUIServer slots the server was called on, in order.
    std::vector<int> Slots() const {
        std::vector<int> slots;
        for (const std::wstring& entry : Server->CallLog())
            slots.push_back(std::wcstol(entry.c_str(), nullptr, 10));
        return slots;
    }
    static std::wstring SettingsCall(VARIANT_BOOL rewrite) {
        return L"48 GetScreenShotSettings(\"" + kUrl + L"\", " + (rewrite ? L"true" : L"false") + L")";
    }

    // What the server received for image 1 (StoreScreenShot) or 2 (StoreSecondScreenShot).
    const TKeptorScreenShot& Stored(long which) const {
        static const TKeptorScreenShot kNone;
        for (const TKeptorScreenShot& shot : Server->ScreenShots())
            if (shot.Which == which)
                return shot;
        ADD_FAILURE() << "image " << which << " was not stored";
        return kNone;
    }
    // The GIF stored as an image, checked to be a complete GIF file of the given size in a byte array
    // with bounds 0..size-1, stored for the document's URL.
    std::vector<uint8_t> StoredGif(long which, uint32_t width, uint32_t height) const {
        const TKeptorScreenShot& shot = Stored(which);
        EXPECT_EQ(kUrl, shot.Url) << "image " << which;
        EXPECT_EQ(VT_ARRAY | VT_UI1, shot.Type) << "image " << which;
        EXPECT_EQ(1u, shot.Dimensions) << "image " << which;
        EXPECT_EQ(0, shot.LowerBound) << "image " << which;
        const TGifHeader header = ReadGifHeader(shot.Data);
        EXPECT_EQ(width, header.Width) << "image " << which;
        EXPECT_EQ(height, header.Height) << "image " << which;
        return shot.Data;
    }

    ComPtr<keptor::TKeptorServer> Server;
    std::shared_ptr<test::TTestDom> Dom;
    ComPtr<IHTMLDocument2> Document;
    ComPtr<test::TTestBrowser> Browser;
    TWindowHandle Window;
    TPicture Picture = TPicture::Rich;
};

constexpr VARIANT_BOOL kTrue = VARIANT_TRUE;
constexpr VARIANT_BOOL kFalse = VARIANT_FALSE;

TEST_F(ImageCaptureTest, NeitherImageRequestedRendersAndStoresNothing) {
    for (VARIANT_BOOL rewrite : {kTrue, kFalse}) {
        SetUp();
        ASSERT_EQ(S_OK, Capture(rewrite));
        ASSERT_EQ(std::vector<int>{48}, Slots());
        EXPECT_EQ(SettingsCall(rewrite), Server->CallLog()[0])
            << "the URL as the document gives it, fragment and all, and the flag";
        EXPECT_TRUE(Dom->DrawCalls.empty());
    }
}

TEST_F(ImageCaptureTest, BothImagesAreRenderedSeparatelyAndStoredInOrder) {
    RequestImages({true, 100, 7, true, 25, 6});
    ASSERT_EQ(S_OK, Capture());

    ASSERT_EQ(2u, Dom->DrawCalls.size());
    for (const test::TDrawCall& draw : Dom->DrawCalls) {
        EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), draw.Aspect);
        EXPECT_EQ(1, draw.Index);
        EXPECT_FALSE(draw.HasAspectData || draw.HasTargetDevice || draw.TargetDC || draw.HasWindowBounds ||
                     draw.HasContinue);
        EXPECT_NE(nullptr, draw.DrawDC);
        EXPECT_EQ(0, draw.Bounds.left);
        EXPECT_EQ(0, draw.Bounds.top);
        EXPECT_EQ(400, draw.Bounds.right);
        EXPECT_EQ(240, draw.Bounds.bottom);
    }
    ASSERT_EQ((std::vector<int>{48, 49, 50}), Slots());
    ExportSample("both_first", StoredGif(1, 400, 240), TPicture::Rich, 7, 35);
    ExportSample("both_second", StoredGif(2, 100, 60), TPicture::Rich, 6, 20);
}

// The encoder keeps its working memory (4 MiB of colour histogram among it) from one screenshot to the next
// while an object of the library lives, and gives it all back when the last one goes.
TEST_F(ImageCaptureTest, WorkingMemoryIsKeptWhileAnObjectLivesAndGivenBackWithTheLast) {
    Dom->Painter = nullptr; // the default pattern: far more than 256 colours, so the histogram is used
    ShowWindow(320, 200);
    RequestImages({true, 100, 7, false, 100, 7});
    ComPtr<IIEHKepUtils> held = test::TakeCreated<IIEHKepUtils>(TIEHKepUtils::CreateObject());
    const SIZE_T before = test::SessionFigures().PrivateCommitted;
    ASSERT_EQ(S_OK, Capture()); // through an object of its own; `held` keeps one alive
    const SIZE_T kept = test::SessionFigures().PrivateCommitted;
    held.Reset();
    const SIZE_T after = test::SessionFigures().PrivateCommitted;
    std::printf("private committed: %zu before, %zu after the screenshot, %zu once the last object went\n",
                static_cast<size_t>(before), static_cast<size_t>(kept), static_cast<size_t>(after));
    constexpr SIZE_T kHistogram = 4 * 1024 * 1024;
    EXPECT_GE(kept, before + kHistogram);
    EXPECT_LE(after + kHistogram, kept);
}

// The new size is side ÷ 100 × percent in double precision, then the nearest integer, halves to even.
TEST_F(ImageCaptureTest, ScaledSizeRoundsHalvesToEven) {
    struct TRow {
        LONG Width, Height, Percent;
        uint32_t ScaledWidth, ScaledHeight;
    };
    const TRow rows[] = {
        {1000, 600, 50, 500, 300}, // the common case
        {250, 350, 1, 2, 4},       // 2.5 down to 2, 3.5 up to 4
        {109, 115, 50, 55, 57},    // 1.09 × 50 = 54.500…01 and 1.15 × 50 = 57.499…99: division first
        {7, 14, 150, 11, 21},      // 10.500…02 and 21.000…04
        {333, 77, 100, 333, 77},   // unchanged at 100
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(std::to_string(row.Width) + "x" + std::to_string(row.Height) + " at " +
                     std::to_string(row.Percent) + "%");
        SetUp();
        ShowWindow(row.Width, row.Height);
        RequestImages({true, row.Percent, 7, false, 100, 7});
        ASSERT_EQ(S_OK, Capture());
        ASSERT_EQ((std::vector<int>{48, 49}), Slots());
        const auto gif = StoredGif(1, row.ScaledWidth, row.ScaledHeight);
        ExportSample("size", gif, TPicture::Rich, 7, row.ScaledWidth >= 100 ? 20 : 0);
    }
}

TEST_F(ImageCaptureTest, EndsSilentlyWhenThereIsNothingToCapture) {
    struct TRow {
        const char* Name;
        std::function<void()> Setup;
        std::vector<int> Slots;
        bool NoServer;
        bool NoBrowser;
    };
    const TRow rows[] = {
        {"no server", [] {}, {}, true, false},
        {"no browser", [] {}, {}, false, true},
        {"no document", [&] { Browser->SetDocument(nullptr); }, {}, false, false},
        {"a document that is not HTML",
         [&] {
             Dom->RefusedInterfaces = {IID_IHTMLDocument, IID_IHTMLDocument2};
         },
         {},
         false,
         false},
        {"no view object", [&] { Dom->RefusedInterfaces = {IID_IViewObject}; }, {48}, false, false},
        {"no window object", [&] { Dom->RefusedInterfaces = {IID_IOleWindow}; }, {48}, false, false},
        {"no window", [&] { Dom->Window = nullptr; }, {48}, false, false},
        {"the settings call fails", [&] { Server->FailAlways(48, E_FAIL); }, {48}, false, false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        SetUp();
        RequestImages({true, 100, 7, true, 50, 7});
        row.Setup();
        IUnknown* browser = row.NoBrowser ? nullptr : static_cast<IWebBrowser2*>(Browser.Get());
        IUnknown* server = row.NoServer ? nullptr : ServerObject();
        EXPECT_EQ(S_OK, CaptureWith(browser, kFalse, server));
        EXPECT_EQ(row.Slots, Slots());
        EXPECT_TRUE(Dom->DrawCalls.empty());
    }
}

// The browser helper object calls late-bound: DISPID 201 with the browser, the flag and the server.
TEST_F(ImageCaptureTest, LateBoundCallReachesTheCapture) {
    ComPtr<IDispatch> utils = test::TakeCreated<IDispatch>(TIEHKepUtils::CreateObject());
    ASSERT_TRUE(utils);
    RequestImages({true, 50, 7, false, 100, 7});
    for (IUnknown* server : {ServerObject(), static_cast<IUnknown*>(nullptr)}) {
        VARIANT args[3]; // last parameter first
        V_VT(&args[0]) = VT_UNKNOWN;
        V_UNKNOWN(&args[0]) = server;
        V_VT(&args[1]) = VT_BOOL;
        V_BOOL(&args[1]) = kTrue;
        V_VT(&args[2]) = VT_UNKNOWN;
        V_UNKNOWN(&args[2]) = static_cast<IWebBrowser2*>(Browser.Get());
        DISPPARAMS params{args, nullptr, 3, 0};
        EXPECT_EQ(S_OK, utils->Invoke(201, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                      nullptr, nullptr));
    }
    ASSERT_EQ((std::vector<int>{48, 49}), Slots()) << "the second call has no server: nothing";
    EXPECT_EQ(SettingsCall(kTrue), Server->CallLog()[0]);
    ExportSample("late_bound", StoredGif(1, 200, 120), TPicture::Rich, 7, 35);
}

// Errors of the call: the object returns the error's own code (E_UNEXPECTED for an error that has none)
// and describes it in the thread's error object.
TEST_F(ImageCaptureTest, UnreadableUrlRefusedCastAndFailedStoreAreErrors) {
    constexpr HRESULT kStoreFailure = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0213);
    struct TRow {
        const char* Name;
        std::function<void()> Setup;
        HRESULT Result;
        std::vector<int> Slots;
        bool ServerIsDocument;
    };
    const TRow rows[] = {
        {"the URL cannot be read",
         [&] {
             Dom->Failures = {{L"URL", E_ACCESSDENIED}};
         },
         E_ACCESSDENIED,
         {},
         false},
        {"the server object is no IGUIServer", [] {}, E_UNEXPECTED, {}, true},
        {"the first store fails",
         [&] { Server->FailAlways(49, kStoreFailure); },
         kStoreFailure,
         {48, 49},
         false},
        {"the second store fails",
         [&] { Server->FailAlways(50, kStoreFailure); },
         kStoreFailure,
         {48, 49, 50},
         false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        SetUp();
        RequestImages({true, 100, 7, true, 50, 7});
        row.Setup();
        ::SetErrorInfo(0, nullptr);
        IUnknown* server = row.ServerIsDocument ? static_cast<IUnknown*>(Document.Get()) : ServerObject();
        EXPECT_EQ(row.Result, CaptureWith(static_cast<IWebBrowser2*>(Browser.Get()), kFalse, server));
        EXPECT_EQ(row.Slots, Slots());
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(S_OK, ::GetErrorInfo(0, &info));
        TBStr description, source;
        info->GetDescription(description.Receive());
        info->GetSource(source.Receive());
        EXPECT_FALSE(description.Str().empty());
        EXPECT_NE(std::wstring::npos, source.Str().find(L"IEHKepUtils")) << source.Str();
    }
}

// An image that cannot be made is stored as the integer 0, and the second image is still made. The
// request is refused before the view is drawn: only the second image draws.
TEST_F(ImageCaptureTest, UnusableScaleFormatOrSizeStoresTheIntegerZero) {
    struct TRow {
        const char* Name;
        LONG Width, Height, Scale, Format;
    };
    const TRow rows[] = {
        {"scale 0", 400, 240, 0, 7},
        {"negative scale", 400, 240, -25, 7},
        {"custom format", 400, 240, 100, 8},
        {"format 9", 400, 240, 100, 9},
        {"format -1", 400, 240, 100, -1},
        {"scale past the side limit", 400, 240, 2100, 7},
        {"scale past the pixel limit", 800, 600, 1000, 7},
        {"a stretch past the stretch limit", 1000, 600, 800, 7},
        {"a stretch just past the stretch limit", 2049, 2048, 200, 7},
        {"the largest scale", 400, 240, LONG_MAX, 7},
        {"scaled to nothing", 40, 40, 1, 7},
        {"a window without width", 0, 240, 100, 7},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        SetUp();
        ShowWindow(row.Width, row.Height);
        RequestImages({true, row.Scale, row.Format, true, 50, 7});
        ASSERT_EQ(S_OK, Capture());
        ASSERT_EQ((std::vector<int>{48, 49, 50}), Slots());
        EXPECT_EQ(VT_I4, Stored(1).Type);
        EXPECT_EQ(0, Stored(1).Number);
        if (row.Width > 0)
            StoredGif(2, static_cast<uint32_t>(row.Width / 2), static_cast<uint32_t>(row.Height / 2));
        EXPECT_EQ(row.Width > 0 ? 1u : 0u, Dom->DrawCalls.size()) << "a refused request draws nothing";
    }
}

// Formats 1 to 3 are written with their own palette; the others are reduced by the encoder. Only the
// low byte of the code counts, and code 0 is the screen's format.
TEST_F(ImageCaptureTest, PixelFormatsByCode) {
    struct TRow {
        LONG Format;
        TPicture Picture;
        std::vector<TRgbColor> Table; // the GIF's colour table, when the format fixes it
        int MinPsnr;
    };
    const std::vector<TRgbColor> vga =
        Colors({kVgaColors[0], kVgaColors[1], kVgaColors[2], kVgaColors[3], kVgaColors[4], kVgaColors[5],
                kVgaColors[6], kVgaColors[7], kVgaColors[8], kVgaColors[9], kVgaColors[10], kVgaColors[11],
                kVgaColors[12], kVgaColors[13], kVgaColors[14], kVgaColors[15]});
    // The PSNR floors are a few dB under what the formats give: a picture made of the format's own
    // colours comes back exactly; other pictures lose what the palette or the channel bits cannot hold.
    const TRow rows[] = {
        {1, TPicture::BlackWhite, Colors({RGB(0, 0, 0), RGB(255, 255, 255)}), 40},
        {1, TPicture::Rich, Colors({RGB(0, 0, 0), RGB(255, 255, 255)}), 5},
        {2, TPicture::Vga, vga, 40},
        {2, TPicture::Rich, vga, 12},
        {3, TPicture::Vga, HalftonePalette(), 40},
        {3, TPicture::Rich, HalftonePalette(), 20},
        {4, TPicture::Rich, {}, 33},
        {5, TPicture::Rich, {}, 34},
        {6, TPicture::Rich, {}, 45},
        {7, TPicture::Rich, {}, 45},
        {0x100 | 2, TPicture::Vga, vga, 40},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE("format " + std::to_string(row.Format));
        SetUp();
        Picture = row.Picture;
        RequestImages({true, 100, row.Format, true, 50, row.Format});
        ASSERT_EQ(S_OK, Capture());
        ASSERT_EQ((std::vector<int>{48, 49, 50}), Slots());
        const auto full = StoredGif(1, 400, 240);
        const auto half = StoredGif(2, 200, 120);
        for (const auto* gif : {&full, &half}) {
            const TGifHeader header = ReadGifHeader(*gif);
            if (!row.Table.empty())
                EXPECT_EQ(row.Table, header.Table);
            else
                EXPECT_LE(header.Table.size(), 256u);
        }
        ExportSample("format_full", full, row.Picture, row.Format, row.MinPsnr);
        ExportSample("format_half", half, row.Picture, row.Format, std::max(row.MinPsnr - 10, 0));
    }

    // Code 0 gives exactly what the screen's own format code gives.
    std::vector<std::vector<uint8_t>> gifs;
    for (LONG format : {0L, static_cast<LONG>(DevicePixelFormat())}) {
        SetUp();
        RequestImages({true, 50, format, false, 100, 7});
        ASSERT_EQ(S_OK, Capture());
        ASSERT_EQ((std::vector<int>{48, 49}), Slots());
        gifs.push_back(StoredGif(1, 200, 120));
    }
    EXPECT_EQ(gifs[0], gifs[1]);
    ExportSample("format_device", gifs[0], TPicture::Rich, 0, 30);
    std::cout << "screen format code: " << static_cast<int>(DevicePixelFormat()) << "\n";
}

} // namespace
