// Toolbar image strips in the resources: how they are stored, the pictures in them, and how they go
// into image lists as the toolbars use them.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ResourceIds.h"
#include "com/ComSupportUnit.h"
#include "support/TestSupport.h"

namespace zorbex {
namespace {

// A toolbar's strips at one size: an image keeps its index at every size.
struct TStrip {
    const char* Name;
    int NormalId;
    int HotId;
    int Count;
    int Side;
};

void PrintTo(const TStrip& strip, std::ostream* out) { *out << strip.Name; }

const TStrip kStrips[] = {
    {"Main16", IDB_MAIN_IMAGES, IDB_MAIN_HOT_IMAGES, 19, 16},
    {"Main20", IDB_MAIN_IMAGES_20, IDB_MAIN_HOT_IMAGES_20, 19, 20},
    {"Main24", IDB_MAIN_IMAGES_24, IDB_MAIN_HOT_IMAGES_24, 19, 24},
    {"Main32", IDB_MAIN_IMAGES_32, IDB_MAIN_HOT_IMAGES_32, 19, 32},
    {"QuickLink16", IDB_QL_IMAGES, IDB_QL_HOT_IMAGES, 3, 16},
    {"QuickLink20", IDB_QL_IMAGES_20, IDB_QL_HOT_IMAGES_20, 3, 20},
    {"QuickLink24", IDB_QL_IMAGES_24, IDB_QL_HOT_IMAGES_24, 3, 24},
    {"QuickLink32", IDB_QL_IMAGES_32, IDB_QL_HOT_IMAGES_32, 3, 32},
};

inline void DestroyImageList(HIMAGELIST list) { ::ImageList_Destroy(list); }
using TImageList = TUniqueAny<HIMAGELIST, DestroyImageList>;

uint8_t Alpha(uint32_t pixel) { return static_cast<uint8_t>(pixel >> 24); }
uint32_t Rgb(uint32_t pixel) { return pixel & 0x00FFFFFFu; }
int Chroma(uint32_t pixel) {
    const int b = pixel & 0xFF, g = (pixel >> 8) & 0xFF, r = (pixel >> 16) & 0xFF;
    return std::max({r, g, b}) - std::min({r, g, b});
}

// The bytes of a BITMAP resource (a BITMAPINFOHEADER and what follows it); empty when missing.
std::vector<BYTE> ResourceBytes(HMODULE module, int id) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data)
        return {};
    const BYTE* bytes = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(bytes, bytes + ::SizeofResource(module, found));
}

// A strip as stored: its header and its pixels as 0xAARRGGBB, top row first.
struct TStoredStrip {
    BITMAPINFOHEADER Header{};
    size_t Size = 0;
    std::vector<uint32_t> Pixels;

    uint32_t At(int x, int y) const { return Pixels[static_cast<size_t>(y) * static_cast<size_t>(Header.biWidth) + static_cast<size_t>(x)]; }
};

// The strip of this executable's resources; fails the test when it is missing, is not a 32-bit picture
// or is shorter than its header says.
TStoredStrip ReadStrip(int id) {
    TStoredStrip strip;
    const std::vector<BYTE> bytes = ResourceBytes(::GetModuleHandleW(nullptr), id);
    strip.Size = bytes.size();
    if (bytes.size() < sizeof(BITMAPINFOHEADER)) {
        ADD_FAILURE() << "bitmap resource " << id << " missing or short";
        return strip;
    }
    std::memcpy(&strip.Header, bytes.data(), sizeof(BITMAPINFOHEADER));
    const BITMAPINFOHEADER& h = strip.Header;
    const LONG height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const size_t offset = h.biSize + h.biClrUsed * sizeof(RGBQUAD);
    const size_t count = static_cast<size_t>(h.biWidth) * static_cast<size_t>(height);
    if (h.biBitCount != 32 || h.biWidth <= 0 || offset + count * 4 > bytes.size()) {
        ADD_FAILURE() << "bitmap resource " << id << ": " << h.biWidth << " x " << h.biHeight << ", "
                      << h.biBitCount << " bits, " << bytes.size() << " bytes";
        return strip;
    }
    strip.Pixels.resize(count);
    for (LONG y = 0; y < height; ++y) {
        const LONG stored = h.biHeight > 0 ? height - 1 - y : y;
        std::memcpy(&strip.Pixels[static_cast<size_t>(y) * static_cast<size_t>(h.biWidth)],
                    bytes.data() + offset + static_cast<size_t>(stored) * static_cast<size_t>(h.biWidth) * 4,
                    static_cast<size_t>(h.biWidth) * 4);
    }
    return strip;
}

