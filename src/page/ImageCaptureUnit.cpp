// Page screenshot: CaptureScreenShot, the checks of a request and the bitmap steps of each image. The
// checks come first and the steps hand one bitmap on to the next (drawn, stretched only when the scale is
// not 100 %, reduced to indices in its own memory): see the header for why.
#include "page/ImageCaptureUnit.h"

#include <exdisp.h>
#include <mshtml.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

#include "com/ErrorsUnit.h"
#include "com/ZorbexGUI_TLB.h"

using Microsoft::WRL::ComPtr;

namespace zorbex {

namespace {

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

struct TCaptureSize {
    LONG Width = 0;
    LONG Height = 0;
};

// Raises unless a picture of this size may be made: both sides positive and within the bounds.
void CheckCaptureSize(LONG width, LONG height) {
    if (width <= 0 || height <= 0)
        RaiseError(L"The picture is empty");
    // The bounds also keep width * height * 4 well inside size_t on a 32-bit system.
    if (width > kCaptureMaxSide || height > kCaptureMaxSide ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kCaptureMaxPixels)
        RaiseError(L"The picture is too large");
}

// The size of a picture scaled by a percentage; raises for a scale of 0 or below (an empty or mirrored
// picture), a picture scaled down to nothing (a GIF cannot be empty), one past the bounds and a stretch
// past kCaptureMaxStretchedPixels.
TCaptureSize ScaledCaptureSize(LONG width, LONG height, LONG percent) {
    if (percent <= 0)
        RaiseError(L"Invalid scale");
    const TCaptureSize size{ScaledSide(width, percent), ScaledSide(height, percent)};
    CheckCaptureSize(size.Width, size.Height);
    if ((size.Width != width || size.Height != height) &&
        static_cast<uint64_t>(size.Width) * static_cast<uint64_t>(size.Height) > kCaptureMaxStretchedPixels)
        RaiseError(L"The picture is too large to stretch");
    return size;
}

// Each channel keeps its top bits and is widened again by repeating them, as a 16-bit DIB reads back.
void ReduceChannels(std::span<BYTE> pixels, int redBits, int greenBits, int blueBits) {
    auto table = [](int bits) {
        std::array<uint8_t, 256> values{};
        for (unsigned v = 0; v < 256; ++v) {
            const unsigned kept = v >> (8 - bits);
            values[v] = static_cast<uint8_t>(kept << (8 - bits) | kept >> (2 * bits - 8));
        }
        return values;
    };
    const auto red = table(redBits), green = table(greenBits), blue = table(blueBits);
    for (size_t i = 0; i + 3 < pixels.size(); i += 4) {
        pixels[i] = blue[pixels[i]];
        pixels[i + 1] = green[pixels[i + 1]];
        pixels[i + 2] = red[pixels[i + 2]];
    }
}

LONG WindowSide(LONG low, LONG high) {
    const int64_t side = int64_t{high} - low;
    return static_cast<LONG>(std::clamp<int64_t>(side, 0, std::numeric_limits<LONG>::max()));
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Pixel formats and palettes

TPixelFormat DevicePixelFormat() {
    TWindowDC screen(nullptr);
    const int bits =
        screen.Get() ? ::GetDeviceCaps(screen.Get(), BITSPIXEL) * ::GetDeviceCaps(screen.Get(), PLANES) : 32;
    if (bits <= 1)
        return TPixelFormat::pf1bit;
    if (bits <= 4)
        return TPixelFormat::pf4bit;
    if (bits <= 8)
        return TPixelFormat::pf8bit;
    if (bits == 15)
        return TPixelFormat::pf15bit;
    if (bits == 16)
        return TPixelFormat::pf16bit;
    if (bits == 24)
        return TPixelFormat::pf24bit;
    return TPixelFormat::pf32bit;
}

bool CapturePixelFormat(LONG code, TPixelFormat& format) {
    const auto ordinal = static_cast<uint8_t>(static_cast<ULONG>(code) & 0xFFu);
    if (ordinal >= static_cast<uint8_t>(TPixelFormat::pfCustom))
        return false;
    format = static_cast<TPixelFormat>(ordinal);
    if (format == TPixelFormat::pfDevice)
        format = DevicePixelFormat();
    return true;
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

TBitmap DrawViewToBitmap(IViewObject* viewObject, LONG width, LONG height) {
    CheckCaptureSize(width, height);
    TBitmap bitmap(width, height, TPixelFormat::pf32bit, TBitmap::TRowOrder::TopDown);
    RECTL bounds{0, 0, width, height};
    // Index 1, as the browser has always been asked; the result does not matter: what was drawn is taken.
    viewObject->Draw(DVASPECT_CONTENT, 1, nullptr, nullptr, nullptr, bitmap.Canvas(), &bounds, nullptr,
                     nullptr, 0);
    return bitmap;
}

TBitmap ScaleBitmap(TBitmap bitmap, LONG percent) {
    const TCaptureSize size = ScaledCaptureSize(bitmap.Width(), bitmap.Height(), percent);
    if (size.Width == bitmap.Width() && size.Height == bitmap.Height())
        return bitmap; // 100 %: the halftone stretch would copy the picture as it is
    TBitmap scaled(size.Width, size.Height, TPixelFormat::pf32bit, TBitmap::TRowOrder::TopDown);
    ::SetStretchBltMode(scaled.Canvas(), HALFTONE);
    ::SetBrushOrgEx(scaled.Canvas(), 0, 0, nullptr);
    if (!::StretchBlt(scaled.Canvas(), 0, 0, size.Width, size.Height, bitmap.Canvas(), 0, 0, bitmap.Width(),
                      bitmap.Height(), SRCCOPY))
        RaiseError(L"Cannot scale the picture");
    return scaled;
}

std::vector<uint8_t> BitmapToGIF(TBitmap& bitmap, TPixelFormat format) {
    if (bitmap.Empty() || bitmap.BitCount() != 32 || !bitmap.TopDown())
        RaiseError(L"The picture is not a 32-bit top-down bitmap");
    const std::span<BYTE> memory = bitmap.Memory();
    const auto width = static_cast<uint32_t>(bitmap.Width());
    const auto height = static_cast<uint32_t>(bitmap.Height());
    const TRgbImage image{width, height, memory, size_t{width} * 4};
    // The palette indices take the first width × height bytes of the pixels they replace.
    const std::span<uint8_t> indices = memory.first(size_t{width} * height);
    std::vector<TRgbColor> palette;
    switch (format) {
    case TPixelFormat::pf1bit:
        palette = {{0, 0, 0}, {255, 255, 255}};
        MapToPalette(image, palette, indices);
        break;
    case TPixelFormat::pf4bit:
        palette = VgaPalette();
        MapToPalette(image, palette, indices);
        break;
    case TPixelFormat::pf8bit:
        palette = HalftonePalette();
        MapToPalette(image, palette, indices);
        break;
    case TPixelFormat::pf15bit:
        ReduceChannels(memory, 5, 5, 5);
        palette = QuantizeInto(image, indices);
        break;
    case TPixelFormat::pf16bit:
        ReduceChannels(memory, 5, 6, 5);
        palette = QuantizeInto(image, indices);
        break;
    case TPixelFormat::pf24bit:
    case TPixelFormat::pf32bit:
        palette = QuantizeInto(image, indices);
        break;
    default:
        RaiseError(L"Unsupported pixel format");
    }
    return EncodeGifIndexed({width, height, indices, width, palette});
}

void CapturePageImage(IViewObject* viewObject, LONG width, LONG height, LONG percent, LONG formatCode,
                      TVariant& imageData) noexcept {
    imageData = TVariant(0L);
    TVariant result;
    Guarded([&] {
        // Everything that can refuse the image is checked before the view is drawn.
        TPixelFormat format = TPixelFormat::pf32bit;
        if (!viewObject || !CapturePixelFormat(formatCode, format))
            return;
        CheckCaptureSize(width, height);
        ScaledCaptureSize(width, height, percent);
        TBitmap bitmap = ScaleBitmap(DrawViewToBitmap(viewObject, width, height), percent);
        result = ByteArrayVariant(BitmapToGIF(bitmap, format));
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
