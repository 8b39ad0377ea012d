// Page screenshot: CaptureScreenShot and the bitmap steps it runs for each image.
#include "page/ImageCaptureUnit.h"

#include <exdisp.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "com/ErrorsUnit.h"
#include "com/ZorbexGUI_TLB.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {

namespace {

inline uint32_t PixelRgb(const uint8_t* pixel) {
    return uint32_t{pixel[2]} << 16 | uint32_t{pixel[1]} << 8 | pixel[0];
}

// Nearest palette entry (smallest squared RGB distance, the first of equals) of each colour, with a
// direct-mapped cache: a screenshot has few distinct colours, so nearly every pixel is a cache hit.
class TNearestColor {
public:
    explicit TNearestColor(const std::vector<TRgbColor>& palette)
        : Palette(palette), Keys(size_t{1} << kCacheBits, 0), Values(size_t{1} << kCacheBits, 0) {}

    uint8_t operator()(uint32_t rgb) {
        const uint32_t slot = (rgb * 2654435761u) >> (32 - kCacheBits);
        const uint32_t key = rgb | kValid;
        if (Keys[slot] != key) {
            Keys[slot] = key;
            Values[slot] = Search(rgb);
        }
        return Values[slot];
    }

private:
    static constexpr uint32_t kCacheBits = 15;
    static constexpr uint32_t kValid = 0x01000000;

    uint8_t Search(uint32_t rgb) const {
        const int red = static_cast<int>(rgb >> 16), green = static_cast<int>(rgb >> 8 & 0xFF),
                  blue = static_cast<int>(rgb & 0xFF);
        int best = 0;
        int bestDistance = std::numeric_limits<int>::max();
        for (size_t i = 0; i < Palette.size(); ++i) {
            const int dr = red - Palette[i].Red, dg = green - Palette[i].Green, db = blue - Palette[i].Blue;
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = static_cast<int>(i);
            }
        }
        return static_cast<uint8_t>(best);
    }

    const std::vector<TRgbColor>& Palette;
    std::vector<uint32_t> Keys;
    std::vector<uint8_t> Values;
};

// Where a cast that the object refuses is an error, and nothing to cast is not.
template <typename T> bool CastTo(IUnknown* object, ComPtr<T>& result) {
    if (!object)
        return false;
    if (FAILED(
            object->QueryInterface(__uuidof(T), reinterpret_cast<void**>(result.ReleaseAndGetAddressOf()))))
        RaiseError(L"Interface not supported");
    return result != nullptr;
}

TVariant ByteArrayVariant(const std::vector<uint8_t>& bytes) {
    TSafeArray array(::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size())));
    if (!array.Get())
        RaiseComError(E_OUTOFMEMORY);
    {
        TSafeArrayAccess<uint8_t> data(array.Get());
        if (!data)
            RaiseComError(E_UNEXPECTED);
        std::memcpy(data.Get(), bytes.data(), bytes.size());
    }
    TVariant result;
    VARIANT* value = result.Receive();
    V_VT(value) = VT_ARRAY | VT_UI1;
    V_ARRAY(value) = array.Release();
    return result;
}

