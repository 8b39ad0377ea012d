// The library's one bitmap class: a device-independent bitmap (a DIB section) with its size, pixel
// format and row order, a memory device context for drawing, and loading from the bytes of a Windows
// bitmap file. Pictures from the Keptor application (server images) and page screenshots both live in
// it: a DIB section gives GDI a canvas to draw and stretch into and the library direct access to the
// pixels, so a screenshot is reduced to palette indices in the bitmap's own memory without a copy.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "com/ComSupportUnit.h"

namespace zorbex {

// Pixel formats, by the ordinals the Keptor application uses for screenshot formats. A bitmap is made
// in pf1bit to pf32bit (pf15bit is a 16-bit DIB of 5 bits a channel); pfDevice (the screen's format)
// and pfCustom only occur as screenshot codes.
enum class TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// Bits per pixel of a format; 0 for pfDevice and pfCustom.
WORD PixelFormatBitCount(TPixelFormat format);

class TBitmap {
public:
    // Largest picture accepted from a bitmap file: each side at most kMaxSide pixels and at most
    // kMaxPixels pixels in all (64 MiB of pixel data at 32 bits per pixel).
    static constexpr LONG kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = 16 * 1024 * 1024;

    enum class TRowOrder { BottomUp, TopDown };

    TBitmap() = default; // empty: no handle, size 0 x 0
    // A bitmap of the given size, all pixels 0; formats of 8 bits and less get a grey scale palette.
    // Raises TError when the size is not positive, the format is not one a bitmap has, or the system
    // cannot make the bitmap.
    TBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf32bit,
            TRowOrder order = TRowOrder::BottomUp);
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;
    ~TBitmap() = default;

    bool Empty() const { return !Bitmap; }
    int Width() const { return BitmapWidth; }
    int Height() const { return BitmapHeight; }
    TPixelFormat PixelFormat() const { return Format; }
    WORD BitCount() const { return PixelFormatBitCount(Format); }
    // Whether the first row in memory is the top row.
    bool TopDown() const { return IsTopDown; }
    HBITMAP Handle() const { return Bitmap.Get(); }
    // A memory device context with the bitmap selected, made on first use; nullptr for an empty
    // bitmap. Owned by the bitmap.
    HDC Canvas();
    // Bytes per row of pixels (rows are padded to 4 bytes) and the pixels of row y (0 is the top row).
    LONG Stride() const;
    BYTE* ScanLine(int y) const;
    // Every byte of the pixels, rows in memory order (Stride() * Height() bytes), after pending GDI
    // drawing has reached them; empty for an empty bitmap.
    std::span<BYTE> Memory() const;
    // The colour of a pixel as 0x00BBGGRR (palette formats resolved through the palette); CLR_INVALID
    // outside the bitmap.
    COLORREF Pixel(int x, int y);

    // Loads the picture of a complete Windows bitmap file (file header included). Accepted: headers
    // BITMAPCOREHEADER, BITMAPINFOHEADER, BITMAPV4HEADER and BITMAPV5HEADER; 1, 4, 8, 16, 24 and 32
    // bits per pixel; BI_RGB, and BI_BITFIELDS for 16 and 32 bits; bottom-up and top-down rows; sizes
    // within kMaxSide and kMaxPixels. Anything else, and every file whose parts (palette, masks,
    // pixels) do not lie inside `size` bytes, gives false and leaves the bitmap as it was.
    bool LoadFromBmpData(const BYTE* data, size_t size);

    void Swap(TBitmap& other) noexcept;

private:
    TBitmapHandle Bitmap;
    TMemoryDC DC; // declared after Bitmap: deleted first, while the bitmap is still selected
    void* Bits = nullptr;
    int BitmapWidth = 0;
    int BitmapHeight = 0;
    TPixelFormat Format = TPixelFormat::pf32bit;
    bool IsTopDown = false;

    // Makes the DIB section of `info` (a BITMAPINFOHEADER followed by masks or palette).
    static bool CreateSection(const std::vector<BYTE>& info, TBitmap& result);
};

} // namespace zorbex
