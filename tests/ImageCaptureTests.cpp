// Tests of the page screenshot: CaptureScreenShot through the page-utilities object against a stub
// document (IHTMLDocument2 URL, IViewObject, IOleWindow) shown in a test browser and a fake Keptor
// server. The GIFs are checked here by their headers and colour tables; with ZORBEX_CAPTURE_OUT set
// every GIF is also written there with the picture it must show (a PPM drawn directly at the GIF's
// size), for tests/check_capture_gifs.sh to decode and compare with ImageMagick.
#include "page/ImageCaptureUnit.h"

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "server/IEHKepUtilsUnit.h"
#include "server/ZorbexGUI_TLB.h"
#include "support/BrowserHostUnit.h"
#include "support/TestSupport.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;

namespace {

#define NOT_IMPLEMENTED(name, ...)                                                                           \
    STDMETHODIMP name(__VA_ARGS__) override {                                                                \
        return E_NOTIMPL;                                                                                    \
    }

// ---------------------------------------------------------------------------------------------------
// Pictures the stub view draws: colour blocks over the whole bounds, so that a picture drawn directly
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
// Stub document: the URL, the view that draws a picture, the window it is shown in.

struct TDrawRecord {
    DWORD Aspect;
    LONG Index;
    bool Extras; // aspect data, target device, target DC, window bounds or continue callback given
    HDC DrawDC;
    RECTL Bounds;
};

class TStubDocument : public IHTMLDocument2, public IViewObject, public IOleWindow {
public:
    static ComPtr<TStubDocument> Create() { return ComPtr<TStubDocument>(new TStubDocument); }

    std::wstring Url = L"http://example.test/dir/page.html#part";
    HRESULT UrlResult = S_OK;
    bool Html = true;       // false: a document that is not HTML (refuses IHTMLDocument2)
    bool ViewObject = true; // false: refuses IViewObject
    HWND Window = nullptr;  // nullptr: GetWindow fails
    TPicture Picture = TPicture::Rich;
    std::vector<TDrawRecord> Draws;

