// Page screenshot: renders the browser's document view into a bitmap, scales it, reduces it to the
// requested pixel format, encodes it as a GIF file and hands the bytes to the Keptor application.
#pragma once

#include <windows.h>
#include <oleidl.h>

#include <cstdint>
#include <span>
#include <vector>

#include "com/ComSupportUnit.h"
#include "page/GifEncoderUnit.h"

namespace zorbex {

// The pixel format codes the application asks for: the ordinal of a bitmap pixel format (kept apart from
// TBitmap's TPixelFormat, which has no device or custom member).
enum class TCaptureFormat : uint8_t {
    Device = 0, // the screen's format
    Bits1 = 1,  // black and white
    Bits4 = 2,  // the 16 colours of the standard VGA palette
    Bits8 = 3,  // the 256 colours of the halftone palette
    Bits15 = 4, // 5/5/5 bits a channel
    Bits16 = 5, // 5/6/5 bits a channel
    Bits24 = 6,
    Bits32 = 7,
    Custom = 8, // cannot be produced: no image
};

// The largest bitmap the capture makes, for the rendering as for the scaled picture. A larger window or
// scale yields no image instead of exhausting the address space of the browser process (one 32-bit
// bitmap at the limit takes 160 MB, and scaling holds two).
inline constexpr LONG kCaptureMaxSide = 8192;
inline constexpr uint64_t kCaptureMaxPixels = 40'000'000;

// A 32-bit top-down DIB section (B, G, R, X bytes) selected into its own memory DC. After SetPixelFormat
// with a palette format it also holds the palette and one index a pixel, and its pixels show exactly
// the palette colours.
class TCaptureBitmap {
public:
    TCaptureBitmap();
    TCaptureBitmap(const TCaptureBitmap&) = delete;
    TCaptureBitmap& operator=(const TCaptureBitmap&) = delete;
    TCaptureBitmap(TCaptureBitmap&& other) noexcept;
    TCaptureBitmap& operator=(TCaptureBitmap&& other) noexcept;
    ~TCaptureBitmap() = default;

    // A new black picture of the given size; a side of 0 or below leaves the bitmap empty. Raises an
    // error above the bounds or when the system cannot make the bitmap.
    void SetSize(LONG width, LONG height);
    LONG Width() const { return PixelWidth; }
    LONG Height() const { return PixelHeight; }
    bool Empty() const { return PixelWidth <= 0 || PixelHeight <= 0; }
    HDC Canvas() const { return DC.Get(); }

    // Reduces the pixels to the format of the code; raises an error for Custom and unknown codes.
    void SetPixelFormat(uint8_t code);
    TCaptureFormat PixelFormat() const { return Format; }
    bool HasPalette() const { return !Palette.empty(); }

    std::span<const uint8_t> Pixels() const;
    const std::vector<uint8_t>& PaletteIndices() const { return Indices; }
    const std::vector<TRgbColor>& PaletteColors() const { return Palette; }

private:
    void MapToPalette(std::vector<TRgbColor> palette);
    void ReduceChannels(int redBits, int greenBits, int blueBits);

    // Destroyed in reverse order: the DC goes before the bitmap selected into it.
    TBitmapHandle Bitmap;
    TMemoryDC DC;
    uint8_t* Bits = nullptr;
    LONG PixelWidth = 0;
    LONG PixelHeight = 0;
    TCaptureFormat Format = TCaptureFormat::Bits32;
    std::vector<TRgbColor> Palette;
    std::vector<uint8_t> Indices;
};

// The format the screen's bit depth stands for (GetDeviceCaps BITSPIXEL of the screen DC).
TCaptureFormat DevicePixelFormat();
// The 16 colours of the standard VGA palette and the system's 256-colour halftone palette.
std::vector<TRgbColor> VgaPalette();
std::vector<TRgbColor> HalftonePalette();

// One side scaled by a percentage: side ÷ 100 first, then × percent, in double precision, then to the
// nearest integer with halves going to the even neighbour. Raises an error when the result passes
// kCaptureMaxSide.
LONG ScaledSide(LONG side, LONG percent);

// Captures up to two images of the page shown in AWebBrowser as the server AServer asks for them and
// hands them to it. Raises an error when the document's URL cannot be read or a store call fails.
void CaptureScreenShot(IUnknown* AWebBrowser, VARIANT_BOOL ARewriteIfExists, IUnknown* AServer);

// One image: a GIF file as a VT_ARRAY | VT_UI1 variant (bounds 0..size-1), or the integer 0 (VT_I4)
// when none could be made. Only the low byte of formatCode is used. Never raises.
void CapturePageImage(IViewObject* viewObject, LONG width, LONG height, LONG percent, LONG formatCode,
                      TVariant& imageData) noexcept;

// Sizes the bitmap and has the view object draw its content into it; nothing when there is no view.
void DrawViewToBitmap(IViewObject* viewObject, TCaptureBitmap& bitmap, LONG width, LONG height);
// Scales the bitmap in place with the halftone stretch, then sets its pixel format.
void ScaleBitmap(TCaptureBitmap& bitmap, LONG xPercent, LONG yPercent, uint8_t formatCode);
// Replaces the GIF file bytes with a single-frame GIF of the bitmap.
void BitmapToGIF(const TCaptureBitmap& bitmap, std::vector<uint8_t>& gif);

} // namespace zorbex
