// Server images: bitmap files that load and files that must not (each field abused, every truncation,
// pixels read from a buffer that ends at an inaccessible page), the variant forms of the data,
// GetServerImage against the reference Keptor server given directly or found in the running object
// table, and a seeded run of random and mutated data.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "com/ComSupportUnit.h"
#include "com/ErrorsUnit.h"
#include "com/RegistryUnit.h"
#include "page/ServerImageUnit.h"
#include "com/ZorbexGUI_TLB.h"
#include "support/BrowserHostUnit.h"
#include "support/TestSupport.h"
#include "page/BitmapUnit.h"
#include "keptor/KeptorServerUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;
using namespace zorbex::test;

namespace {

// --- Bitmap files ---------------------------------------------------------------------------------

enum class THeader { Core, Info, V4, V5 };

struct TBmpShape {
    const char* Name = "";
    THeader Header = THeader::Info;
    LONG Width = 5;
    LONG Height = 3; // negative: top-down
    WORD BitCount = 24;
    DWORD Compression = BI_RGB;
    DWORD Masks[3] = {};  // BI_BITFIELDS
    DWORD ColorsUsed = 0; // palette entries written; 0: all the bit count allows (8 bits and less)
};

struct TBmpFile {
    std::vector<BYTE> Bytes;
    std::vector<RGBQUAD> Palette;
    std::vector<std::vector<BYTE>> Rows; // expected bytes of each row, top row first
    size_t PixelOffset = 0;
    size_t PaletteOffset = 0;
    LONG Width = 0;
    LONG RowCount = 0;
    WORD BitCount = 0;
    bool TopDown = false;
};

constexpr size_t kHeaderAt = 14; // the info header follows the 14-byte file header

void PutWord(std::vector<BYTE>& bytes, size_t offset, WORD value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(value));
}
void PutDword(std::vector<BYTE>& bytes, size_t offset, DWORD value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(value));
}
template <typename T> void Append(std::vector<BYTE>& bytes, T value) {
    const BYTE* begin = reinterpret_cast<const BYTE*>(&value);
    bytes.insert(bytes.end(), begin, begin + sizeof(T));
}

RGBQUAD PaletteColor(DWORD i) {
    return RGBQUAD{static_cast<BYTE>(i * 53), static_cast<BYTE>(i * 91 + 7), static_cast<BYTE>(255 - i), 0};
}

// Colour of pixel x, y in a 24- or 32-bit file.
COLORREF TrueColor(LONG x, LONG y) {
    return RGB(77, (y * 30) & 0xFF, (x * 20) & 0xFF);
}

TBmpFile BuildBmp(const TBmpShape& shape) {
    TBmpFile file;
    file.Width = shape.Width;
    file.RowCount = shape.Height < 0 ? -shape.Height : shape.Height;
    file.BitCount = shape.BitCount;
    file.TopDown = shape.Height < 0;
    std::vector<BYTE>& b = file.Bytes;
    b.resize(kHeaderAt);
    if (shape.Header == THeader::Core) {
        Append<DWORD>(b, 12);
        Append<WORD>(b, static_cast<WORD>(shape.Width));
        Append<WORD>(b, static_cast<WORD>(shape.Height));
        Append<WORD>(b, 1);
        Append<WORD>(b, shape.BitCount);
    } else {
        const DWORD size = shape.Header == THeader::Info ? 40 : shape.Header == THeader::V4 ? 108 : 124;
        Append<DWORD>(b, size);
        Append<LONG>(b, shape.Width);
        Append<LONG>(b, shape.Height);
        Append<WORD>(b, 1);
        Append<WORD>(b, shape.BitCount);
        Append<DWORD>(b, shape.Compression);
        Append<DWORD>(b, 0);   // image size: may be 0 for uncompressed pixels
        Append<LONG>(b, 2835); // 72 dpi
        Append<LONG>(b, 2835);
        Append<DWORD>(b, shape.ColorsUsed);
        Append<DWORD>(b, 0);
        if (shape.Header != THeader::Info) {
            for (DWORD mask : shape.Masks)
                Append<DWORD>(b, mask);
            Append<DWORD>(b, 0);          // alpha mask
            Append<DWORD>(b, 0x73524742); // 'sRGB'
            b.resize(b.size() + 36 + 12); // end points, gamma
            if (shape.Header == THeader::V5)
                b.resize(b.size() + 16); // intent, profile data and size, reserved
        } else if (shape.Compression == BI_BITFIELDS) {
            for (DWORD mask : shape.Masks)
                Append<DWORD>(b, mask);
        }
    }
    file.PaletteOffset = b.size();
    DWORD colors = shape.ColorsUsed;
    if (colors == 0 && shape.BitCount <= 8)
        colors = 1u << shape.BitCount;
    for (DWORD i = 0; i < colors; ++i) {
        RGBQUAD color = PaletteColor(i);
        file.Palette.push_back(color);
        b.push_back(color.rgbBlue);
        b.push_back(color.rgbGreen);
        b.push_back(color.rgbRed);
        if (shape.Header != THeader::Core)
            b.push_back(0);
    }
    file.PixelOffset = b.size();

    const size_t stride = (static_cast<size_t>(shape.Width) * shape.BitCount + 31) / 32 * 4;
    for (LONG y = 0; y < file.RowCount; ++y) {
        std::vector<BYTE> row(stride, 0);
        for (LONG x = 0; x < shape.Width; ++x) {
            const COLORREF color = TrueColor(x, y);
            switch (shape.BitCount) {
            case 1:
            case 4:
            case 8: {
                const DWORD index = (static_cast<DWORD>(x) + 2 * static_cast<DWORD>(y)) % colors;
                const size_t bit = static_cast<size_t>(x) * shape.BitCount;
                row[bit / 8] |= static_cast<BYTE>(index << (8 - shape.BitCount - bit % 8));
                break;
            }
            case 16: {
                const WORD value = static_cast<WORD>(x * 1031 + y * 7919);
                std::memcpy(&row[static_cast<size_t>(x) * 2], &value, 2);
                break;
            }
            default: {
                BYTE* pixel = &row[static_cast<size_t>(x) * shape.BitCount / 8];
                pixel[0] = GetBValue(color);
                pixel[1] = GetGValue(color);
                pixel[2] = GetRValue(color);
                if (shape.BitCount == 32)
                    pixel[3] = 0xFF;
                break;
            }
            }
        }
        file.Rows.push_back(row);
    }
    for (LONG i = 0; i < file.RowCount; ++i) {
        const auto& row = file.Rows[static_cast<size_t>(file.TopDown ? i : file.RowCount - 1 - i)];
        b.insert(b.end(), row.begin(), row.end());
    }
    b[0] = 'B';
    b[1] = 'M';
    PutDword(b, 2, static_cast<DWORD>(b.size()));
    PutDword(b, 10, static_cast<DWORD>(file.PixelOffset));
    return file;
}

