// Screenshot captures at growing sizes: the time of each step and the peak private memory of the whole
// capture. A capture runs on the browser's thread inside the browser's 32-bit address space, so both
// its stall and its largest contiguous blocks matter; this prints them for a window at 1920 x 1080, the
// largest picture allowed at 100 % and the stretched captures that used to take seconds.
//
// Steps: "draw" is the view drawing into the bitmap (the page's own painting: here a prepared picture
// copied in), "stretch" the platform's halftone stretch alone (StretchBlt between two bitmaps made here;
// none at 100 %), "library" everything else of CapturePageImage (checks, reduction to palette indices,
// GIF encoding, the byte array). A request past the capture bounds yields no image: its line shows the
// stretch it would have cost. The peak is the
// memory the first capture adds at its highest: the process's peak working set during it less its
// working set before (Wine keeps no peak of private bytes; a capture touches all the memory it takes).
// A peak cannot be reset, so each size runs in a process of its own (this program started again with
// --case N), after a small capture that sets up what GDI keeps for good. Times are the CPU time of the
// capturing thread (best of the runs; what the browser's thread spends, whatever else runs on the
// machine), with the granularity of the system's clock tick.
//
// Run under Wine: tools/winerun.sh <prefix> CaptureBench.exe [runs]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
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

// The CPU time of this thread so far, in milliseconds.
double ThreadMilliseconds() {
    FILETIME created{}, ended{}, kernel{}, user{};
    ::GetThreadTimes(::GetCurrentThread(), &created, &ended, &kernel, &user);
    auto ticks = [](const FILETIME& time) {
        return static_cast<double>(static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10000.0;
}

// The working set now and at its peak so far.
struct TMemory {
    double Current = 0;
    double Peak = 0;
};

TMemory ReadMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return {static_cast<double>(counters.WorkingSetSize), static_cast<double>(counters.PeakWorkingSetSize)};
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

    {
        TVariant warmUp;
        CapturePageImage(view.Get(), 64, 64, 100, c.Format, warmUp);
    }
    TResult result;
    result.TotalMs = result.DrawMs = result.StretchMs = 1e300;
    for (int run = 0; run < runs; ++run) {
        const TMemory before = ReadMemory();
        double start = ThreadMilliseconds();
        TVariant image;
        CapturePageImage(view.Get(), c.Width, c.Height, c.Percent, c.Format, image);
        result.TotalMs = std::min(result.TotalMs, ThreadMilliseconds() - start);
        const TMemory after = ReadMemory();
        if (run == 0)
            result.PeakBytes = after.Peak - before.Current;
        if (image.Type() == (VT_ARRAY | VT_UI1))
            result.GifBytes = SafeArrayLength(V_ARRAY(image.Ptr()));
        image = TVariant();

        TBitmap drawn(c.Width, c.Height, TPixelFormat::pf32bit, TBitmap::TRowOrder::TopDown);
        RECTL bounds{0, 0, c.Width, c.Height};
        start = ThreadMilliseconds();
        view->Draw(DVASPECT_CONTENT, 1, nullptr, nullptr, nullptr, drawn.Canvas(), &bounds, nullptr, nullptr, 0);
        ::GdiFlush();
        result.DrawMs = std::min(result.DrawMs, ThreadMilliseconds() - start);
        const LONG width = std::lround(c.Width / 100.0 * c.Percent);
        const LONG height = std::lround(c.Height / 100.0 * c.Percent);
        if (width == c.Width && height == c.Height) {
            result.StretchMs = 0;
            continue;
        }
        TBitmap scaled(width, height, TPixelFormat::pf32bit, TBitmap::TRowOrder::TopDown);
        start = ThreadMilliseconds();
        ::SetStretchBltMode(scaled.Canvas(), HALFTONE);
        ::SetBrushOrgEx(scaled.Canvas(), 0, 0, nullptr);
        ::StretchBlt(scaled.Canvas(), 0, 0, width, height, drawn.Canvas(), 0, 0, c.Width, c.Height, SRCCOPY);
        ::GdiFlush();
        result.StretchMs = std::min(result.StretchMs, ThreadMilliseconds() - start);
    }
    return result;
}

const TCase kCases[] = {
    {"window 1920x1080", 1920, 1080, 100, 7},
    {"window 1920x1080, 8-bit", 1920, 1080, 100, 3},
    {"335x397 at 1000 %", 335, 397, 1000, 7},
    {"2048x2048 at 200 %", 2048, 2048, 200, 7},
    {"1000x600 at 800 %", 1000, 600, 800, 7},
    {"largest: 8192x4096", 8192, 4096, 100, 7},
    {"largest, 8-bit", 8192, 4096, 100, 3},
    {"former largest 8192x4882", 8192, 4882, 100, 7},
};

// Runs one case and prints its line.
void RunCase(const TCase& c, int runs) {
    const TResult r = Capture(c, runs);
    const double scaledWidth = std::round(c.Width / 100.0 * c.Percent);
    const double scaledHeight = std::round(c.Height / 100.0 * c.Percent);
    const double pixels = scaledWidth * scaledHeight;
    if (r.GifBytes == 0) {
        std::printf("%-26s %5.0fx%-5.0f | %9s %10.1f %10s %10.1f | %9.1f %9s %10s\n", c.Name, scaledWidth,
                    scaledHeight, "-", r.StretchMs, "-", r.TotalMs, r.PeakBytes / 1048576.0, "-", "no image");
    } else {
        std::printf("%-26s %5.0fx%-5.0f | %9.1f %10.1f %10.1f %10.1f | %9.1f %9.2f %10zu\n", c.Name, scaledWidth,
                    scaledHeight, r.DrawMs, r.StretchMs, r.TotalMs - r.DrawMs - r.StretchMs, r.TotalMs,
                    r.PeakBytes / 1048576.0, r.PeakBytes / pixels, r.GifBytes);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    int runs = 3;
    int only = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--case" && i + 1 < argc)
            only = std::atoi(argv[++i]);
        else
            runs = std::max(1, std::atoi(argv[i]));
    }
    if (only >= 0) {
        if (FAILED(::OleInitialize(nullptr)) || only >= static_cast<int>(std::size(kCases)))
            return 1;
        RunCase(kCases[only], runs);
        ::OleUninitialize();
        return 0;
    }
    std::printf("%-26s %11s | %9s %10s %10s %10s | %9s %9s %10s\n", "capture", "output", "draw ms",
                "stretch ms", "library ms", "total ms", "peak MiB", "bytes/px", "GIF bytes");
    std::fflush(stdout);
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (size_t i = 0; i < std::size(kCases); ++i) {
        std::wstring command = L"\"" + std::wstring(self) + L"\" --case " + std::to_wstring(i) + L" " +
                               std::to_wstring(runs);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                              &process)) {
            std::fprintf(stderr, "CaptureBench: cannot start case %zu\n", i);
            return 1;
        }
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    return 0;
}
