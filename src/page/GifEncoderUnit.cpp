// GIF89a encoder: exact palettes for pictures with few colours, a histogram-based quantizer with k-means
// refinement and optional Floyd-Steinberg dithering for the rest, and a hash-table LZW coder.
//
// It is shaped for screenshots taken on the browser's thread: every stage is a pass or two over the
// pixels with no per-pixel allocation, colour lookups go through a direct-mapped cache (a page has few
// distinct colours, so nearly every lookup is a hit), and the indices may overwrite the pixels they come
// from, so a capture needs no second picture.
#include "page/GifEncoderUnit.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

// The same source is also built natively, for the encoder's benchmark (bench/gif_bench.sh).
#ifdef _WIN32
#include "com/ComServerUnit.h"
#include "com/ComSupportUnit.h"
#else
#include <mutex>
#endif

namespace zorbex {

namespace {

constexpr int kLzwMaxBits = 12;
constexpr uint32_t kLzwTableSize = 1u << kLzwMaxBits; // 4096 codes
constexpr uint32_t kMaxPaletteSize = 256;

// Histogram bins keep the top kHistBits bits of each channel; the exact colour sums of a bin give
// its centroid, so a bin holding one colour only still yields that colour exactly.
constexpr int kHistBits = 6;
constexpr uint32_t kHistSide = 1u << kHistBits;
constexpr uint32_t kHistBinCount = kHistSide * kHistSide * kHistSide;
// Pictures with at most this many distinct colours get their palette from the exact colours.
constexpr uint32_t kMaxExactColors = 1u << 15;
// Per-bin sums are 32-bit; sampling rows above this many pixels keeps them from overflowing.
constexpr uint64_t kMaxHistogramPixels = 16000000;

// Passes past the fourth gain less than 0.1 dB on screenshots and cost as much as the rest of the palette
// construction.
constexpr int kKMeansPasses = 4;
// Nearest-colour grids: finer for mapping pixels, where each cell serves many queries, than for the
// k-means passes, where each pass builds a new grid over fewer queries. Both are listed from a coarse
// level of 2^3 cells a channel (TNearestSearch). Measured on photographs (1280x800, 34,000 histogram
// points, 280,000 colours): 4 and 5 bits are the fastest, on both builds.
constexpr int kPaletteSearchCellBits = 4;
constexpr int kPixelSearchCellBits = 5;

constexpr uint32_t kCacheBits = 16;
constexpr uint32_t kCacheEmpty = 0xFFFFFFFFu;

// ---------------------------------------------------------------------------------------------------
// Working memory

// The pool's lock: an SRW lock in the library, which owns no kernel object (zeroed is unlocked).
#ifdef _WIN32
using TPoolLock = SRWLOCK;
using TPoolGuard = TExclusiveLock;
#else
using TPoolLock = std::mutex;
struct TPoolGuard {
    explicit TPoolGuard(std::mutex& lock) : Guard(lock) {}
    std::lock_guard<std::mutex> Guard;
};
#endif

// The large working buffers of a picture (the histogram, the colour table, the colour cache, the search
// grids, the indices EncodeGif codes from) are kept for the next picture rather than given back to the
// heap. A Windows heap serves blocks of this size from fresh virtual memory and decommits them when they
// are freed, so each picture paid a page fault and the zeroing of every page it touched: 4 MiB of
// histogram alone came to 1,024 faults, 20 ms under Wine on a virtual machine (where a fault costs some
// 20 us), as much as the rest of a screenshot's encoding. Smaller blocks stay with the heap, whose lists
// keep them committed. The kept blocks are bounded in number and in bytes; the oldest go first.
class TScratchPool {
public:
    static TScratchPool& Shared() {
        static TScratchPool pool;
#ifdef _WIN32
        // The pool gives everything back when the library's last object goes: a browser process keeps
        // nothing of a screenshot once no toolbar or page object of the library is left.
        static const bool trimmed = [] {
            ComServer().SetIdleHandler([]() noexcept { Shared().Trim(); });
            return true;
        }();
        (void)trimmed;
#endif
        return pool;
    }

    TScratchPool() = default;
    TScratchPool(const TScratchPool&) = delete;
    TScratchPool& operator=(const TScratchPool&) = delete;
    ~TScratchPool() {
        for (size_t i = 0; i < Count; ++i) {
            Free(Kept[i].Memory);
        }
    }

    // At least `bytes` bytes: the smallest kept block that fits and is not more than four times larger,
    // or a new block.
    void* Take(size_t bytes) {
        if (bytes < kMinBytes) {
            return ::operator new(bytes);
        }
        {
            const TPoolGuard lock(Lock);
            size_t pick = Count;
            for (size_t i = 0; i < Count; ++i) {
                const size_t size = Kept[i].Bytes;
                if (size >= bytes && size / 4 <= bytes && (pick == Count || size < Kept[pick].Bytes)) {
                    pick = i;
                }
            }
            if (pick < Count) {
                void* memory = Kept[pick].Memory;
                Remove(pick);
                return memory;
            }
        }
        if (bytes > std::numeric_limits<size_t>::max() - kHeaderBytes) {
            throw std::bad_alloc();
        }
        auto* block = static_cast<uint8_t*>(::operator new(bytes + kHeaderBytes));
        std::memcpy(block, &bytes, sizeof bytes);
        return block + kHeaderBytes;
    }

    // Frees every kept block.
    void Trim() noexcept {
        const TPoolGuard lock(Lock);
        while (Count > 0) {
            Free(Kept[0].Memory);
            Remove(0);
        }
    }

