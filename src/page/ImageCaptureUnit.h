// Page screenshot: renders the browser's document view into a bitmap, scales it, reduces it to the
// requested pixel format, encodes it as a GIF file and hands the bytes to the Keptor application.
//
// It runs on the browser's thread inside the browser's (32-bit) address space, so its shape is set by
// time and memory: every request is checked before anything is drawn, a picture is stretched only when
// its scale is not 100 %, and the reduction to palette indices happens in the bitmap's own memory, so a
// capture holds one 32-bit picture of the output size (and, while stretching, the drawn window).
#pragma once

#include <windows.h>
#include <oleidl.h>

#include <cstdint>
#include <vector>

#include "com/ComSupportUnit.h"
#include "page/BitmapUnit.h"
#include "page/GifEncoderUnit.h"

namespace zorbex {

// The largest picture a capture makes, drawn or scaled. A larger window or scale yields no image (the
// integer 0) instead of exhausting the browser's address space or stalling its thread: one 32-bit
// picture at the limit takes 128 MiB, and the library's share of its capture (reduction to palette
// indices and GIF coding, about 15 ns a pixel here) stays near half a second. 2^25 pixels keep an 8K
// window (7680 x 4320) at 100 %; the bound was 40 million pixels, whose captures took 0.56 to 0.64 s.
inline constexpr LONG kCaptureMaxSide = 8192;
inline constexpr uint64_t kCaptureMaxPixels = 33'554'432;
// The largest picture a capture stretches to (a scale other than 100 %). The platform's halftone stretch
// costs 45 to 65 ns an output pixel here, four times the library's share, and holds a working copy of
// the output: a stretch to 40 million pixels stalled the browser's thread for two seconds or more, one
// to 16 million stays under a second. Beyond it: no image, as for the bounds above.
inline constexpr uint64_t kCaptureMaxStretchedPixels = 16'777'216;

// The format a screenshot format code asks for: the code's low byte as a TPixelFormat ordinal, pfDevice
// resolved to the screen's format. False for pfCustom and every code past it: no image can be made.
bool CapturePixelFormat(LONG code, TPixelFormat& format);
// The format the screen's bit depth stands for (GetDeviceCaps BITSPIXEL of the screen DC).
TPixelFormat DevicePixelFormat();
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
// when none could be made. The window size, scale and format are checked before the view is drawn: a
// request that cannot give an image draws nothing. Never raises.
void CapturePageImage(IViewObject* viewObject, LONG width, LONG height, LONG percent, LONG formatCode,
                      TVariant& imageData) noexcept;

// The steps of one image; each raises on failure.
// The view drawn into a new 32-bit top-down bitmap of the given size (within the capture bounds).
TBitmap DrawViewToBitmap(IViewObject* viewObject, LONG width, LONG height);
// The bitmap stretched with the halftone mode to its sides scaled by the percentage (ScaledSide); at
// 100 % the bitmap itself. The source is released as soon as the stretch is done.
TBitmap ScaleBitmap(TBitmap bitmap, LONG percent);
// The single-frame GIF of a 32-bit top-down bitmap in the given format (pf1bit to pf32bit). The
// bitmap's memory is used for the palette indices: its pixels are gone afterwards.
std::vector<uint8_t> BitmapToGIF(TBitmap& bitmap, TPixelFormat format);

} // namespace zorbex
