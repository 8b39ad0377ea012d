// Screenshot captures at growing sizes: the time of each step and the peak private memory of the whole
// capture. A capture runs on the browser's thread inside the browser's 32-bit address space, so both
// its stall and its largest contiguous blocks matter; this prints them for a window at 1920 x 1080, the
// largest picture allowed at 100 % and the stretched captures that used to take seconds.
//
// Steps: "draw" is the view drawing into the bitmap (the page's own painting: here a prepared picture
// copied in), "stretch" the platform's halftone stretch (none at 100 %), "library" everything else of
// CapturePageImage (checks, reduction to palette indices, GIF encoding, the byte array). The peak is the
// process's peak private bytes during the capture less its private bytes before, per output pixel.
//
// Run under Wine: tools/winerun.sh <prefix> CaptureBench.exe [runs]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "com/ComSupportUnit.h"
#include "page/ImageCaptureUnit.h"
#include "support/TestDocumentUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex;

namespace {

using TClock = std::chrono::steady_clock;

double Milliseconds(TClock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Private bytes now and at their peak so far (the peak cannot be reset: a capture's peak is read as
// the growth of the peak over the bytes before it, which holds when each capture is larger than the
// ones before or the peak is read in a fresh process).
struct TMemory {
    double Private = 0;
    double Peak = 0;
};

TMemory ReadMemory() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                           sizeof(counters));
    return {static_cast<double>(counters.PrivateUsage), static_cast<double>(counters.PeakPagefileUsage)};
}

// A page-like picture: white paper, a gradient header, lines of anti-aliased "text" in three inks and a
// photograph-like area of smooth colour and grain (some thousands of colours in all), as 32-bit pixels.
std::vector<DWORD> PagePicture(int width, int height) {
    std::vector<DWORD> pixels(static_cast<size_t>(width) * static_cast<size_t>(height), 0x00FFFFFFu);
    auto at = [&](int x, int y) -> DWORD& {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    };
    auto rgb = [](int r, int g, int b) {
        return static_cast<DWORD>(std::clamp(r, 0, 255) << 16 | std::clamp(g, 0, 255) << 8 | std::clamp(b, 0, 255));
    };
    std::mt19937 random(7);
    const int header = height / 12;
    for (int y = 0; y < header; ++y)
        for (int x = 0; x < width; ++x)
            at(x, y) = rgb(30 + 40 * x / width, 60 + 50 * y / std::max(header, 1), 140 + 90 * x / width);
    const int inks[3][3] = {{20, 20, 20}, {0, 80, 200}, {150, 20, 30}};
    for (int line = header + 10; line + 14 < height; line += 20) {
        const int* ink = inks[(line / 20) % 3];
        for (int y = line; y < line + 12; ++y) {
            for (int x = 12; x < width * 2 / 3; ++x) {
                if ((x / 48) % 7 == 6 || x % 7 == 0)
                    continue;
                const int coverage = static_cast<int>(random() % 256);
                if (coverage < 120)
                    continue;
                const int a = coverage > 200 ? 255 : coverage;
                at(x, y) = rgb((ink[0] * a + 255 * (255 - a)) / 255, (ink[1] * a + 255 * (255 - a)) / 255,
                               (ink[2] * a + 255 * (255 - a)) / 255);
            }
        }
    }
    std::normal_distribution<double> grain(0.0, 4.0);
    for (int y = height / 2; y < height - 8; ++y) {
        for (int x = width * 2 / 3 + 8; x < width - 8; ++x) {
            const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
            at(x, y) = rgb(static_cast<int>(120 + 100 * std::sin(6 * u + 1) + grain(random)),
                           static_cast<int>(140 + 80 * std::cos(5 * v + 2 * u) + grain(random)),
                           static_cast<int>(90 + 60 * std::sin(9 * v) + grain(random)));
        }
    }
    return pixels;
}

struct TCase {
    const char* Name;
    LONG Width;
    LONG Height;
    LONG Percent;
    LONG Format;
};

struct TResult {
    double DrawMs = 0;
    double StretchMs = 0;
    double TotalMs = 0;
    double PeakBytes = 0;
    size_t GifBytes = 0;
};

// One capture, timed as a whole (CapturePageImage) and again step by step.
TResult Capture(const TCase& c, int runs) {
    const std::vector<DWORD> picture = PagePicture(c.Width, c.Height);
    auto dom = std::make_shared<test::TTestDom>();
    dom->Painter = [&](HDC dc, const RECT& bounds) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = c.Width;
        info.bmiHeader.biHeight = -c.Height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        ::SetDIBitsToDevice(dc, bounds.left, bounds.top, static_cast<DWORD>(c.Width), static_cast<DWORD>(c.Height),
                            0, 0, 0, static_cast<UINT>(c.Height), picture.data(), &info, DIB_RGB_COLORS);
        return S_OK;
    };
    ComPtr<IHTMLDocument2> document = test::LoadTestDocument(dom, "<p>bench</p>");
    ComPtr<IViewObject> view;
    document.As(&view);

    TResult result;
    result.TotalMs = result.DrawMs = result.StretchMs = 1e300;
    for (int run = 0; run < runs; ++run) {
        const TMemory before = ReadMemory();
        auto start = TClock::now();
        TVariant image;
        CapturePageImage(view.Get(), c.Width, c.Height, c.Percent, c.Format, image);
        result.TotalMs = std::min(result.TotalMs, Milliseconds(TClock::now() - start));
        const TMemory after = ReadMemory();
        if (run == 0)
            result.PeakBytes = after.Peak - before.Private;
        if (image.Type() == (VT_ARRAY | VT_UI1))
            result.GifBytes = SafeArrayLength(V_ARRAY(image.Ptr()));
        image = TVariant();

        start = TClock::now();
        TBitmap drawn = DrawViewToBitmap(view.Get(), c.Width, c.Height);
        result.DrawMs = std::min(result.DrawMs, Milliseconds(TClock::now() - start));
        start = TClock::now();
        TBitmap scaled = ScaleBitmap(std::move(drawn), c.Percent);
        result.StretchMs = std::min(result.StretchMs, Milliseconds(TClock::now() - start));
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (FAILED(::OleInitialize(nullptr)))
        return 1;
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const TCase cases[] = {
        {"window 1920x1080", 1920, 1080, 100, 7},
        {"window 1920x1080, 8-bit", 1920, 1080, 100, 3},
        {"335x397 at 1000 %", 335, 397, 1000, 7},
        {"1000x600 at 800 %", 1000, 600, 800, 7},
        {"largest: 8192x4882", 8192, 4882, 100, 7},
    };
    std::printf("%-26s %11s | %9s %10s %10s %10s | %9s %9s %10s\n", "capture", "output", "draw ms",
                "stretch ms", "library ms", "total ms", "peak MiB", "bytes/px", "GIF bytes");
    for (const TCase& c : cases) {
        const TResult r = Capture(c, runs);
        const double scaledWidth = std::round(c.Width / 100.0 * c.Percent);
        const double scaledHeight = std::round(c.Height / 100.0 * c.Percent);
        const double pixels = scaledWidth * scaledHeight;
        std::printf("%-26s %5.0fx%-5.0f | %9.1f %10.1f %10.1f %10.1f | %9.1f %9.2f %10zu\n", c.Name, scaledWidth,
                    scaledHeight, r.DrawMs, r.StretchMs, r.TotalMs - r.DrawMs - r.StretchMs, r.TotalMs,
                    r.PeakBytes / 1048576.0, r.PeakBytes / pixels, r.GifBytes);
        std::fflush(stdout);
    }
    ::OleUninitialize();
    return 0;
}
