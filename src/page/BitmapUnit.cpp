// TBitmap: DIB sections, their device context and the reading of Windows bitmap files. Every size and
// offset of a file is checked against the file's length in 64-bit arithmetic before it is read: the
// bytes come from another process.
#include "page/BitmapUnit.h"

#include <cstring>
#include <utility>

#include "com/ErrorsUnit.h"

namespace zorbex {
namespace {

constexpr WORD kBitmapFileType = 0x4D42; // "BM"
constexpr size_t kFileHeaderSize = 14;
constexpr DWORD kCoreHeaderSize = 12;
constexpr DWORD kInfoHeaderSize = 40;
constexpr DWORD kV4HeaderSize = 108;
constexpr DWORD kV5HeaderSize = 124;
constexpr size_t kMaskOffsetInHeader = 40; // red, green, blue masks of BITMAPV4HEADER / BITMAPV5HEADER

template <typename T> T ReadAt(const BYTE* data, size_t offset) {
    T value;
    std::memcpy(&value, data + offset, sizeof(T));
    return value;
}

template <typename T> void Append(std::vector<BYTE>& buffer, const T& value) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    buffer.insert(buffer.end(), bytes, bytes + sizeof(T));
}

bool PixelFormatOf(WORD bitCount, TPixelFormat& format) {
    switch (bitCount) {
    case 1:
        format = TPixelFormat::pf1bit;
        return true;
    case 4:
        format = TPixelFormat::pf4bit;
        return true;
    case 8:
        format = TPixelFormat::pf8bit;
        return true;
    case 16:
        format = TPixelFormat::pf16bit;
        return true;
    case 24:
        format = TPixelFormat::pf24bit;
        return true;
    case 32:
        format = TPixelFormat::pf32bit;
        return true;
    default:
        return false;
    }
}

int64_t StrideOf(int64_t width, WORD bitCount) {
    return (width * bitCount + 31) / 32 * 4;
}

// A colour mask: one run of set bits inside the pixel.
bool IsContiguousMask(DWORD mask, WORD bitCount) {
    if (mask == 0 || (bitCount < 32 && (mask >> bitCount) != 0))
        return false;
    while ((mask & 1) == 0)
        mask >>= 1;
    return (mask & (mask + 1)) == 0;
}

bool ValidMasks(const DWORD (&masks)[3], WORD bitCount) {
    for (DWORD mask : masks)
        if (!IsContiguousMask(mask, bitCount))
            return false;
    return (masks[0] & masks[1]) == 0 && (masks[0] & masks[2]) == 0 && (masks[1] & masks[2]) == 0;
}

} // namespace

WORD PixelFormatBitCount(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf1bit:
        return 1;
    case TPixelFormat::pf4bit:
        return 4;
    case TPixelFormat::pf8bit:
        return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit:
        return 16;
    case TPixelFormat::pf24bit:
        return 24;
    case TPixelFormat::pf32bit:
        return 32;
    default:
        return 0;
    }
}

TBitmap::TBitmap(int width, int height, TPixelFormat format, TRowOrder order) {
    if (width <= 0 || height <= 0)
        RaiseError(L"Invalid bitmap size");
    const WORD bitCount = PixelFormatBitCount(format);
    if (bitCount == 0)
        RaiseError(L"Invalid bitmap format");
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = order == TRowOrder::TopDown ? -height : height;
    header.biPlanes = 1;
    header.biBitCount = bitCount;
    header.biCompression = BI_RGB;
    std::vector<BYTE> info;
    if (bitCount <= 8) {
        const DWORD colors = 1u << bitCount;
        header.biClrUsed = colors;
        Append(info, header);
        for (DWORD i = 0; i < colors; ++i) {
            const BYTE level = static_cast<BYTE>(i * 255 / (colors - 1));
            Append(info, RGBQUAD{level, level, level, 0});
        }
    } else {
        Append(info, header);
    }
    if (!CreateSection(info, *this))
        RaiseError(L"Out of system resources");
    Format = format; // pf15bit stays itself: its 16-bit DIB reads back as pf16bit
}