// The expected colour of a pixel, or CLR_INVALID where the file's format is not checked by colour.
COLORREF ExpectedColor(const TBmpFile& file, LONG x, LONG y) {
    if (file.BitCount <= 8) {
        const RGBQUAD& c =
            file.Palette[(static_cast<DWORD>(x) + 2 * static_cast<DWORD>(y)) % file.Palette.size()];
        return RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
    }
    return file.BitCount == 16 ? CLR_INVALID : TrueColor(x, y);
}

void ExpectLoaded(TBitmap& bitmap, const TBmpFile& file) {
    ASSERT_FALSE(bitmap.Empty());
    EXPECT_EQ(file.Width, bitmap.Width());
    EXPECT_EQ(file.RowCount, bitmap.Height());
    EXPECT_EQ(file.BitCount, bitmap.BitCount());
    EXPECT_EQ(file.TopDown, bitmap.TopDown());
    ASSERT_EQ(static_cast<LONG>(file.Rows[0].size()), bitmap.Stride());
    for (LONG y = 0; y < file.RowCount; ++y) {
        const auto& row = file.Rows[static_cast<size_t>(y)];
        EXPECT_EQ(0, std::memcmp(row.data(), bitmap.ScanLine(y), row.size())) << "row " << y;
    }
    for (LONG y = 0; y < file.RowCount && y < 64; ++y)
        for (LONG x = 0; x < file.Width && x < 64; ++x)
            if (COLORREF expected = ExpectedColor(file, x, y); expected != CLR_INVALID) {
                ASSERT_EQ(expected, bitmap.Pixel(x, y)) << "pixel " << x << ", " << y;
            }
}

// What a bitmap holds, to show that a failed load left it alone.
struct TBitmapState {
    HBITMAP Handle;
    int Width;
    int Height;
    WORD BitCount;
    std::vector<BYTE> Pixels;
    bool operator==(const TBitmapState&) const = default;
};

TBitmapState StateOf(const TBitmap& bitmap) {
    TBitmapState state{bitmap.Handle(), bitmap.Width(), bitmap.Height(), bitmap.BitCount(), {}};
    for (int y = 0; y < bitmap.Height(); ++y)
        state.Pixels.insert(state.Pixels.end(), bitmap.ScanLine(y), bitmap.ScanLine(y) + bitmap.Stride());
    return state;
}

// A 3 x 2 picture that the loads under test must not touch.
TBitmap Untouchable() {
    TBitmap bitmap(3, 2, TPixelFormat::pf24bit);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < bitmap.Stride(); ++i)
            bitmap.ScanLine(y)[i] = static_cast<BYTE>(0xA0 + y * 16 + i);
    return bitmap;
}

