// Tests of the GIF encoder. Every GIF written is read back by a small, strict GIF decoder of this file,
// kept apart from the encoder's code. With ZORBEX_GIF_OUT set, sample GIFs and the RGB bytes they must
// decode to are also written there for tests/check_gif_with_imagemagick.sh.
#include "page/GifEncoderUnit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TestThreadUnit.h"

namespace zorbex {
namespace {

// ---------------------------------------------------------------------------------------------------
// Reference decoder

struct TDecodedGif {
    uint32_t ScreenWidth = 0;
    uint32_t ScreenHeight = 0;
    uint32_t Width = 0;
    uint32_t Height = 0;
    int MinCodeSize = 0;
    std::vector<TRgbColor> Palette; // the table the image uses, full stored size
    std::vector<uint8_t> Indices;
    size_t Clears = 0; // clear codes in the LZW data, the first included
};

class TGifReader {
public:
    explicit TGifReader(const std::vector<uint8_t>& data) : Data(data) {}

    TDecodedGif Read() {
        TDecodedGif gif;
        const std::string signature(reinterpret_cast<const char*>(Take(6)), 6);
        Expect(signature == "GIF89a" || signature == "GIF87a", "bad signature");
        gif.ScreenWidth = Word();
        gif.ScreenHeight = Word();
        const uint8_t screenFlags = Byte();
        Byte(); // background
        Byte(); // aspect
        std::vector<TRgbColor> globalTable;
        if ((screenFlags & 0x80) != 0) {
            globalTable = ColorTable(screenFlags & 7);
        }
        bool haveImage = false;
        for (;;) {
            const uint8_t introducer = Byte();
            if (introducer == 0x3B) {
                break;
            }
            if (introducer == 0x21) {
                Byte(); // label
                SubBlocks();
                continue;
            }
            Expect(introducer == 0x2C, "unknown block");
            Expect(!haveImage, "more than one image");
            haveImage = true;
            Expect(Word() == 0 && Word() == 0, "image not at the origin");
            gif.Width = Word();
            gif.Height = Word();
            const uint8_t imageFlags = Byte();
            Expect((imageFlags & 0x40) == 0, "interlaced");
            gif.Palette = (imageFlags & 0x80) != 0 ? ColorTable(imageFlags & 7) : globalTable;
            Expect(!gif.Palette.empty(), "no colour table");
            gif.MinCodeSize = Byte();
            Expect(gif.MinCodeSize >= 2 && gif.MinCodeSize <= 8, "bad LZW minimum code size");
            gif.Indices = Lzw(SubBlocks(), gif.MinCodeSize, size_t{gif.Width} * gif.Height, gif.Clears);
        }
        Expect(haveImage, "no image");
        Expect(Position == Data.size(), "bytes after the trailer");
        for (uint8_t index : gif.Indices) {
            Expect(index < gif.Palette.size(), "index outside the colour table");
        }
        return gif;
    }

private:
    static void Expect(bool condition, const char* what) {
        if (!condition) {
            throw std::runtime_error(std::string("GIF decode: ") + what);
        }
    }

    const uint8_t* Take(size_t count) {
        Expect(Data.size() - Position >= count, "truncated");
        const uint8_t* p = Data.data() + Position;
        Position += count;
        return p;
    }
    uint8_t Byte() { return *Take(1); }
    uint32_t Word() {
        const uint8_t* p = Take(2);
        return uint32_t{p[0]} | uint32_t{p[1]} << 8;
    }

    std::vector<TRgbColor> ColorTable(int sizeField) {
        std::vector<TRgbColor> table(size_t{2} << sizeField);
        for (TRgbColor& color : table) {
            const uint8_t* p = Take(3);
            color = {p[0], p[1], p[2]};
        }
        return table;
    }

    std::vector<uint8_t> SubBlocks() {
        std::vector<uint8_t> bytes;
        for (;;) {
            const uint8_t size = Byte();
            if (size == 0) {
                return bytes;
            }
            const uint8_t* p = Take(size);
            bytes.insert(bytes.end(), p, p + size);
        }
    }

    static std::vector<uint8_t> Lzw(const std::vector<uint8_t>& bytes, int minCodeSize, size_t pixelCount,
                                    size_t& clears) {
        constexpr size_t kNone = SIZE_MAX;
        const size_t clearCode = size_t{1} << minCodeSize;
        const size_t endCode = clearCode + 1;
        std::vector<size_t> prefix(4096, kNone);
        std::vector<uint8_t> suffix(4096, 0);
        std::vector<uint8_t> first(4096, 0);
        for (size_t i = 0; i < clearCode; ++i) {
            suffix[i] = static_cast<uint8_t>(i);
            first[i] = static_cast<uint8_t>(i);
        }
        std::vector<uint8_t> out;
        out.reserve(pixelCount);
        std::vector<uint8_t> stack;

        size_t bitPosition = 0;
        auto readCode = [&](size_t size) {
            Expect(bitPosition + size <= bytes.size() * 8, "LZW data ends before the end code");
            size_t code = 0;
            for (size_t bit = 0; bit < size; ++bit, ++bitPosition) {
                code |= size_t{(bytes[bitPosition >> 3] >> (bitPosition & 7)) & 1u} << bit;
            }
            return code;
        };
        auto emit = [&](size_t code) {
            stack.clear();
            for (size_t c = code; c != kNone; c = prefix[c]) {
                stack.push_back(suffix[c]);
            }
            Expect(out.size() + stack.size() <= pixelCount, "more pixels than the image holds");
            out.insert(out.end(), stack.rbegin(), stack.rend());
        };

        size_t codeSize = static_cast<size_t>(minCodeSize) + 1;
        size_t nextCode = endCode + 1;
        size_t previous = kNone;
        bool sawClear = false;
        for (;;) {
            const size_t code = readCode(codeSize);
            if (code == clearCode) {
                ++clears;
                sawClear = true;
                codeSize = static_cast<size_t>(minCodeSize) + 1;
                nextCode = endCode + 1;
                previous = kNone;
                continue;
            }
            if (code == endCode) {
                break;
            }
            Expect(sawClear, "LZW data does not start with a clear code");
            if (previous == kNone) {
                Expect(code < clearCode, "first code after a clear is not a root");
                emit(code);
                previous = code;
                continue;
            }
            if (code < nextCode) {
                if (nextCode < 4096) {
                    prefix[nextCode] = previous;
                    suffix[nextCode] = first[code];
                    first[nextCode] = first[previous];
                    ++nextCode;
                }
            } else {
                Expect(code == nextCode && nextCode < 4096, "LZW code not yet defined");
                prefix[nextCode] = previous;
                suffix[nextCode] = first[previous];
                first[nextCode] = first[previous];
                ++nextCode;
            }
            emit(code);
            previous = code;
            if (nextCode == (size_t{1} << codeSize) && codeSize < 12) {
                ++codeSize;
            }
        }
        Expect(out.size() == pixelCount, "fewer pixels than the image holds");
        Expect((bitPosition + 7) / 8 == bytes.size(), "LZW data goes on after the end code");
        return out;
    }