TBitmap::TBitmap(TBitmap&& other) noexcept {
    Swap(other);
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
    if (this != &other) {
        TBitmap taken(std::move(other));
        Swap(taken);
    }
    return *this;
}

void TBitmap::Swap(TBitmap& other) noexcept {
    std::swap(Bitmap, other.Bitmap);
    std::swap(DC, other.DC);
    std::swap(Bits, other.Bits);
    std::swap(BitmapWidth, other.BitmapWidth);
    std::swap(BitmapHeight, other.BitmapHeight);
    std::swap(Format, other.Format);
    std::swap(IsTopDown, other.IsTopDown);
}

HDC TBitmap::Canvas() {
    if (!Bitmap)
        return nullptr;
    if (!DC) {
        TMemoryDC dc(::CreateCompatibleDC(nullptr));
        if (!dc || !::SelectObject(dc.Get(), Bitmap.Get()))
            return nullptr;
        DC = std::move(dc);
    }
    return DC.Get();
}

LONG TBitmap::Stride() const {
    return static_cast<LONG>(StrideOf(BitmapWidth, BitCount()));
}

BYTE* TBitmap::ScanLine(int y) const {
    if (!Bits || y < 0 || y >= BitmapHeight)
        return nullptr;
    const int row = IsTopDown ? y : BitmapHeight - 1 - y;
    return static_cast<BYTE*>(Bits) + static_cast<ptrdiff_t>(row) * static_cast<ptrdiff_t>(Stride());
}

std::span<BYTE> TBitmap::Memory() const {
    if (!Bits)
        return {};
    ::GdiFlush();
    return {static_cast<BYTE*>(Bits), static_cast<size_t>(Stride()) * static_cast<size_t>(BitmapHeight)};
}

COLORREF TBitmap::Pixel(int x, int y) {
    if (x < 0 || y < 0 || x >= BitmapWidth || y >= BitmapHeight)
        return CLR_INVALID;
    HDC dc = Canvas();
    if (!dc)
        return CLR_INVALID;
    ::GdiFlush();
    return ::GetPixel(dc, x, y);
}