    // Takes back what Take gave for the same `bytes`.
    void Give(void* memory, size_t bytes) noexcept {
        if (bytes < kMinBytes) {
            ::operator delete(memory);
            return;
        }
        size_t size = 0;
        std::memcpy(&size, static_cast<uint8_t*>(memory) - kHeaderBytes, sizeof size);
        if (size > kMaxKeptBytes) {
            Free(memory);
            return;
        }
        const TPoolGuard lock(Lock);
        while (Count == kMaxBlocks || KeptBytes + size > kMaxKeptBytes) {
            Free(Kept[0].Memory);
            Remove(0);
        }
        Kept[Count++] = {memory, size};
        KeptBytes += size;
    }

private:
    // Below this the heap's free lists serve a block again without faults.
    static constexpr size_t kMinBytes = 64 * 1024;
    // The benchmark's screenshots, of every size up to 3840 x 2160, keep 6.4 MiB in 9 blocks at most, 4 MiB
    // of it the histogram: the size of the working set does not grow with the picture's.
    static constexpr size_t kMaxKeptBytes = 8 * 1024 * 1024;
    static constexpr size_t kMaxBlocks = 32;
    // Before each large block: its size, in a space that keeps the block aligned for any element type.
    static constexpr size_t kHeaderBytes = 16;

    struct TBlock {
        void* Memory = nullptr;
        size_t Bytes = 0;
    };

    static void Free(void* memory) noexcept {
        ::operator delete(static_cast<uint8_t*>(memory) - kHeaderBytes);
    }

    void Remove(size_t position) noexcept {
        KeptBytes -= Kept[position].Bytes;
        std::copy(Kept.begin() + static_cast<std::ptrdiff_t>(position) + 1,
                  Kept.begin() + static_cast<std::ptrdiff_t>(Count),
                  Kept.begin() + static_cast<std::ptrdiff_t>(position));
        --Count;
    }

    TPoolLock Lock{};
    std::array<TBlock, kMaxBlocks> Kept{}; // oldest first
    size_t Count = 0;
    size_t KeptBytes = 0;
};

// The allocator of every working buffer.
template <typename T> class TScratchAllocator {
public:
    using value_type = T;

    TScratchAllocator() = default;
    template <typename U> TScratchAllocator(const TScratchAllocator<U>&) noexcept {}

    T* allocate(size_t count) {
        if (count > std::numeric_limits<size_t>::max() / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        return static_cast<T*>(TScratchPool::Shared().Take(count * sizeof(T)));
    }
    void deallocate(T* memory, size_t count) noexcept {
        TScratchPool::Shared().Give(memory, count * sizeof(T));
    }

    template <typename U>
    friend bool operator==(const TScratchAllocator&, const TScratchAllocator<U>&) noexcept {
        return true;
    }
};

template <typename T> using TScratchVector = std::vector<T, TScratchAllocator<T>>;

// ---------------------------------------------------------------------------------------------------
// Input checks

void CheckSize(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > kGifMaxSide || height > kGifMaxSide) {
        throw std::invalid_argument("GIF image size " + std::to_string(width) + " x " +
                                    std::to_string(height) + " is outside 1..65535");
    }
}

size_t CheckBuffer(size_t bufferSize, uint32_t width, uint32_t height, size_t stride, uint32_t pixelBytes) {
    const uint64_t rowBytes = uint64_t{width} * pixelBytes;
    const uint64_t effectiveStride = stride == 0 ? rowBytes : stride;
    if (effectiveStride < rowBytes) {
        throw std::invalid_argument("GIF image stride is shorter than a row");
    }
    const uint64_t needed = effectiveStride * (height - 1) + rowBytes;
    if (needed > bufferSize) {
        throw std::invalid_argument("GIF image buffer is too small for its size");
    }
    return static_cast<size_t>(effectiveStride);
}

// The stride of a valid true-colour picture and options; throws for invalid ones.
size_t CheckRgbInput(const TRgbImage& image, const TGifOptions& options) {
    CheckSize(image.Width, image.Height);
    const size_t stride = CheckBuffer(image.Pixels.size(), image.Width, image.Height, image.Stride, 4);
    if (options.MaxColors < 2 || options.MaxColors > kMaxPaletteSize) {
        throw std::invalid_argument("GIF palette limit must be 2..256 colours");
    }
    return stride;
}

// 0x00RRGGBB from a B, G, R, X quadruple: one load of the little-endian word, X masked off.
static_assert(std::endian::native == std::endian::little);
inline uint32_t ReadRgb(const uint8_t* pixel) {
    uint32_t word;
    std::memcpy(&word, pixel, sizeof word);
    return word & 0x00FFFFFFu;
}

inline TRgbColor ToColor(uint32_t rgb) {
    return {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)};
}

inline uint32_t HashRgb(uint32_t rgb, uint32_t bits) {
    return (rgb * 2654435761u) >> (32 - bits);
}

// Calls visit(rgb, length) for each run of one colour along a row, left to right, until visit returns
// false; returns whether it got to the end. Pages are mostly runs (paper, flat panels), so the passes that
// count colours do their work once a run instead of once a pixel.
template <typename TVisit> bool ForEachRun(const uint8_t* row, uint32_t width, TVisit&& visit) {
    uint32_t x = 0;
    while (x < width) {
        const uint32_t rgb = ReadRgb(row + x * 4);
        uint32_t run = 1;
        while (x + run < width && ReadRgb(row + (x + run) * 4) == rgb) {
            ++run;
        }
        x += run;
        if (!visit(rgb, run)) {
            return false;
        }
    }
    return true;
}

// How the pixels of a picture become palette indices: a row at a time, top to bottom, each row once. The
// indices of a row may overwrite the row's own pixels: each is written after the pixels it lies over
// were read.
class TRowMapper {
public:
    virtual ~TRowMapper() = default;
    // The Width indices of row y, from its pixels.
    virtual void MapRow(const uint8_t* pixels, uint32_t y, uint8_t* out) = 0;
};

// lookup(rgb) for every pixel, called only where the colour changes along the picture.
template <typename TLookup> class TLookupRows final : public TRowMapper {
public:
    TLookupRows(uint32_t width, TLookup lookup) : Width(width), Lookup(std::move(lookup)) {}

    void MapRow(const uint8_t* pixels, uint32_t, uint8_t* out) override {
        for (uint32_t x = 0; x < Width; ++x) {
            const uint32_t rgb = ReadRgb(pixels + x * 4);
            if (rgb != Last) {
                Last = rgb;
                LastIndex = Lookup(rgb);
            }
            out[x] = LastIndex;
        }
    }

private:
    const uint32_t Width;
    TLookup Lookup;
    uint32_t Last = 0xFFFFFFFFu; // no colour: ReadRgb gives 24 bits
    uint8_t LastIndex = 0;
};

template <typename TLookup> std::unique_ptr<TRowMapper> LookupRows(uint32_t width, TLookup lookup) {
    return std::make_unique<TLookupRows<TLookup>>(width, std::move(lookup));
}

// ---------------------------------------------------------------------------------------------------
// Exact colours

// The distinct colours of a picture with their pixel counts, in order of first appearance, in an
// open-addressing table; collecting gives up past a limit. A page screenshot has a few hundred to some
// thousands of colours (anti-aliased text, gradients): its palette is then built from the exact colours,
// so that neighbouring grey levels of text are not merged before the palette is chosen, and each
// distinct colour is matched to the palette once. Pictures with more colours (photographs) go through
// the binned histogram instead.
class TColorTable {
public:
    explicit TColorTable(uint32_t limit)
        : Limit(limit), Mask(static_cast<uint32_t>(SlotsFor(limit) - 1)), Slots(SlotsFor(limit), kEmpty) {
        Colors.reserve(std::min<size_t>(limit, 1024));
        Counts.reserve(std::min<size_t>(limit, 1024));
    }