// Bytes placed so that the first byte after them is an inaccessible page: reading past the end of
// the data crashes the test instead of passing unnoticed.
class TGuardedBytes {
public:
    explicit TGuardedBytes(const std::vector<BYTE>& bytes) {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        const size_t dataPages = (bytes.size() + page - 1) / page;
        Size = (dataPages + 1) * page;
        Base = static_cast<BYTE*>(::VirtualAlloc(nullptr, Size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (Base)
            ::VirtualProtect(Base + dataPages * page, page, PAGE_NOACCESS, &old);
        BYTE* data = Base ? Base + dataPages * page - bytes.size() : nullptr;
        if (data && !bytes.empty())
            std::memcpy(data, bytes.data(), bytes.size());
        Data = data;
        Length = bytes.size();
    }
    TGuardedBytes(const TGuardedBytes&) = delete;
    TGuardedBytes& operator=(const TGuardedBytes&) = delete;
    ~TGuardedBytes() {
        if (Base)
            ::VirtualFree(Base, 0, MEM_RELEASE);
    }
    const BYTE* Data = nullptr;
    size_t Length = 0;

private:
    BYTE* Base = nullptr;
    size_t Size = 0;
};

bool LoadGuarded(TBitmap& bitmap, const std::vector<BYTE>& bytes) {
    TGuardedBytes guarded(bytes);
    EXPECT_TRUE(guarded.Data);
    return bitmap.LoadFromBmpData(guarded.Data, guarded.Length);
}

// A variant holding a one-dimensional array of `count` elements of `type` (lower bound `lowBound`), its
// memory starting with `bytes`.
TVariant ArrayOf(VARTYPE type, ULONG count, const std::vector<BYTE>& bytes, LONG lowBound = 0) {
    SAFEARRAYBOUND bound{count, lowBound};
    TSafeArray array(::SafeArrayCreate(type, 1, &bound));
    EXPECT_TRUE(array.Get());
    if (array.Get() && !bytes.empty()) {
        TSafeArrayAccess<BYTE> access(array.Get());
        EXPECT_TRUE(access);
        const size_t capacity = static_cast<size_t>(count) * ::SafeArrayGetElemsize(array.Get());
        if (access)
            std::memcpy(access.Get(), bytes.data(), std::min(bytes.size(), capacity));
    }
    TVariant data;
    V_VT(data.Ptr()) = VT_ARRAY | type;
    V_ARRAY(data.Ptr()) = array.Release();
    return data;
}

TVariant ByteArray(const std::vector<BYTE>& bytes, LONG lowBound = 0, VARTYPE type = VT_UI1) {
    return ArrayOf(type, static_cast<ULONG>(bytes.size()), bytes, lowBound);
}

const TBmpShape kValid[] = {
    {.Name = "1 bit", .Width = 13, .Height = 3, .BitCount = 1},
    {.Name = "4 bits", .Width = 7, .Height = 4, .BitCount = 4},
    {.Name = "4 bits, 5 colours used", .Width = 6, .Height = 2, .BitCount = 4, .ColorsUsed = 5},
    {.Name = "8 bits", .Width = 5, .Height = 3, .BitCount = 8},
    {.Name = "8 bits, 16 colours used", .Width = 9, .Height = 5, .BitCount = 8, .ColorsUsed = 16},
    {.Name = "16 bits 5-5-5", .Width = 3, .Height = 3, .BitCount = 16},
    {.Name = "16 bits 5-6-5 masks",
     .Width = 5,
     .Height = 2,
     .BitCount = 16,
     .Compression = BI_BITFIELDS,
     .Masks = {0xF800, 0x07E0, 0x001F}},
    {.Name = "24 bits", .Width = 5, .Height = 3, .BitCount = 24},
    {.Name = "24 bits, one pixel", .Width = 1, .Height = 1, .BitCount = 24},
    {.Name = "32 bits", .Width = 4, .Height = 3, .BitCount = 32},
    {.Name = "32 bits with masks",
     .Width = 4,
     .Height = 2,
     .BitCount = 32,
     .Compression = BI_BITFIELDS,
     .Masks = {0x00FF0000, 0x0000FF00, 0x000000FF}},
    {.Name = "top-down 8 bits", .Width = 6, .Height = -4, .BitCount = 8},
    {.Name = "top-down 24 bits", .Width = 5, .Height = -3, .BitCount = 24},
    {.Name = "top-down 1 bit", .Width = 33, .Height = -2, .BitCount = 1},
    {.Name = "core header 1 bit", .Header = THeader::Core, .Width = 9, .Height = 2, .BitCount = 1},
    {.Name = "core header 4 bits", .Header = THeader::Core, .Width = 3, .Height = 3, .BitCount = 4},
    {.Name = "core header 8 bits", .Header = THeader::Core, .Width = 5, .Height = 3, .BitCount = 8},
    {.Name = "core header 24 bits", .Header = THeader::Core, .Width = 3, .Height = 2, .BitCount = 24},
    {.Name = "V4 header 24 bits", .Header = THeader::V4, .Width = 3, .Height = 2, .BitCount = 24},
    {.Name = "V4 header 32 bits with masks",
     .Header = THeader::V4,
     .Width = 3,
     .Height = 2,
     .BitCount = 32,
     .Compression = BI_BITFIELDS,
     .Masks = {0x00FF0000, 0x0000FF00, 0x000000FF}},
    {.Name = "V5 header 8 bits", .Header = THeader::V5, .Width = 4, .Height = -2, .BitCount = 8},
    {.Name = "V5 header 16 bits with masks",
     .Header = THeader::V5,
     .Width = 3,
     .Height = 2,
     .BitCount = 16,
     .Compression = BI_BITFIELDS,
     .Masks = {0x7C00, 0x03E0, 0x001F}},
    {.Name = "V5 header 32 bits", .Header = THeader::V5, .Width = 2, .Height = 2, .BitCount = 32},
};

TEST(BitmapLoadTest, ValidFilesLoadWithTheirSizeFormatOrientationAndPixels) {
    for (const TBmpShape& shape : kValid) {
        SCOPED_TRACE(shape.Name);
        const TBmpFile file = BuildBmp(shape);
        TBitmap bitmap = Untouchable();
        ASSERT_TRUE(LoadGuarded(bitmap, file.Bytes));
        ExpectLoaded(bitmap, file);

        // The same through the variant, as the server delivers it (with bytes to spare after the file).
        TBitmap fromVariant;
        std::vector<BYTE> padded = file.Bytes;
        padded.resize(padded.size() + 9, 0xEE);
        TVariant data = ByteArray(padded);
        ASSERT_TRUE(LoadBitmapFromVariant(fromVariant, data.Get()));
        ExpectLoaded(fromVariant, file);
    }
}

TEST(BitmapLoadTest, PicturesUpToTheBoundLoad) {
    // Each side at most 16384 pixels, 16 Mi pixels in all: 1-bit files keep the test data small.
    for (const TBmpShape& shape :
         {TBmpShape{.Name = "16384 x 1", .Width = 16384, .Height = 1, .BitCount = 1},
          TBmpShape{.Name = "1 x 16384", .Width = 1, .Height = 16384, .BitCount = 1},
          TBmpShape{.Name = "4096 x 4096", .Width = 4096, .Height = -4096, .BitCount = 1}}) {
        SCOPED_TRACE(shape.Name);
        TBitmap bitmap;
        ASSERT_TRUE(LoadGuarded(bitmap, BuildBmp(shape).Bytes));
        EXPECT_EQ(shape.Width, bitmap.Width());
    }
    for (const TBmpShape& shape :
         {TBmpShape{.Name = "16385 x 1", .Width = 16385, .Height = 1, .BitCount = 1},
          TBmpShape{.Name = "1 x 16385", .Width = 1, .Height = -16385, .BitCount = 1},
          TBmpShape{.Name = "4097 x 4097", .Width = 4097, .Height = 4097, .BitCount = 1}}) {
        SCOPED_TRACE(shape.Name);
        TBitmap bitmap = Untouchable();
        const TBitmapState before = StateOf(bitmap);
        EXPECT_FALSE(LoadGuarded(bitmap, BuildBmp(shape).Bytes));
        EXPECT_TRUE(before == StateOf(bitmap));
    }
}

// A hostile file: a valid one with one part abused. Unless the abuse is about where the file ends,
// the case runs a second time with 4 KiB more after the file, so that only the abused field can make
// it fail.
struct THostileCase {
    const char* Name;
    TBmpShape Base;
    std::function<void(TBmpFile&)> Abuse;
    bool AboutTheEnd = false;
};

const TBmpShape kPalette8{.Name = "8 bits", .Width = 4, .Height = 3, .BitCount = 8, .ColorsUsed = 16};
const TBmpShape kPalette1{.Name = "1 bit", .Width = 8, .Height = 2, .BitCount = 1};
const TBmpShape kPalette4{.Name = "4 bits", .Width = 4, .Height = 2, .BitCount = 4};
const TBmpShape kTrue24{.Name = "24 bits", .Width = 4, .Height = 3, .BitCount = 24};
const TBmpShape kFields32{.Name = "32 bits",
                          .Width = 3,
                          .Height = 2,
                          .BitCount = 32,
                          .Compression = BI_BITFIELDS,
                          .Masks = {0x00FF0000, 0x0000FF00, 0x000000FF}};
const TBmpShape kFields16{.Name = "16 bits",
                          .Width = 3,
                          .Height = 2,
                          .BitCount = 16,
                          .Compression = BI_BITFIELDS,
                          .Masks = {0xF800, 0x07E0, 0x001F}};
const TBmpShape kV5Fields{.Name = "V5",
                          .Header = THeader::V5,
                          .Width = 3,
                          .Height = 2,
                          .BitCount = 32,
                          .Compression = BI_BITFIELDS,
                          .Masks = {0x00FF0000, 0x0000FF00, 0x000000FF}};
const TBmpShape kCore8{.Name = "core", .Header = THeader::Core, .Width = 4, .Height = 2, .BitCount = 8};

// Field offsets in the file.
constexpr size_t kPixelOffsetAt = 10, kHeaderSizeAt = 14, kWidthAt = 18, kHeightAt = 22, kPlanesAt = 26,
                 kBitCountAt = 28, kCompressionAt = 30, kColorsUsedAt = 46, kMasksAt = 54;
constexpr size_t kCoreWidthAt = 18, kCoreHeightAt = 20, kCorePlanesAt = 22, kCoreBitCountAt = 24;

std::function<void(TBmpFile&)> SetDword(size_t offset, DWORD value) {
    return [=](TBmpFile& f) { PutDword(f.Bytes, offset, value); };
}
std::function<void(TBmpFile&)> SetWord(size_t offset, WORD value) {
    return [=](TBmpFile& f) { PutWord(f.Bytes, offset, value); };
}

// A palette of `count` entries, all present, whatever the bit count allows.
std::function<void(TBmpFile&)> PaletteOf(DWORD count) {
    return [=](TBmpFile& f) {
        const size_t extra = (count - f.Palette.size()) * sizeof(RGBQUAD);
        f.Bytes.insert(f.Bytes.begin() + static_cast<ptrdiff_t>(f.PixelOffset), extra, 0x33);
        PutDword(f.Bytes, kColorsUsedAt, count);
        PutDword(f.Bytes, kPixelOffsetAt, static_cast<DWORD>(f.PixelOffset + extra));
    };
}

std::vector<THostileCase> HostileCases() {
    std::vector<THostileCase> cases = {
        {"not a bitmap file", kTrue24, [](TBmpFile& f) { f.Bytes[1] = 'X'; }},
        {"width 0", kTrue24, SetDword(kWidthAt, 0)},
        {"negative width", kTrue24, SetDword(kWidthAt, static_cast<DWORD>(-4))},
        {"width INT_MIN", kTrue24, SetDword(kWidthAt, 0x80000000)},
        {"width past the bound", kTrue24, SetDword(kWidthAt, 16385)},
        {"absurd width", kPalette1, SetDword(kWidthAt, 0x7FFFFFFF), true},
        {"height 0", kTrue24, SetDword(kHeightAt, 0)},
        {"height INT_MIN", kTrue24, SetDword(kHeightAt, 0x80000000)},
        {"height past the bound", kTrue24, SetDword(kHeightAt, 16385)},
        {"top-down height past the bound", kTrue24, SetDword(kHeightAt, static_cast<DWORD>(-16385))},
        {"absurd area", kPalette1,
         [](TBmpFile& f) {
             PutDword(f.Bytes, kWidthAt, 16384);
             PutDword(f.Bytes, kHeightAt, 16384);
         },
         true},
        {"more rows than the data holds", kTrue24, SetDword(kHeightAt, 4), true},
        {"wider than the data holds", kTrue24, SetDword(kWidthAt, 6), true},
        {"planes 0", kTrue24, SetWord(kPlanesAt, 0)},
        {"planes 2", kTrue24, SetWord(kPlanesAt, 2)},
        {"pixel offset 0", kTrue24, SetDword(kPixelOffsetAt, 0)},
        {"pixel offset inside the file header", kTrue24, SetDword(kPixelOffsetAt, 10)},
        {"pixel offset inside the info header", kTrue24, SetDword(kPixelOffsetAt, 30)},
        {"pixel offset inside the palette", kPalette8, SetDword(kPixelOffsetAt, 60)},
        {"pixel offset inside the masks", kFields32, SetDword(kPixelOffsetAt, 58)},
        {"pixels one byte past the end", kTrue24,
         [](TBmpFile& f) { PutDword(f.Bytes, kPixelOffsetAt, static_cast<DWORD>(f.PixelOffset + 1)); }, true},
        {"pixel offset at the end", kTrue24,
         [](TBmpFile& f) { PutDword(f.Bytes, kPixelOffsetAt, static_cast<DWORD>(f.Bytes.size())); }, true},
        {"pixel offset past the end", kTrue24, SetDword(kPixelOffsetAt, 0x10000)},
        {"pixel offset 0xFFFFFFFF", kTrue24, SetDword(kPixelOffsetAt, 0xFFFFFFFF)},
        {"colours used past 256", kPalette8, PaletteOf(257)},
        {"colours used past 2 at 1 bit", kPalette1, PaletteOf(3)},
        {"colours used past 16 at 4 bits", kPalette4, PaletteOf(17)},
        {"colours used 0xFFFFFFFF", kPalette8, SetDword(kColorsUsedAt, 0xFFFFFFFF)},
        {"palette past the end", kPalette8,
         [](TBmpFile& f) {
             PutDword(f.Bytes, kColorsUsedAt, 0); // 256 entries claimed, 16 present
         },
         true},
        {"RLE8", kPalette8, SetDword(kCompressionAt, BI_RLE8)},
        {"RLE4", kPalette4, SetDword(kCompressionAt, BI_RLE4)},
        {"JPEG", kTrue24, SetDword(kCompressionAt, BI_JPEG)},
        {"PNG", kTrue24, SetDword(kCompressionAt, BI_PNG)},
        {"alpha bit fields", kFields32, SetDword(kCompressionAt, 6)},
        {"unknown compression", kTrue24, SetDword(kCompressionAt, 0x7FFFFFFF)},
        {"bit fields at 8 bits", kPalette8, SetDword(kCompressionAt, BI_BITFIELDS)},
        {"bit fields at 24 bits", kTrue24, SetDword(kCompressionAt, BI_BITFIELDS)},
        {"zero red mask", kFields32, SetDword(kMasksAt, 0)},
        {"overlapping masks", kFields32, SetDword(kMasksAt, 0x00FFFF00)},
        {"split mask", kFields32, SetDword(kMasksAt, 0x00F0F000)},
        {"mask past 16 bits", kFields16, SetDword(kMasksAt, 0x001F0000)},
        {"V5 zero masks", kV5Fields,
         [](TBmpFile& f) {
             for (size_t i = 0; i < 3; ++i)
                 PutDword(f.Bytes, kMasksAt + 4 * i, 0);
         }},
        {"masks past the end", kFields32, [](TBmpFile& f) { f.Bytes.resize(kMasksAt + 8); }, true},
        {"core header at 16 bits", kCore8, SetWord(kCoreBitCountAt, 16)},
        {"core header at 32 bits", kCore8, SetWord(kCoreBitCountAt, 32)},
        {"core header planes 2", kCore8, SetWord(kCorePlanesAt, 2)},
        {"core header width 0", kCore8, SetWord(kCoreWidthAt, 0)},
        {"core header height 0", kCore8, SetWord(kCoreHeightAt, 0)},
        {"core header taller than the data", kCore8, SetWord(kCoreHeightAt, 0xFFFF), true},
        {"V5 header cut short", kV5Fields, [](TBmpFile& f) { f.Bytes.resize(kHeaderAt + 100); }, true},
        {"only a file header", kTrue24, [](TBmpFile& f) { f.Bytes.resize(kHeaderAt); }, true},
        {"empty", kTrue24, [](TBmpFile& f) { f.Bytes.clear(); }, true},
    };
    for (DWORD size : {0u, 4u, 11u, 13u, 16u, 39u, 41u, 52u, 56u, 64u, 109u, 125u, 0x7FFFFFFFu, 0xFFFFFFFFu})
        cases.push_back({"header size", kTrue24, SetDword(kHeaderSizeAt, size)});
    for (WORD bits : std::initializer_list<WORD>{0, 2, 3, 5, 12, 15, 31, 33, 48, 64, 0xFFFF})
        cases.push_back({"bit count", kTrue24, SetWord(kBitCountAt, bits)});
    return cases;
}

TEST(BitmapLoadTest, HostileFilesAreRefusedAndLeaveTheBitmapAlone) {
    for (const THostileCase& row : HostileCases()) {
        for (size_t spare : {size_t{0}, size_t{4096}}) {
            if (spare != 0 && row.AboutTheEnd)
                continue;
            TBmpFile file = BuildBmp(row.Base);
            row.Abuse(file);
            file.Bytes.resize(file.Bytes.size() + spare, 0x5A);
            SCOPED_TRACE(testing::Message()
                         << row.Name << " (" << row.Base.Name << ", " << file.Bytes.size() << " bytes)");
            TBitmap bitmap = Untouchable();
            const TBitmapState before = StateOf(bitmap);
            EXPECT_FALSE(LoadGuarded(bitmap, file.Bytes));
            EXPECT_TRUE(before == StateOf(bitmap));
            TVariant data = ByteArray(file.Bytes);
            EXPECT_FALSE(LoadBitmapFromVariant(bitmap, data.Get()));
            EXPECT_TRUE(before == StateOf(bitmap));
        }
    }
}

TEST(BitmapLoadTest, EveryTruncationOfAValidFileIsRefused) {
    for (const TBmpShape& shape : kValid) {
        const TBmpFile file = BuildBmp(shape);
        TBitmap bitmap = Untouchable();
        const TBitmapState before = StateOf(bitmap);
        for (size_t length = 0; length < file.Bytes.size(); ++length) {
            const std::vector<BYTE> cut(file.Bytes.begin(),
                                        file.Bytes.begin() + static_cast<ptrdiff_t>(length));
            ASSERT_FALSE(LoadGuarded(bitmap, cut)) << shape.Name << " cut to " << length << " bytes";
        }
        EXPECT_TRUE(before == StateOf(bitmap)) << shape.Name;
    }
}

TEST(BitmapLoadTest, OnlyAOneDimensionalByteArrayIsLoaded) {
    const TBmpFile file = BuildBmp(kTrue24);
    TBitmap bitmap = Untouchable();
    const TBitmapState before = StateOf(bitmap);

    TVariant empty, number(5L), text(std::wstring_view(L"BM")),
        dispatchNull(static_cast<IDispatch*>(nullptr));
    TVariant bytesAsBstr;
    V_VT(bytesAsBstr.Ptr()) = VT_BSTR;
    V_BSTR(bytesAsBstr.Ptr()) = ::SysAllocStringByteLen(reinterpret_cast<const char*>(file.Bytes.data()),
                                                        static_cast<UINT>(file.Bytes.size()));
    // The same bytes declared as an array of 32-bit numbers, and as an array of variants.
    TVariant longs = ArrayOf(VT_I4, static_cast<ULONG>(file.Bytes.size()), file.Bytes);
    TVariant variants = ArrayOf(VT_VARIANT, 4, {});
    TVariant twoDimensional;
    {
        SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(file.Bytes.size()), 0}, {1, 0}};
        TSafeArray array(::SafeArrayCreate(VT_UI1, 2, bounds));
        V_VT(twoDimensional.Ptr()) = VT_ARRAY | VT_UI1;
        V_ARRAY(twoDimensional.Ptr()) = array.Release();
    }
    TVariant nullArray;
    V_VT(nullArray.Ptr()) = VT_ARRAY | VT_UI1;
    V_ARRAY(nullArray.Ptr()) = nullptr;
    TVariant emptyArray = ByteArray({});
    for (const TVariant* data : {&empty, &number, &text, &dispatchNull, &bytesAsBstr, &longs, &twoDimensional,
                                 &nullArray, &emptyArray, &variants}) {
        SCOPED_TRACE(testing::Message() << "variant type " << data->Type());
        EXPECT_FALSE(LoadBitmapFromVariant(bitmap, data->Get()));
        EXPECT_TRUE(before == StateOf(bitmap));
    }