    const std::vector<uint8_t>& Data;
    size_t Position = 0;
};

TDecodedGif DecodeGif(const std::vector<uint8_t>& data) {
    return TGifReader(data).Read();
}

// ---------------------------------------------------------------------------------------------------
// Pictures

// A 32-bit BGRX picture that owns its pixels.
struct TBitmap {
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::vector<uint8_t> Pixels;

    TBitmap(uint32_t width, uint32_t height)
        : Width(width), Height(height), Pixels(size_t{width} * height * 4, 0) {}

    void Set(uint32_t x, uint32_t y, TRgbColor color) {
        uint8_t* p = &Pixels[(size_t{y} * Width + x) * 4];
        p[0] = color.Blue;
        p[1] = color.Green;
        p[2] = color.Red;
        p[3] = 0xFF;
    }
    TRgbColor Get(uint32_t x, uint32_t y) const {
        const uint8_t* p = &Pixels[(size_t{y} * Width + x) * 4];
        return {p[2], p[1], p[0]};
    }
    TRgbImage View() const { return {Width, Height, Pixels, 0}; }
};

// The colours a decoded GIF shows, row by row.
std::vector<TRgbColor> Colors(const TDecodedGif& gif) {
    std::vector<TRgbColor> colors;
    colors.reserve(gif.Indices.size());
    for (uint8_t index : gif.Indices) {
        colors.push_back(gif.Palette[index]);
    }
    return colors;
}

std::vector<TRgbColor> Colors(const TBitmap& bitmap) {
    std::vector<TRgbColor> colors;
    for (uint32_t y = 0; y < bitmap.Height; ++y) {
        for (uint32_t x = 0; x < bitmap.Width; ++x) {
            colors.push_back(bitmap.Get(x, y));
        }
    }
    return colors;
}

double Psnr(const std::vector<TRgbColor>& a, const std::vector<TRgbColor>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double dr = a[i].Red - b[i].Red;
        const double dg = a[i].Green - b[i].Green;
        const double db = a[i].Blue - b[i].Blue;
        sum += dr * dr + dg * dg + db * db;
    }
    const double mse = sum / (3.0 * static_cast<double>(a.size()));
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<TRgbColor> RandomPalette(std::mt19937& random, size_t size) {
    // Distinct colours, so a decoded index can be compared through its colour too.
    std::set<uint32_t> used;
    std::vector<TRgbColor> palette;
    while (palette.size() < size) {
        const uint32_t rgb = random() & 0xFFFFFF;
        if (used.insert(rgb).second) {
            palette.push_back(
                {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)});
        }
    }
    return palette;
}

enum class TPattern { Noise, Runs, Constant, Ramp };

std::vector<uint8_t> MakeIndices(std::mt19937& random, uint32_t width, uint32_t height, size_t paletteSize,
                                 TPattern pattern) {
    std::vector<uint8_t> indices(size_t{width} * height);
    std::uniform_int_distribution<size_t> pick(0, paletteSize - 1);
    std::uniform_int_distribution<int> runLength(1, 40);
    size_t i = 0;
    while (i < indices.size()) {
        switch (pattern) {
        case TPattern::Noise:
            indices[i++] = static_cast<uint8_t>(pick(random));
            break;
        case TPattern::Runs: {
            const uint8_t value = static_cast<uint8_t>(pick(random));
            for (int n = runLength(random); n > 0 && i < indices.size(); --n) {
                indices[i++] = value;
            }
            break;
        }
        case TPattern::Constant:
            indices[i++] = static_cast<uint8_t>(paletteSize - 1);
            break;
        case TPattern::Ramp:
            indices[i] = static_cast<uint8_t>((i % width) % paletteSize);
            ++i;
            break;
        }
    }
    return indices;
}

// A web-page-like picture: white page, a coloured header with a gradient, lines of anti-aliased "text"
// in a few colours, a photo-like area with smooth colour and grain, and a grey sidebar.
TBitmap MakeScreenshot(uint32_t width, uint32_t height, uint32_t seed) {
    std::mt19937 random(seed);
    TBitmap bitmap(width, height);
    const TRgbColor white{255, 255, 255};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            bitmap.Set(x, y, white);
        }
    }
    const uint32_t headerHeight = height / 10;
    for (uint32_t y = 0; y < headerHeight; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            bitmap.Set(x, y,
                       {static_cast<uint8_t>(30 + 40 * x / width),
                        static_cast<uint8_t>(60 + 50 * y / headerHeight),
                        static_cast<uint8_t>(140 + 90 * x / width)});
        }
    }
    const uint32_t sidebar = width * 3 / 4;
    for (uint32_t y = headerHeight; y < height; ++y) {
        for (uint32_t x = sidebar; x < width; ++x) {
            bitmap.Set(x, y, {242, 242, 245});
        }
    }
    const TRgbColor inks[] = {{20, 20, 20}, {0, 80, 200}, {150, 20, 30}};
    std::uniform_int_distribution<int> coverage(0, 255);
    for (uint32_t line = headerHeight + 8; line + 12 < height; line += 18) {
        const TRgbColor ink = inks[(line / 18) % 3];
        const uint32_t right = line < height / 2 ? sidebar - 8 : width / 3;
        for (uint32_t y = line; y < line + 11; ++y) {
            for (uint32_t x = 8; x < right; ++x) {
                // Word gaps every few glyphs; glyph cells are a mix of solid and edge pixels.
                if ((x / 40) % 6 == 5 || (x % 7) == 0) {
                    continue;
                }
                const int c = coverage(random);
                if (c < 110) {
                    continue;
                }
                const TRgbColor paper = bitmap.Get(x, y);
                const int a = c > 200 ? 255 : c;
                auto mix = [a](uint8_t fg, uint8_t bg) {
                    return static_cast<uint8_t>((fg * a + bg * (255 - a)) / 255);
                };
                bitmap.Set(x, y,
                           {mix(ink.Red, paper.Red), mix(ink.Green, paper.Green), mix(ink.Blue, paper.Blue)});
            }
        }
    }
    std::normal_distribution<double> grain(0.0, 4.0);
    const uint32_t photoLeft = width / 3 + 16;
    const uint32_t photoTop = height / 2 + 8;
    for (uint32_t y = photoTop; y + 8 < height; ++y) {
        for (uint32_t x = photoLeft; x + 8 < sidebar; ++x) {
            const double u = double(x - photoLeft) / width;
            const double v = double(y - photoTop) / height;
            auto channel = [&](double base) {
                return static_cast<uint8_t>(std::clamp(base + grain(random), 0.0, 255.0));
            };
            bitmap.Set(x, y,
                       {channel(120 + 100 * std::sin(6 * u + 1)), channel(140 + 80 * std::cos(5 * v + 2 * u)),
                        channel(90 + 60 * std::sin(9 * v))});
        }
    }
    return bitmap;
}