class ImageStripTest : public ::testing::TestWithParam<TStrip> {};

TEST_P(ImageStripTest, IsA32BitBottomUpRgbBitmapOfAllImagesSideBySide) {
    const TStrip& param = GetParam();
    const int side = param.Side;
    for (int id : {param.NormalId, param.HotId}) {
        SCOPED_TRACE(id);
        const TStoredStrip strip = ReadStrip(id);
        const BITMAPINFOHEADER& h = strip.Header;
        EXPECT_EQ(h.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(h.biWidth, param.Count * side);
        EXPECT_EQ(h.biHeight, side); // positive: bottom-up
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, 32);
        EXPECT_EQ(h.biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(h.biClrUsed, 0u);
        EXPECT_EQ(strip.Size, sizeof(BITMAPINFOHEADER) + static_cast<size_t>(param.Count) * static_cast<size_t>(side) * static_cast<size_t>(side) * 4);
    }
}

TEST_P(ImageStripTest, EveryImageHasTransparentAndOpaquePixels) {
    const TStrip& param = GetParam();
    const int side = param.Side;
    for (int id : {param.NormalId, param.HotId}) {
        const TStoredStrip strip = ReadStrip(id);
        ASSERT_FALSE(strip.Pixels.empty());
        for (int image = 0; image < param.Count; ++image) {
            int transparent = 0, opaque = 0, colouredTransparent = 0;
            for (int y = 0; y < side; ++y) {
                for (int x = image * side; x < (image + 1) * side; ++x) {
                    const uint32_t pixel = strip.At(x, y);
                    transparent += Alpha(pixel) == 0;
                    opaque += Alpha(pixel) == 255;
                    colouredTransparent += Alpha(pixel) == 0 && Rgb(pixel) != 0;
                }
            }
            SCOPED_TRACE(::testing::Message() << "resource " << id << ", image " << image);
            EXPECT_GT(transparent, 0);
            EXPECT_GT(opaque, 0);
            // Without an alpha channel (old image lists, plain BitBlt) transparent parts show black, not
            // the leftovers of the drawing.
            EXPECT_EQ(colouredTransparent, 0);
        }
    }
}

// The normal image is the hot one muted: the same shape (alpha) with less colour, and different.
TEST_P(ImageStripTest, NormalImageIsTheHotImageMuted) {
    const TStrip& param = GetParam();
    const int side = param.Side;
    const TStoredStrip normal = ReadStrip(param.NormalId);
    const TStoredStrip hot = ReadStrip(param.HotId);
    ASSERT_FALSE(normal.Pixels.empty());
    ASSERT_EQ(normal.Pixels.size(), hot.Pixels.size());
    for (int image = 0; image < param.Count; ++image) {
        int shapeDifferences = 0, colourDifferences = 0;
        long normalChroma = 0, hotChroma = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = image * side; x < (image + 1) * side; ++x) {
                const uint32_t n = normal.At(x, y), h = hot.At(x, y);
                shapeDifferences += Alpha(n) != Alpha(h);
                colourDifferences += Rgb(n) != Rgb(h);
                normalChroma += Chroma(n) * Alpha(n);
                hotChroma += Chroma(h) * Alpha(h);
            }
        }
        SCOPED_TRACE(::testing::Message() << "image " << image);
        EXPECT_EQ(shapeDifferences, 0);
        EXPECT_GT(colourDifferences, 0);
        EXPECT_LT(normalChroma, hotChroma);
    }
}