    // Accepted: bytes signed or unsigned, any lower bound, and an array passed by reference.
    TVariant signedBytes = ByteArray(file.Bytes, 0, VT_I1);
    TVariant shiftedBound = ByteArray(file.Bytes, 5);
    TVariant target = ByteArray(file.Bytes);
    SAFEARRAY* targetArray = V_ARRAY(target.Ptr());
    VARIANT byReference;
    ::VariantInit(&byReference);
    V_VT(&byReference) = VT_BYREF | VT_ARRAY | VT_UI1;
    V_ARRAYREF(&byReference) = &targetArray;
    for (const VARIANT* data :
         {&signedBytes.Get(), &shiftedBound.Get(), static_cast<const VARIANT*>(&byReference)}) {
        TBitmap loaded;
        ASSERT_TRUE(LoadBitmapFromVariant(loaded, *data));
        ExpectLoaded(loaded, file);
    }
}

TEST(BitmapTest, CreatedBitmapsHaveTheirSizeFormatAndACanvas) {
    for (TPixelFormat format : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit,
                                TPixelFormat::pf16bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        TBitmap bitmap(7, 5, format);
        EXPECT_EQ(7, bitmap.Width());
        EXPECT_EQ(5, bitmap.Height());
        EXPECT_EQ(format, bitmap.PixelFormat());
        EXPECT_FALSE(bitmap.TopDown());
        EXPECT_EQ(static_cast<LONG>((7 * bitmap.BitCount() + 31) / 32 * 4), bitmap.Stride());
        HDC canvas = bitmap.Canvas();
        ASSERT_TRUE(canvas);
        EXPECT_EQ(canvas, bitmap.Canvas());
        EXPECT_EQ(RGB(0, 0, 0), bitmap.Pixel(0, 0));
        EXPECT_EQ(CLR_INVALID, bitmap.Pixel(7, 0));
        EXPECT_EQ(nullptr, bitmap.ScanLine(5));
    }
    // Drawing through the canvas reaches the pixels.
    TBitmap bitmap(4, 4, TPixelFormat::pf24bit);
    TGdiObject brush(::CreateSolidBrush(RGB(10, 200, 30)));
    RECT all{0, 0, 4, 4};
    ASSERT_TRUE(::FillRect(bitmap.Canvas(), &all, static_cast<HBRUSH>(brush.Get())));
    ::GdiFlush();
    EXPECT_EQ(RGB(10, 200, 30), bitmap.Pixel(3, 3));
    EXPECT_EQ(30, bitmap.ScanLine(0)[0]) << "blue first";

    TBitmap moved(std::move(bitmap));
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(4, moved.Width());
    EXPECT_EQ(RGB(10, 200, 30), moved.Pixel(0, 0));
    EXPECT_THROW(TBitmap(0, 3), TError);
    EXPECT_THROW(TBitmap(3, -1), TError);
}