    // Counts the colours of the picture; false (the table then incomplete) at the first colour past the limit.
    bool Collect(const TRgbImage& image, size_t stride) {
        for (uint32_t y = 0; y < image.Height; ++y) {
            const uint8_t* row = image.Pixels.data() + y * stride;
            const bool complete = ForEachRun(row, image.Width, [this](uint32_t rgb, uint32_t run) {
                uint32_t& slot = Slots[Find(rgb)];
                if (slot == kEmpty) {
                    if (Colors.size() == Limit) {
                        return false;
                    }
                    slot = static_cast<uint32_t>(Colors.size());
                    Colors.push_back(rgb);
                    Counts.push_back(0);
                }
                Counts[slot] += run;
                return true;
            });
            if (!complete) {
                return false;
            }
        }
        Indices.assign(Colors.size(), 0);
        return true;
    }

    size_t Count() const { return Colors.size(); }
    TRgbColor Color(size_t position) const { return ToColor(Colors[position]); }
    uint64_t Pixels(size_t position) const { return Counts[position]; }
    // The palette index of the colour at this position (0 until set).
    void SetIndex(size_t position, uint8_t index) { Indices[position] = index; }

    // The palette index of a colour of the picture.
    uint8_t IndexOf(uint32_t rgb) const { return Indices[Slots[Find(rgb)]]; }

private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

    // A power of two at least twice the limit: the load factor stays at most one half.
    static size_t SlotsFor(uint32_t limit) {
        size_t slots = 64;
        while (slots < size_t{limit} * 2) {
            slots *= 2;
        }
        return slots;
    }

    uint32_t Find(uint32_t rgb) const {
        uint32_t slot = (rgb * 2654435761u) & Mask;
        while (Slots[slot] != kEmpty && Colors[Slots[slot]] != rgb) {
            slot = (slot + 1) & Mask;
        }
        return slot;
    }

    const uint32_t Limit;
    const uint32_t Mask;
    TScratchVector<uint32_t> Slots;  // position in Colors, or kEmpty
    TScratchVector<uint32_t> Colors; // 0x00RRGGBB, in order of first appearance
    TScratchVector<uint64_t> Counts; // pixels of each colour
    TScratchVector<uint8_t> Indices; // palette index of each colour
};

// ---------------------------------------------------------------------------------------------------
// Nearest-colour search

// Nearest palette entry by squared RGB distance. Colour space is cut into cells, 2^cellBits a channel;
// the first query in a cell lists the entries that can be nearest to some point of it (those no farther
// from the cell than the least farthest distance of any entry), later queries scan only that list. Ties
// go to the lowest palette index, as a full scan would give.
//
// Fine cells are listed from the list of the coarse cell around them rather than from the whole palette:
// an entry that can be nearest somewhere in the fine cell can be nearest somewhere in the coarse one,
// and the entry with the least farthest distance is on the list too, so the lists come out the same at a
// fraction of the cost. (A photograph touches thousands of fine cells.)
class TNearestSearch {
public:
    TNearestSearch(std::span<const TRgbColor> palette, int cellBits)
        : CellBits(cellBits), CellShift(8 - cellBits), CellStart(size_t{1} << (3 * cellBits), -1),
          CellSize(size_t{1} << (3 * cellBits), 0) {
        if (cellBits > kCoarseCellBits) {
            Parent = std::make_unique<TNearestSearch>(palette, kCoarseCellBits);
        } else {
            for (size_t i = 0; i < palette.size(); ++i) {
                Entries.push_back(
                    {palette[i].Red, palette[i].Green, palette[i].Blue, static_cast<uint8_t>(i)});
            }
        }
        Candidates.reserve(palette.size() * 16);
    }

    int Find(int red, int green, int blue) {
        const std::span<const TCandidate> candidates = CellOf(red, green, blue);
        int best = INT_MAX;
        int bestIndex = 0;
        for (const TCandidate& candidate : candidates) {
            const int dr = candidate.Red - red;
            const int dg = candidate.Green - green;
            const int db = candidate.Blue - blue;
            const int d = dr * dr + dg * dg + db * db;
            if (d < best) {
                best = d;
                bestIndex = candidate.Index;
            }
        }
        return bestIndex;
    }

private:
    static constexpr int kCoarseCellBits = 3;

    struct TCandidate {
        uint8_t Red;
        uint8_t Green;
        uint8_t Blue;
        uint8_t Index;
    };

    // The candidate list of the cell holding this colour, built on first use.
    std::span<const TCandidate> CellOf(int red, int green, int blue) {
        const uint32_t cell = static_cast<uint32_t>((red >> CellShift) << (2 * CellBits) |
                                                    (green >> CellShift) << CellBits | (blue >> CellShift));
        if (CellStart[cell] < 0) {
            BuildCell(cell, Parent ? Parent->CellOf(red, green, blue) : std::span<const TCandidate>(Entries));
        }
        return {Candidates.data() + CellStart[cell], CellSize[cell]};
    }