// Loaded as a DIB section and added to an image list as the toolbars do: one image per side pixels, and
// drawn from the list, transparent pixels keep the background while opaque pixels are the image's own.
TEST_P(ImageStripTest, GoesIntoAnImageListAndDrawsWithItsTransparency) {
    const TStrip& param = GetParam();
    const int side = param.Side;
    const int width = param.Count * side;
    for (int id : {param.NormalId, param.HotId}) {
        SCOPED_TRACE(id);
        const TStoredStrip stored = ReadStrip(id);
        ASSERT_FALSE(stored.Pixels.empty());

        TBitmapHandle bitmap(static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                                               IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
        ASSERT_TRUE(bitmap);
        DIBSECTION section{};
        ASSERT_EQ(::GetObjectW(bitmap.Get(), sizeof(section), &section), static_cast<int>(sizeof(section)));
        EXPECT_EQ(section.dsBm.bmWidth, width);
        EXPECT_EQ(section.dsBm.bmHeight, side);
        EXPECT_EQ(section.dsBm.bmBitsPixel, 32);

        TImageList list(::ImageList_Create(side, side, ILC_COLOR32 | ILC_MASK, param.Count, 0));
        ASSERT_TRUE(list);
        EXPECT_EQ(::ImageList_Add(list.Get(), bitmap.Get(), nullptr), 0);
        EXPECT_EQ(::ImageList_GetImageCount(list.Get()), param.Count);
        int cx = 0, cy = 0;
        EXPECT_TRUE(::ImageList_GetIconSize(list.Get(), &cx, &cy));
        EXPECT_EQ(cx, side);
        EXPECT_EQ(cy, side);

        // Every image drawn from the list onto magenta, side by side again.
        const uint32_t background = 0x00FF00FFu;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -side;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        TBitmapHandle target(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        ASSERT_TRUE(target);
        uint32_t* pixels = static_cast<uint32_t*>(bits);
        std::fill(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(side), background);
        TMemoryDC dc(::CreateCompatibleDC(nullptr));
        ASSERT_TRUE(dc);
        {
            TSelectGuard select(dc.Get(), target.Get());
            for (int image = 0; image < param.Count; ++image)
                EXPECT_TRUE(::ImageList_Draw(list.Get(), image, dc.Get(), image * side, 0, ILD_NORMAL));
            ::GdiFlush();
        }
        int wrongTransparent = 0, wrongOpaque = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint32_t source = stored.At(x, y), drawn = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
                if (Alpha(source) == 0)
                    wrongTransparent += Rgb(drawn) != background;
                else if (Alpha(source) == 255)
                    wrongOpaque += Rgb(drawn) != Rgb(source);
            }
        }
        EXPECT_EQ(wrongTransparent, 0);
        EXPECT_EQ(wrongOpaque, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Toolbars, ImageStripTest, ::testing::ValuesIn(kStrips),
                         [](const ::testing::TestParamInfo<TStrip>& param) { return std::string(param.param.Name); });

// The library carries the same strips as the test programs built from the same resource script.
TEST(ImageStrips, LibraryCarriesTheSameStrips) {
    TLibraryHandle library(::LoadLibraryExW(test::DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(library) << test::Utf8(test::DllPath());
    for (const TStrip& strip : kStrips) {
        for (int id : {strip.NormalId, strip.HotId}) {
            SCOPED_TRACE(id);
            const std::vector<BYTE> inLibrary = ResourceBytes(library.Get(), id);
            EXPECT_FALSE(inLibrary.empty());
            EXPECT_TRUE(inLibrary == ResourceBytes(::GetModuleHandleW(nullptr), id));
        }
    }
}

} // namespace
} // namespace zorbex