// --- Keptor server ---------------------------------------------------------------------------------

// The reference Keptor server answering GetLinkImage for (URL, index) with found, data and, when
// result is a failure, failing the call.
ComPtr<keptor::TKeptorServer> ImageServer(const std::wstring& url, LONG index, VARIANT_BOOL found,
                                          const TVariant& data, HRESULT result = S_OK) {
    ComPtr<keptor::TKeptorServer> server = keptor::TKeptorServer::Create();
    TBStr urlText(url);
    EXPECT_EQ(S_OK, server->SetLinkImage(urlText.Get(), index, found, data.Get()));
    if (FAILED(result))
        server->FailAlways(14, result); // GetLinkImage
    return server;
}

constexpr wchar_t kServerProgID[] = L"VIRAZedado.TrovellaServer";

// GetServerImage. The ProgID's key in HKEY_CLASSES_ROOT is removed afterwards when the test made it,
// and a server placed in the running object table is revoked.
class ServerImageTest : public TComTest {
protected:
    void SetUp() override {
        ProgIDExisted = static_cast<bool>(OpenKey(HKEY_CLASSES_ROOT, kServerProgID, KEY_READ));
    }
    void TearDown() override {
        Revoke();
        if (!ProgIDExisted)
            DeleteRegTree(HKEY_CLASSES_ROOT, kServerProgID);
        TComTest::TearDown();
    }
    void RegisterProgID() {
        CreateRegKey(HKEY_CLASSES_ROOT, std::wstring(kServerProgID) + L"\\CLSID", L"",
                     GuidToString(CLSID_TrovellaServer));
    }
    void PutRunning(IUnknown* object) {
        ASSERT_EQ(S_OK, ::RegisterActiveObject(object, CLSID_TrovellaServer, ACTIVEOBJECT_STRONG, &Cookie));
    }
    void Revoke() {
        if (Cookie) {
            EXPECT_EQ(S_OK, ::RevokeActiveObject(std::exchange(Cookie, 0), nullptr));
        }
    }
    static bool SomethingRuns() {
        ComPtr<IUnknown> running;
        return SUCCEEDED(::GetActiveObject(CLSID_TrovellaServer, nullptr, &running));
    }

