// GIF benchmark: encodes screenshot pictures (binary PPM files) with the library's GIF encoder as the DLL
// runs it (32-bit, under Wine) and through the screenshot path (bitmap, no stretch at 100 %, 32-bit
// format, GIF), and prints the times and sizes. bench/gif_bench.sh renders the pictures, runs this beside
// the anchors' in-process benchmark (AnchorBench) on the same input, and prints the comparison.
//
//   GifBench [--runs N] FILE.ppm...   writes FILE.dll.gif beside each input and prints one line:
//   RESULT <file> <width> <height> <encode ms median> <encode ms best> <capture ms median> <bytes>
//          <encode CPU ms mean>
// The CPU time is this thread's over the timed encodings, divided by their number: unlike the clock, it
// does not count the time other programs of a busy machine had the processor. The system counts it in
// clock ticks (10 ms under Wine), so it is summed over the runs before it is divided.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "PpmReader.h"
#include "page/GifEncoderUnit.h"
#include "page/ImageCaptureUnit.h"

using namespace zorbex;

namespace {

struct TPicture {
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::vector<uint8_t> Bgrx; // top-down rows of B, G, R, X
};

std::string WindowsPath(std::string path) {
    return !path.empty() && path.front() == '/' ? "Z:" + path : path; // Wine maps the Unix root to Z:
}

// A binary PPM as 32-bit pixels.
TPicture ReadPpm(const std::string& path) {
    bench::TPpm ppm = bench::ReadPpm(WindowsPath(path), path);
    return {ppm.Width, ppm.Height, bench::ToBgrx(ppm.Rgb)};
}

template <typename F> double Milliseconds(F&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double ThreadCpuMilliseconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& time) {
        return static_cast<double>(static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10000.0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The screenshot path from a drawn bitmap on: halftone stretch at 100 % (none), 32-bit format, GIF.
std::vector<uint8_t> CapturePath(const TPicture& picture) {
    TBitmap bitmap(static_cast<int>(picture.Width), static_cast<int>(picture.Height), TPixelFormat::pf32bit,
                   TBitmap::TRowOrder::TopDown);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = static_cast<LONG>(picture.Width);
    info.bmiHeader.biHeight = -static_cast<LONG>(picture.Height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    ::SetDIBitsToDevice(bitmap.Canvas(), 0, 0, picture.Width, picture.Height, 0, 0, 0, picture.Height,
                        picture.Bgrx.data(), &info, DIB_RGB_COLORS);
    bitmap = ScaleBitmap(std::move(bitmap), 100);
    return BitmapToGIF(bitmap, TPixelFormat::pf32bit);
}

} // namespace

int main(int argc, char** argv) {
    int runs = 5;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            files.push_back(arg);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: GifBench [--runs N] FILE.ppm...\n");
        return 2;
    }
    try {
        for (const std::string& file : files) {
            const TPicture picture = ReadPpm(file);
            const TRgbImage image{picture.Width, picture.Height, picture.Bgrx, 0};
            std::vector<uint8_t> gif = EncodeGif(image); // warm-up
            std::vector<double> encode, capture;
            double cpu = 0;
            for (int run = 0; run < runs; ++run) {
                const double cpuStart = ThreadCpuMilliseconds();
                encode.push_back(Milliseconds([&] { gif = EncodeGif(image); }));
                cpu += ThreadCpuMilliseconds() - cpuStart;
                capture.push_back(Milliseconds([&] { CapturePath(picture); }));
            }
            const std::string out = file.substr(0, file.rfind('.')) + ".dll.gif";
            std::ofstream(WindowsPath(out), std::ios::binary)
                .write(reinterpret_cast<const char*>(gif.data()), static_cast<std::streamsize>(gif.size()));
            std::printf("RESULT %s %u %u %.1f %.1f %.1f %zu %.1f\n", file.c_str(), picture.Width, picture.Height,
                        Median(encode), *std::min_element(encode.begin(), encode.end()), Median(capture),
                        gif.size(), cpu / runs);
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "GifBench: %s\n", error.what());
        return 1;
    }
    return 0;
}