// A smooth two-dimensional colour gradient with thousands of colours.
TBitmap MakeGradient(uint32_t width, uint32_t height) {
    TBitmap bitmap(width, height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            bitmap.Set(x, y,
                       {static_cast<uint8_t>(255 * x / (width - 1)),
                        static_cast<uint8_t>(255 * y / (height - 1)),
                        static_cast<uint8_t>(128 + 100 * (x + y) / (width + height))});
        }
    }
    return bitmap;
}

// Writes a GIF and the RGB bytes it must decode to for the external check, when ZORBEX_GIF_OUT is set.
// The file names carry the expected width, height and number of distinct colours.
void ExportSample(const std::string& name, const std::vector<uint8_t>& gif,
                  const std::vector<TRgbColor>& colors, uint32_t width, uint32_t height) {
    const char* directory = std::getenv("ZORBEX_GIF_OUT");
    if (directory == nullptr || *directory == 0) {
        return;
    }
    std::string root = directory;
#ifdef _WIN32
    if (root.front() == '/') {
        root = "Z:" + root; // a Unix path under Wine: drive Z: is the Unix root
    }
#endif
    std::filesystem::create_directories(root);
    std::set<uint32_t> distinct;
    std::vector<uint8_t> rgb;
    for (const TRgbColor& c : colors) {
        distinct.insert(uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue);
        rgb.insert(rgb.end(), {c.Red, c.Green, c.Blue});
    }
    const std::string stem = root + "/" + name + "_" + std::to_string(width) + "x" + std::to_string(height) +
                             "_" + std::to_string(distinct.size());
    std::ofstream(stem + ".gif", std::ios::binary)
        .write(reinterpret_cast<const char*>(gif.data()), static_cast<std::streamsize>(gif.size()));
    std::ofstream(stem + ".rgb", std::ios::binary)
        .write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
}

// ---------------------------------------------------------------------------------------------------
// File layout

struct TLayoutCase {
    size_t PaletteSize;
    size_t TableSize;
    int MinCodeSize;
};

class GifLayoutTest : public testing::TestWithParam<TLayoutCase> {};

TEST_P(GifLayoutTest, HeaderTableAndCodeSizeFollowPaletteSize) {
    const TLayoutCase& c = GetParam();
    std::mt19937 random(static_cast<uint32_t>(c.PaletteSize));
    const std::vector<TRgbColor> palette = RandomPalette(random, c.PaletteSize);
    const std::vector<uint8_t> indices = MakeIndices(random, 13, 7, c.PaletteSize, TPattern::Noise);
    const std::vector<uint8_t> gif = EncodeGifIndexed({13, 7, indices, 0, palette});

    ASSERT_GE(gif.size(), 13u + 3 * c.TableSize + 10 + 2);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
    EXPECT_EQ(gif[6] | gif[7] << 8, 13);
    EXPECT_EQ(gif[8] | gif[9] << 8, 7);
    EXPECT_EQ(gif[10] & 0x80, 0x80) << "global colour table flag";
    EXPECT_EQ(size_t{2} << (gif[10] & 7), c.TableSize);
    EXPECT_EQ(gif[13 + 3 * c.TableSize], 0x2C) << "image descriptor right after the table";
    EXPECT_EQ(gif[13 + 3 * c.TableSize + 10], c.MinCodeSize);
    EXPECT_EQ(gif.back(), 0x3B);

    const TDecodedGif decoded = DecodeGif(gif);
    EXPECT_EQ(decoded.MinCodeSize, c.MinCodeSize);
    ASSERT_EQ(decoded.Palette.size(), c.TableSize);
    EXPECT_TRUE(std::equal(palette.begin(), palette.end(), decoded.Palette.begin()));
    for (size_t i = palette.size(); i < decoded.Palette.size(); ++i) {
        EXPECT_EQ(decoded.Palette[i], TRgbColor{}) << "padding entry " << i;
    }
    EXPECT_EQ(decoded.Indices, indices);
}

INSTANTIATE_TEST_SUITE_P(PaletteSizes, GifLayoutTest,
                         testing::Values(TLayoutCase{1, 2, 2}, TLayoutCase{2, 2, 2}, TLayoutCase{3, 4, 2},
                                         TLayoutCase{4, 4, 2}, TLayoutCase{5, 8, 3}, TLayoutCase{8, 8, 3},
                                         TLayoutCase{9, 16, 4}, TLayoutCase{16, 16, 4},
                                         TLayoutCase{17, 32, 5}, TLayoutCase{64, 64, 6},
                                         TLayoutCase{65, 128, 7}, TLayoutCase{128, 128, 7},
                                         TLayoutCase{129, 256, 8}, TLayoutCase{256, 256, 8}));

// ---------------------------------------------------------------------------------------------------
// Indexed round trips

struct TIndexedCase {
    uint32_t Width;
    uint32_t Height;
    size_t PaletteSize;
    TPattern Pattern;
};

class IndexedRoundTripTest : public testing::TestWithParam<TIndexedCase> {};

