// Single-frame GIF89a encoder: 32-bit DIB pixels or 8-bit palette indices in, GIF file bytes out. Page
// screenshots are its input: mostly flat colours and anti-aliased text, some photographs. It is also the
// library's one nearest-colour mapper (fixed palettes of screenshot formats use it too).
//
// A true-colour picture with at most `MaxColors` distinct colours is written losslessly with exactly
// those colours as its palette. A picture with more colours is reduced first: variance-minimising box
// splitting over a colour histogram, refined by a few k-means passes, then mapped to the palette with
// a nearest-colour cache, optionally with Floyd-Steinberg error diffusion.
//
// The large working buffers (the colour histogram above all) are kept from one picture to the next, at most
// 8 MiB for the process, shared by its threads, and given back when the library's last object goes or the
// library is unloaded: a Windows heap would hand each picture fresh virtual memory and make it fault in
// every page again.
//
// The module is plain standard C++ so it builds natively as well as for Windows (its lock and the hook
// on the library's last object are the only Windows parts). Invalid input (a side
// of 0 or above 65535, a buffer too short for the given size, a bad palette or option) throws
// std::invalid_argument; the encoders never return an empty result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zorbex {

inline constexpr uint32_t kGifMaxSide = 65535;

struct TRgbColor {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;

    friend bool operator==(const TRgbColor&, const TRgbColor&) = default;
};

// A view of true-colour pixels laid out as in a 32-bit top-down DIB section: rows of B, G, R, X bytes.
// The fourth byte (alpha or padding) is ignored.
struct TRgbImage {
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::span<const uint8_t> Pixels;
    size_t Stride = 0; // bytes from one row to the next; 0 means Width * 4
};

// A view of 8-bit palette indices, one byte a pixel, top-down rows. Every index must be below
// Palette.size(), which must be 1..256.
struct TIndexedImage {
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::span<const uint8_t> Indices;
    size_t Stride = 0; // bytes from one row to the next; 0 means Width
    std::span<const TRgbColor> Palette;
};

// An indexed picture that owns its pixels, as produced by QuantizeImage.
struct TQuantizedImage {
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::vector<uint8_t> Indices; // Width * Height, no row padding
    std::vector<TRgbColor> Palette;

    TIndexedImage View() const { return {Width, Height, Indices, Width, Palette}; }
};

enum class TGifDither : uint8_t {
    None,           // nearest palette colour for every pixel: sharpest, highest PSNR
    FloydSteinberg, // serpentine error diffusion: smoother gradients and photos, a little noisier
};

// Dithering is off by default: on web-page screenshots plain nearest-colour mapping measured about 3 dB
// higher PSNR, was about 40% faster and gave smaller files; text and flat areas stay clean either way.
struct TGifOptions {
    uint32_t MaxColors = 256;             // palette size limit, 2..256
    TGifDither Dither = TGifDither::None; // used only when the picture has more than MaxColors colours
};

// Reduces a true-colour picture to at most options.MaxColors palette entries. Lossless when the
// picture has no more distinct colours than that.
TQuantizedImage QuantizeImage(const TRgbImage& image, const TGifOptions& options = {});

// The same, writing one palette index a pixel into `indices` (at least Width * Height bytes, rows
// without padding) and returning the palette. `indices` may be the picture's own memory (a reduction in
// place, which needs no second picture): every index is written only after the pixels it lies over
// were read, as long as the rows of the picture are at least Width * 4 bytes apart.
std::vector<TRgbColor> QuantizeInto(const TRgbImage& image, std::span<uint8_t> indices,
                                    const TGifOptions& options = {});

// The nearest palette colour of every pixel (the smallest squared RGB distance; of equals, the lowest
// index), written into `indices` under the same rules as QuantizeInto. The palette has 1..256 colours.
void MapToPalette(const TRgbImage& image, std::span<const TRgbColor> palette, std::span<uint8_t> indices);

// Encodes a true-colour picture as a single-frame GIF89a: the bytes of QuantizeImage, then EncodeGifIndexed,
// without a picture of indices in between (they are made a row at a time as the coder takes them).
std::vector<uint8_t> EncodeGif(const TRgbImage& image, const TGifOptions& options = {});

// Encodes an indexed picture as a single-frame GIF89a with the given palette as the global colour table
// (padded with black to a power of two).
std::vector<uint8_t> EncodeGifIndexed(const TIndexedImage& image);

} // namespace zorbex