    bool ProgIDExisted = false;
    DWORD Cookie = 0;
};

TEST_F(ServerImageTest, WithNoServerAndNoRunningApplicationTheResultIsFalse) {
    ASSERT_FALSE(SomethingRuns()) << "another Keptor server runs in this prefix";
    TBitmap bitmap = Untouchable();
    const TBitmapState before = StateOf(bitmap);
    if (!ProgIDExisted) {
        EXPECT_FALSE(GetServerImage(nullptr, L"", 1, true, bitmap)) << "program identifier unknown";
    }
    RegisterProgID();
    EXPECT_FALSE(GetServerImage(nullptr, L"", 1, true, bitmap)) << "known, but not running";
    EXPECT_FALSE(GetServerImage(nullptr, L"http://example.test/", -1, false, bitmap));
    EXPECT_TRUE(before == StateOf(bitmap));
}

TEST_F(ServerImageTest, WithNoServerTheRunningApplicationIsFoundByItsProgramIdentifier) {
    ASSERT_FALSE(SomethingRuns()) << "another Keptor server runs in this prefix";
    RegisterProgID();
    const TBmpFile file = BuildBmp(kValid[3]);
    auto server = ImageServer(L"", 12, VARIANT_TRUE, ByteArray(file.Bytes));
    PutRunning(static_cast<IGUIServer*>(server.Get()));

    TBitmap bitmap = Untouchable();
    EXPECT_TRUE(GetServerImage(nullptr, L"", 12, true, bitmap));
    ExpectLoaded(bitmap, file);
    ASSERT_EQ(1u, server->ImageRequests().size());
    EXPECT_EQ(L"", server->ImageRequests()[0].Url);
    EXPECT_EQ(12, server->ImageRequests()[0].Index);
    EXPECT_EQ(VARIANT_TRUE, server->ImageRequests()[0].Flag);

    Revoke();
    TBitmap after = Untouchable();
    EXPECT_FALSE(GetServerImage(nullptr, L"", 12, true, after)) << "no longer running";
    EXPECT_EQ(1u, server->ImageRequests().size());
}