TEST_P(IndexedRoundTripTest, DecodesToTheSameIndices) {
    const TIndexedCase& c = GetParam();
    std::mt19937 random(c.Width * 7919 + c.Height);
    const std::vector<TRgbColor> palette = RandomPalette(random, c.PaletteSize);
    const std::vector<uint8_t> indices = MakeIndices(random, c.Width, c.Height, c.PaletteSize, c.Pattern);
    const TDecodedGif decoded = DecodeGif(EncodeGifIndexed({c.Width, c.Height, indices, 0, palette}));
    EXPECT_EQ(decoded.ScreenWidth, c.Width);
    EXPECT_EQ(decoded.ScreenHeight, c.Height);
    EXPECT_EQ(decoded.Width, c.Width);
    EXPECT_EQ(decoded.Height, c.Height);
    EXPECT_TRUE(decoded.Indices == indices);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, IndexedRoundTripTest,
    testing::Values(TIndexedCase{1, 1, 1, TPattern::Constant}, TIndexedCase{1, 1, 256, TPattern::Noise},
                    TIndexedCase{2, 1, 2, TPattern::Noise}, TIndexedCase{1, 2, 3, TPattern::Noise},
                    TIndexedCase{3, 5, 4, TPattern::Runs}, TIndexedCase{7, 3, 16, TPattern::Noise},
                    TIndexedCase{17, 1, 5, TPattern::Ramp}, TIndexedCase{1, 17, 9, TPattern::Noise},
                    TIndexedCase{255, 3, 256, TPattern::Ramp}, TIndexedCase{301, 199, 2, TPattern::Noise},
                    TIndexedCase{301, 199, 37, TPattern::Runs}, TIndexedCase{640, 480, 256, TPattern::Runs},
                    // Enough incompressible data to fill the 4096-code table many times over.
                    TIndexedCase{512, 512, 256, TPattern::Noise}, TIndexedCase{1000, 700, 4, TPattern::Noise},
                    // One colour: strings grow by one pixel per code until the table is full.
                    TIndexedCase{3001, 2999, 1, TPattern::Constant},
                    TIndexedCase{65535, 1, 7, TPattern::Runs}, TIndexedCase{1, 65535, 200, TPattern::Noise}));

TEST(IndexedRandomTest, SeededRandomPicturesDecodeExactly) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<uint32_t> widths(1, 300);
    std::uniform_int_distribution<uint32_t> heights(1, 200);
    std::uniform_int_distribution<size_t> paletteSizes(1, 256);
    std::uniform_int_distribution<int> patterns(0, 3);
    for (int round = 0; round < 150; ++round) {
        const uint32_t width = widths(random);
        const uint32_t height = heights(random);
        const size_t paletteSize = paletteSizes(random);
        const TPattern pattern = static_cast<TPattern>(patterns(random));
        const std::vector<TRgbColor> palette = RandomPalette(random, paletteSize);
        const std::vector<uint8_t> indices = MakeIndices(random, width, height, paletteSize, pattern);
        SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(width) + " x " +
                     std::to_string(height) + ", " + std::to_string(paletteSize) + " colours");
        const TDecodedGif decoded = DecodeGif(EncodeGifIndexed({width, height, indices, 0, palette}));
        ASSERT_EQ(decoded.Width, width);
        ASSERT_EQ(decoded.Height, height);
        ASSERT_TRUE(decoded.Indices == indices);
    }
}

TEST(IndexedRoundTripTest, RowStrideSkipsPadding) {
    std::mt19937 random(5);
    const uint32_t width = 21;
    const uint32_t height = 9;
    const size_t stride = 24;
    const std::vector<TRgbColor> palette = RandomPalette(random, 10);
    const std::vector<uint8_t> tight = MakeIndices(random, width, height, palette.size(), TPattern::Noise);
    std::vector<uint8_t> padded(stride * (height - 1) + width, 0xEE); // padding would be an invalid index
    for (uint32_t y = 0; y < height; ++y) {
        std::copy_n(&tight[y * width], width, &padded[y * stride]);
    }
    const TDecodedGif decoded = DecodeGif(EncodeGifIndexed({width, height, padded, stride, palette}));
    EXPECT_TRUE(decoded.Indices == tight);
}

// ---------------------------------------------------------------------------------------------------
// True-colour pictures with few colours: lossless

struct TExactCase {
    uint32_t Width;
    uint32_t Height;
    size_t ColorCount;
};

class ExactColorsTest : public testing::TestWithParam<TExactCase> {};

TEST_P(ExactColorsTest, PaletteIsExactlyThePictureColours) {
    const TExactCase& c = GetParam();
    std::mt19937 random(static_cast<uint32_t>(c.ColorCount * 31 + c.Width));
    const std::vector<TRgbColor> colors = RandomPalette(random, c.ColorCount);
    TBitmap bitmap(c.Width, c.Height);
    // Every colour at least once, the rest at random.
    std::uniform_int_distribution<size_t> pick(0, c.ColorCount - 1);
    for (uint32_t i = 0; i < c.Width * c.Height; ++i) {
        bitmap.Set(i % c.Width, i / c.Width, i < c.ColorCount ? colors[i] : colors[pick(random)]);
    }

    const std::vector<uint8_t> gif = EncodeGif(bitmap.View());
    const TDecodedGif decoded = DecodeGif(gif);
    EXPECT_TRUE(Colors(decoded) == Colors(bitmap));
    const std::set<uint32_t> used = [&] {
        std::set<uint32_t> s;
        for (uint8_t index : decoded.Indices) {
            s.insert(index);
        }
        return s;
    }();
    EXPECT_EQ(used.size(), c.ColorCount);
    EXPECT_LT(*used.rbegin(), c.ColorCount) << "the palette holds the picture's colours and nothing more";
    ExportSample("exact" + std::to_string(c.ColorCount), gif, Colors(bitmap), c.Width, c.Height);
}

INSTANTIATE_TEST_SUITE_P(ColourCounts, ExactColorsTest,
                         testing::Values(TExactCase{1, 1, 1}, TExactCase{5, 3, 2}, TExactCase{3, 7, 3},
                                         TExactCase{31, 17, 16}, TExactCase{33, 9, 17},
                                         TExactCase{199, 101, 200}, TExactCase{16, 16, 256},
                                         TExactCase{1280, 800, 256}));

TEST(ExactColorsTest, AlphaByteIsIgnored) {
    TBitmap bitmap = MakeScreenshot(64, 48, 3);
    const std::vector<uint8_t> opaque = EncodeGif(bitmap.View());
    for (size_t i = 3; i < bitmap.Pixels.size(); i += 4) {
        bitmap.Pixels[i] = static_cast<uint8_t>(i * 37);
    }
    EXPECT_TRUE(EncodeGif(bitmap.View()) == opaque);
}

TEST(ExactColorsTest, RowStrideSkipsPadding) {
    const uint32_t width = 5;
    const uint32_t height = 4;
    const size_t stride = 32;
    std::vector<uint8_t> pixels(stride * (height - 1) + width * 4, 0x77); // padding: one more colour
    std::vector<TRgbColor> expected;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const TRgbColor color{static_cast<uint8_t>(x * 50), static_cast<uint8_t>(y * 60), 9};
            uint8_t* p = &pixels[y * stride + x * 4];
            p[0] = color.Blue;
            p[1] = color.Green;
            p[2] = color.Red;
            expected.push_back(color);
        }
    }
    const TDecodedGif decoded = DecodeGif(EncodeGif({width, height, pixels, stride}));
    EXPECT_TRUE(Colors(decoded) == expected);
}