    IDispatch* Dispatch() { return static_cast<IHTMLDocument2*>(this); }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch)
            *object = Dispatch();
        else if (Html && (iid == IID_IHTMLDocument || iid == IID_IHTMLDocument2))
            *object = static_cast<IHTMLDocument2*>(this);
        else if (ViewObject && iid == IID_IViewObject)
            *object = static_cast<IViewObject*>(this);
        else if (iid == IID_IOleWindow)
            *object = static_cast<IOleWindow*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++RefCount; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --RefCount;
        if (count == 0)
            delete this;
        return count;
    }

    // IHTMLDocument2: the URL only.
    STDMETHODIMP get_URL(BSTR* url) override {
        *url = nullptr;
        if (FAILED(UrlResult))
            return UrlResult;
        *url = ::SysAllocString(Url.c_str());
        return S_OK;
    }

    // IViewObject
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectData, DVTARGETDEVICE* device, HDC targetDC,
                      HDC dc, LPCRECTL bounds, LPCRECTL windowBounds,
                      BOOL(STDMETHODCALLTYPE* proceed)(ULONG_PTR), ULONG_PTR) override {
        Draws.push_back({aspect, index, aspectData || device || targetDC || windowBounds || proceed, dc,
                         bounds ? *bounds : RECTL{}});
        if (!bounds)
            return E_INVALIDARG;
        Paint(dc, {bounds->left, bounds->top, bounds->right, bounds->bottom}, Picture);
        return S_OK;
    }
    NOT_IMPLEMENTED(GetColorSet, DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**)
    NOT_IMPLEMENTED(Freeze, DWORD, LONG, void*, DWORD*)
    NOT_IMPLEMENTED(Unfreeze, DWORD)
    NOT_IMPLEMENTED(SetAdvise, DWORD, DWORD, IAdviseSink*)
    NOT_IMPLEMENTED(GetAdvise, DWORD*, DWORD*, IAdviseSink**)

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* window) override {
        *window = Window;
        return Window ? S_OK : E_FAIL;
    }
    NOT_IMPLEMENTED(ContextSensitiveHelp, BOOL)

    // Everything else.
    NOT_IMPLEMENTED(GetTypeInfoCount, UINT*)
    NOT_IMPLEMENTED(GetTypeInfo, UINT, LCID, ITypeInfo**)
    NOT_IMPLEMENTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
    NOT_IMPLEMENTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
    NOT_IMPLEMENTED(get_Script, IDispatch**)
    NOT_IMPLEMENTED(get_all, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_body, IHTMLElement**)
    NOT_IMPLEMENTED(get_activeElement, IHTMLElement**)
    NOT_IMPLEMENTED(get_images, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_applets, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_links, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_forms, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_anchors, IHTMLElementCollection**)
    NOT_IMPLEMENTED(put_title, BSTR)
    NOT_IMPLEMENTED(get_title, BSTR*)
    NOT_IMPLEMENTED(get_scripts, IHTMLElementCollection**)
    NOT_IMPLEMENTED(put_designMode, BSTR)
    NOT_IMPLEMENTED(get_designMode, BSTR*)
    NOT_IMPLEMENTED(get_selection, IHTMLSelectionObject**)
    NOT_IMPLEMENTED(get_readyState, BSTR*)
    NOT_IMPLEMENTED(get_frames, IHTMLFramesCollection2**)
    NOT_IMPLEMENTED(get_embeds, IHTMLElementCollection**)
    NOT_IMPLEMENTED(get_plugins, IHTMLElementCollection**)
    NOT_IMPLEMENTED(put_alinkColor, VARIANT)
    NOT_IMPLEMENTED(get_alinkColor, VARIANT*)
    NOT_IMPLEMENTED(put_bgColor, VARIANT)
    NOT_IMPLEMENTED(get_bgColor, VARIANT*)
    NOT_IMPLEMENTED(put_fgColor, VARIANT)
    NOT_IMPLEMENTED(get_fgColor, VARIANT*)
    NOT_IMPLEMENTED(put_linkColor, VARIANT)
    NOT_IMPLEMENTED(get_linkColor, VARIANT*)
    NOT_IMPLEMENTED(put_vlinkColor, VARIANT)
    NOT_IMPLEMENTED(get_vlinkColor, VARIANT*)
    NOT_IMPLEMENTED(get_referrer, BSTR*)
    NOT_IMPLEMENTED(get_location, IHTMLLocation**)
    NOT_IMPLEMENTED(get_lastModified, BSTR*)
    NOT_IMPLEMENTED(put_URL, BSTR)
    NOT_IMPLEMENTED(put_domain, BSTR)
    NOT_IMPLEMENTED(get_domain, BSTR*)
    NOT_IMPLEMENTED(put_cookie, BSTR)
    NOT_IMPLEMENTED(get_cookie, BSTR*)
    NOT_IMPLEMENTED(put_expando, VARIANT_BOOL)
    NOT_IMPLEMENTED(get_expando, VARIANT_BOOL*)
    NOT_IMPLEMENTED(put_charset, BSTR)
    NOT_IMPLEMENTED(get_charset, BSTR*)
    NOT_IMPLEMENTED(put_defaultCharset, BSTR)
    NOT_IMPLEMENTED(get_defaultCharset, BSTR*)
    NOT_IMPLEMENTED(get_mimeType, BSTR*)
    NOT_IMPLEMENTED(get_fileSize, BSTR*)
    NOT_IMPLEMENTED(get_fileCreatedDate, BSTR*)
    NOT_IMPLEMENTED(get_fileModifiedDate, BSTR*)
    NOT_IMPLEMENTED(get_fileUpdatedDate, BSTR*)
    NOT_IMPLEMENTED(get_security, BSTR*)
    NOT_IMPLEMENTED(get_protocol, BSTR*)
    NOT_IMPLEMENTED(get_nameProp, BSTR*)
    NOT_IMPLEMENTED(write, SAFEARRAY*)
    NOT_IMPLEMENTED(writeln, SAFEARRAY*)
    NOT_IMPLEMENTED(open, BSTR, VARIANT, VARIANT, VARIANT, IDispatch**)
    NOT_IMPLEMENTED(close)
    NOT_IMPLEMENTED(clear)
    NOT_IMPLEMENTED(queryCommandSupported, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandEnabled, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandState, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandIndeterm, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(queryCommandText, BSTR, BSTR*)
    NOT_IMPLEMENTED(queryCommandValue, BSTR, VARIANT*)
    NOT_IMPLEMENTED(execCommand, BSTR, VARIANT_BOOL, VARIANT, VARIANT_BOOL*)
    NOT_IMPLEMENTED(execCommandShowHelp, BSTR, VARIANT_BOOL*)
    NOT_IMPLEMENTED(createElement, BSTR, IHTMLElement**)
    NOT_IMPLEMENTED(put_onhelp, VARIANT)
    NOT_IMPLEMENTED(get_onhelp, VARIANT*)
    NOT_IMPLEMENTED(put_onclick, VARIANT)
    NOT_IMPLEMENTED(get_onclick, VARIANT*)
    NOT_IMPLEMENTED(put_ondblclick, VARIANT)
    NOT_IMPLEMENTED(get_ondblclick, VARIANT*)
    NOT_IMPLEMENTED(put_onkeyup, VARIANT)
    NOT_IMPLEMENTED(get_onkeyup, VARIANT*)
    NOT_IMPLEMENTED(put_onkeydown, VARIANT)
    NOT_IMPLEMENTED(get_onkeydown, VARIANT*)
    NOT_IMPLEMENTED(put_onkeypress, VARIANT)
    NOT_IMPLEMENTED(get_onkeypress, VARIANT*)
    NOT_IMPLEMENTED(put_onmouseup, VARIANT)
    NOT_IMPLEMENTED(get_onmouseup, VARIANT*)
    NOT_IMPLEMENTED(put_onmousedown, VARIANT)
    NOT_IMPLEMENTED(get_onmousedown, VARIANT*)
    NOT_IMPLEMENTED(put_onmousemove, VARIANT)
    NOT_IMPLEMENTED(get_onmousemove, VARIANT*)
    NOT_IMPLEMENTED(put_onmouseout, VARIANT)
    NOT_IMPLEMENTED(get_onmouseout, VARIANT*)
    NOT_IMPLEMENTED(put_onmouseover, VARIANT)
    NOT_IMPLEMENTED(get_onmouseover, VARIANT*)
    NOT_IMPLEMENTED(put_onreadystatechange, VARIANT)
    NOT_IMPLEMENTED(get_onreadystatechange, VARIANT*)
    NOT_IMPLEMENTED(put_onafterupdate, VARIANT)
    NOT_IMPLEMENTED(get_onafterupdate, VARIANT*)
    NOT_IMPLEMENTED(put_onrowexit, VARIANT)
    NOT_IMPLEMENTED(get_onrowexit, VARIANT*)
    NOT_IMPLEMENTED(put_onrowenter, VARIANT)
    NOT_IMPLEMENTED(get_onrowenter, VARIANT*)
    NOT_IMPLEMENTED(put_ondragstart, VARIANT)
    NOT_IMPLEMENTED(get_ondragstart, VARIANT*)
    NOT_IMPLEMENTED(put_onselectstart, VARIANT)
    NOT_IMPLEMENTED(get_onselectstart, VARIANT*)
    NOT_IMPLEMENTED(elementFromPoint, LONG, LONG, IHTMLElement**)
    NOT_IMPLEMENTED(get_parentWindow, IHTMLWindow2**)
    NOT_IMPLEMENTED(get_styleSheets, IHTMLStyleSheetsCollection**)
    NOT_IMPLEMENTED(put_onbeforeupdate, VARIANT)
    NOT_IMPLEMENTED(get_onbeforeupdate, VARIANT*)
    NOT_IMPLEMENTED(put_onerrorupdate, VARIANT)
    NOT_IMPLEMENTED(get_onerrorupdate, VARIANT*)
    NOT_IMPLEMENTED(toString, BSTR*)
    NOT_IMPLEMENTED(createStyleSheet, BSTR, LONG, IHTMLStyleSheet**)
private:
    TStubDocument() = default;
    virtual ~TStubDocument() = default;
    ULONG RefCount = 0;
};