    // Lists the entries of source (in palette order) that can be nearest to some point of the cell.
    void BuildCell(uint32_t cell, std::span<const TCandidate> source) {
        std::array<int, 3> lows{}; // the lowest red, green and blue of the cell
        for (size_t axis = 0; axis < 3; ++axis) {
            const uint32_t shift = static_cast<uint32_t>(CellBits) * static_cast<uint32_t>(2 - axis);
            lows[axis] = static_cast<int>((cell >> shift) & ((1u << CellBits) - 1)) << CellShift;
        }
        const int span = (1 << CellShift) - 1;
        // Squared distances from an entry to the nearest and to the farthest point of the cell.
        auto nearestInCell = [&](const TCandidate& entry) {
            const std::array<int, 3> values{entry.Red, entry.Green, entry.Blue};
            int sum = 0;
            for (size_t axis = 0; axis < 3; ++axis) {
                const int gap =
                    std::max(lows[axis] - values[axis], 0) + std::max(values[axis] - lows[axis] - span, 0);
                sum += gap * gap;
            }
            return sum;
        };
        auto farthestInCell = [&](const TCandidate& entry) {
            const std::array<int, 3> values{entry.Red, entry.Green, entry.Blue};
            int sum = 0;
            for (size_t axis = 0; axis < 3; ++axis) {
                const int gap = std::max(values[axis] - lows[axis], lows[axis] + span - values[axis]);
                sum += gap * gap;
            }
            return sum;
        };
        int bound = INT_MAX;
        for (const TCandidate& entry : source) {
            bound = std::min(bound, farthestInCell(entry));
        }
        CellStart[cell] = static_cast<int32_t>(Candidates.size());
        for (const TCandidate& entry : source) {
            if (nearestInCell(entry) <= bound) {
                Candidates.push_back(entry);
            }
        }
        CellSize[cell] = static_cast<uint16_t>(Candidates.size() - static_cast<size_t>(CellStart[cell]));
    }

    const int CellBits;
    const int CellShift;
    std::unique_ptr<TNearestSearch> Parent; // the coarse level, for fine cells
    std::vector<TCandidate> Entries;        // the whole palette, for coarse cells
    TScratchVector<int32_t> CellStart;
    TScratchVector<uint16_t> CellSize;
    TScratchVector<TCandidate> Candidates;
};

// Direct-mapped cache in front of TNearestSearch, keyed by the exact 24-bit colour. A slot packs the
// colour and its palette index into one word.
class TColorCache {
public:
    explicit TColorCache(TNearestSearch& search)
        : Search(search), Slots(size_t{1} << kCacheBits, kCacheEmpty) {}

    uint8_t Find(uint32_t rgb) {
        uint32_t& slot = Slots[HashRgb(rgb, kCacheBits)];
        if ((slot >> 8) == rgb && slot != kCacheEmpty) {
            return static_cast<uint8_t>(slot);
        }
        const int index = Search.Find(static_cast<int>(rgb >> 16), static_cast<int>((rgb >> 8) & 0xFF),
                                      static_cast<int>(rgb & 0xFF));
        slot = rgb << 8 | static_cast<uint32_t>(index);
        return static_cast<uint8_t>(index);
    }

private:
    TNearestSearch& Search;
    TScratchVector<uint32_t> Slots;
};

// ---------------------------------------------------------------------------------------------------
// Palette construction

struct TPoint {
    float Red;
    float Green;
    float Blue;
    float Weight;

    float Channel(int axis) const { return axis == 0 ? Red : (axis == 1 ? Green : Blue); }
};

struct TBox {
    uint32_t Begin;
    uint32_t End;
    double Sse;
};

struct TMoments {
    double Weight = 0;
    double Sum[3] = {0, 0, 0};
    double SumSquares = 0; // over all three channels

    void Add(const TPoint& p) {
        const double w = p.Weight;
        Weight += w;
        Sum[0] += w * p.Red;
        Sum[1] += w * p.Green;
        Sum[2] += w * p.Blue;
        SumSquares += w * (double{p.Red} * p.Red + double{p.Green} * p.Green + double{p.Blue} * p.Blue);
    }