TEST(ExactColorsTest, MaxColorsDecidesBetweenExactAndReduced) {
    TBitmap bitmap(40, 30);
    for (uint32_t y = 0; y < 30; ++y) {
        for (uint32_t x = 0; x < 40; ++x) {
            const uint32_t k = (x / 2 + y) % 20; // 20 colours
            bitmap.Set(
                x, y,
                {static_cast<uint8_t>(k * 12), static_cast<uint8_t>(255 - k * 12), static_cast<uint8_t>(k)});
        }
    }
    const TQuantizedImage exact = QuantizeImage(bitmap.View(), {20, TGifDither::None});
    EXPECT_EQ(exact.Palette.size(), 20u);
    EXPECT_TRUE(Colors(DecodeGif(EncodeGifIndexed(exact.View()))) == Colors(bitmap));

    const TQuantizedImage reduced = QuantizeImage(bitmap.View(), {16, TGifDither::None});
    EXPECT_EQ(reduced.Palette.size(), 16u);
    const TDecodedGif decoded = DecodeGif(EncodeGif(bitmap.View(), {16, TGifDither::None}));
    EXPECT_EQ(decoded.Palette.size(), 16u);
    EXPECT_GT(Psnr(Colors(decoded), Colors(bitmap)), 30.0);
}

// ---------------------------------------------------------------------------------------------------
// True-colour pictures with many colours: quantized

struct TQualityCase {
    const char* Name;
    std::function<TBitmap()> Make;
    TGifDither Dither;
    double MinPsnr;
};

class QuantizerQualityTest : public testing::TestWithParam<TQualityCase> {};

TEST_P(QuantizerQualityTest, StaysCloseToTheSource) {
    const TQualityCase& c = GetParam();
    const TBitmap bitmap = c.Make();
    const std::vector<uint8_t> gif = EncodeGif(bitmap.View(), {256, c.Dither});
    const TDecodedGif decoded = DecodeGif(gif);
    EXPECT_LE(decoded.Palette.size(), 256u);
    const double psnr = Psnr(Colors(decoded), Colors(bitmap));
    EXPECT_GE(psnr, c.MinPsnr);
    ExportSample(c.Name, gif, Colors(decoded), bitmap.Width, bitmap.Height);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, QuantizerQualityTest,
    testing::Values(
        TQualityCase{"screenshot", [] { return MakeScreenshot(1280, 800, 1); }, TGifDither::None, 38.0},
        TQualityCase{"screenshot_fs", [] { return MakeScreenshot(1280, 800, 1); }, TGifDither::FloydSteinberg,
                     35.0},
        TQualityCase{"screenshot_odd", [] { return MakeScreenshot(333, 211, 2); }, TGifDither::None, 36.0},
        TQualityCase{"gradient", [] { return MakeGradient(509, 307); }, TGifDither::None, 36.0},
        TQualityCase{"gradient_fs", [] { return MakeGradient(509, 307); }, TGifDither::FloydSteinberg, 33.0}),
    [](const testing::TestParamInfo<TQualityCase>& test) { return std::string(test.param.Name); });

// Mapping to a given palette gives exactly what a full scan gives: the nearest entry by squared RGB
// distance, the lowest index among equals. Palettes: one entry, duplicates, a tight cluster (many entries
// near each cell), spread entries, and 256 entries; pixels: random, and the corners of the cube.
TEST(NearestColourTest, MappingMatchesAFullScan) {
    std::mt19937 random(20261210);
    auto channel = [&](int low, int high) {
        return static_cast<uint8_t>(std::uniform_int_distribution<int>(low, high)(random));
    };
    std::vector<std::vector<TRgbColor>> palettes;
    palettes.push_back({{128, 128, 128}});
    palettes.push_back({{10, 20, 30}, {10, 20, 30}, {200, 0, 0}, {10, 20, 30}});
    for (size_t size : {17u, 64u, 256u}) {
        std::vector<TRgbColor> spread;
        std::vector<TRgbColor> cluster;
        for (size_t i = 0; i < size; ++i) {
            spread.push_back({channel(0, 255), channel(0, 255), channel(0, 255)});
            cluster.push_back({channel(100, 140), channel(60, 75), channel(0, 255)});
        }
        palettes.push_back(spread);
        palettes.push_back(cluster);
    }
    TBitmap bitmap(64, 64);
    for (uint32_t y = 0; y < bitmap.Height; ++y) {
        for (uint32_t x = 0; x < bitmap.Width; ++x) {
            bitmap.Set(x, y, {channel(0, 255), channel(0, 255), channel(0, 255)});
        }
    }
    for (uint32_t corner = 0; corner < 8; ++corner) {
        bitmap.Set(corner, 0,
                   {static_cast<uint8_t>(corner & 1 ? 255 : 0), static_cast<uint8_t>(corner & 2 ? 255 : 0),
                    static_cast<uint8_t>(corner & 4 ? 255 : 0)});
    }
    for (const std::vector<TRgbColor>& palette : palettes) {
        std::vector<uint8_t> indices(size_t{bitmap.Width} * bitmap.Height);
        MapToPalette(bitmap.View(), palette, indices);
        for (uint32_t y = 0; y < bitmap.Height; ++y) {
            for (uint32_t x = 0; x < bitmap.Width; ++x) {
                const TRgbColor pixel = bitmap.Get(x, y);
                size_t nearest = 0;
                int best = INT_MAX;
                for (size_t i = 0; i < palette.size(); ++i) {
                    const int dr = palette[i].Red - pixel.Red;
                    const int dg = palette[i].Green - pixel.Green;
                    const int db = palette[i].Blue - pixel.Blue;
                    if (dr * dr + dg * dg + db * db < best) {
                        best = dr * dr + dg * dg + db * db;
                        nearest = i;
                    }
                }
                ASSERT_EQ(indices[size_t{y} * bitmap.Width + x], nearest)
                    << "pixel " << x << "," << y << " of a palette of " << palette.size();
            }
        }
    }
}

TEST(QuantizerTest, DominantFlatColoursStayExact) {
    const TBitmap bitmap = MakeScreenshot(640, 400, 9);
    for (TGifDither dither : {TGifDither::None, TGifDither::FloydSteinberg}) {
        const TDecodedGif decoded = DecodeGif(EncodeGif(bitmap.View(), {256, dither}));
        const std::vector<TRgbColor> source = Colors(bitmap);
        const std::vector<TRgbColor> result = Colors(decoded);
        size_t flat = 0;
        for (size_t i = 0; i < source.size(); ++i) {
            const TRgbColor s = source[i];
            if (s == TRgbColor{255, 255, 255} || s == TRgbColor{242, 242, 245}) {
                ++flat;
                ASSERT_EQ(result[i], s) << "pixel " << i << ", dither " << static_cast<int>(dither);
            }
        }
        EXPECT_GT(flat, source.size() / 2);
    }
}