// ---------------------------------------------------------------------------------------------------
// Fake Keptor server: answers GetScreenShotSettings and records the calls of slots 48 to 50.

struct TScreenShotAnswer {
    VARIANT_BOOL TakeFirst = VARIANT_FALSE;
    LONG FirstScale = 100;
    LONG FirstFormat = 7;
    VARIANT_BOOL TakeSecond = VARIANT_FALSE;
    LONG SecondScale = 100;
    LONG SecondFormat = 7;
};

struct TServerCall {
    int Slot = 0;
    std::wstring Url;
    VARIANT_BOOL Rewrite = VARIANT_FALSE; // slot 48
    VARTYPE DataType = VT_EMPTY;          // slots 49, 50
    LONG Integer = -1;                    // the data when it is VT_I4
    std::vector<uint8_t> Gif;             // the data when it is a byte array with bounds 0..size-1
};

class TFakeServer : public IGUIServer {
public:
    static ComPtr<TFakeServer> Create() { return ComPtr<TFakeServer>(new TFakeServer); }

    TScreenShotAnswer Answer;
    HRESULT SettingsResult = S_OK;
    HRESULT StoreResult = S_OK;       // slot 49
    HRESULT StoreSecondResult = S_OK; // slot 50
    std::vector<TServerCall> Calls;