TEST_F(ServerImageTest, ARunningObjectWithoutIGUIServerGivesFalse) {
    ASSERT_FALSE(SomethingRuns()) << "another Keptor server runs in this prefix";
    RegisterProgID();
    // A running object under the application's name that is not its server (a browser object, which
    // answers IDispatch but not IGUIServer); the real server is there to see that it is not asked.
    auto server = ImageServer(L"", 0, VARIANT_TRUE, ByteArray(BuildBmp(kTrue24).Bytes));
    ComPtr<TTestBrowser> other = TTestBrowser::Create();
    PutRunning(static_cast<IWebBrowser2*>(other.Get()));
    TBitmap bitmap = Untouchable();
    const TBitmapState before = StateOf(bitmap);
    EXPECT_FALSE(GetServerImage(nullptr, L"", 0, true, bitmap));
    EXPECT_TRUE(server->ImageRequests().empty());
    EXPECT_TRUE(before == StateOf(bitmap));
}

TEST_F(ServerImageTest, TheServerGetsTheUrlIndexAndFlagAsPassed) {
    auto server = ImageServer(L"", 7, VARIANT_FALSE, TVariant());
    TBitmap bitmap;
    GetServerImage(server.Get(), L"http://example.test/a?b=c", -1, false, bitmap);
    GetServerImage(server.Get(), L"", 7, true, bitmap);
    const auto& calls = server->ImageRequests();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(L"http://example.test/a?b=c", calls[0].Url);
    EXPECT_EQ(-1, calls[0].Index);
    EXPECT_EQ(VARIANT_FALSE, calls[0].Flag);
    EXPECT_EQ(7, calls[1].Index);
    EXPECT_EQ(VARIANT_TRUE, calls[1].Flag) << "true crosses as -1";
}

enum class TData { ValidFile, HostileFile, Empty, Number, Text, Variants };

TVariant MakeData(TData kind) {
    switch (kind) {
    case TData::ValidFile:
        return ByteArray(BuildBmp(kTrue24).Bytes);
    case TData::HostileFile: {
        TBmpFile file = BuildBmp(kTrue24);
        PutDword(file.Bytes, kHeightAt, 400);
        return ByteArray(file.Bytes);
    }
    case TData::Number:
        return TVariant(42L);
    case TData::Text:
        return TVariant(std::wstring_view(L"BM"));
    case TData::Variants:
        return ArrayOf(VT_VARIANT, 2, {});
    case TData::Empty:
    default:
        return TVariant();
    }
}