LONG WindowSide(LONG low, LONG high) {
    const int64_t side = int64_t{high} - low;
    return static_cast<LONG>(std::clamp<int64_t>(side, 0, std::numeric_limits<LONG>::max()));
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// TCaptureBitmap

TCaptureBitmap::TCaptureBitmap() : DC(::CreateCompatibleDC(nullptr)) {
    if (!DC)
        RaiseError(L"Cannot create a device context");
}

TCaptureBitmap::TCaptureBitmap(TCaptureBitmap&& other) noexcept
    : Bitmap(std::move(other.Bitmap)), DC(std::move(other.DC)), Bits(std::exchange(other.Bits, nullptr)),
      PixelWidth(std::exchange(other.PixelWidth, 0)), PixelHeight(std::exchange(other.PixelHeight, 0)),
      Format(other.Format), Palette(std::move(other.Palette)), Indices(std::move(other.Indices)) {}

TCaptureBitmap& TCaptureBitmap::operator=(TCaptureBitmap&& other) noexcept {
    if (this != &other) {
        // The DC first: deleting it lets go of the bitmap selected into it, which can then be deleted.
        DC = std::move(other.DC);
        Bitmap = std::move(other.Bitmap);
        Bits = std::exchange(other.Bits, nullptr);
        PixelWidth = std::exchange(other.PixelWidth, 0);
        PixelHeight = std::exchange(other.PixelHeight, 0);
        Format = other.Format;
        Palette = std::move(other.Palette);
        Indices = std::move(other.Indices);
    }
    return *this;
}

void TCaptureBitmap::SetSize(LONG width, LONG height) {
    // The bounds also keep width * height * 4 well inside size_t on a 32-bit system.
    if (width > kCaptureMaxSide || height > kCaptureMaxSide ||
        (width > 0 && height > 0 && uint64_t(width) * uint64_t(height) > kCaptureMaxPixels))
        RaiseError(L"The picture is too large");
    TMemoryDC dc(::CreateCompatibleDC(nullptr));
    if (!dc)
        RaiseError(L"Cannot create a device context");
    TBitmapHandle bitmap;
    uint8_t* bits = nullptr;
    if (width > 0 && height > 0) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* memory = nullptr;
        bitmap.Reset(::CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &memory, nullptr, 0));
        if (!bitmap || !memory)
            RaiseError(L"Cannot create a bitmap");
        ::SelectObject(dc.Get(), bitmap.Get());
        bits = static_cast<uint8_t*>(memory);
    } else {
        width = height = 0;
    }
    DC = std::move(dc);
    Bitmap = std::move(bitmap);
    Bits = bits;
    PixelWidth = width;
    PixelHeight = height;
    Format = TCaptureFormat::Bits32;
    Palette.clear();
    Indices.clear();
}

std::span<const uint8_t> TCaptureBitmap::Pixels() const {
    if (Empty())
        return {};
    ::GdiFlush();
    return {Bits, size_t(PixelWidth) * size_t(PixelHeight) * 4};
}

void TCaptureBitmap::SetPixelFormat(uint8_t code) {
    ::GdiFlush();
    auto format = static_cast<TCaptureFormat>(code);
    if (format == TCaptureFormat::Device)
        format = DevicePixelFormat();
    Palette.clear();
    Indices.clear();
    switch (format) {
    case TCaptureFormat::Bits1:
        MapToPalette({{0, 0, 0}, {255, 255, 255}});
        break;
    case TCaptureFormat::Bits4:
        MapToPalette(VgaPalette());
        break;
    case TCaptureFormat::Bits8:
        MapToPalette(HalftonePalette());
        break;
    case TCaptureFormat::Bits15:
        ReduceChannels(5, 5, 5);
        break;
    case TCaptureFormat::Bits16:
        ReduceChannels(5, 6, 5);
        break;
    case TCaptureFormat::Bits24:
    case TCaptureFormat::Bits32:
        break;
    default:
        RaiseError(L"Unsupported pixel format");
    }
    Format = format;
}

void TCaptureBitmap::MapToPalette(std::vector<TRgbColor> palette) {
    const size_t count = size_t(PixelWidth) * size_t(PixelHeight);
    Indices.assign(count, 0);
    TNearestColor nearest(palette);
    uint8_t* pixel = Bits;
    for (size_t i = 0; i < count; ++i, pixel += 4) {
        const uint8_t index = nearest(PixelRgb(pixel));
        const TRgbColor& color = palette[index];
        pixel[0] = color.Blue;
        pixel[1] = color.Green;
        pixel[2] = color.Red;
        Indices[i] = index;
    }
    Palette = std::move(palette);
}