    std::vector<int> Slots() const {
        std::vector<int> slots;
        for (const auto& call : Calls)
            slots.push_back(call.Slot);
        return slots;
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IGUIServer)
            return E_NOINTERFACE;
        *object = static_cast<IGUIServer*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++RefCount; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --RefCount;
        if (count == 0)
            delete this;
        return count;
    }

    // Slots 48 to 50.
    STDMETHODIMP GetScreenShotSettings(BSTR url, VARIANT_BOOL rewrite, VARIANT_BOOL* takeFirst,
                                       LONG* firstScale, LONG* firstFormat, VARIANT_BOOL* takeSecond,
                                       LONG* secondScale, LONG* secondFormat) override {
        TServerCall call;
        call.Slot = 48;
        call.Url = url ? url : L"";
        call.Rewrite = rewrite;
        Calls.push_back(std::move(call));
        if (FAILED(SettingsResult))
            return SettingsResult;
        *takeFirst = Answer.TakeFirst;
        *firstScale = Answer.FirstScale;
        *firstFormat = Answer.FirstFormat;
        *takeSecond = Answer.TakeSecond;
        *secondScale = Answer.SecondScale;
        *secondFormat = Answer.SecondFormat;
        return S_OK;
    }
    STDMETHODIMP StoreScreenShot(BSTR url, VARIANT data) override {
        return Store(49, url, data, StoreResult);
    }
    STDMETHODIMP StoreSecondScreenShot(BSTR url, VARIANT data) override {
        return Store(50, url, data, StoreSecondResult);
    }

    // Everything else.
    NOT_IMPLEMENTED(GetTypeInfoCount, UINT*)
    NOT_IMPLEMENTED(GetTypeInfo, UINT, LCID, ITypeInfo**)
    NOT_IMPLEMENTED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
    NOT_IMPLEMENTED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
    NOT_IMPLEMENTED(Reserved07)
    NOT_IMPLEMENTED(AddDocumentToRubric, BSTR, BSTR, BSTR, BSTR, BSTR*, VARIANT_BOOL)
    NOT_IMPLEMENTED(AddLinkList, VARIANT, VARIANT, BSTR, BSTR)
    NOT_IMPLEMENTED(OpenLinkList, VARIANT, VARIANT, BSTR, VARIANT_BOOL)
    NOT_IMPLEMENTED(GetInternalBrowser, IDispatch**, VARIANT_BOOL)
    NOT_IMPLEMENTED(Reserved12)
    NOT_IMPLEMENTED(Reserved13)
    NOT_IMPLEMENTED(GetLinkImage, BSTR, LONG, VARIANT_BOOL*, VARIANT*, VARIANT_BOOL)
    NOT_IMPLEMENTED(GetHintSettings, LONG*, LONG*, LONG*)
    NOT_IMPLEMENTED(GetHighlightSettings, LONG, VARIANT_BOOL*, VARIANT_BOOL*, VARIANT_BOOL*, LONG*,
                    VARIANT_BOOL*, LONG*, VARIANT_BOOL*, LONG*)
    NOT_IMPLEMENTED(GetLinkStates, VARIANT, VARIANT*)
    NOT_IMPLEMENTED(SetHighlightEnabled, VARIANT_BOOL)
    NOT_IMPLEMENTED(SetPopupKillerEnabled, VARIANT_BOOL)
    NOT_IMPLEMENTED(ShowPopupKillerSettings, BSTR)
    NOT_IMPLEMENTED(ShowLinkSearch)
    NOT_IMPLEMENTED(ShowDocumentProperties, BSTR)
    NOT_IMPLEMENTED(Reserved23)
    NOT_IMPLEMENTED(ShowSettings)
    NOT_IMPLEMENTED(Reserved25)
    NOT_IMPLEMENTED(Reserved26)
    NOT_IMPLEMENTED(Reserved27)
    NOT_IMPLEMENTED(Reserved28)
    NOT_IMPLEMENTED(Reserved29)
    NOT_IMPLEMENTED(Reserved30)
    NOT_IMPLEMENTED(Reserved31)
    NOT_IMPLEMENTED(GetLinkUrl, LONG, BSTR*)
    NOT_IMPLEMENTED(GetDomainLinks, BSTR, VARIANT*)
    NOT_IMPLEMENTED(ShowComments, LONG)
    NOT_IMPLEMENTED(AddBannerList, VARIANT)
    NOT_IMPLEMENTED(SetBannerKillerEnabled, VARIANT_BOOL)
    NOT_IMPLEMENTED(GetCurrentRubricName, BSTR*)
    NOT_IMPLEMENTED(Reserved38)
    NOT_IMPLEMENTED(SetLinkHintEnabled, VARIANT_BOOL)
    NOT_IMPLEMENTED(GetDomainLinkCount, BSTR, LONG*)
    NOT_IMPLEMENTED(GetRatingCount, LONG*)
    NOT_IMPLEMENTED(GetRatingColors, LONG, LONG*, LONG*)
    NOT_IMPLEMENTED(SetDocumentRating, LONG, LONG)
    NOT_IMPLEMENTED(Reserved44)
    NOT_IMPLEMENTED(GetDocumentId, BSTR, LONG*)
    NOT_IMPLEMENTED(GetCommentColors, LONG*, LONG*, LONG*, LONG*)
    NOT_IMPLEMENTED(GetDocumentInfo, BSTR, LONG*, BSTR*, LONG*, LONG*)
    NOT_IMPLEMENTED(Reserved51)
    NOT_IMPLEMENTED(SetToolbarEnabled, VARIANT_BOOL)
    NOT_IMPLEMENTED(GetQuickGroupCount, LONG*)
    NOT_IMPLEMENTED(GetQuickGroup, LONG, VARIANT_BOOL*, BSTR*, LONG*, VARIANT_BOOL*)
    NOT_IMPLEMENTED(GetQuickLink, LONG, LONG, BSTR*, BSTR*, VARIANT_BOOL*)
    NOT_IMPLEMENTED(ShowQuickGroupManager)