    double Sse() const {
        if (Weight <= 0) {
            return 0;
        }
        return SumSquares - (Sum[0] * Sum[0] + Sum[1] * Sum[1] + Sum[2] * Sum[2]) / Weight;
    }
};

TScratchVector<TPoint> BuildHistogram(const TRgbImage& image, size_t stride) {
    struct TBin {
        uint32_t Count;
        uint32_t Red;
        uint32_t Green;
        uint32_t Blue;
    };
    TScratchVector<TBin> bins(kHistBinCount, TBin{0, 0, 0, 0});

    const uint64_t pixelCount = uint64_t{image.Width} * image.Height;
    const uint32_t rowStep =
        static_cast<uint32_t>((pixelCount + kMaxHistogramPixels - 1) / kMaxHistogramPixels);
    constexpr int kDrop = 8 - kHistBits;
    for (uint32_t y = 0; y < image.Height; y += rowStep) {
        ForEachRun(image.Pixels.data() + y * stride, image.Width, [&bins](uint32_t rgb, uint32_t run) {
            const uint32_t r = rgb >> 16;
            const uint32_t g = (rgb >> 8) & 0xFF;
            const uint32_t b = rgb & 0xFF;
            TBin& bin = bins[(r >> kDrop) << (2 * kHistBits) | (g >> kDrop) << kHistBits | (b >> kDrop)];
            bin.Count += run;
            bin.Red += r * run;
            bin.Green += g * run;
            bin.Blue += b * run;
            return true;
        });
    }

    TScratchVector<TPoint> points;
    for (const TBin& bin : bins) {
        if (bin.Count != 0) {
            const float count = static_cast<float>(bin.Count);
            points.push_back({static_cast<float>(bin.Red) / count, static_cast<float>(bin.Green) / count,
                              static_cast<float>(bin.Blue) / count, count});
        }
    }
    return points;
}

// Splits the box with the largest squared error at the cut, over all three channels, that leaves the least
// squared error in the two halves, until there are maxColors boxes or nothing left to split. Cuts are
// searched on whole channel values: one pass fills 3 x 256 moment buckets, a scan of each finds the best
// cut, and a partition moves the points. No sorting.
std::vector<TBox> SplitBoxes(TScratchVector<TPoint>& points, uint32_t maxColors) {
    struct TCut {
        int Axis = -1;
        size_t Value = 0; // points with channel <= Value go left
        double LeftSse = 0;
        double RightSse = 0;
    };
    std::vector<TMoments> buckets(3 * 256);
    auto bucketOf = [](float value) { return std::min(static_cast<size_t>(value), size_t{255}); };

    // Only the buckets between a box's lowest and highest value on each axis are cleared and scanned:
    // most boxes are small, and clearing all 768 for each would cost more than the cuts themselves.
    auto findCut = [&](const TBox& box) {
        std::array<size_t, 3> low{255, 255, 255};
        std::array<size_t, 3> high{0, 0, 0};
        for (uint32_t i = box.Begin; i < box.End; ++i) {
            const TPoint& p = points[i];
            const std::array<size_t, 3> values{bucketOf(p.Red), bucketOf(p.Green), bucketOf(p.Blue)};
            for (size_t axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], values[axis]);
                high[axis] = std::max(high[axis], values[axis]);
            }
        }
        for (size_t axis = 0; axis < 3; ++axis) {
            if (low[axis] <= high[axis]) {
                std::fill(buckets.begin() + static_cast<std::ptrdiff_t>(axis * 256 + low[axis]),
                          buckets.begin() + static_cast<std::ptrdiff_t>(axis * 256 + high[axis] + 1),
                          TMoments{});
            }
        }
        TMoments total;
        for (uint32_t i = box.Begin; i < box.End; ++i) {
            const TPoint& p = points[i];
            buckets[bucketOf(p.Red)].Add(p);
            buckets[256 + bucketOf(p.Green)].Add(p);
            buckets[512 + bucketOf(p.Blue)].Add(p);
            total.Add(p);
        }
        TCut best;
        double bestSse = 0;
        for (size_t axis = 0; axis < 3; ++axis) {
            TMoments left;
            for (size_t value = low[axis]; value < high[axis]; ++value) {
                const TMoments& bucket = buckets[axis * 256 + value];
                if (bucket.Weight == 0) {
                    continue;
                }
                left.Weight += bucket.Weight;
                left.SumSquares += bucket.SumSquares;
                for (int c = 0; c < 3; ++c) {
                    left.Sum[c] += bucket.Sum[c];
                }
                TMoments right;
                right.Weight = total.Weight - left.Weight;
                if (right.Weight <= 0) {
                    break;
                }
                right.SumSquares = total.SumSquares - left.SumSquares;
                for (int c = 0; c < 3; ++c) {
                    right.Sum[c] = total.Sum[c] - left.Sum[c];
                }
                const double leftSse = left.Sse();
                const double rightSse = right.Sse();
                if (best.Axis < 0 || leftSse + rightSse < bestSse) {
                    best = {static_cast<int>(axis), value, leftSse, rightSse};
                    bestSse = leftSse + rightSse;
                }
            }
        }
        return best;
    };

    const uint32_t count = static_cast<uint32_t>(points.size());
    std::vector<TBox> boxes;
    std::vector<TCut> cuts;
    boxes.push_back({0, count, 0});
    cuts.push_back(findCut(boxes[0]));
    {
        TMoments total;
        for (const TPoint& p : points) {
            total.Add(p);
        }
        boxes[0].Sse = total.Sse();
    }
    while (boxes.size() < maxColors) {
        size_t pick = boxes.size();
        double worst = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (cuts[i].Axis >= 0 && boxes[i].Sse > worst) {
                worst = boxes[i].Sse;
                pick = i;
            }
        }
        if (pick == boxes.size()) {
            break;
        }
        const TBox box = boxes[pick];
        const TCut cut = cuts[pick];
        const auto middle =
            std::partition(points.begin() + static_cast<ptrdiff_t>(box.Begin), points.begin() + static_cast<ptrdiff_t>(box.End),
                           [&](const TPoint& p) { return bucketOf(p.Channel(cut.Axis)) <= cut.Value; });
        const uint32_t split = static_cast<uint32_t>(middle - points.begin());
        boxes[pick] = {box.Begin, split, std::max(0.0, cut.LeftSse)};
        boxes.push_back({split, box.End, std::max(0.0, cut.RightSse)});
        cuts[pick] = findCut(boxes[pick]);
        cuts.push_back(findCut(boxes.back()));
    }
    return boxes;
}

TRgbColor RoundColor(double red, double green, double blue) {
    auto channel = [](double v) { return static_cast<uint8_t>(std::clamp(v + 0.5, 0.0, 255.0)); };
    return {channel(red), channel(green), channel(blue)};
}

// Box centroids, then a few Lloyd (k-means) passes over the histogram points.
std::vector<TRgbColor> BuildPalette(TScratchVector<TPoint>& points, uint32_t maxColors) {
    const std::vector<TBox> boxes = SplitBoxes(points, maxColors);
    std::vector<TRgbColor> palette;
    palette.reserve(boxes.size());
    for (const TBox& box : boxes) {
        TMoments m;
        for (uint32_t i = box.Begin; i < box.End; ++i) {
            m.Add(points[i]);
        }
        palette.push_back(RoundColor(m.Sum[0] / m.Weight, m.Sum[1] / m.Weight, m.Sum[2] / m.Weight));
    }

    std::vector<TMoments> clusters(palette.size());
    TScratchVector<uint8_t> assignment(points.size(), 0);
    for (int pass = 0; pass < kKMeansPasses; ++pass) {
        TNearestSearch search(palette, kPaletteSearchCellBits);
        std::fill(clusters.begin(), clusters.end(), TMoments{});
        bool changed = pass == 0;
        for (size_t i = 0; i < points.size(); ++i) {
            const TPoint& p = points[i];
            const auto index = static_cast<uint8_t>(search.Find(static_cast<int>(p.Red + 0.5f),
                                                                static_cast<int>(p.Green + 0.5f),
                                                                static_cast<int>(p.Blue + 0.5f)));
            if (assignment[i] != index) {
                assignment[i] = index;
                changed = true;
            }
            clusters[index].Add(p);
        }
        if (!changed) {
            break;
        }
        for (size_t k = 0; k < palette.size(); ++k) {
            const TMoments& m = clusters[k];
            if (m.Weight > 0) {
                palette[k] = RoundColor(m.Sum[0] / m.Weight, m.Sum[1] / m.Weight, m.Sum[2] / m.Weight);
            }
        }
    }
    return palette;
}