TEST(QuantizerTest, DitheringKeepsAreaAveragesOfGradients) {
    // Few colours make banding large; diffusion should keep the average of each block near the source.
    const TBitmap bitmap = MakeGradient(256, 128);
    auto blockError = [&](TGifDither dither) {
        const TQuantizedImage q = QuantizeImage(bitmap.View(), {8, dither});
        double total = 0;
        for (uint32_t by = 0; by < 128; by += 8) {
            for (uint32_t bx = 0; bx < 256; bx += 8) {
                double diff[3] = {0, 0, 0};
                for (uint32_t y = by; y < by + 8; ++y) {
                    for (uint32_t x = bx; x < bx + 8; ++x) {
                        const TRgbColor s = bitmap.Get(x, y);
                        const TRgbColor r = q.Palette[q.Indices[y * 256 + x]];
                        diff[0] += s.Red - r.Red;
                        diff[1] += s.Green - r.Green;
                        diff[2] += s.Blue - r.Blue;
                    }
                }
                total += std::abs(diff[0]) + std::abs(diff[1]) + std::abs(diff[2]);
            }
        }
        return total / (256 * 128);
    };
    EXPECT_LT(blockError(TGifDither::FloydSteinberg), blockError(TGifDither::None) / 2);
}

TEST(QuantizerTest, SameInputGivesTheSameBytes) {
    const TBitmap bitmap = MakeScreenshot(300, 200, 4);
    for (TGifDither dither : {TGifDither::None, TGifDither::FloydSteinberg}) {
        EXPECT_TRUE(EncodeGif(bitmap.View(), {256, dither}) == EncodeGif(bitmap.View(), {256, dither}));
    }
}

// The encoder's output is fixed for fixed pixels: a change that makes it faster or leaner must not change
// a byte. The pictures are drawn with integer arithmetic only (no library maths, whose last bits may
// differ between runtimes) and take every path of the encoder: exact palettes, a palette reduced from
// the exact colours and one reduced from the binned histogram, each mapped plainly and with diffusion.
// The expected values are the FNV-1a hash and the size of the bytes the encoder gave when they were set.
struct TFixedBytesCase {
    const char* Name;
    std::function<TBitmap()> Make;
    TGifOptions Options;
    uint64_t Hash;
    size_t Size;
};

// A page of flat areas and text: paper, a header in bands of colour, a grey sidebar and lines of "glyphs"
// whose edge pixels are blends of ink and paper in `levels` steps (at most 255), with a small generator for
// the glyph pattern. With a grain above 0, a picture area of that much noise per channel over a gradient.
TBitmap MakeFixedPage(uint32_t width, uint32_t height, uint32_t levels, uint32_t grain) {
    TBitmap bitmap(width, height);
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    const uint32_t header = height / 8;
    const uint32_t sidebar = width * 3 / 4;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            TRgbColor color{255, 255, 255};
            if (y < header) {
                color = {static_cast<uint8_t>(30 + 10 * (8 * x / width)),
                         static_cast<uint8_t>(70 + 10 * (4 * y / header)), 190};
            } else if (x >= sidebar) {
                color = {242, 242, 245};
            }
            bitmap.Set(x, y, color);
        }
    }
    const TRgbColor inks[] = {{20, 20, 20}, {0, 80, 200}, {150, 20, 30}};
    for (uint32_t line = header + 6; line + 12 < height; line += 17) {
        const TRgbColor ink = inks[(line / 17) % 3];
        for (uint32_t y = line; y < line + 10; ++y) {
            for (uint32_t x = 6; x < sidebar - 6; ++x) {
                const uint32_t coverage = next() % 512;
                if ((x / 37) % 7 == 6 || coverage < 200) {
                    continue;
                }
                const uint32_t a = coverage > 400 ? 255 : 255 * (coverage % levels) / (levels - 1);
                const TRgbColor paper = bitmap.Get(x, y);
                auto mix = [a](uint8_t fg, uint8_t bg) {
                    return static_cast<uint8_t>((fg * a + bg * (255 - a)) / 255);
                };
                bitmap.Set(x, y,
                           {mix(ink.Red, paper.Red), mix(ink.Green, paper.Green), mix(ink.Blue, paper.Blue)});
            }
        }
    }
    if (grain > 0) {
        for (uint32_t y = height / 2; y < height - 4; ++y) {
            for (uint32_t x = width / 4; x < sidebar - 4; ++x) {
                auto channel = [&](uint32_t base) {
                    const int value = static_cast<int>(base) + static_cast<int>(next() % (2 * grain + 1)) -
                                      static_cast<int>(grain);
                    return static_cast<uint8_t>(std::clamp(value, 0, 255));
                };
                bitmap.Set(x, y,
                           {channel(40 + 180 * x / width), channel(200 - 150 * y / height),
                            channel(60 + 90 * (x + y) / (width + height))});
            }
        }
    }
    return bitmap;
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 14695981039346656037ull;
    for (uint8_t byte : bytes) {
        hash = (hash ^ byte) * 1099511628211ull;
    }
    return hash;
}

class FixedBytesTest : public testing::TestWithParam<TFixedBytesCase> {};

TEST_P(FixedBytesTest, SamePixelsGiveTheSameBytesAsEver) {
    const TFixedBytesCase& c = GetParam();
    const TBitmap bitmap = c.Make();
    const std::vector<uint8_t> gif = EncodeGif(bitmap.View(), c.Options);
    EXPECT_EQ(gif.size(), c.Size);
    EXPECT_EQ(Fnv1a(gif), c.Hash) << std::hex << "0x" << Fnv1a(gif);
    // The indices the quantizer gives on its own are those the GIF holds.
    EXPECT_TRUE(DecodeGif(gif).Indices == QuantizeImage(bitmap.View(), c.Options).Indices);
}