private:
    TFakeServer() = default;
    virtual ~TFakeServer() = default;

    HRESULT Store(int slot, BSTR url, const VARIANT& data, HRESULT result) {
        TServerCall call;
        call.Slot = slot;
        call.Url = url ? url : L"";
        call.DataType = V_VT(&data);
        if (V_VT(&data) == VT_I4)
            call.Integer = V_I4(&data);
        if (V_VT(&data) == (VT_ARRAY | VT_UI1)) {
            SAFEARRAY* array = V_ARRAY(&data);
            LONG low = -1, high = -1;
            if (::SafeArrayGetDim(array) == 1 && SUCCEEDED(::SafeArrayGetLBound(array, 1, &low)) &&
                SUCCEEDED(::SafeArrayGetUBound(array, 1, &high)) && low == 0) {
                TSafeArrayAccess<uint8_t> bytes(array);
                if (bytes)
                    call.Gif.assign(bytes.Get(), bytes.Get() + (high + 1));
            }
        }
        Calls.push_back(std::move(call));
        return result;
    }

    ULONG RefCount = 0;
};

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
    TCaptureBitmap expected;
    expected.SetSize(static_cast<LONG>(header.Width), static_cast<LONG>(header.Height));
    Paint(expected.Canvas(), {0, 0, static_cast<LONG>(header.Width), static_cast<LONG>(header.Height)},
          picture);
    std::ofstream ppm(directory / (stem + ".ppm"), std::ios::binary);
    ppm << "P6\n" << header.Width << " " << header.Height << "\n255\n";
    const auto pixels = expected.Pixels();
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
// Fixture: a browser showing the stub document in a window of a chosen size, a fake server, and the
// page-utilities object that the capture is called through.

class ImageCaptureTest : public test::TComTest {
protected:
    void SetUp() override {
        Server = TFakeServer::Create();
        Document = TStubDocument::Create();
        Browser = test::TTestBrowser::Create();
        Browser->SetDocument(Document->Dispatch());
        ShowWindow(400, 240);
    }
    void TearDown() override {
        Browser.Reset();
        Document.Reset();
        Server.Reset();
        Window.Reset();
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
        Document->Window = Window.Get();
    }