// ---------------------------------------------------------------------------------------------------
// Mapping pixels to the palette

// Floyd-Steinberg with serpentine scan. Errors are kept in sixteenths in two rows of int32, with one
// spare cell at each end so the kernel needs no edge tests.
class TDiffusedRows final : public TRowMapper {
public:
    TDiffusedRows(uint32_t width, std::span<const TRgbColor> palette, TColorCache& cache)
        : Width(width), Palette(palette), Cache(cache), Current((size_t{width} + 2) * 3, 0),
          Next((size_t{width} + 2) * 3, 0) {}

    void MapRow(const uint8_t* row, uint32_t y, uint8_t* outRow) override {
        const bool forward = (y & 1) == 0;
        const int step = forward ? 1 : -1;
        std::fill(Next.begin(), Next.end(), 0);
        for (uint32_t i = 0; i < Width; ++i) {
            const uint32_t x = forward ? i : Width - 1 - i;
            const uint8_t* pixel = row + x * 4;
            int32_t* err = Current.data() + (x + 1) * 3;
            // A colour the palette holds exactly is kept and the error reaching it dropped: flat areas
            // and text stay clean, only colours the palette lacks get dithered.
            const uint32_t source = ReadRgb(pixel);
            if (source != LastSource) {
                LastSource = source;
                LastIndex = Cache.Find(source);
                LastExact = Palette[LastIndex] == ToColor(source);
            }
            if (LastExact) {
                outRow[x] = LastIndex;
                continue;
            }
            const int red = std::clamp(int{pixel[2]} + ((err[0] + 8) >> 4), 0, 255);
            const int green = std::clamp(int{pixel[1]} + ((err[1] + 8) >> 4), 0, 255);
            const int blue = std::clamp(int{pixel[0]} + ((err[2] + 8) >> 4), 0, 255);
            const uint8_t index = Cache.Find(static_cast<uint32_t>(red << 16 | green << 8 | blue));
            outRow[x] = index;

            const int diff[3] = {red - Palette[index].Red, green - Palette[index].Green,
                                 blue - Palette[index].Blue};
            int32_t* ahead = err + step * 3;
            int32_t* below = Next.data() + (x + 1) * 3;
            int32_t* belowBehind = below - step * 3;
            int32_t* belowAhead = below + step * 3;
            for (int c = 0; c < 3; ++c) {
                ahead[c] += diff[c] * 7;
                belowBehind[c] += diff[c] * 3;
                below[c] += diff[c] * 5;
                belowAhead[c] += diff[c];
            }
        }
        Current.swap(Next);
    }

private:
    const uint32_t Width;
    const std::span<const TRgbColor> Palette;
    TColorCache& Cache;
    TScratchVector<int32_t> Current;
    TScratchVector<int32_t> Next;
    uint32_t LastSource = 0xFFFFFFFFu;
    uint8_t LastIndex = 0;
    bool LastExact = false;
};

// A picture's palette and how its pixels map to it, with what the mapping looks colours up in.
struct TQuantization {
    std::vector<TRgbColor> Palette;
    std::unique_ptr<TColorTable> Colors;
    std::unique_ptr<TNearestSearch> Search;
    std::unique_ptr<TColorCache> Cache;
    std::unique_ptr<TRowMapper> Rows; // last: destroyed first
};

// Few enough colours: the palette is exactly the picture's colours (up to MaxColors), or is built from
// them, and each colour is matched once. More: the palette is built from the binned histogram and the
// pixels are matched through the colour cache.
TQuantization Quantize(const TRgbImage& image, size_t stride, const TGifOptions& options) {
    TQuantization q;
    q.Colors = std::make_unique<TColorTable>(kMaxExactColors);
    if (q.Colors->Collect(image, stride)) {
        TColorTable& colors = *q.Colors;
        if (colors.Count() <= options.MaxColors) {
            for (size_t i = 0; i < colors.Count(); ++i) {
                q.Palette.push_back(colors.Color(i));
                colors.SetIndex(i, static_cast<uint8_t>(i));
            }
        } else {
            {
                TScratchVector<TPoint> points;
                points.reserve(colors.Count());
                for (size_t i = 0; i < colors.Count(); ++i) {
                    const TRgbColor color = colors.Color(i);
                    points.push_back({static_cast<float>(color.Red), static_cast<float>(color.Green),
                                      static_cast<float>(color.Blue), static_cast<float>(colors.Pixels(i))});
                }
                q.Palette = BuildPalette(points, options.MaxColors);
            }
            q.Search = std::make_unique<TNearestSearch>(q.Palette, kPixelSearchCellBits);
            if (options.Dither == TGifDither::FloydSteinberg) {
                q.Cache = std::make_unique<TColorCache>(*q.Search);
                q.Rows = std::make_unique<TDiffusedRows>(image.Width, q.Palette, *q.Cache);
                return q;
            }
            for (size_t i = 0; i < colors.Count(); ++i) {
                const TRgbColor color = colors.Color(i);
                colors.SetIndex(i, static_cast<uint8_t>(q.Search->Find(color.Red, color.Green, color.Blue)));
            }
        }
        q.Rows = LookupRows(image.Width, [&colors](uint32_t rgb) { return colors.IndexOf(rgb); });
        return q;
    }
    q.Colors.reset();

    {
        TScratchVector<TPoint> points = BuildHistogram(image, stride);
        q.Palette = BuildPalette(points, options.MaxColors);
    }
    q.Search = std::make_unique<TNearestSearch>(q.Palette, kPixelSearchCellBits);
    q.Cache = std::make_unique<TColorCache>(*q.Search);
    if (options.Dither == TGifDither::FloydSteinberg) {
        q.Rows = std::make_unique<TDiffusedRows>(image.Width, q.Palette, *q.Cache);
    } else {
        q.Rows = LookupRows(image.Width, [&cache = *q.Cache](uint32_t rgb) { return cache.Find(rgb); });
    }
    return q;
}