INSTANTIATE_TEST_SUITE_P(Pictures, FixedBytesTest,
                         testing::Values(TFixedBytesCase{"exact",
                                                         [] { return MakeFixedPage(640, 400, 3, 0); },
                                                         {256, TGifDither::None},
                                                         0xcc4786b24fb206dcull,
                                                         28042},
                                         TFixedBytesCase{"fromExactColours",
                                                         [] { return MakeFixedPage(800, 600, 200, 0); },
                                                         {256, TGifDither::None},
                                                         0x6a6da0f19365cbfcull,
                                                         122442},
                                         TFixedBytesCase{"fromExactColours_fs",
                                                         [] { return MakeFixedPage(800, 600, 200, 0); },
                                                         {256, TGifDither::FloydSteinberg},
                                                         0x16f10bb4c1c437d9ull,
                                                         122405},
                                         TFixedBytesCase{"fromExactColours_64",
                                                         [] { return MakeFixedPage(800, 600, 200, 0); },
                                                         {64, TGifDither::None},
                                                         0xbcac8a3b5dd6b647ull,
                                                         92548},
                                         TFixedBytesCase{"fromHistogram",
                                                         [] { return MakeFixedPage(1000, 700, 200, 20); },
                                                         {256, TGifDither::None},
                                                         0xe063e8dab28cb0e2ull,
                                                         283634},
                                         TFixedBytesCase{"fromHistogram_fs",
                                                         [] { return MakeFixedPage(1000, 700, 200, 20); },
                                                         {256, TGifDither::FloydSteinberg},
                                                         0xf4cb3b067beffdf1ull,
                                                         284010},
                                         TFixedBytesCase{"fromHistogram_16",
                                                         [] { return MakeFixedPage(1000, 700, 200, 20); },
                                                         {16, TGifDither::None},
                                                         0x99e92e927d824bc3ull,
                                                         111213}),
                         [](const testing::TestParamInfo<TFixedBytesCase>& test) {
                             return std::string(test.param.Name);
                         });

// The encoder keeps its working memory from one picture to the next, for any thread: pictures of every
// path and of different sizes, encoded in turn in both orders and on two threads at once, give the bytes
// each gives alone.
TEST(QuantizerTest, PicturesInTurnAndAtOnceGiveTheirOwnBytes) {
    struct TJob {
        TBitmap Bitmap;
        TGifOptions Options;
        std::vector<uint8_t> Alone;
    };
    std::vector<TJob> jobs;
    jobs.push_back({MakeFixedPage(1000, 700, 200, 20), {256, TGifDither::None}, {}});
    jobs.push_back({MakeFixedPage(300, 200, 3, 0), {256, TGifDither::None}, {}});
    jobs.push_back({MakeFixedPage(1000, 700, 200, 20), {256, TGifDither::FloydSteinberg}, {}});
    jobs.push_back({MakeFixedPage(800, 600, 200, 0), {64, TGifDither::None}, {}});
    jobs.push_back({MakeFixedPage(1200, 300, 200, 30), {32, TGifDither::None}, {}});
    jobs.push_back({MakeFixedPage(800, 600, 200, 0), {256, TGifDither::FloydSteinberg}, {}});
    for (TJob& job : jobs) {
        job.Alone = EncodeGif(job.Bitmap.View(), job.Options);
    }
    auto encodeAll = [&jobs](bool backwards, int rounds) {
        size_t mismatches = 0;
        for (int round = 0; round < rounds; ++round) {
            for (size_t i = 0; i < jobs.size(); ++i) {
                const TJob& job = jobs[backwards ? jobs.size() - 1 - i : i];
                if (EncodeGif(job.Bitmap.View(), job.Options) != job.Alone) {
                    ++mismatches;
                }
            }
        }
        return mismatches;
    };
    EXPECT_EQ(encodeAll(true, 1), 0u);
    size_t otherThread = 0;
    test::TTestThread other([&] { otherThread = encodeAll(true, 3); });
    const size_t thisThread = encodeAll(false, 3);
    other.Join();
    EXPECT_EQ(thisThread, 0u);
    EXPECT_EQ(otherThread, 0u);
}

TEST(QuantizerTest, SeededRandomPicturesOfAllSizesDecode) {
    std::mt19937 random(77);
    std::uniform_int_distribution<uint32_t> widths(1, 300);
    std::uniform_int_distribution<uint32_t> heights(1, 200);
    for (int round = 0; round < 40; ++round) {
        const uint32_t width = widths(random);
        const uint32_t height = heights(random);
        TBitmap bitmap(width, height);
        for (size_t i = 0; i < bitmap.Pixels.size(); ++i) {
            bitmap.Pixels[i] = static_cast<uint8_t>(random());
        }
        const TGifDither dither = round % 2 == 0 ? TGifDither::None : TGifDither::FloydSteinberg;
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const TQuantizedImage q = QuantizeImage(bitmap.View(), {256, dither});
        const TDecodedGif decoded = DecodeGif(EncodeGif(bitmap.View(), {256, dither}));
        ASSERT_EQ(decoded.Width, width);
        ASSERT_EQ(decoded.Height, height);
        ASSERT_TRUE(decoded.Indices == q.Indices);
        ASSERT_TRUE(std::equal(q.Palette.begin(), q.Palette.end(), decoded.Palette.begin()));
    }
}

TEST(QuantizerTest, ExtremeShapes) {
    for (const auto& [width, height] : {std::pair<uint32_t, uint32_t>{65535, 1}, {1, 65535}, {2, 30000}}) {
        const TBitmap bitmap = MakeGradient(std::max<uint32_t>(width, 2), std::max<uint32_t>(height, 2));
        TBitmap strip(width, height);
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t x = 0; x < width; ++x) {
                strip.Set(x, y, bitmap.Get(x, y));
            }
        }
        const TDecodedGif decoded = DecodeGif(EncodeGif(strip.View()));
        EXPECT_EQ(decoded.Width, width);
        EXPECT_EQ(decoded.Height, height);
        EXPECT_GT(Psnr(Colors(decoded), Colors(strip)), 30.0);
    }
}

// ---------------------------------------------------------------------------------------------------
// Invalid input

struct TInvalidCase {
    const char* Name;
    std::function<void()> Call;
};

class InvalidInputTest : public testing::TestWithParam<TInvalidCase> {};

TEST_P(InvalidInputTest, Throws) {
    EXPECT_THROW(GetParam().Call(), std::invalid_argument);
}

const std::vector<uint8_t> kBigBuffer(65536 * 4 * 2, 0);
const std::vector<TRgbColor> kTwoColours = {{0, 0, 0}, {255, 255, 255}};