    HRESULT Capture(VARIANT_BOOL rewrite = VARIANT_FALSE) {
        return CaptureWith(static_cast<IWebBrowser2*>(Browser.Get()), rewrite, Server.Get());
    }
    HRESULT CaptureWith(IUnknown* browser, VARIANT_BOOL rewrite, IUnknown* server) {
        ComPtr<IIEHKepUtils> utils = test::TakeCreated<IIEHKepUtils>(TIEHKepUtils::CreateObject());
        return utils->CaptureScreenShot(browser, rewrite, server);
    }

    void RequestImages(TScreenShotAnswer answer) { Server->Answer = answer; }

    // The GIF stored by a call, checked to be a complete GIF file of the given size.
    static std::vector<uint8_t> StoredGif(const TServerCall& call, uint32_t width, uint32_t height) {
        EXPECT_EQ(VT_ARRAY | VT_UI1, call.DataType) << "slot " << call.Slot;
        const TGifHeader header = ReadGifHeader(call.Gif);
        EXPECT_EQ(width, header.Width) << "slot " << call.Slot;
        EXPECT_EQ(height, header.Height) << "slot " << call.Slot;
        return call.Gif;
    }

    ComPtr<TFakeServer> Server;
    ComPtr<TStubDocument> Document;
    ComPtr<test::TTestBrowser> Browser;
    TWindowHandle Window;
};

constexpr VARIANT_BOOL kTrue = VARIANT_TRUE;
constexpr VARIANT_BOOL kFalse = VARIANT_FALSE;

TEST_F(ImageCaptureTest, NeitherImageRequestedRendersAndStoresNothing) {
    for (VARIANT_BOOL rewrite : {kTrue, kFalse}) {
        Server->Calls.clear();
        ASSERT_EQ(S_OK, Capture(rewrite));
        ASSERT_EQ(std::vector<int>{48}, Server->Slots());
        EXPECT_EQ(Document->Url, Server->Calls[0].Url)
            << "the URL as the document gives it, fragment and all";
        EXPECT_EQ(rewrite, Server->Calls[0].Rewrite);
    }
    EXPECT_TRUE(Document->Draws.empty());
}

TEST_F(ImageCaptureTest, BothImagesAreRenderedSeparatelyAndStoredInOrder) {
    RequestImages({kTrue, 100, 7, kTrue, 25, 6});
    ASSERT_EQ(S_OK, Capture());

    ASSERT_EQ(2u, Document->Draws.size());
    for (const TDrawRecord& draw : Document->Draws) {
        EXPECT_EQ(static_cast<DWORD>(DVASPECT_CONTENT), draw.Aspect);
        EXPECT_EQ(1, draw.Index);
        EXPECT_FALSE(draw.Extras);
        EXPECT_NE(nullptr, draw.DrawDC);
        EXPECT_EQ(0, draw.Bounds.left);
        EXPECT_EQ(0, draw.Bounds.top);
        EXPECT_EQ(400, draw.Bounds.right);
        EXPECT_EQ(240, draw.Bounds.bottom);
    }
    ASSERT_EQ((std::vector<int>{48, 49, 50}), Server->Slots());
    EXPECT_EQ(Document->Url, Server->Calls[1].Url);
    EXPECT_EQ(Document->Url, Server->Calls[2].Url);
    ExportSample("both_first", StoredGif(Server->Calls[1], 400, 240), TPicture::Rich, 7, 35);
    ExportSample("both_second", StoredGif(Server->Calls[2], 100, 60), TPicture::Rich, 6, 20);
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
        ShowWindow(row.Width, row.Height);
        Server->Calls.clear();
        RequestImages({kTrue, row.Percent, 7, kFalse, 100, 7});
        ASSERT_EQ(S_OK, Capture());
        ASSERT_EQ((std::vector<int>{48, 49}), Server->Slots());
        const auto gif = StoredGif(Server->Calls[1], row.ScaledWidth, row.ScaledHeight);
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
        {"a document that is not HTML", [&] { Document->Html = false; }, {}, false, false},
        {"no view object", [&] { Document->ViewObject = false; }, {48}, false, false},
        {"no window", [&] { Document->Window = nullptr; }, {48}, false, false},
        {"the settings call fails", [&] { Server->SettingsResult = E_FAIL; }, {48}, false, false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        SetUp();
        RequestImages({kTrue, 100, 7, kTrue, 50, 7});
        row.Setup();
        IUnknown* browser = row.NoBrowser ? nullptr : static_cast<IWebBrowser2*>(Browser.Get());
        IUnknown* server = row.NoServer ? nullptr : Server.Get();
        EXPECT_EQ(S_OK, CaptureWith(browser, kFalse, server));
        EXPECT_EQ(row.Slots, Server->Slots());
        EXPECT_TRUE(Document->Draws.empty());
    }
}