TEST_F(ServerImageTest, TheResultFollowsTheServersAnswer) {
    struct TRow {
        const char* Name;
        HRESULT Result;
        VARIANT_BOOL Found;
        TData Data;
        bool Expected;
        bool Loaded;
    };
    const TRow rows[] = {
        {"found, a bitmap file", S_OK, VARIANT_TRUE, TData::ValidFile, true, true},
        {"found as 1, a bitmap file", S_OK, 1, TData::ValidFile, true, true},
        {"found, no data", S_OK, VARIANT_TRUE, TData::Empty, true, false},
        {"found, a number", S_OK, VARIANT_TRUE, TData::Number, true, false},
        {"found, a string", S_OK, VARIANT_TRUE, TData::Text, true, false},
        {"found, a broken bitmap file", S_OK, VARIANT_TRUE, TData::HostileFile, false, false},
        {"found, an array of variants", S_OK, VARIANT_TRUE, TData::Variants, false, false},
        {"not found, a bitmap file", S_OK, VARIANT_FALSE, TData::ValidFile, false, false},
        {"not found, no data", S_OK, VARIANT_FALSE, TData::Empty, false, false},
        {"the call fails", E_FAIL, VARIANT_TRUE, TData::ValidFile, false, false},
        {"the application is gone", RPC_E_DISCONNECTED, VARIANT_TRUE, TData::ValidFile, false, false},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        auto server = ImageServer(L"", 0, row.Found, MakeData(row.Data), row.Result);
        TBitmap bitmap = Untouchable();
        const TBitmapState before = StateOf(bitmap);
        EXPECT_EQ(row.Expected, GetServerImage(server.Get(), L"", 0, true, bitmap));
        if (row.Loaded)
            ExpectLoaded(bitmap, BuildBmp(kTrue24));
        else
            EXPECT_TRUE(before == StateOf(bitmap));
    }
}

// --- Random data -----------------------------------------------------------------------------------

// Random bytes, and valid files with random fields abused, cut short or extended, offered in random
// variant forms. Nothing may crash or read past the data; a refused load leaves the bitmap alone and
// an accepted one stays within the bound.
TEST(BitmapLoadFuzzTest, RandomAndMutatedDataNeverCrash) {
    std::mt19937 random(0x5EED2024);
    const size_t fieldOffsets[] = {2, 10, 14, 18, 20, 22, 24, 26, 28, 30, 34, 46, 50, 54, 58, 62, 66};
    const DWORD boundaryValues[] = {0,      1,      2,      3,       8,          16,         24,
                                    32,     40,     108,    124,     256,        16384,      16385,
                                    0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    int accepted = 0;
    for (int i = 0; i < 2000; ++i) {
        std::vector<BYTE> bytes;
        if (random() % 5 < 2) {
            bytes.resize(random() % 600);
            for (BYTE& b : bytes)
                b = static_cast<BYTE>(random());
            if (bytes.size() >= 18 && random() % 2) {
                bytes[0] = 'B';
                bytes[1] = 'M';
                const DWORD sizes[] = {12, 40, 108, 124};
                PutDword(bytes, 14, sizes[random() % 4]);
            }
        } else {
            bytes = BuildBmp(kValid[random() % std::size(kValid)]).Bytes;
            for (int m = 1 + static_cast<int>(random() % 4); m > 0; --m) {
                switch (random() % 5) {
                case 0:
                    bytes[random() % bytes.size()] ^= static_cast<BYTE>(1u << (random() % 8));
                    break;
                case 1: {
                    const size_t at = fieldOffsets[random() % std::size(fieldOffsets)];
                    if (at + 4 <= bytes.size())
                        PutDword(bytes, at, boundaryValues[random() % std::size(boundaryValues)]);
                    break;
                }
                case 2: {
                    const size_t at = fieldOffsets[random() % std::size(fieldOffsets)];
                    if (at + 2 <= bytes.size())
                        PutWord(bytes, at,
                                static_cast<WORD>(boundaryValues[random() % std::size(boundaryValues)]));
                    break;
                }
                case 3:
                    bytes.resize(random() % (bytes.size() + 1));
                    break;
                default:
                    bytes.resize(bytes.size() + random() % 64, static_cast<BYTE>(random()));
                    break;
                }
                if (bytes.empty())
                    break;
            }
        }
        SCOPED_TRACE(testing::Message() << "case " << i << ", " << bytes.size() << " bytes");

        TBitmap direct = Untouchable();
        const TBitmapState before = StateOf(direct);
        if (LoadGuarded(direct, bytes)) {
            ++accepted;
            EXPECT_LE(direct.Width(), TBitmap::kMaxSide);
            EXPECT_LE(direct.Height(), TBitmap::kMaxSide);
            EXPECT_LE(static_cast<int64_t>(direct.Width()) * direct.Height(), TBitmap::kMaxPixels);
        } else {
            ASSERT_TRUE(before == StateOf(direct));
        }

        TVariant data;
        switch (random() % 8) {
        case 0:
            data = ByteArray(bytes, 0, VT_I1);
            break;
        case 1:
            data = ArrayOf(VT_I4, static_cast<ULONG>(bytes.size() / 4 + 1), bytes);
            break;
        case 2:
            data = TVariant(static_cast<long>(random()));
            break;
        case 3:
            V_VT(data.Ptr()) = VT_BSTR;
            V_BSTR(data.Ptr()) = ::SysAllocStringByteLen(reinterpret_cast<const char*>(bytes.data()),
                                                         static_cast<UINT>(bytes.size()));
            break;
        case 4:
            data = ArrayOf(VT_VARIANT, static_cast<ULONG>(random() % 4), {});
            break;
        default:
            data = ByteArray(bytes, static_cast<LONG>(random() % 3));
            break;
        }
        TBitmap viaVariant = Untouchable();
        const TBitmapState variantBefore = StateOf(viaVariant);
        if (!LoadBitmapFromVariant(viaVariant, data.Get())) {
            ASSERT_TRUE(variantBefore == StateOf(viaVariant));
        }
    }
    EXPECT_GT(accepted, 0) << "some mutations keep the file valid";
}

} // namespace