void TCaptureBitmap::ReduceChannels(int redBits, int greenBits, int blueBits) {
    // Each channel keeps its top bits and is widened again by repeating them, as a 16-bit DIB reads back.
    auto table = [](int bits) {
        std::array<uint8_t, 256> values{};
        for (int v = 0; v < 256; ++v) {
            const int kept = v >> (8 - bits);
            values[v] = static_cast<uint8_t>(kept << (8 - bits) | kept >> (2 * bits - 8));
        }
        return values;
    };
    const auto red = table(redBits), green = table(greenBits), blue = table(blueBits);
    const size_t count = size_t(PixelWidth) * size_t(PixelHeight);
    uint8_t* pixel = Bits;
    for (size_t i = 0; i < count; ++i, pixel += 4) {
        pixel[0] = blue[pixel[0]];
        pixel[1] = green[pixel[1]];
        pixel[2] = red[pixel[2]];
    }
}

// ---------------------------------------------------------------------------------------------------
// Pixel formats and palettes

TCaptureFormat DevicePixelFormat() {
    TWindowDC screen(nullptr);
    const int bits =
        screen.Get() ? ::GetDeviceCaps(screen.Get(), BITSPIXEL) * ::GetDeviceCaps(screen.Get(), PLANES) : 32;
    if (bits <= 1)
        return TCaptureFormat::Bits1;
    if (bits <= 4)
        return TCaptureFormat::Bits4;
    if (bits <= 8)
        return TCaptureFormat::Bits8;
    if (bits == 15)
        return TCaptureFormat::Bits15;
    if (bits == 16)
        return TCaptureFormat::Bits16;
    if (bits == 24)
        return TCaptureFormat::Bits24;
    return TCaptureFormat::Bits32;
}