INSTANTIATE_TEST_SUITE_P(
    Cases, InvalidInputTest,
    testing::Values(TInvalidCase{"RgbZeroWidth",
                                 [] {
                                     EncodeGif({0, 1, kBigBuffer, 0});
                                 }},
                    TInvalidCase{"RgbZeroHeight",
                                 [] {
                                     EncodeGif({1, 0, kBigBuffer, 0});
                                 }},
                    TInvalidCase{"RgbTooWide",
                                 [] {
                                     EncodeGif({65536, 1, kBigBuffer, 0});
                                 }},
                    TInvalidCase{"RgbTooTall",
                                 [] {
                                     EncodeGif({1, 65536, kBigBuffer, 0});
                                 }},
                    TInvalidCase{"RgbShortBuffer",
                                 [] {
                                     EncodeGif({100, 100, std::span(kBigBuffer).first(39999), 0});
                                 }},
                    TInvalidCase{"RgbStrideBelowRow",
                                 [] {
                                     EncodeGif({10, 2, kBigBuffer, 39});
                                 }},
                    TInvalidCase{"RgbHugeSizeOverflow",
                                 [] {
                                     EncodeGif({65535, 65535, kBigBuffer, 0});
                                 }},
                    TInvalidCase{"OneColourLimit",
                                 [] {
                                     EncodeGif({2, 2, kBigBuffer, 0}, {1, TGifDither::None});
                                 }},
                    TInvalidCase{"TooManyColoursLimit",
                                 [] {
                                     EncodeGif({2, 2, kBigBuffer, 0}, {257, TGifDither::None});
                                 }},
                    TInvalidCase{"IndexedZeroWidth",
                                 [] {
                                     EncodeGifIndexed({0, 5, kBigBuffer, 0, kTwoColours});
                                 }},
                    TInvalidCase{"IndexedZeroHeight",
                                 [] {
                                     EncodeGifIndexed({5, 0, kBigBuffer, 0, kTwoColours});
                                 }},
                    TInvalidCase{"IndexedTooWide",
                                 [] {
                                     EncodeGifIndexed({65536, 1, kBigBuffer, 0, kTwoColours});
                                 }},
                    TInvalidCase{"IndexedTooTall",
                                 [] {
                                     EncodeGifIndexed({1, 65536, kBigBuffer, 0, kTwoColours});
                                 }},
                    TInvalidCase{
                        "IndexedShortBuffer",
                        [] {
                            EncodeGifIndexed({10, 10, std::span(kBigBuffer).first(99), 0, kTwoColours});
                        }},
                    TInvalidCase{"IndexedStrideBelowRow",
                                 [] {
                                     EncodeGifIndexed({10, 2, kBigBuffer, 9, kTwoColours});
                                 }},
                    TInvalidCase{"IndexedNoPalette",
                                 [] {
                                     EncodeGifIndexed({2, 2, kBigBuffer, 0, {}});
                                 }},
                    TInvalidCase{"IndexedPaletteTooBig",
                                 [] {
                                     const std::vector<TRgbColor> palette(257);
                                     EncodeGifIndexed({2, 2, kBigBuffer, 0, palette});
                                 }},
                    TInvalidCase{"IndexOutsidePalette",
                                 [] {
                                     const std::vector<uint8_t> indices = {0, 1, 2, 1};
                                     EncodeGifIndexed({2, 2, indices, 0, kTwoColours});
                                 }},
                    TInvalidCase{"FirstIndexOutsidePalette",
                                 [] {
                                     const std::vector<uint8_t> indices = {7, 0, 0, 0};
                                     EncodeGifIndexed({2, 2, indices, 0, kTwoColours});
                                 }},
                    TInvalidCase{"LastIndexOutsidePaletteAfterARun",
                                 [] {
                                     const std::vector<uint8_t> indices = {1, 1, 1, 1, 1, 255};
                                     EncodeGifIndexed({3, 2, indices, 0, kTwoColours});
                                 }}),
    [](const testing::TestParamInfo<TInvalidCase>& test) { return std::string(test.param.Name); });

// ---------------------------------------------------------------------------------------------------
// Samples for the external decoders

// Pictures that fill the string table many times over (a repeated tile: long strings; noise: a clear
// code every few thousand pixels) decode exactly, here and (as samples) in ImageMagick and giflib.
TEST(LzwTest, PicturesFillingTheTableManyTimesDecodeExactly) {
    std::mt19937 random(5);
    const std::vector<TRgbColor> palette = RandomPalette(random, 200);
    const std::vector<uint8_t> tile = MakeIndices(random, 256, 24, palette.size(), TPattern::Runs);
    std::vector<uint8_t> tiled(size_t{1024} * 768);
    for (size_t y = 0; y < 768; ++y)
        for (size_t x = 0; x < 1024; ++x)
            tiled[y * 1024 + x] = tile[(y % 24) * 256 + x % 256];
    std::vector<uint8_t> noise = MakeIndices(random, 1024, 768, palette.size(), TPattern::Noise);
    for (const std::vector<uint8_t>* indices : {&tiled, &noise}) {
        const bool repeated = indices == &tiled;
        SCOPED_TRACE(repeated ? "tiled" : "noise");
        const std::vector<uint8_t> gif = EncodeGifIndexed({1024, 768, *indices, 0, palette});
        const TDecodedGif decoded = DecodeGif(gif);
        EXPECT_EQ(*indices, decoded.Indices);
        EXPECT_GT(decoded.Clears, repeated ? 1u : 100u);
        std::vector<TRgbColor> colors;
        for (uint8_t index : *indices) {
            colors.push_back(palette[index]);
        }
        ExportSample(repeated ? "lzw_tiled" : "lzw_noise", gif, colors, 1024, 768);
    }
}

TEST(ExternalDecoderSamples, WriteIndexedSamples) {
    if (std::getenv("ZORBEX_GIF_OUT") == nullptr) {
        GTEST_SKIP() << "ZORBEX_GIF_OUT not set";
    }
    struct TSample {
        uint32_t Width;
        uint32_t Height;
        size_t PaletteSize;
        TPattern Pattern;
    };
    const TSample samples[] = {{1, 1, 1, TPattern::Constant},      {3, 2, 2, TPattern::Noise},
                               {97, 61, 5, TPattern::Runs},        {640, 480, 256, TPattern::Noise},
                               {1001, 777, 1, TPattern::Constant}, {300, 200, 129, TPattern::Runs}};
    std::mt19937 random(11);
    for (const TSample& s : samples) {
        const std::vector<TRgbColor> palette = RandomPalette(random, s.PaletteSize);
        const std::vector<uint8_t> indices = MakeIndices(random, s.Width, s.Height, s.PaletteSize, s.Pattern);
        std::vector<TRgbColor> colors;
        for (uint8_t index : indices) {
            colors.push_back(palette[index]);
        }
        ExportSample("indexed" + std::to_string(s.PaletteSize),
                     EncodeGifIndexed({s.Width, s.Height, indices, 0, palette}), colors, s.Width, s.Height);
    }
}

} // namespace
} // namespace zorbex