// The browser helper object calls late-bound: DISPID 201 with the browser, the flag and the server.
TEST_F(ImageCaptureTest, LateBoundCallReachesTheCapture) {
    ComPtr<IDispatch> utils = test::TakeCreated<IDispatch>(TIEHKepUtils::CreateObject());
    ASSERT_TRUE(utils);
    RequestImages({kTrue, 50, 7, kFalse, 100, 7});
    for (IUnknown* server : {static_cast<IUnknown*>(Server.Get()), static_cast<IUnknown*>(nullptr)}) {
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
    ASSERT_EQ((std::vector<int>{48, 49}), Server->Slots()) << "the second call has no server: nothing";
    EXPECT_EQ(kTrue, Server->Calls[0].Rewrite);
    ExportSample("late_bound", StoredGif(Server->Calls[1], 200, 120), TPicture::Rich, 7, 35);
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
        {"the URL cannot be read", [&] { Document->UrlResult = E_ACCESSDENIED; }, E_ACCESSDENIED, {}, false},
        {"the server object is no IGUIServer", [] {}, E_UNEXPECTED, {}, true},
        {"the first store fails",
         [&] { Server->StoreResult = kStoreFailure; },
         kStoreFailure,
         {48, 49},
         false},
        {"the second store fails",
         [&] { Server->StoreSecondResult = kStoreFailure; },
         kStoreFailure,
         {48, 49, 50},
         false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        SetUp();
        RequestImages({kTrue, 100, 7, kTrue, 50, 7});
        row.Setup();
        ::SetErrorInfo(0, nullptr);
        IUnknown* server = row.ServerIsDocument ? static_cast<IUnknown*>(Document->Dispatch()) : Server.Get();
        EXPECT_EQ(row.Result, CaptureWith(static_cast<IWebBrowser2*>(Browser.Get()), kFalse, server));
        EXPECT_EQ(row.Slots, Server->Slots());
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(S_OK, ::GetErrorInfo(0, &info));
        TBStr description, source;
        info->GetDescription(description.Receive());
        info->GetSource(source.Receive());
        EXPECT_FALSE(description.Str().empty());
        EXPECT_NE(std::wstring::npos, source.Str().find(L"IEHKepUtils")) << source.Str();
    }
}

// An image that cannot be made is stored as the integer 0, and the second image is still made.
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
        {"the largest scale", 400, 240, LONG_MAX, 7},
        {"scaled to nothing", 40, 40, 1, 7},
        {"a window without width", 0, 240, 100, 7},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        SetUp();
        ShowWindow(row.Width, row.Height);
        RequestImages({kTrue, row.Scale, row.Format, kTrue, 50, 7});
        ASSERT_EQ(S_OK, Capture());
        ASSERT_EQ((std::vector<int>{48, 49, 50}), Server->Slots());
        EXPECT_EQ(VT_I4, Server->Calls[1].DataType);
        EXPECT_EQ(0, Server->Calls[1].Integer);
        if (row.Width > 0)
            StoredGif(Server->Calls[2], row.Width / 2, row.Height / 2);
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
        Document->Picture = row.Picture;
        RequestImages({kTrue, 100, row.Format, kTrue, 50, row.Format});
        ASSERT_EQ(S_OK, Capture());
        ASSERT_EQ((std::vector<int>{48, 49, 50}), Server->Slots());
        const auto full = StoredGif(Server->Calls[1], 400, 240);
        const auto half = StoredGif(Server->Calls[2], 200, 120);
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
        RequestImages({kTrue, 50, format, kFalse, 100, 7});
        ASSERT_EQ(S_OK, Capture());
        ASSERT_EQ((std::vector<int>{48, 49}), Server->Slots());
        gifs.push_back(StoredGif(Server->Calls[1], 200, 120));
    }
    EXPECT_EQ(gifs[0], gifs[1]);
    ExportSample("format_device", gifs[0], TPicture::Rich, 0, 30);
    std::cout << "screen format code: " << static_cast<int>(DevicePixelFormat()) << "\n";
}

} // namespace