// Every row of the picture mapped into out, Width bytes a row without padding.
void MapAllRows(const TRgbImage& image, size_t stride, TRowMapper& rows, uint8_t* out) {
    for (uint32_t y = 0; y < image.Height; ++y) {
        rows.MapRow(image.Pixels.data() + y * stride, y, out + size_t{y} * image.Width);
    }
}

// ---------------------------------------------------------------------------------------------------
// LZW and file layout

class TByteWriter {
public:
    explicit TByteWriter(std::vector<uint8_t>& out) : Out(out) {}

    void Byte(uint8_t value) { Out.push_back(value); }
    void Word(uint32_t value) {
        Out.push_back(static_cast<uint8_t>(value));
        Out.push_back(static_cast<uint8_t>(value >> 8));
    }
    void Text(const char* text) {
        while (*text != 0) {
            Out.push_back(static_cast<uint8_t>(*text++));
        }
    }

private:
    std::vector<uint8_t>& Out;
};

// Packs codes least significant bit first into 255-byte data sub-blocks.
class TCodeWriter {
public:
    explicit TCodeWriter(std::vector<uint8_t>& out) : Out(out) {}

    void Put(uint32_t code, int bits) {
        Accumulator |= code << Pending;
        Pending += bits;
        while (Pending >= 8) {
            PutByte(static_cast<uint8_t>(Accumulator));
            Accumulator >>= 8;
            Pending -= 8;
        }
    }

    // Flushes the last partial byte and block and writes the block terminator.
    void Finish() {
        if (Pending > 0) {
            PutByte(static_cast<uint8_t>(Accumulator));
            Accumulator = 0;
            Pending = 0;
        }
        FlushBlock();
        Out.push_back(0);
    }

private:
    void PutByte(uint8_t value) {
        Block[BlockSize++] = value;
        if (BlockSize == 255) {
            FlushBlock();
        }
    }

    void FlushBlock() {
        if (BlockSize > 0) {
            Out.push_back(static_cast<uint8_t>(BlockSize));
            Out.insert(Out.end(), Block.begin(), Block.begin() + BlockSize);
            BlockSize = 0;
        }
    }

    std::vector<uint8_t>& Out;
    std::array<uint8_t, 255> Block{};
    uint32_t BlockSize = 0;
    uint32_t Accumulator = 0;
    int Pending = 0;
};

// String table of the LZW coder: (prefix code, next index) -> code, open addressing with linear probing
// at a load factor of at most one half. A slot packs the 20-bit key above the 12-bit code in one word
// (0: empty; a stored code is never 0), so the table is 32 KB and a probe one load: the coder spends
// one lookup per pixel.
class TLzwTable {
public:
    TLzwTable() : Slots(kSlots, 0) {}

    void Clear() { std::fill(Slots.begin(), Slots.end(), 0u); }

    // The slot of key: holding it, or the empty slot where it would go.
    uint32_t* Find(uint32_t key) {
        uint32_t slot = HashRgb(key, kSlotBits);
        for (;;) {
            uint32_t* entry = &Slots[slot];
            if (*entry == 0 || (*entry >> 12) == key) {
                return entry;
            }
            slot = (slot + 1) & (kSlots - 1);
        }
    }
    static bool Holds(const uint32_t* slot) { return *slot != 0; }
    static uint32_t Code(const uint32_t* slot) { return *slot & 0xFFFu; }
    static void Insert(uint32_t* slot, uint32_t key, uint32_t code) { *slot = key << 12 | code; }

private:
    static constexpr uint32_t kSlotBits = 13;
    static constexpr uint32_t kSlots = 1u << kSlotBits;

    std::vector<uint32_t> Slots;
};

// LZW with a clear code as soon as the string table is full. (Keeping a full table while it still codes
// well was measured on rendered pages: 3 % smaller text pages, 3 % larger styled ones; not worth its
// heuristics.)
//
// The strings that repeat one index (runs: the paper and flat areas of a page, most of its pixels) are
// kept apart from the hash table, in a list per index of the codes for 2, 3, 4 ... copies, in the order
// the coder made them: while the current string is a run and the pixel continues it, the next code is
// the next entry of that list, found without hashing. No other string can ever be looked up under a
// run's code (a string that leaves the run is no run), so the hash table never needs those entries.
//
// Every index is checked against the palette as it is read (a pixel that continues a run repeats an
// index already checked), so a bad index costs no separate pass over the pixels.
//
// rowAt(y) gives the indices of row y; it is called once a row, top to bottom.
template <typename TRows>
void WriteLzw(uint32_t width, uint32_t height, size_t paletteSize, TRows&& rowAt, int minCodeSize,
              std::vector<uint8_t>& out) {
    auto check = [paletteSize](uint32_t index) {
        if (index >= paletteSize) {
            throw std::invalid_argument("GIF pixel index is outside the palette");
        }
    };
    const uint32_t clearCode = 1u << minCodeSize;
    const uint32_t endCode = clearCode + 1;
    const uint32_t firstFree = clearCode + 2;

    TCodeWriter writer(out);
    TLzwTable table;
    std::array<std::vector<uint16_t>, kMaxPaletteSize> runs; // runs[i][k]: the code of k + 2 copies of i
    int codeSize = minCodeSize + 1;
    uint32_t nextCode = firstFree;
    writer.Put(clearCode, codeSize);

    // A new entry, or a clear code when the table is full.
    auto grow = [&] {
        if (nextCode < kLzwTableSize) {
            ++nextCode;
            // The decoder adds its entry one code later, so it widens when nextCode passes 2^size.
            if (nextCode > (1u << codeSize) && codeSize < kLzwMaxBits) {
                ++codeSize;
            }
            return true;
        }
        writer.Put(clearCode, codeSize);
        table.Clear();
        for (std::vector<uint16_t>& run : runs) {
            run.clear();
        }
        codeSize = minCodeSize + 1;
        nextCode = firstFree;
        return false;
    };

    uint32_t prefix = 0;
    uint32_t runIndex = 0; // the current string is runLength copies of runIndex, when runLength > 0
    size_t runLength = 1;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = rowAt(y);
        if (y == 0) {
            prefix = row[0];
            check(prefix);
            runIndex = prefix;
        }
        for (uint32_t x = y == 0 ? 1 : 0; x < width; ++x) {
            const uint32_t index = row[x];
            if (runLength > 0 && index == runIndex) {
                std::vector<uint16_t>& run = runs[index];
                if (runLength - 1 < run.size()) {
                    prefix = run[runLength - 1];
                    ++runLength;
                    continue;
                }
                writer.Put(prefix, codeSize);
                const uint32_t code = nextCode;
                if (grow()) {
                    run.push_back(static_cast<uint16_t>(code));
                }
            } else {
                check(index);
                const uint32_t key = prefix << 8 | index;
                uint32_t* slot = table.Find(key);
                if (TLzwTable::Holds(slot)) {
                    prefix = TLzwTable::Code(slot);
                    runLength = 0;
                    continue;
                }
                writer.Put(prefix, codeSize);
                const uint32_t code = nextCode;
                if (grow()) {
                    TLzwTable::Insert(slot, key, code);
                }
            }
            prefix = index;
            runIndex = index;
            runLength = 1;
        }
    }
    writer.Put(prefix, codeSize);
    // Reading that last code makes the decoder add one more entry, which may widen the end code.
    if (nextCode < kLzwTableSize && nextCode + 1 > (1u << codeSize) && codeSize < kLzwMaxBits) {
        ++codeSize;
    }
    writer.Put(endCode, codeSize);
    writer.Finish();
}