bool TBitmap::CreateSection(const std::vector<BYTE>& info, TBitmap& result) {
    const auto* bitmapInfo = reinterpret_cast<const BITMAPINFO*>(info.data());
    void* bits = nullptr;
    TBitmapHandle bitmap(::CreateDIBSection(nullptr, bitmapInfo, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits)
        return false;
    const BITMAPINFOHEADER& header = bitmapInfo->bmiHeader;
    TPixelFormat format = TPixelFormat::pf32bit;
    PixelFormatOf(header.biBitCount, format);
    result.DC.Reset();
    result.Bitmap = std::move(bitmap);
    result.Bits = bits;
    result.BitmapWidth = header.biWidth;
    result.BitmapHeight = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    result.Format = format;
    result.IsTopDown = header.biHeight < 0;
    return true;
}

bool TBitmap::LoadFromBmpData(const BYTE* data, size_t size) {
    // Every offset below is checked against `size` before it is read; sizes are computed in 64 bits.
    if (!data || size < kFileHeaderSize + sizeof(DWORD))
        return false;
    if (ReadAt<WORD>(data, 0) != kBitmapFileType)
        return false;
    const uint64_t pixelOffset = ReadAt<DWORD>(data, 10);
    const DWORD headerSize = ReadAt<DWORD>(data, kFileHeaderSize);
    if (headerSize != kCoreHeaderSize && headerSize != kInfoHeaderSize && headerSize != kV4HeaderSize &&
        headerSize != kV5HeaderSize)
        return false;
    const uint64_t headerEnd = kFileHeaderSize + static_cast<uint64_t>(headerSize);
    if (headerEnd > size)
        return false;
    const BYTE* header = data + kFileHeaderSize;

    int64_t width = 0, height = 0;
    WORD planes = 0, bitCount = 0;
    DWORD compression = BI_RGB, colorsUsed = 0;
    bool core = headerSize == kCoreHeaderSize;
    if (core) {
        width = ReadAt<WORD>(header, 4);
        height = ReadAt<WORD>(header, 6);
        planes = ReadAt<WORD>(header, 8);
        bitCount = ReadAt<WORD>(header, 10);
        if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24)
            return false;
    } else {
        width = ReadAt<LONG>(header, 4);
        height = ReadAt<LONG>(header, 8);
        planes = ReadAt<WORD>(header, 12);
        bitCount = ReadAt<WORD>(header, 14);
        compression = ReadAt<DWORD>(header, 16);
        colorsUsed = ReadAt<DWORD>(header, 32);
    }
    TPixelFormat format;
    if (planes != 1 || !PixelFormatOf(bitCount, format))
        return false;
    const bool topDown = height < 0;
    const int64_t rows = topDown ? -height : height;
    if (width <= 0 || rows <= 0 || width > kMaxSide || rows > kMaxSide || width * rows > kMaxPixels)
        return false;

    // Colour masks (BI_BITFIELDS, 16 and 32 bits only): in the V4/V5 header, or after the 40-byte one.
    uint64_t tablesEnd = headerEnd;
    DWORD masks[3] = {};
    if (compression == BI_BITFIELDS) {
        if (bitCount != 16 && bitCount != 32)
            return false;
        const BYTE* maskData = nullptr;
        if (headerSize == kInfoHeaderSize) {
            if (tablesEnd + sizeof(masks) > size)
                return false;
            maskData = data + tablesEnd;
            tablesEnd += sizeof(masks);
        } else {
            maskData = header + kMaskOffsetInHeader;
        }
        for (size_t i = 0; i < 3; ++i)
            masks[i] = ReadAt<DWORD>(maskData, i * sizeof(DWORD));
        if (!ValidMasks(masks, bitCount))
            return false;
    } else if (compression != BI_RGB) {
        return false;
    }

    // Palette: needed up to 8 bits per pixel (RGBTRIPLE entries after a core header, RGBQUAD otherwise).
    DWORD paletteCount = 0;
    const size_t entrySize = core ? 3 : 4;
    if (bitCount <= 8) {
        const DWORD maxColors = 1u << bitCount;
        paletteCount = colorsUsed == 0 ? maxColors : colorsUsed;
        if (paletteCount > maxColors)
            return false;
    }
    const uint64_t paletteOffset = tablesEnd;
    tablesEnd += static_cast<uint64_t>(paletteCount) * entrySize;
    if (tablesEnd > size)
        return false;

    const uint64_t stride = static_cast<uint64_t>(StrideOf(width, bitCount));
    const uint64_t pixelBytes = stride * static_cast<uint64_t>(rows);
    if (pixelOffset < tablesEnd || pixelOffset > size || pixelBytes > size - pixelOffset)
        return false;

    // The DIB section: a BITMAPINFOHEADER with its masks or its palette.
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = static_cast<LONG>(width);
    info.biHeight = static_cast<LONG>(height);
    info.biPlanes = 1;
    info.biBitCount = bitCount;
    info.biCompression = compression;
    info.biClrUsed = paletteCount;
    std::vector<BYTE> infoData;
    infoData.reserve(sizeof(info) + 256 * sizeof(RGBQUAD));
    Append(infoData, info);
    if (compression == BI_BITFIELDS)
        Append(infoData, masks);
    for (DWORD i = 0; i < paletteCount; ++i) {
        const BYTE* entry = data + paletteOffset + static_cast<size_t>(i) * entrySize;
        Append(infoData, RGBQUAD{entry[0], entry[1], entry[2], 0});
    }

    TBitmap loaded;
    if (!CreateSection(infoData, loaded))
        return false;
    std::memcpy(loaded.Bits, data + pixelOffset, static_cast<size_t>(pixelBytes));
    Swap(loaded);
    return true;
}

} // namespace zorbex