std::vector<TRgbColor> VgaPalette() {
    return {{0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
            {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
            {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
}

std::vector<TRgbColor> HalftonePalette() {
    TWindowDC screen(nullptr);
    TGdiObject palette(::CreateHalftonePalette(screen.Get()));
    if (!palette)
        RaiseError(L"Cannot create the halftone palette");
    PALETTEENTRY entries[256];
    const UINT count = ::GetPaletteEntries(static_cast<HPALETTE>(palette.Get()), 0, 256, entries);
    if (count == 0)
        RaiseError(L"Cannot read the halftone palette");
    std::vector<TRgbColor> colors;
    colors.reserve(count);
    for (UINT i = 0; i < count; ++i)
        colors.push_back({entries[i].peRed, entries[i].peGreen, entries[i].peBlue});
    return colors;
}

// ---------------------------------------------------------------------------------------------------
// Capture

LONG ScaledSide(LONG side, LONG percent) {
    // Stored through volatile doubles so that the x87 unit's wider registers cannot change a result that
    // lies next to a half.
    volatile double quotient = side / 100.0;
    volatile double scaled = quotient * percent;
    const double value = scaled;
    if (!(value <= kCaptureMaxSide)) // also NaN
        RaiseError(L"The picture is too large");
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return static_cast<LONG>(whole);
}

void DrawViewToBitmap(IViewObject* viewObject, TCaptureBitmap& bitmap, LONG width, LONG height) {
    if (!viewObject)
        return;
    bitmap.SetSize(width, height);
    RECTL bounds{0, 0, width, height};
    // Index 1, as the browser has always been asked; the result does not matter: what was drawn is taken.
    viewObject->Draw(DVASPECT_CONTENT, 1, nullptr, nullptr, nullptr, bitmap.Canvas(), &bounds, nullptr,
                     nullptr, 0);
}

void ScaleBitmap(TCaptureBitmap& bitmap, LONG xPercent, LONG yPercent, uint8_t formatCode) {
    // A scale of 0 or below would make an empty or mirrored picture: no image.
    if (xPercent <= 0 || yPercent <= 0)
        RaiseError(L"Invalid scale");
    const LONG width = ScaledSide(bitmap.Width(), xPercent);
    const LONG height = ScaledSide(bitmap.Height(), yPercent);
    // A picture scaled down to nothing cannot be stored as a GIF: no image.
    if (width <= 0 || height <= 0)
        RaiseError(L"The scaled picture is empty");
    TCaptureBitmap scaled;
    scaled.SetSize(width, height);
    ::SetStretchBltMode(scaled.Canvas(), HALFTONE);
    ::SetBrushOrgEx(scaled.Canvas(), 0, 0, nullptr);
    if (!::StretchBlt(scaled.Canvas(), 0, 0, width, height, bitmap.Canvas(), 0, 0, bitmap.Width(),
                      bitmap.Height(), SRCCOPY))
        RaiseError(L"Cannot scale the picture");
    // The scaled picture replaces the source as a whole, which is what resizing the source and drawing
    // the copy onto it gives, without holding a third bitmap.
    bitmap = std::move(scaled);
    bitmap.SetPixelFormat(formatCode);
}

void BitmapToGIF(const TCaptureBitmap& bitmap, std::vector<uint8_t>& gif) {
    gif.clear();
    const auto width = static_cast<uint32_t>(bitmap.Width());
    const auto height = static_cast<uint32_t>(bitmap.Height());
    if (bitmap.HasPalette())
        gif = EncodeGifIndexed({width, height, bitmap.PaletteIndices(), width, bitmap.PaletteColors()});
    else
        gif = EncodeGif({width, height, bitmap.Pixels(), size_t{width} * 4});
}

void CapturePageImage(IViewObject* viewObject, LONG width, LONG height, LONG percent, LONG formatCode,
                      TVariant& imageData) noexcept {
    imageData = TVariant(0L);
    TVariant result;
    Guarded([&] {
        TCaptureBitmap bitmap;
        std::vector<uint8_t> gif;
        DrawViewToBitmap(viewObject, bitmap, width, height);
        if (bitmap.Empty())
            return;
        ScaleBitmap(bitmap, percent, percent, static_cast<uint8_t>(formatCode & 0xFF));
        BitmapToGIF(bitmap, gif);
        result = ByteArrayVariant(gif);
    });
    if (result.Type() != VT_EMPTY)
        imageData = std::move(result);
}

void CaptureScreenShot(IUnknown* AWebBrowser, VARIANT_BOOL ARewriteIfExists, IUnknown* AServer) {
    ComPtr<IGUIServer> server;
    if (!CastTo(AServer, server))
        return;
    ComPtr<IWebBrowser2> browser;
    if (!CastTo(AWebBrowser, browser))
        return;

    // No HTML document (an image or another file is shown, or the document cannot be read): no capture.
    ComPtr<IHTMLDocument2> document;
    Guarded([&] {
        ComPtr<IDispatch> dispatch;
        OleCheck(browser->get_Document(&dispatch));
        if (dispatch)
            OleCheck(dispatch.As(&document));
    });
    if (!document)
        return;

    TBStr url;
    OleCheck(document->get_URL(url.Receive()));

    VARIANT_BOOL takeFirst = VARIANT_FALSE, takeSecond = VARIANT_FALSE;
    LONG firstScale = 0, firstFormat = 0, secondScale = 0, secondFormat = 0;
    if (!Guarded([&] {
            OleCheck(server->GetScreenShotSettings(url.Get(), ARewriteIfExists, &takeFirst, &firstScale,
                                                   &firstFormat, &takeSecond, &secondScale, &secondFormat));
        }))
        return;

    ComPtr<IViewObject> view;
    if (FAILED(document.As(&view)) || !view)
        return;
    ComPtr<IOleWindow> oleWindow;
    if (FAILED(document.As(&oleWindow)) || !oleWindow)
        return;
    HWND window = nullptr;
    if (FAILED(oleWindow->GetWindow(&window)) || !window)
        return;
    RECT rect{};
    if (!::GetWindowRect(window, &rect))
        return;
    const LONG width = WindowSide(rect.left, rect.right);
    const LONG height = WindowSide(rect.top, rect.bottom);

    // Each image is rendered afresh, and stored even when it could not be made (as the integer 0).
    if (takeFirst != VARIANT_FALSE) {
        TVariant data(0L);
        CapturePageImage(view.Get(), width, height, firstScale, firstFormat, data);
        OleCheck(server->StoreScreenShot(url.Get(), data.Get()));
    }
    if (takeSecond != VARIANT_FALSE) {
        TVariant data(0L);
        CapturePageImage(view.Get(), width, height, secondScale, secondFormat, data);
        OleCheck(server->StoreSecondScreenShot(url.Get(), data.Get()));
    }
}

} // namespace zorbex