// The GIF file of a picture of palette indices (rowAt as for WriteLzw) with the palette as the global
// colour table, padded with black to a power of two.
template <typename TRows>
std::vector<uint8_t> WriteGif(uint32_t width, uint32_t height, std::span<const TRgbColor> palette,
                              TRows&& rowAt) {
    const size_t paletteSize = palette.size();
    int tableBits = 1;
    while ((size_t{1} << tableBits) < paletteSize) {
        ++tableBits;
    }
    const int minCodeSize = std::max(2, tableBits);
    const size_t tableSize = size_t{1} << tableBits;

    std::vector<uint8_t> out;
    out.reserve(64 + tableSize * 3 + size_t{width} * height / 2);
    TByteWriter writer(out);
    writer.Text("GIF89a");

    // Logical screen descriptor: global table present, 8 bits of colour resolution, table size.
    writer.Word(width);
    writer.Word(height);
    writer.Byte(static_cast<uint8_t>(0x80 | 0x70 | (tableBits - 1)));
    writer.Byte(0); // background colour index
    writer.Byte(0); // no aspect ratio
    for (size_t i = 0; i < tableSize; ++i) {
        const TRgbColor color = i < paletteSize ? palette[i] : TRgbColor{};
        writer.Byte(color.Red);
        writer.Byte(color.Green);
        writer.Byte(color.Blue);
    }

    // Image descriptor covering the whole screen, no local table, not interlaced.
    writer.Byte(0x2C);
    writer.Word(0);
    writer.Word(0);
    writer.Word(width);
    writer.Word(height);
    writer.Byte(0);

    writer.Byte(static_cast<uint8_t>(minCodeSize));
    WriteLzw(width, height, paletteSize, rowAt, minCodeSize, out);
    writer.Byte(0x3B); // trailer
    return out;
}

} // namespace

// -------------------------------------------------------------------------------------------------------

TQuantizedImage QuantizeImage(const TRgbImage& image, const TGifOptions& options) {
    CheckRgbInput(image, options);
    TQuantizedImage result{image.Width, image.Height, std::vector<uint8_t>(size_t{image.Width} * image.Height), {}};
    result.Palette = QuantizeInto(image, result.Indices, options);
    return result;
}

std::vector<TRgbColor> QuantizeInto(const TRgbImage& image, std::span<uint8_t> indices, const TGifOptions& options) {
    const size_t stride = CheckRgbInput(image, options);
    CheckBuffer(indices.size(), image.Width, image.Height, 0, 1);
    TQuantization q = Quantize(image, stride, options);
    MapAllRows(image, stride, *q.Rows, indices.data());
    return std::move(q.Palette);
}

void MapToPalette(const TRgbImage& image, std::span<const TRgbColor> palette, std::span<uint8_t> indices) {
    CheckSize(image.Width, image.Height);
    const size_t stride = CheckBuffer(image.Pixels.size(), image.Width, image.Height, image.Stride, 4);
    CheckBuffer(indices.size(), image.Width, image.Height, 0, 1);
    if (palette.empty() || palette.size() > kMaxPaletteSize) {
        throw std::invalid_argument("GIF palette must have 1..256 colours");
    }
    TNearestSearch search(palette, kPixelSearchCellBits);
    TColorCache cache(search);
    TLookupRows rows(image.Width, [&cache](uint32_t rgb) { return cache.Find(rgb); });
    MapAllRows(image, stride, rows, indices.data());
}

// The indices are made a row at a time as the coder takes them: no picture of indices is held.
std::vector<uint8_t> EncodeGif(const TRgbImage& image, const TGifOptions& options) {
    const size_t stride = CheckRgbInput(image, options);
    TQuantization q = Quantize(image, stride, options);
    TScratchVector<uint8_t> row(image.Width);
    return WriteGif(image.Width, image.Height, q.Palette, [&](uint32_t y) {
        q.Rows->MapRow(image.Pixels.data() + y * stride, y, row.data());
        return row.data();
    });
}

std::vector<uint8_t> EncodeGifIndexed(const TIndexedImage& image) {
    CheckSize(image.Width, image.Height);
    const size_t stride = CheckBuffer(image.Indices.size(), image.Width, image.Height, image.Stride, 1);
    if (image.Palette.empty() || image.Palette.size() > kMaxPaletteSize) {
        throw std::invalid_argument("GIF palette must have 1..256 colours");
    }
    return WriteGif(image.Width, image.Height, image.Palette,
                    [&image, stride](uint32_t y) { return image.Indices.data() + y * stride; });
}

} // namespace zorbex
