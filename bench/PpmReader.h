// Reads the pictures the GIF benchmarks share: binary PPM files (P6, 8 bits a channel), as written by
// ImageMagick from the rendered pages. Header-only, because it serves both the Windows benchmark (under
// Wine) and the native one beside the anchors.
#pragma once

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorbex::bench {

struct TPpm {
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::vector<uint8_t> Rgb; // top-down rows of R, G, B
};

// Reads the file at openPath (the path as this program opens it); messages name it as path.
inline TPpm ReadPpm(const std::string& openPath, const std::string& path) {
    std::ifstream file(openPath, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot open " + path);
    auto token = [&] {
        std::string text;
        for (;;) {
            file >> text;
            if (text.empty() || text.front() != '#')
                return text;
            std::getline(file, text);
            text.clear();
        }
    };
    if (token() != "P6")
        throw std::runtime_error(path + " is not a binary PPM");
    TPpm picture;
    picture.Width = static_cast<uint32_t>(std::stoul(token()));
    picture.Height = static_cast<uint32_t>(std::stoul(token()));
    if (token() != "255")
        throw std::runtime_error(path + ": only 8-bit PPM files");
    file.get();
    picture.Rgb.resize(size_t{picture.Width} * picture.Height * 3);
    if (!file.read(reinterpret_cast<char*>(picture.Rgb.data()), static_cast<std::streamsize>(picture.Rgb.size())))
        throw std::runtime_error(path + " is cut short");
    return picture;
}

// The same pixels as the library's bitmaps hold them: B, G, R, 0.
inline std::vector<uint8_t> ToBgrx(const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> bgrx(rgb.size() / 3 * 4);
    for (size_t i = 0, j = 0; i + 2 < rgb.size(); i += 3, j += 4) {
        bgrx[j] = rgb[i + 2];
        bgrx[j + 1] = rgb[i + 1];
        bgrx[j + 2] = rgb[i];
        bgrx[j + 3] = 0;
    }
    return bgrx;
}

} // namespace zorbex::bench
