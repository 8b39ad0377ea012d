// A long browser session: the library loaded, used on two threads and unloaded again and again keeps
// nothing from one cycle to the next (tests/support/SessionUnit.h says what a cycle does). The figures are
// taken after some cycles, when the process's own first-use costs are paid, and again after many more.
// bench/SoakBench.cpp prints the same figures per cycle.
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "com/ZorbexGUI_TLB.h"
#include "support/EnvironmentUnit.h"
#include "support/SessionUnit.h"
#include "support/TestSupport.h"
#include "support/TestThreadUnit.h"

using Microsoft::WRL::ComPtr;
using namespace zorbex::test;

namespace {

// Cycles before the first figures: the system's and the test doubles' own first-use allocations.
constexpr int kWarmUpCycles = 20;
// Cycles between the figures; under an emulator (the 32-bit suite on a 64-bit-only host) fewer, which
// still shows a cost of a few hundred bytes a cycle.
constexpr int kCycles = 2000;
constexpr int kEmulatedCycles = 300;
// What the heap may grow by over the measured cycles without anything kept: its free lists settle
// (the cost before the change was 75 KB a cycle on x64).
constexpr SIZE_T kPrivateGrowthBound = 256 * 1024;
// What other programs may move the session's shared tables by meanwhile (a kept class or menu per cycle
// would move them by thousands).
constexpr long kSharedTableBound = 16;

// Where the library was loaded, for its window class.
HINSTANCE LoadedAt = nullptr;

bool Emulated() {
    const char* mode = std::getenv("ZORBEX_X86_MODE");
    return !kIs64Bit && mode && std::string(mode) == "qemu";
}

TEST(SoakTest, LoadingUsingAndUnloadingAgainAndAgainKeepsNothing) {
    const std::wstring dll = DllPath();
    std::string error;
    for (int cycle = 0; cycle < kWarmUpCycles; ++cycle)
        ASSERT_TRUE(RunSessionCycle(dll, error)) << "warm-up cycle " << cycle << ": " << error;
    {
        TLibrary library(dll);
        LoadedAt = library.Module();
    }
    const TSessionFigures before = SessionFigures();
    const int cycles = Emulated() ? kEmulatedCycles : kCycles;
    for (int cycle = 0; cycle < cycles; ++cycle)
        ASSERT_TRUE(RunSessionCycle(dll, error)) << "cycle " << cycle << ": " << error;
    const TSessionFigures after = SessionFigures();

    std::printf("%d cycles: private committed %zu -> %zu bytes, lowest free TLS slot %lu -> %lu, GDI %ld -> %ld, "
                "USER %ld -> %ld, next class atom %#x -> %#x, next handle %#zx -> %#zx, threads %lu -> %lu\n",
                cycles, static_cast<size_t>(before.PrivateCommitted), static_cast<size_t>(after.PrivateCommitted),
                before.LowestFreeTlsSlot, after.LowestFreeTlsSlot, before.Gdi, after.Gdi, before.User, after.User,
                before.NextClassAtom, after.NextClassAtom, static_cast<size_t>(before.NextHandle),
                static_cast<size_t>(after.NextHandle), before.Threads, after.Threads);
    // Not more than before, within the stated bounds. Other test programs running meanwhile add and remove
    // menus and window-class atoms of the session's shared tables, which moves those two by a few.
    EXPECT_LE(after.PrivateCommitted, before.PrivateCommitted + kPrivateGrowthBound);
    EXPECT_LE(after.LowestFreeTlsSlot, before.LowestFreeTlsSlot);
    EXPECT_LE(after.Gdi, before.Gdi);
    EXPECT_LE(after.User, before.User + kSharedTableBound);
    EXPECT_LE(after.NextClassAtom, before.NextClassAtom + kSharedTableBound);
    EXPECT_LE(after.NextHandle, before.NextHandle);
    EXPECT_LE(after.Threads, before.Threads);
    // The library's window class goes with each unload (the library loads at the same address each time).
    WNDCLASSEXW form{};
    form.cbSize = sizeof(form);
    EXPECT_FALSE(::GetClassInfoExW(LoadedAt, L"TZorbexForm", &form)) << "the forms' window class is left";
}

// A browser makes and ends threads all day while the library stays loaded: what a thread's use took (its
// state for raising errors, its table of recent failures) goes when the thread ends.
TEST(SoakTest, ThreadsThatEndKeepNothing) {
    TLibrary library;
    ComPtr<IClassFactory> factory;
    ComPtr<IIEHKepUtils> utils;
    ASSERT_EQ(S_OK, library.GetClassObject(CLSID_IEHKepUtils, IID_PPV_ARGS(&factory)));
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&utils)));
    // The call raises inside, and its failure is traced, on the calling thread.
    const VARIANT malformed = MalformedVariant();
    const auto threads = [&](int count) {
        for (int i = 0; i < count; ++i) {
            TTestThread thread([&] {
                for (int call = 0; call < 3; ++call)
                    EXPECT_EQ(DISP_E_BADVARTYPE, utils->OpenLinks(malformed, 0));
            });
        }
    };
    threads(20);
    const TSessionFigures before = SessionFigures();
    const int count = Emulated() ? 100 : 500;
    threads(count);
    const TSessionFigures after = SessionFigures();
    std::printf("%d threads: private committed %zu -> %zu bytes, handles %#zx -> %#zx\n", count,
                static_cast<size_t>(before.PrivateCommitted), static_cast<size_t>(after.PrivateCommitted),
                static_cast<size_t>(before.NextHandle), static_cast<size_t>(after.NextHandle));
    // A thread's records took some 1.3 KB: kept, 100 threads would take 130 KB.
    EXPECT_LE(after.PrivateCommitted, before.PrivateCommitted + 64 * 1024);
    EXPECT_LE(after.NextHandle, before.NextHandle);
    EXPECT_LE(after.LowestFreeTlsSlot, before.LowestFreeTlsSlot);
}

} // namespace
