#include "outline/FastOutline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "outline/OutlineKernel.h"

// The vector code uses the compilers' generic vectors inside functions compiled for several
// instruction sets; passing them between always-inlined helpers makes GCC and clang note ABI
// changes that never apply (nothing here crosses a real call with a vector argument).
#pragma GCC diagnostic ignored "-Wpsabi"

#define ZARVEL_INLINE inline __attribute__((always_inline))
#define ZARVEL_TARGET_AVX2 __attribute__((target("avx2")))
#define ZARVEL_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2")))

namespace OutlineKernel {

namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using s16 = std::int16_t;

// Activity flags and the column search work on chunks of this many pixels.
constexpr int chunkPixels = 64;
// Most bytes of rows a tile keeps (a ring of rows per thread): whole rows of a frame stream
// best from memory and pay the columns a stripe reads beyond its ends only at the frame's ends,
// so stripes are as wide as this allows. The chamfer's ring is read back a block of rows after
// it was written and holds floats.
constexpr int cacheBudget = 12 * 1024 * 1024;
constexpr int chamferBudget = 16 * 1024 * 1024;
// Largest ceil(width) of the fast path: (reach + 1)² and the sums the column search forms stay
// within 16 bits.
constexpr int fastReachLimit = 254;
// Tallest field on which the integer column search agrees with the single-precision lower
// envelope: below it every sum (f + q²) a value within the reach depends on is below 2^24, so
// the envelope's boundaries are exact quotients and fall on the right side of every row.
// Taller fields at Good take the straightforward pipeline.
constexpr int exactEnvelopeRows = 4088;
// Extra pixels beyond the reach that a chamfer stripe computes on every side. A value up to the
// reach comes from a chain of at most reach + 2 steps; a node whose forward value is 0 or below
// (and therefore stays fixed in the backward pass) comes from at most 2 more, and a frozen stripe
// edge can disturb fixedness one more step in: reach + 6 covers all of it.
constexpr int chamferMargin = 6;
// Most rows a wavefront band can have (two float vectors of AVX-512).
constexpr int maxLanes = 32;

constexpr u8 classFar = 0;
constexpr u8 classEdge = 1;
constexpr u8 classInside = 2;
// The vector code turns classes into values and categories by arithmetic on these numbers.
static_assert(classFar == 0 && classEdge == 1 && classInside == 2, "classes are 0, 1 and 2");

// What the output rule does with a pixel, decided for whole rows before any pixel is written.
constexpr u8 categoryZero = 0;      // every component 0
constexpr u8 categoryCopy = 1;      // a copy of the source pixel
constexpr u8 categoryConstant = 2;  // full coverage, nothing to composite: the outline colour
constexpr u8 categoryGeneral = 3;   // the output rule itself

int roundUp(int value, int multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

bool isEmpty(const PixelRect& r) {
    return r.x2 <= r.x1 || r.y2 <= r.y1;
}

// Growable 64-byte aligned scratch; contents are not kept when it grows.
template <class T>
class Buffer {
public:
    void reserve(std::size_t count) {
        if (count <= capacity) {
            return;
        }
        storage.reset(static_cast<T*>(::operator new(count * sizeof(T), std::align_val_t(64))));
        capacity = count;
    }
    T* data() const { return storage.get(); }
    std::size_t bytes() const { return capacity * sizeof(T); }

private:
    struct Release {
        void operator()(T* p) const { ::operator delete(p, std::align_val_t(64)); }
    };
    std::unique_ptr<T, Release> storage;
    std::size_t capacity = 0;
};

// ---------------------------------------------------------------------------------------------
// Vector kernels. Each body is written once over generic vectors of `bytes` bytes and compiled
// three times (16, 32 and 64 bytes) into functions for SSE2, AVX2 and AVX-512. Integer lanes and
// IEEE single-precision add, compare and min per lane give the same bits on every path.
// ---------------------------------------------------------------------------------------------

template <int bytes>
struct Simd {
    typedef u16 U16 __attribute__((vector_size(bytes)));
    typedef s16 S16 __attribute__((vector_size(bytes)));
    typedef u8 U8 __attribute__((vector_size(bytes / 2)));  // one byte per 16-bit lane
    typedef u8 B8 __attribute__((vector_size(bytes)));      // bytes
    typedef float F32 __attribute__((vector_size(bytes)));
    typedef std::int32_t S32 __attribute__((vector_size(bytes)));
    typedef u8 Q8 __attribute__((vector_size(bytes / 4)));    // one byte per 32-bit lane
    typedef u16 H16 __attribute__((vector_size(bytes / 2)));  // one 16-bit value per 32-bit lane
    // As many lanes as U16, wider: packed RGBA pixels of 8 and 16 bits.
    typedef std::uint32_t W32 __attribute__((vector_size(bytes * 2)));
    typedef std::uint64_t W64 __attribute__((vector_size(bytes * 4)));
    static constexpr int lanes16 = bytes / 2;
    static constexpr int lanes32 = bytes / 4;
};

template <class V, class T>
ZARVEL_INLINE V load(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V, class T>
ZARVEL_INLINE void store(T* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}

template <int lane, class V, std::size_t... I>
ZARVEL_INLINE V broadcastLaneImpl(V x, std::index_sequence<I...>) {
    return __builtin_shufflevector(x, x, (static_cast<int>(I) * 0 + lane)...);
}

// Every lane a copy of lane `lane` of x.
template <int lane, int lanes, class V>
ZARVEL_INLINE V broadcastLane(V x) {
    return broadcastLaneImpl<lane>(x, std::make_index_sequence<lanes>());
}

// Every lane `value`. Built as a broadcast of lane 0: GCC 12 inserts 16-bit values lane by
// lane for AVX2 otherwise.
template <class V, class T>
ZARVEL_INLINE V splat(T value) {
    using E = std::remove_reference_t<decltype(std::declval<V&>()[0])>;
    V v{};
    v[0] = static_cast<E>(value);
    return broadcastLane<0, static_cast<int>(sizeof(V) / sizeof(E))>(v);
}

template <class V>
ZARVEL_INLINE V vmin(V a, V b) {
    return a < b ? a : b;
}

template <class V>
ZARVEL_INLINE V vmax(V a, V b) {
    return a > b ? a : b;
}

// True if any bit of a vector is set. Used on values, never on comparison results: a mask
// taken apart lane by lane is what makes compilers fall back to scalar code for AVX-512.
template <class M>
ZARVEL_INLINE bool anyBits(const M& mask) {
    std::uint64_t words[(sizeof(M) + 7) / 8] = {};
    std::memcpy(words, &mask, sizeof mask);
    std::uint64_t any = 0;
    for (std::uint64_t w : words) {
        any |= w;
    }
    return any != 0;
}

// Lanes moved up by `shift` (towards higher indices); the freed low lanes take the top lanes of
// `fill`.
template <int shift, class V, std::size_t... I>
ZARVEL_INLINE V shiftUpImpl(V fill, V x, std::index_sequence<I...>) {
    constexpr int n = static_cast<int>(sizeof...(I));
    return __builtin_shufflevector(fill, x, (static_cast<int>(I) + n - shift)...);
}

// Lanes moved down by `shift`; the freed high lanes take the low lanes of `fill`.
template <int shift, class V, std::size_t... I>
ZARVEL_INLINE V shiftDownImpl(V x, V fill, std::index_sequence<I...>) {
    return __builtin_shufflevector(x, fill, (static_cast<int>(I) + shift)...);
}

template <int shift, int lanes, class V>
ZARVEL_INLINE V shiftUp(V fill, V x) {
    return shiftUpImpl<shift>(fill, x, std::make_index_sequence<lanes>());
}

template <int shift, int lanes, class V>
ZARVEL_INLINE V shiftDown(V x, V fill) {
    return shiftDownImpl<shift>(x, fill, std::make_index_sequence<lanes>());
}

template <class V, class E, std::size_t... I>
ZARVEL_INLINE V iotaImpl(std::index_sequence<I...>) {
    return V{static_cast<E>(I)...};
}

// Lane numbers plus `offset`, lane by lane.
template <class V, int lanes>
ZARVEL_INLINE V laneIndex(int offset) {
    using E = std::remove_reference_t<decltype(std::declval<V&>()[0])>;
    return iotaImpl<V, E>(std::make_index_sequence<lanes>()) + static_cast<E>(offset);
}

// One doubling step of a min-plus scan along the lanes with unit steps: every lane takes the
// smaller of itself and the lane `shift` below (or above) plus `shift`.
template <int shift, int lanes, class V>
ZARVEL_INLINE V scanUpStep(V x, V big) {
    return vmin(x, shiftUp<shift, lanes>(big, x) + static_cast<s16>(shift));
}

template <int shift, int lanes, class V>
ZARVEL_INLINE V scanDownStep(V x, V big) {
    return vmin(x, shiftDown<shift, lanes>(x, big) + static_cast<s16>(shift));
}

template <int lanes, class V>
ZARVEL_INLINE V scanUp(V x, V big) {
    x = scanUpStep<1, lanes>(x, big);
    x = scanUpStep<2, lanes>(x, big);
    x = scanUpStep<4, lanes>(x, big);
    if constexpr (lanes > 8) {
        x = scanUpStep<8, lanes>(x, big);
    }
    if constexpr (lanes > 16) {
        x = scanUpStep<16, lanes>(x, big);
    }
    return x;
}

template <int lanes, class V>
ZARVEL_INLINE V scanDown(V x, V big) {
    x = scanDownStep<1, lanes>(x, big);
    x = scanDownStep<2, lanes>(x, big);
    x = scanDownStep<4, lanes>(x, big);
    if constexpr (lanes > 8) {
        x = scanDownStep<8, lanes>(x, big);
    }
    if constexpr (lanes > 16) {
        x = scanDownStep<16, lanes>(x, big);
    }
    return x;
}

// Row distances of the separable transform's row pass in integers: for a row of classes
// (`length` a multiple of chunkPixels), out[i] = min over sources s of |i − s| − 2 (inside) or
// |i − s| (edge), capped at `reachPlusOne`. Equal to the single-precision relaxation, whose
// values are small integers.
struct RowDistanceArgs {
    const u8* classes;
    int length;
    int reachPlusOne;
    s16* out;
};

template <int bytes>
ZARVEL_INLINE void rowDistancesBody(const RowDistanceArgs& a) {
    using S = Simd<bytes>;
    using S16 = typename S::S16;
    constexpr int n = S::lanes16;
    const S16 far = splat<S16>(static_cast<s16>(a.reachPlusOne));
    const S16 one = splat<S16>(static_cast<s16>(1));
    const S16 two = splat<S16>(static_cast<s16>(2));
    const S16 big = splat<S16>(static_cast<s16>(16383));
    const S16 upSteps = laneIndex<S16, n>(1);
    const S16 downSteps = splat<S16>(static_cast<s16>(n)) - laneIndex<S16, n>(0);
    S16 carry = big;
    for (int b = 0; b < a.length; b += n) {
        const S16 c = __builtin_convertvector(load<typename S::U8>(a.classes + b), S16);
        // Far: the cap; edge (1): 0; inside (2): −2. Arithmetic rather than comparisons, which
        // GCC 12 takes apart lane by lane for AVX-512 when they compare with 0.
        const S16 source = vmin(c, one);
        S16 x = far + source * (two - c - c - far);
        x = scanUp<n>(x, big);
        x = vmin(x, carry + upSteps);
        store(a.out + b, x);
        carry = broadcastLane<n - 1, n>(x);
    }
    carry = big;
    for (int b = a.length - n; b >= 0; b -= n) {
        S16 x = load<S16>(a.out + b);
        x = scanDown<n>(x, big);
        x = vmin(x, carry + downSteps);
        store(a.out + b, x);
        carry = broadcastLane<0, n>(x);
    }
}

// Squares of `count` row distances into a 16-bit row of `paddedCount` (a multiple of
// chunkPixels; lanes past `count` get `cap`), and per chunk whether any square is below `cap`.
struct SquareArgs {
    const s16* distances;
    int count;
    int paddedCount;
    int cap;
    u16* squares;
    u8* flags;
};

template <int bytes>
ZARVEL_INLINE void squaresBody(const SquareArgs& a) {
    using S = Simd<bytes>;
    using U16 = typename S::U16;
    constexpr int n = S::lanes16;
    const U16 cap = splat<U16>(static_cast<u16>(a.cap));
    for (int c = 0; c * chunkPixels < a.paddedCount; ++c) {
        U16 below{};
        for (int k = 0; k < chunkPixels; k += n) {
            const int i = c * chunkPixels + k;
            const U16 r = reinterpret_cast<U16>(load<typename S::S16>(a.distances + i));
            U16 f = r * r;  // −2 and −1 square to 4 and 1 in 16-bit arithmetic as well
            f = laneIndex<typename S::S16, n>(i) < static_cast<s16>(a.count) ? f : cap;
            store(a.squares + i, f);
            // Inside pixels count as active even when their square (4) reaches the cap: they
            // are copied whatever the width.
            const U16 activity = r == static_cast<u16>(0xfffe) ? U16{} : f;
            below |= cap - vmin(activity, cap);
        }
        a.flags[c] = anyBits(below) ? 1 : 0;
    }
}

// The largest lane of a chunk of 16-bit vectors.
template <int lanes, class V, int m>
ZARVEL_INLINE int largestLane(const V (&acc)[m]) {
    V x = acc[0];
    for (int k = 1; k < m; ++k) {
        x = vmax(x, acc[k]);
    }
    if constexpr (lanes > 16) {
        x = vmax(x, shiftDown<16, lanes>(x, x));
    }
    if constexpr (lanes > 8) {
        x = vmax(x, shiftDown<8, lanes>(x, x));
    }
    x = vmax(x, shiftDown<4, lanes>(x, x));
    x = vmax(x, shiftDown<2, lanes>(x, x));
    x = vmax(x, shiftDown<1, lanes>(x, x));
    return x[0];
}

// The column search of one output row: n = min over the rows within reach of dy² + f, capped at
// `cap`, then the category of every pixel.
struct ColumnArgs {
    const u16* const* rows;  // rows[reach + dy]: squares of row y + dy, or null
    const u8* const* flags;  // flags[reach + dy]: its chunk activity, or null
    const int* counts;       // per chunk: active rows among the rows within reach
    const u8* classes;       // classes of row y
    int chunks;
    int reach;
    int cap;
    int zeroFrom;    // n at or above this: zero pixel
    int fullBelow;   // n below this (and far class): constant outline pixel
    u16* near;       // out: n per pixel
    u8* categories;  // out
};

template <int bytes>
ZARVEL_INLINE void columnBody(const ColumnArgs& a) {
    using S = Simd<bytes>;
    using U16 = typename S::U16;
    constexpr int n = S::lanes16;
    constexpr int m = chunkPixels / n;
    const U16 cap = splat<U16>(static_cast<u16>(a.cap));
    for (int c = 0; c < a.chunks; ++c) {
        const int base = c * chunkPixels;
        if (a.counts[c] == 0) {
            std::memset(a.categories + base, categoryZero, chunkPixels);
            continue;
        }
        U16 acc[m];
        for (int k = 0; k < m; ++k) {
            acc[k] = cap;
        }
        int visited = 0;
        if (a.rows[a.reach] != nullptr && a.flags[a.reach][c] != 0) {
            for (int k = 0; k < m; ++k) {
                acc[k] = load<U16>(a.rows[a.reach] + base + k * n);
            }
            ++visited;
        }
        // Candidates at distance d are at least d²: the search ends once d² reaches the largest
        // lane, which is looked at again after every few rows that changed something.
        int largest = largestLane<n>(acc);
        int sinceLook = 0;
        for (int d = 1; d <= a.reach && visited < a.counts[c]; ++d) {
            const u16 d2 = static_cast<u16>(d * d);
            if (d * d >= largest) {
                break;
            }
            const u16* up = a.rows[a.reach - d];
            const u16* down = a.rows[a.reach + d];
            const bool useUp = up != nullptr && a.flags[a.reach - d][c] != 0;
            const bool useDown = down != nullptr && a.flags[a.reach + d][c] != 0;
            if (!useUp && !useDown) {
                continue;
            }
            visited += (useUp ? 1 : 0) + (useDown ? 1 : 0);
            const U16 limit = splat<U16>(static_cast<u16>(a.cap - d * d));
            for (int k = 0; k < m; ++k) {
                U16 f = limit;
                if (useUp) {
                    f = vmin(f, load<U16>(up + base + k * n));
                }
                if (useDown) {
                    f = vmin(f, load<U16>(down + base + k * n));
                }
                acc[k] = vmin(acc[k], f + d2);
            }
            if (++sinceLook == 4) {
                sinceLook = 0;
                largest = largestLane<n>(acc);
            }
        }
        // Categories by arithmetic on 0/1 values: GCC 12 takes unsigned and zero comparisons of
        // AVX-512 vectors apart lane by lane.
        const U16 one = splat<U16>(static_cast<u16>(1));
        const U16 zeroLimit = splat<U16>(static_cast<u16>(a.zeroFrom - 1));
        const U16 fullBelow = splat<U16>(static_cast<u16>(a.fullBelow));
        const U16 general = splat<U16>(static_cast<u16>(categoryGeneral));
        static_assert(categoryConstant == categoryGeneral - 1 && categoryZero == 0 &&
                          categoryCopy == 1,
                      "the arithmetic below relies on these values");
        for (int k = 0; k < m; ++k) {
            const int i = base + k * n;
            const U16 cls = __builtin_convertvector(load<typename S::U8>(a.classes + i), U16);
            const U16 isSource = vmin(cls, one);
            const U16 isInside = cls >> 1;
            const U16 isZero = vmin(acc[k] - vmin(acc[k], zeroLimit), one);
            const U16 isFull = vmin(fullBelow - vmin(fullBelow, acc[k]), one);
            U16 category = general - isFull * (one - isSource);
            category = category * (one - isZero);
            category = category + isInside * (one - category);
            store(a.near + i, acc[k]);
            store(a.categories + i, __builtin_convertvector(category, typename S::U8));
        }
    }
}

// The chamfer transform as a wavefront: the lanes of a vector are consecutive rows of a band,
// lane t working on column i − 2t at step i. Every neighbour an element needs is then final:
// the element to its left is the same lane one step earlier, and the three in the row before
// are the previous lane one, two and three steps earlier (or, for lane 0, the row next to the
// band). Each element gets exactly the candidates, additions and comparisons of the sequential
// pass, so the result is the same to the bit; there is no chain along a row to resolve.
//
// Rows go in and out through transposes of lanes × lanes blocks, skewed by two columns per
// lane. The backward pass is the forward pass on mirrored columns with the band's rows in
// reverse order.
struct WavefrontArgs {
    const float* const* in;  // row of each lane before the pass; readable [−guard, width + guard)
    float* const* out;       // row of each lane after it (may be the same row); writable alike
    const float* neighbour;  // the row before lane 0, after the pass; readable alike
    const float* rowKeys;    // per lane: −1 for a frozen row (or none), the far value otherwise
    const float* columnKeys;  // per column of the pass: −1 where frozen (0, width − 1 and
                              // beyond either end), the far value otherwise; readable alike
    int width;                // columns 0 and width − 1 are frozen
    bool reverse;             // columns right to left
    // The pass covers columns [from, to) of every lane (from a multiple of the lane count; both
    // in the pass's order), plus what the skew of the lanes brings in on either side. With from
    // above 0 the lanes start from the values their rows hold before `from` in `out`: those
    // must be final for this pass (or values the pass would leave as they are).
    int from;
    int to;
};

// Floats readable and writable before and after a wavefront row: the skew of a band and a
// vector beyond.
constexpr int guardFloats = 128;

constexpr int transposeIndex(int lane, int block, int lanes, bool second) {
    return second ? ((lane & block) != 0 ? lanes + lane : lane + block)
                  : ((lane & block) != 0 ? lanes + lane - block : lane);
}

template <int block, int lanes, class V, std::size_t... I>
ZARVEL_INLINE void transposeStep(V& a, V& b, std::index_sequence<I...>) {
    const V first =
        __builtin_shufflevector(a, b, transposeIndex(static_cast<int>(I), block, lanes, false)...);
    const V second =
        __builtin_shufflevector(a, b, transposeIndex(static_cast<int>(I), block, lanes, true)...);
    a = first;
    b = second;
}

template <int block, int lanes, class V>
ZARVEL_INLINE void transposeStage(V (&m)[lanes]) {
    for (int k = 0; k < lanes; ++k) {
        if ((k & block) == 0) {
            transposeStep<block, lanes>(m[k], m[k + block], std::make_index_sequence<lanes>());
        }
    }
}

// In-place transpose of a square block of vectors.
template <int lanes, class V>
ZARVEL_INLINE void transpose(V (&m)[lanes]) {
    if constexpr (lanes >= 16) {
        transposeStage<8, lanes>(m);
    }
    if constexpr (lanes >= 8) {
        transposeStage<4, lanes>(m);
    }
    transposeStage<2, lanes>(m);
    transposeStage<1, lanes>(m);
}

template <class V, std::size_t... I>
ZARVEL_INLINE V reverseLanes(V x, std::index_sequence<I...>) {
    return __builtin_shufflevector(x, x,
                                   (static_cast<int>(sizeof...(I)) - 1 - static_cast<int>(I))...);
}

// Lane t of the result is element 2(lanes − 1 − t) of the 2 × lanes elements a, b.
template <class V, std::size_t... I>
ZARVEL_INLINE V skewedLanes(V a, V b, std::index_sequence<I...>) {
    return __builtin_shufflevector(
        a, b, (2 * (static_cast<int>(sizeof...(I)) - 1 - static_cast<int>(I)))...);
}

// One step of one vector of the wavefront (see WavefrontArgs): every lane's element at its
// column. The rows before lane 0 come from `up`, `upLeft` and `upRight` (their top lanes);
// `keys` points to the column keys of the vector's last lane.
// Without `keyed` every lane's column is known not to be frozen: the column keys are all the
// far value, which no value exceeds, and are left out.
template <int n, bool keyed, class F32>
ZARVEL_INLINE F32 wavefrontStep(F32 v, F32& h1, F32& h2, F32& h3, F32 up, F32 upLeft, F32 upRight,
                                const float* keys, F32 rowKeys) {
    F32 key = vmin(v, rowKeys);
    if constexpr (keyed) {
        const F32 columnKey =
            skewedLanes(load<F32>(keys), load<F32>(keys + n), std::make_index_sequence<n>());
        key = vmin(vmin(v, columnKey), rowKeys);
    }
    // Candidates that don't depend on the previous step first: they leave the critical path.
    const F32 older = vmin(vmin(v, shiftUp<1, n>(up, h2) + orthogonalStep),
                           shiftUp<1, n>(upLeft, h3) + diagonalStep);
    const F32 candidate =
        vmin(vmin(older, h1 + orthogonalStep), shiftUp<1, n>(upRight, h1) + diagonalStep);
    const F32 x = key <= 0.0f ? v : candidate;
    h3 = h2;
    h2 = h1;
    h1 = x;
    return x;
}

// The wavefront keeps two vectors of rows: the second continues the first (its lane 0 is the
// row after the first's last lane), so every step has two independent chains of work.
template <int n, bool reverse, bool keyed, class F32, std::size_t... Q>
ZARVEL_INLINE void wavefrontBlock(F32 (&first)[n], F32 (&second)[n], F32 (&h)[2][3],
                                  const float* near, const float* keys, const F32 (&rowKeys)[2],
                                  std::index_sequence<Q...>) {
    constexpr int ahead = reverse ? -1 : 1;
    auto step = [&](int q) __attribute__((always_inline)) {
        // The second vector first: it needs the first vector's values of earlier steps.
        second[q] = wavefrontStep<n, keyed>(second[q], h[1][0], h[1][1], h[1][2], h[0][1], h[0][2],
                                            h[0][0], keys + q - 2 * n, rowKeys[1]);
        const float* at = near + ahead * q;
        first[q] = wavefrontStep<n, keyed>(first[q], h[0][0], h[0][1], h[0][2], splat<F32>(at[0]),
                                           splat<F32>(at[-ahead]), splat<F32>(at[ahead]), keys + q,
                                           rowKeys[0]);
    };
    (step(static_cast<int>(Q)), ...);
}

// The values the lanes of a pass starting at column `from` hold one, two and three steps back:
// start[(g × 3 + back) × n + t] for lane g × n + t. Kept out of the pass's loop, whose registers
// it would otherwise crowd.
__attribute__((noinline)) void wavefrontStart(const WavefrontArgs& a, int n, float* start) {
    for (int g = 0; g < 2; ++g) {
        for (int back = 0; back < 3; ++back) {
            for (int t = 0; t < n; ++t) {
                const int c = a.from - 1 - back - 2 * (g * n + t);
                start[(g * 3 + back) * n + t] = a.out[g * n + t][a.reverse ? a.width - 1 - c : c];
            }
        }
    }
}

template <int bytes, bool reverse>
ZARVEL_INLINE void wavefrontBody(const WavefrontArgs& a) {
    using S = Simd<bytes>;
    using F32 = typename S::F32;
    constexpr int n = S::lanes32;
    const int width = a.width;
    const F32 far = splat<F32>(farValue);
    const F32 rowKeys[2] = {load<F32>(a.rowKeys), load<F32>(a.rowKeys + n)};
    // Column c of the pass is column c, or width − 1 − c when mirrored.
    auto loadRow = [&](const float* row, int c) __attribute__((always_inline)) {
        if constexpr (reverse) {
            return reverseLanes(load<F32>(row + (width - 1 - c) - (n - 1)),
                                std::make_index_sequence<n>());
        } else {
            return load<F32>(row + c);
        }
    };
    auto storeRow = [&](float* row, int c, F32 x) __attribute__((always_inline)) {
        if constexpr (reverse) {
            store(row + (width - 1 - c) - (n - 1), reverseLanes(x, std::make_index_sequence<n>()));
        } else {
            store(row + c, x);
        }
    };
    F32 h[2][3] = {{far, far, far}, {far, far, far}};  // values one, two, three steps back
    if (a.from > 0) {
        alignas(64) float start[2 * 3 * n];
        wavefrontStart(a, n, start);
        for (int g = 0; g < 2; ++g) {
            for (int back = 0; back < 3; ++back) {
                h[g][back] = load<F32>(start + (g * 3 + back) * n);
            }
        }
    }
    const int steps = std::min(width, a.to) + 2 * (2 * n - 1);
    for (int i0 = a.from; i0 < steps; i0 += n) {
        F32 first[n];
        F32 second[n];
        for (int t = 0; t < n; ++t) {
            first[t] = loadRow(a.in[t], i0 - 2 * t);
            second[t] = loadRow(a.in[n + t], i0 - 2 * (n + t));
        }
        transpose<n>(first);  // first[q] lane t: column i0 + q − 2t of row t
        transpose<n>(second);
        const float* near = a.neighbour + (reverse ? width - 1 - i0 : i0);
        // Every lane's column of this block inside the row: no frozen column to look up.
        const float* keys = a.columnKeys + i0 - 2 * (n - 1);
        if (i0 - 2 * (2 * n - 1) >= 1 && i0 + n - 1 <= width - 2) {
            wavefrontBlock<n, reverse, false>(first, second, h, near, keys, rowKeys,
                                              std::make_index_sequence<n>());
        } else {
            wavefrontBlock<n, reverse, true>(first, second, h, near, keys, rowKeys,
                                             std::make_index_sequence<n>());
        }
        transpose<n>(first);
        transpose<n>(second);
        for (int t = 0; t < n; ++t) {
            storeRow(a.out[t], i0 - 2 * t, first[t]);
            storeRow(a.out[n + t], i0 - 2 * (n + t), second[t]);
        }
    }
}

// Class values (far, edge, inside) of a row of classes (`count` a multiple of chunkPixels), and
// per chunk whether any is not far.
struct ClassValueArgs {
    const u8* classes;
    int count;
    float* values;
    u8* flags;
};

template <int bytes>
ZARVEL_INLINE void classValuesBody(const ClassValueArgs& a) {
    using S = Simd<bytes>;
    using F32 = typename S::F32;
    constexpr int n = S::lanes32;
    const F32 far = splat<F32>(farValue);
    const F32 half = splat<F32>(0.5f);
    const F32 one = splat<F32>(1.0f);
    const F32 two = splat<F32>(2.0f);
    for (int c = 0; c * chunkPixels < a.count; ++c) {
        std::uint64_t any = 0;
        for (int k = 0; k < chunkPixels; k += n) {
            const int i = c * chunkPixels + k;
            const F32 cls = __builtin_convertvector(
                __builtin_convertvector(load<typename S::Q8>(a.classes + i), typename S::H16), F32);
            // Edge (1): 0, inside (2): −2, far (0): the far value.
            store(a.values + i, cls > half ? (one - cls) * two : far);
        }
        for (int k = 0; k < chunkPixels; k += 8) {
            std::uint64_t word;
            std::memcpy(&word, a.classes + c * chunkPixels + k, 8);
            any |= word;
        }
        a.flags[c] = any != 0 ? 1 : 0;
    }
}

// Categories of a row of chamfer values.
// Negative values are categorised as copies; lanes without a source pixel become zero when
// they are written.
struct ChamferCategoryArgs {
    const float* values;
    const u8* classes;
    int count;  // a multiple of chunkPixels
    float width;
    float widthMinus1;
    u8* categories;
};

template <class B, std::size_t... I>
ZARVEL_INLINE auto lowBytesImpl(B x, std::index_sequence<I...>) {
    return __builtin_shufflevector(x, x, (static_cast<int>(I) * 4)...);
}

// The low byte of every 32-bit lane (values 0 to 255). GCC 12 narrows AVX2 vectors lane by lane
// through general registers; a byte shuffle does it in a few instructions.
template <int bytes>
ZARVEL_INLINE typename Simd<bytes>::Q8 narrowBytes(typename Simd<bytes>::S32 x) {
    using S = Simd<bytes>;
    if constexpr (bytes == 32) {
        return lowBytesImpl(reinterpret_cast<typename S::B8>(x),
                            std::make_index_sequence<S::lanes32>());
    } else {
        return __builtin_convertvector(x, typename S::Q8);
    }
}

template <int bytes>
ZARVEL_INLINE void chamferCategoriesBody(const ChamferCategoryArgs& a) {
    using S = Simd<bytes>;
    using F32 = typename S::F32;
    using S32 = typename S::S32;
    constexpr int n = S::lanes32;
    const F32 width = splat<F32>(a.width);
    const F32 widthMinus1 = splat<F32>(a.widthMinus1);
    const bool falls = a.width > a.widthMinus1;
    const S32 one = splat<S32>(1);
    const S32 general = splat<S32>(static_cast<int>(categoryGeneral));
    const S32 zero = splat<S32>(static_cast<int>(categoryZero));
    const S32 copy = splat<S32>(static_cast<int>(categoryCopy));
    for (int i = 0; i < a.count; i += n) {
        const F32 d = load<F32>(a.values + i);
        // Widened in two steps: GCC 12 widens bytes to 32 bits one lane at a time.
        const S32 cls = __builtin_convertvector(
            __builtin_convertvector(load<typename S::Q8>(a.classes + i), typename S::H16), S32);
        S32 category = splat<S32>(static_cast<int>(categoryConstant));
        if (falls) {
            category = d > widthMinus1 ? general : category;
        }
        category = category + vmin(cls, one) * (general - category);  // a source: general
        category = width >= d ? category : zero;
        category = d < 0.0f ? copy : category;
        store(a.categories + i, narrowBytes<bytes>(category));
    }
}

template <int n, class V, std::size_t... I>
ZARVEL_INLINE auto everyFourthImpl(V a, V b, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, b, (static_cast<int>(I) * 4 + 3)...);
}

template <class H, std::size_t... I>
ZARVEL_INLINE auto joinImpl(H a, H b, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, b, static_cast<int>(I)...);
}

// Lanes 3, 7, 11, ... of four consecutive vectors of n lanes (component 3 of packed RGBA).
template <int n, class V>
ZARVEL_INLINE V gatherAlpha(const V (&parts)[4]) {
    const auto low = everyFourthImpl<n>(parts[0], parts[1], std::make_index_sequence<n / 2>());
    const auto high = everyFourthImpl<n>(parts[2], parts[3], std::make_index_sequence<n / 2>());
    return joinImpl(low, high, std::make_index_sequence<n>());
}

// Classes of `count` source pixels (component type PIX, nComponents per pixel) into bytes:
// 0 far, 1 edge, 2 inside. Returns whether any pixel is not far. Whole vectors only; the caller
// does the rest.
template <class PIX, int nComponents>
bool classifyPixels(const PIX* pixel, int count, u8* out);

template <int bytes, class PIX, int nComponents>
ZARVEL_INLINE int classifyVectors(const void* pixels, int count, u8* out, u8& any) {
    using S = Simd<bytes>;
    u8 seen = 0;
    int done = 0;
    if constexpr (std::is_same_v<PIX, float>) {
        using F32 = typename S::F32;
        using S32 = typename S::S32;
        constexpr int n = S::lanes32;
        using Out = typename S::Q8;
        const F32 zero = splat<F32>(0.0f);
        const F32 half = splat<F32>(0.5f);
        const S32 one = splat<S32>(1);
        const S32 none = splat<S32>(0);
        const float* p = static_cast<const float*>(pixels);
        // Not above 0 (NaN included) far, above 0.5 inside, anything else edge.
        auto classes = [&](F32 a) { return (a > zero ? one : none) + (a > half ? one : none); };
        Out collected{};
        for (; done + n <= count; done += n) {
            S32 c;
            if constexpr (nComponents == 1) {
                c = classes(load<F32>(p + done));
            } else {
                const float* q = p + static_cast<std::ptrdiff_t>(done) * 4;
                S32 parts[4];
                for (int k = 0; k < 4; ++k) {
                    parts[k] = classes(load<F32>(q + k * n));
                }
                // Component 3 of every pixel: lanes 3, 7, 11, ... of the four vectors in turn.
                c = gatherAlpha<n>(parts);
            }
            const Out c8 = __builtin_convertvector(c, Out);
            collected |= c8;
            store(out + done, c8);
        }
        seen = anyBits(collected) ? 1 : 0;
    } else {
        // value / max above 0.5 is value ≥ 128 (8-bit) or ≥ 32768 (16-bit): the top bit.
        constexpr int topShift = std::is_same_v<PIX, unsigned char> ? 7 : 15;
        using U16 = typename S::U16;
        using U8 = typename S::U8;
        constexpr int n = S::lanes16;
        const U16 one = splat<U16>(static_cast<u16>(1));
        U8 collected{};
        for (; done + n <= count; done += n) {
            U16 a;
            if constexpr (nComponents == 1) {
                if constexpr (std::is_same_v<PIX, unsigned char>) {
                    a = __builtin_convertvector(load<U8>(static_cast<const u8*>(pixels) + done),
                                                U16);
                } else {
                    a = load<U16>(static_cast<const u16*>(pixels) + done);
                }
            } else if constexpr (std::is_same_v<PIX, unsigned char>) {
                const typename S::W32 w = load<typename S::W32>(
                    static_cast<const u8*>(pixels) + static_cast<std::ptrdiff_t>(done) * 4);
                a = __builtin_convertvector(w >> 24, U16);
            } else {
                const typename S::W64 w = load<typename S::W64>(
                    static_cast<const u16*>(pixels) + static_cast<std::ptrdiff_t>(done) * 4);
                a = __builtin_convertvector(__builtin_convertvector(w >> 48, typename S::W32), U16);
            }
            const U16 c = vmin(a, one) + (a >> topShift);
            const U8 c8 = __builtin_convertvector(c, U8);
            collected |= c8;
            store(out + done, c8);
        }
        seen = anyBits(collected) ? 1 : 0;
    }
    any = static_cast<u8>(any | seen);
    return done;
}

// Writes a row of destination pixels from their categories: zero, a copy of the source pixel
// (zero where the source has none), or the constant outline pixel. Pixels of the general
// category are left for the caller. Works on bytes, the same for every pixel type.
struct BlendArgs {
    const u8* categories;  // readable a vector past `count`
    int count;
    const void* source;  // pixel 0; only pixels [sourceFrom, sourceTo) are read
    int sourceFrom;
    int sourceTo;
    void* destination;        // pixel 0
    const void* constantRun;  // at least 64 bytes of constant pixels
};

template <int pixelBytes, class V, std::size_t... I>
ZARVEL_INLINE V expandCategories(V c, std::index_sequence<I...>) {
    return __builtin_shufflevector(c, c, (static_cast<int>(I) / pixelBytes)...);
}

template <int bytes, int pixelBytes, bool withSource>
ZARVEL_INLINE void blendRun(const BlendArgs& a, int from, int to) {
    using B8 = typename Simd<bytes>::B8;
    constexpr int perVector = bytes / pixelBytes;
    const B8 one = splat<B8>(1);
    const B8 constant = load<B8>(static_cast<const u8*>(a.constantRun));
    const u8* source = static_cast<const u8*>(a.source);
    u8* destination = static_cast<u8*>(a.destination);
    int i = from;
    for (; i + perVector <= to; i += perVector) {
        const B8 c = expandCategories<pixelBytes>(load<B8>(a.categories + i),
                                                  std::make_index_sequence<bytes>());
        // Category bits 01 copy, 10 constant; masks by arithmetic, not comparisons.
        const B8 isCopy = c & ~(c >> 1) & one;
        const B8 isConstant = (c >> 1) & ~c & one;
        B8 out = constant & (B8{} - isConstant);
        if constexpr (withSource) {
            out |= load<B8>(source + static_cast<std::ptrdiff_t>(i) * pixelBytes) & (B8{} - isCopy);
        }
        store(destination + static_cast<std::ptrdiff_t>(i) * pixelBytes, out);
    }
    for (; i < to; ++i) {
        u8* out = destination + static_cast<std::ptrdiff_t>(i) * pixelBytes;
        const u8 category = a.categories[i];
        if (category == categoryConstant) {
            std::memcpy(out, a.constantRun, pixelBytes);
        } else if (withSource && category == categoryCopy) {
            std::memcpy(out, source + static_cast<std::ptrdiff_t>(i) * pixelBytes, pixelBytes);
        } else if (category != categoryGeneral) {
            std::memset(out, 0, pixelBytes);
        }
    }
}

template <int bytes, int pixelBytes>
ZARVEL_INLINE void blendBody(const BlendArgs& a) {
    const int from = std::clamp(a.sourceFrom, 0, a.count);
    const int to = std::clamp(a.sourceTo, from, a.count);
    blendRun<bytes, pixelBytes, false>(a, 0, from);
    if (a.source != nullptr) {
        blendRun<bytes, pixelBytes, true>(a, from, to);
    } else {
        blendRun<bytes, pixelBytes, false>(a, from, to);
    }
    blendRun<bytes, pixelBytes, false>(a, to, a.count);
}

struct Kernels {
    bool (*classify[6])(const void* pixels, int count, u8* out);
    void (*blend[5])(const BlendArgs&);  // by pixel size: 1, 2, 4, 8, 16 bytes
    void (*rowDistances)(const RowDistanceArgs&);
    void (*squares)(const SquareArgs&);
    void (*column)(const ColumnArgs&);
    void (*wavefront)(const WavefrontArgs&);
    void (*chamferCategories)(const ChamferCategoryArgs&);
    void (*classValues)(const ClassValueArgs&);
    int lanes;  // rows of a wavefront band: two float vectors
};

// Pixel types in the order of Kernels::classify.
template <class PIX, int nComponents>
constexpr int pixelTypeIndex() {
    return (nComponents == 4 ? 0 : 3) + (std::is_same_v<PIX, unsigned char>    ? 0
                                         : std::is_same_v<PIX, unsigned short> ? 1
                                                                               : 2);
}

template <int bytes, class PIX, int nComponents>
ZARVEL_INLINE bool classifyBody(const void* pixels, int count, u8* out) {
    u8 any = 0;
    const int done = classifyVectors<bytes, PIX, nComponents>(pixels, count, out, any);
    const bool rest = classifyPixels<PIX, nComponents>(
        static_cast<const PIX*>(pixels) + static_cast<std::ptrdiff_t>(done) * nComponents,
        count - done, out + done);
    return any != 0 || rest;
}

#define ZARVEL_KERNELS(NAME, TARGET, BYTES)                                                        \
    TARGET bool NAME##ClassifyRgba8(const void* p, int n, u8* out) {                               \
        return classifyBody<BYTES, unsigned char, 4>(p, n, out);                                   \
    }                                                                                              \
    TARGET bool NAME##ClassifyRgba16(const void* p, int n, u8* out) {                              \
        return classifyBody<BYTES, unsigned short, 4>(p, n, out);                                  \
    }                                                                                              \
    TARGET bool NAME##ClassifyRgbaFloat(const void* p, int n, u8* out) {                           \
        return classifyBody<BYTES, float, 4>(p, n, out);                                           \
    }                                                                                              \
    TARGET bool NAME##ClassifyAlpha8(const void* p, int n, u8* out) {                              \
        return classifyBody<BYTES, unsigned char, 1>(p, n, out);                                   \
    }                                                                                              \
    TARGET bool NAME##ClassifyAlpha16(const void* p, int n, u8* out) {                             \
        return classifyBody<BYTES, unsigned short, 1>(p, n, out);                                  \
    }                                                                                              \
    TARGET bool NAME##ClassifyAlphaFloat(const void* p, int n, u8* out) {                          \
        return classifyBody<BYTES, float, 1>(p, n, out);                                           \
    }                                                                                              \
    TARGET void NAME##Blend1(const BlendArgs& a) {                                                 \
        blendBody<BYTES, 1>(a);                                                                    \
    }                                                                                              \
    TARGET void NAME##Blend2(const BlendArgs& a) {                                                 \
        blendBody<BYTES, 2>(a);                                                                    \
    }                                                                                              \
    TARGET void NAME##Blend4(const BlendArgs& a) {                                                 \
        blendBody<BYTES, 4>(a);                                                                    \
    }                                                                                              \
    TARGET void NAME##Blend8(const BlendArgs& a) {                                                 \
        blendBody<BYTES, 8>(a);                                                                    \
    }                                                                                              \
    TARGET void NAME##Blend16(const BlendArgs& a) {                                                \
        blendBody<BYTES, 16>(a);                                                                   \
    }                                                                                              \
    TARGET void NAME##RowDistances(const RowDistanceArgs& a) {                                     \
        rowDistancesBody<BYTES>(a);                                                                \
    }                                                                                              \
    TARGET void NAME##Squares(const SquareArgs& a) {                                               \
        squaresBody<BYTES>(a);                                                                     \
    }                                                                                              \
    TARGET void NAME##Column(const ColumnArgs& a) {                                                \
        columnBody<BYTES>(a);                                                                      \
    }                                                                                              \
    TARGET void NAME##Wavefront(const WavefrontArgs& a) {                                          \
        if (a.reverse) {                                                                           \
            wavefrontBody<BYTES, true>(a);                                                         \
        } else {                                                                                   \
            wavefrontBody<BYTES, false>(a);                                                        \
        }                                                                                          \
    }                                                                                              \
    TARGET void NAME##ClassValues(const ClassValueArgs& a) {                                       \
        classValuesBody<BYTES>(a);                                                                 \
    }                                                                                              \
    TARGET void NAME##ChamferCategories(const ChamferCategoryArgs& a) {                            \
        chamferCategoriesBody<BYTES>(a);                                                           \
    }                                                                                              \
    const Kernels NAME##Kernels = {                                                                \
        {NAME##ClassifyRgba8, NAME##ClassifyRgba16, NAME##ClassifyRgbaFloat, NAME##ClassifyAlpha8, \
         NAME##ClassifyAlpha16, NAME##ClassifyAlphaFloat},                                         \
        {NAME##Blend1, NAME##Blend2, NAME##Blend4, NAME##Blend8, NAME##Blend16},                   \
        NAME##RowDistances,                                                                        \
        NAME##Squares,                                                                             \
        NAME##Column,                                                                              \
        NAME##Wavefront,                                                                           \
        NAME##ChamferCategories,                                                                   \
        NAME##ClassValues,                                                                         \
        BYTES / 2};

ZARVEL_KERNELS(sse2, , 16)
ZARVEL_KERNELS(avx2, ZARVEL_TARGET_AVX2, 32)
ZARVEL_KERNELS(avx512, ZARVEL_TARGET_AVX512, 64)
#undef ZARVEL_KERNELS

const Kernels& kernelsFor(SimdLevel level) {
    switch (level) {
    case SimdLevel::avx512:
        return avx512Kernels;
    case SimdLevel::avx2:
        return avx2Kernels;
    case SimdLevel::sse2:
        break;
    }
    return sse2Kernels;
}

// ---------------------------------------------------------------------------------------------
// Pixel loads and stores
// ---------------------------------------------------------------------------------------------

// Class of `count` source pixels from `pixel` on (component 3 of RGBA, the only one of alpha);
// returns whether any is not far.
template <class PIX, int nComponents>
bool classifyPixels(const PIX* pixel, int count, u8* out) {
    constexpr int alpha = nComponents == 4 ? 3 : 0;
    unsigned any = 0;
    for (int i = 0; i < count; ++i) {
        const PIX a = pixel[i * nComponents + alpha];
        unsigned cls;
        if constexpr (std::is_same_v<PIX, float>) {
            cls = static_cast<unsigned>(a > 0.0f) + static_cast<unsigned>(a > 0.5f);
        } else {
            // value / max above 0.5 is exactly value ≥ 128 (8-bit) or ≥ 32768 (16-bit).
            constexpr unsigned half = std::is_same_v<PIX, unsigned char> ? 128u : 32768u;
            cls = static_cast<unsigned>(a != 0) + static_cast<unsigned>(a >= half);
        }
        out[i] = static_cast<u8>(cls);
        any |= cls;
    }
    return any != 0;
}

template <class PIX>
struct Image {
    const char* data = nullptr;
    std::ptrdiff_t rowBytes = 0;
    PixelRect bounds;
    bool valid = false;  // has pixels

    template <int nComponents>
    PIX* pixel(int x, int y) const {
        // The view's constness is restored by the caller's type; the bytes are the caller's.
        const char* row = data + static_cast<std::ptrdiff_t>(y - bounds.y1) * rowBytes;
        return const_cast<PIX*>(reinterpret_cast<const PIX*>(row)) +
               static_cast<std::ptrdiff_t>(x - bounds.x1) * nComponents;
    }
};

// Limits a value to [0, 255] and truncates it, as the output rule does for 8-bit pixels.
u8 limitByte(float value) {
    if (!(value >= 0.0f)) {
        return 0;
    }
    return static_cast<u8>(value > 255.0f ? 255.0f : value);
}

// The compositing of the output rule for 8-bit RGBA pixels of one transformed value, worked out
// once per source alpha with the same single-precision operations in the same order.
struct BlendEntry {
    float sourceAlpha;     // sa
    float outlineTerm[3];  // outline component × oa × inv
    float reciprocal;      // 1 / A
    u8 alpha;              // A × 255, limited
    u8 composite;          // A above the compositing floor
};

// ---------------------------------------------------------------------------------------------
// Per-thread scratch
// ---------------------------------------------------------------------------------------------

struct Scratch {
    Buffer<u8> regionClasses;     // classes of one region row (padded)
    Buffer<s16> regionDistances;  // its row distances
    Buffer<u16> ringSquares;      // separable: squared row distances of the rows within reach
    Buffer<u8> ringClasses;       // classes of the ring rows (stripe or region width)
    Buffer<u8> ringFlags;         // chunk activity of the ring rows (with a zero guard each side)
    Buffer<float> ringValues;     // chamfer: class values, then forward values, of ring rows
    Buffer<float> ringBackward;   // chamfer: backward values of rows the next block reads again
    Buffer<float> dummyRows;      // chamfer: a far row and a row to write, for missing rows
    Buffer<float> columnKeys;     // chamfer: frozen columns of the region
    Buffer<u8> ringSources;       // chamfer: per ring row and chunk, whether it holds a source
    Buffer<u8> ringFars;          // chamfer: per ring row and chunk, whether it holds a far pixel
    Buffer<u8> activity;          // chamfer: chunks of a band near a source, and active ones
    Buffer<int> spans;            // chamfer: column runs of a band the passes work on
    Buffer<u8> bandNear;          // chamfer: per band of a block, chunks near a source

    Buffer<int> counts;  // separable: active rows within reach per chunk
    Buffer<u16> near;
    Buffer<u8> categories;
    Buffer<const u16*> rowPointers;
    Buffer<const u8*> flagPointers;
    ColumnScratch column;  // whole-field path

    std::size_t bytes() const {
        return regionClasses.bytes() + regionDistances.bytes() + ringSquares.bytes() +
               ringClasses.bytes() + ringFlags.bytes() + ringValues.bytes() + ringBackward.bytes() +
               dummyRows.bytes() + columnKeys.bytes() + ringSources.bytes() + ringFars.bytes() +
               activity.bytes() + spans.bytes() + bandNear.bytes() + counts.bytes() + near.bytes() +
               categories.bytes() + rowPointers.bytes() + flagPointers.bytes() +
               (column.column.size() + column.envelope.size() + column.boundaries.size()) *
                   sizeof(float) +
               column.positions.size() * sizeof(int);
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The render state
// ---------------------------------------------------------------------------------------------

struct FastOutline::State {
    // What was prepared.
    SimdLevel simdLimit = SimdLevel::avx512;
    int stripeWidthOverride = 0;
    int bandsOverride = 0;
    int blockRowsOverride = 0;
    const Kernels* kernels = &sse2Kernels;
    PixelRect field;  // field bounds
    PixelRect window;
    PixelRect inner;  // window ∩ field
    int quality = 1;
    float width = 0.0f;
    float widthMinus1 = 0.0f;
    int reach = 0;           // ceil(width): the fast path's K
    int cap = 1;             // (reach + 1)²
    int zeroFrom = 1;        // smallest n whose square root is above the width
    int fullBelow = 0;       // smallest n whose square root does not give full coverage
    bool usesField = false;  // the whole-field path
    int stripeWidth = 0;
    int stripes = 1;  // tiles: stripes × bands
    int bands = 1;
    int margin = 0;     // chamfer: extra pixels computed on every side of a stripe
    int blockRows = 0;  // chamfer: output rows per backward block
    int phases = 0;
    unsigned threads = 0;  // thread indices with scratch for this render
    int tasks[3] = {0, 0, 0};
    std::atomic<int> nextTask[3];
    void (*runTask)(State&, Scratch&, int phase, int task) = nullptr;

    // The images, type-erased; the task functions know the type.
    const char* sourceData = nullptr;
    std::ptrdiff_t sourceRowBytes = 0;
    PixelRect sourceBounds;
    bool hasSource = false;
    char* destinationData = nullptr;
    std::ptrdiff_t destinationRowBytes = 0;
    PixelRect destinationBounds;
    OutputSettings settings;
    std::vector<unsigned char> constantRun;  // chunkPixels constant outline pixels
    // Separable: the pixel of every n in [fullBelow, zeroFrom) with nothing composited.
    std::vector<unsigned char> ringPixels;
    // 8-bit RGBA: compositing of the transformed values 0 and 1 by source alpha, and the
    // outline pixels of those values.
    std::vector<BlendEntry> blendTable;  // [value][alpha]
    u8 blendOutline[2][4] = {};

    std::vector<Scratch> scratch;
    Buffer<float> fieldValues;  // whole-field path: the field

    bool (*abortQuery)(void*) = nullptr;
    void* abortContext = nullptr;
};

namespace {

using State = FastOutline::State;

template <class PIX>
Image<PIX> sourceImage(const State& s) {
    Image<PIX> image;
    image.data = s.sourceData;
    image.rowBytes = s.sourceRowBytes;
    image.bounds = s.sourceBounds;
    image.valid = s.hasSource;
    return image;
}

template <class PIX>
Image<PIX> destinationImage(const State& s) {
    Image<PIX> image;
    image.data = s.destinationData;
    image.rowBytes = s.destinationRowBytes;
    image.bounds = s.destinationBounds;
    image.valid = true;
    return image;
}

// Classes of the field pixels [x1, x2) of row y into `out`; returns whether any is not far.
template <class PIX, int nComponents>
bool classifyRow(const State& s, const Image<PIX>& source, int y, int x1, int x2, u8* out) {
    const int count = x2 - x1;
    if (!source.valid || y < source.bounds.y1 || y >= source.bounds.y2) {
        std::memset(out, classFar, static_cast<std::size_t>(count));
        return false;
    }
    const int from = std::max(x1, source.bounds.x1);
    const int to = std::min(x2, source.bounds.x2);
    if (from >= to) {
        std::memset(out, classFar, static_cast<std::size_t>(count));
        return false;
    }
    std::memset(out, classFar, static_cast<std::size_t>(from - x1));
    std::memset(out + (to - x1), classFar, static_cast<std::size_t>(x2 - to));
    return s.kernels->classify[pixelTypeIndex<PIX, nComponents>()](
        source.template pixel<nComponents>(from, y), to - from, out + (from - x1));
}

// Range of lanes [from, to) of a row segment starting at x that has source pixels in row y.
template <class PIX>
std::pair<int, int> sourceLanes(const Image<PIX>& source, int y, int x, int count) {
    if (!source.valid || y < source.bounds.y1 || y >= source.bounds.y2) {
        return {0, 0};
    }
    const int from = std::clamp(source.bounds.x1 - x, 0, count);
    const int to = std::clamp(source.bounds.x2 - x, from, count);
    return {from, to};
}

template <class PIX, int nComponents>
void zeroPixels(const State& s, int y, int x1, int x2) {
    if (x1 >= x2) {
        return;
    }
    const Image<PIX> destination = destinationImage<PIX>(s);
    std::memset(destination.template pixel<nComponents>(x1, y), 0,
                static_cast<std::size_t>(x2 - x1) * nComponents * sizeof(PIX));
}

// A tile of the inner window: stripe `task % stripes` of its columns, band `task / stripes` of
// its rows.
struct Tile {
    int x1, x2, y1, y2;
    bool first, last;  // the stripe touches the left or right end of the inner window
};

Tile tileOf(const State& s, int task) {
    const int stripe = task % s.stripes;
    const int band = task / s.stripes;
    const long long width = s.inner.x2 - s.inner.x1;
    const long long height = s.inner.y2 - s.inner.y1;
    Tile t;
    t.x1 = s.inner.x1 + static_cast<int>(width * stripe / s.stripes);
    t.x2 = s.inner.x1 + static_cast<int>(width * (stripe + 1) / s.stripes);
    t.y1 = s.inner.y1 + static_cast<int>(height * band / s.bands);
    t.y2 = s.inner.y1 + static_cast<int>(height * (band + 1) / s.bands);
    t.first = stripe == 0;
    t.last = stripe == s.stripes - 1;
    return t;
}

// Window columns outside the field become zero in every window row inside the field: the first
// stripe of a band does the left part of the row, the last the right part.
template <class PIX, int nComponents>
void zeroOutsideColumns(const State& s, const Tile& tile, int y) {
    if (tile.first) {
        zeroPixels<PIX, nComponents>(s, y, s.window.x1, s.inner.x1);
    }
    if (tile.last) {
        zeroPixels<PIX, nComponents>(s, y, s.inner.x2, s.window.x2);
    }
}

// Asked before every output row a task writes: true leaves the row unwritten.
bool rowAborted(const State& s) {
    return s.abortQuery != nullptr && s.abortQuery(s.abortContext);
}

// One row segment of output: its categories, classes, transformed values (n for the separable
// transform, d for the chamfer one) and pixels.
template <class PIX>
struct OutputRow {
    const u8* categories;
    const u8* classes;
    int count;
    const u16* near;      // separable
    const float* values;  // chamfer
    const PIX* source;    // pixel 0, or null; pixels [sourceFrom, sourceTo) exist
    int sourceFrom;
    int sourceTo;
    PIX* destination;
};

template <class PIX>
constexpr int log2Size(int bytes) {
    return bytes == 1 ? 0 : bytes == 2 ? 1 : bytes == 4 ? 2 : bytes == 8 ? 3 : 4;
}

// Composites an 8-bit source pixel over the outline pixel of transformed value `value` (0 or 1)
// from the table.
void blendByte(const State& s, int value, const u8* src, u8* out) {
    const BlendEntry& e = s.blendTable[static_cast<std::size_t>(value) * 256 + src[3]];
    if (e.composite == 0) {
        std::memcpy(out, s.blendOutline[value], 4);
        return;
    }
    for (int c = 0; c < 3; ++c) {
        out[c] = limitByte((e.outlineTerm[c] + static_cast<float>(src[c]) * e.sourceAlpha) *
                           e.reciprocal);
    }
    out[3] = e.alpha;
}

// The output rule for one pixel of the general category: the outer falloff of the outline
// (nothing to composite: by table or with no source), or compositing over an edge pixel.
template <class PIX, int nComponents, bool separable>
void writeGeneral(const State& s, const OutputRow<PIX>& row, int i) {
    constexpr std::size_t pixelBytes = sizeof(PIX) * nComponents;
    PIX* out = row.destination + static_cast<std::ptrdiff_t>(i) * nComponents;
    const bool far = row.classes[i] == classFar;
    if constexpr (separable) {
        const int n = row.near[i];
        if (nComponents == 1 || far) {
            if (n < s.fullBelow) {
                std::memcpy(out, s.constantRun.data(), pixelBytes);
            } else {
                std::memcpy(out, s.ringPixels.data() + (n - s.fullBelow) * pixelBytes, pixelBytes);
            }
            return;
        }
        const PIX* src = row.source + static_cast<std::ptrdiff_t>(i) * nComponents;
        if constexpr (std::is_same_v<PIX, unsigned char> && nComponents == 4) {
            if (n < 2) {
                blendByte(s, n, src, out);
                return;
            }
        }
        applyOutputRule<PIX, nComponents>(std::sqrt(static_cast<float>(n)), s.settings, src, out);
    } else {
        const float d = row.values[i];
        if (nComponents == 1 || far) {
            applyOutputRule<PIX, nComponents>(d, s.settings, nullptr, out);
            return;
        }
        const PIX* src = row.source + static_cast<std::ptrdiff_t>(i) * nComponents;
        if constexpr (std::is_same_v<PIX, unsigned char> && nComponents == 4) {
            if (d == 0.0f) {
                blendByte(s, 0, src, out);
                return;
            }
        }
        applyOutputRule<PIX, nComponents>(d, s.settings, src, out);
    }
}

// Writes a row segment: the byte blend for zero, copied and constant pixels, then the general
// ones, found eight categories at a time.
template <class PIX, int nComponents, bool separable>
void writeRow(const State& s, const OutputRow<PIX>& row) {
    constexpr int pixelBytes = static_cast<int>(sizeof(PIX)) * nComponents;
    const BlendArgs blend = {row.categories, row.count,       row.source,          row.sourceFrom,
                             row.sourceTo,   row.destination, s.constantRun.data()};
    s.kernels->blend[log2Size<PIX>(pixelBytes)](blend);
    static_assert(categoryGeneral == 3, "general pixels are the bytes with both low bits set");
    for (int w = 0; w < row.count; w += 8) {
        std::uint64_t word;
        std::memcpy(&word, row.categories + w, 8);
        std::uint64_t general = word & (word >> 1) & 0x0101010101010101ull;
        while (general != 0) {
            const int i = w + __builtin_ctzll(general) / 8;
            general &= general - 1;
            if (i >= row.count) {
                break;
            }
            writeGeneral<PIX, nComponents, separable>(s, row, i);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Good and Best: integer row distances, a ring of squared rows, the column search.
// ---------------------------------------------------------------------------------------------

template <class PIX, int nComponents>
void separableStripe(State& s, Scratch& t, int task) {
    const Tile tile = tileOf(s, task);
    const int x1 = tile.x1;
    const int x2 = tile.x2;
    if (x1 >= x2 || tile.y1 >= tile.y2) {
        return;
    }
    const Kernels& k = *s.kernels;
    const int reach = s.reach;
    // A source more than reach + 2 columns away gives a capped row distance.
    const int rx1 = std::max(s.field.x1, x1 - (reach + 3));
    const int rx2 = std::min(s.field.x2, x2 + (reach + 3));
    const int regionLength = roundUp(rx2 - rx1, chunkPixels);
    const int offset = x1 - rx1;
    const int stripeLength = x2 - x1;
    const int padded = roundUp(stripeLength, chunkPixels);
    const int chunks = padded / chunkPixels;
    const int ringRows = 2 * reach + 1;
    const int flagStride = chunks + 2;
    const int ya = std::max(s.field.y1, tile.y1 - reach);
    const int yb = std::min(s.field.y2, tile.y2 + reach);
    const Image<PIX> source = sourceImage<PIX>(s);
    const Image<PIX> destination = destinationImage<PIX>(s);

    u8* regionClasses = t.regionClasses.data();
    s16* regionDistances = t.regionDistances.data();
    int* counts = t.counts.data();
    std::fill(counts, counts + chunks, 0);
    auto squaresOf = [&](int y) {
        return t.ringSquares.data() + static_cast<std::size_t>((y - ya) % ringRows) * padded;
    };
    auto classesOf = [&](int y) {
        return t.ringClasses.data() + static_cast<std::size_t>((y - ya) % ringRows) * padded;
    };
    auto flagsOf = [&](int y) {
        return t.ringFlags.data() + static_cast<std::size_t>((y - ya) % ringRows) * flagStride + 1;
    };
    auto count = [&](int y, int sign) {
        const u8* flags = flagsOf(y);
        for (int c = 0; c < chunks; ++c) {
            counts[c] += sign * flags[c];
        }
    };

    int oldest = ya;
    auto emit = [&](int y) {
        while (oldest < y - reach) {
            count(oldest++, -1);
        }
        if (rowAborted(s)) {
            return;
        }
        zeroOutsideColumns<PIX, nComponents>(s, tile, y);
        const u16** rows = t.rowPointers.data();
        const u8** flags = t.flagPointers.data();
        for (int dy = -reach; dy <= reach; ++dy) {
            const bool present = y + dy >= ya && y + dy < yb;
            rows[reach + dy] = present ? squaresOf(y + dy) : nullptr;
            flags[reach + dy] = present ? flagsOf(y + dy) : nullptr;
        }
        const ColumnArgs args = {
            rows,       flags,       counts,        classesOf(y),       chunks, reach, s.cap,
            s.zeroFrom, s.fullBelow, t.near.data(), t.categories.data()};
        k.column(args);
        const auto lanes = sourceLanes(source, y, x1, stripeLength);
        const PIX* src =
            lanes.first < lanes.second ? source.template pixel<nComponents>(x1, y) : nullptr;
        const OutputRow<PIX> row = {
            t.categories.data(), classesOf(y), stripeLength,
            t.near.data(),       nullptr,      src,
            lanes.first,         lanes.second, destination.template pixel<nComponents>(x1, y)};
        writeRow<PIX, nComponents, true>(s, row);
    };

    for (int y = ya; y < yb; ++y) {
        if (y - oldest >= ringRows) {
            count(oldest++, -1);
        }
        u16* squares = squaresOf(y);
        u8* classes = classesOf(y);
        u8* flags = flagsOf(y);
        const bool any = classifyRow<PIX, nComponents>(s, source, y, rx1, rx2, regionClasses);
        std::memcpy(classes, regionClasses + offset, static_cast<std::size_t>(stripeLength));
        if (any) {
            std::memset(regionClasses + (rx2 - rx1), classFar,
                        static_cast<std::size_t>(regionLength - (rx2 - rx1)));
            k.rowDistances({regionClasses, regionLength, reach + 1, regionDistances});
            k.squares({regionDistances + offset, stripeLength, padded, s.cap, squares, flags});
        } else {
            std::fill(squares, squares + padded, static_cast<u16>(s.cap));
            std::memset(flags, 0, static_cast<std::size_t>(chunks));
        }
        count(y, +1);
        const int ready = y - reach;
        if (ready >= tile.y1 && ready < tile.y2) {
            emit(ready);
        }
    }
    for (int y = std::max(tile.y1, yb - reach); y < tile.y2; ++y) {
        emit(y);
    }
}

// ---------------------------------------------------------------------------------------------
// Draft: the chamfer recurrences on a stripe with margins, forward pass streamed into a ring,
// backward pass in blocks of rows.
// ---------------------------------------------------------------------------------------------

// dst[c] |= src[c] for c < count, eight bytes at a time.
void orBytes(u8* dst, const u8* src, int count) {
    int c = 0;
    for (; c + 8 <= count; c += 8) {
        std::uint64_t a;
        std::uint64_t b;
        std::memcpy(&a, dst + c, 8);
        std::memcpy(&b, src + c, 8);
        a |= b;
        std::memcpy(dst + c, &a, 8);
    }
    for (; c < count; ++c) {
        dst[c] = static_cast<u8>(dst[c] | src[c]);
    }
}

template <class PIX, int nComponents>
void chamferStripe(State& s, Scratch& t, int task) {
    const Tile tile = tileOf(s, task);
    const int x1 = tile.x1;
    const int x2 = tile.x2;
    if (x1 >= x2 || tile.y1 >= tile.y2) {
        return;
    }
    const Kernels& k = *s.kernels;
    const int lanes = k.lanes;
    const int margin = s.margin;
    const int rx1 = std::max(s.field.x1, x1 - margin);
    const int rx2 = std::min(s.field.x2, x2 + margin);
    const int length = rx2 - rx1;
    const int padded = roundUp(length, chunkPixels);
    const int rowStride = padded + 2 * guardFloats;
    const int classStride = padded + chunkPixels;
    const int offset = x1 - rx1;
    const int stripeLength = x2 - x1;
    // Rows of the region, local index 0 at ra. Its first and last rows are frozen: field edges,
    // or far enough from every output row not to matter.
    const int ra = std::max(s.field.y1, tile.y1 - margin);
    const int rb = std::min(s.field.y2, tile.y2 + margin);
    const int height = rb - ra;
    const int blockRows = roundUp(s.blockRows, lanes);
    const int ringRows = blockRows + margin + 2 * maxLanes + 2;
    const int chunks = padded / chunkPixels;
    const Image<PIX> source = sourceImage<PIX>(s);
    const Image<PIX> destination = destinationImage<PIX>(s);

    auto rowOf = [&](Buffer<float>& ring, int j) {
        return ring.data() + static_cast<std::size_t>(j % ringRows) * rowStride + guardFloats;
    };
    auto classesOf = [&](int j) {
        return t.ringClasses.data() + static_cast<std::size_t>(j % ringRows) * classStride;
    };
    // Lanes past the last row read a far row and write a row nobody reads.
    float* dummyIn = t.dummyRows.data() + guardFloats;
    float* dummyOut = dummyIn + rowStride;
    std::fill(t.dummyRows.data(), t.dummyRows.data() + 2 * static_cast<std::size_t>(rowStride),
              farValue);
    const float* in[maxLanes];
    float* out[maxLanes];
    float keys[maxLanes];
    float* columnKeys = t.columnKeys.data() + guardFloats;
    for (int c = -guardFloats; c < padded + guardFloats; ++c) {
        columnKeys[c] = c <= 0 || c >= length - 1 ? -1.0f : farValue;
    }

    auto sourcesOf = [&](int j) {
        return t.ringSources.data() + static_cast<std::size_t>(j % ringRows) * chunks;
    };
    auto farsOf = [&](int j) {
        return t.ringFars.data() + static_cast<std::size_t>(j % ringRows) * chunks;
    };
    // Classifies row j into the ring: classes, and class values as the values before the pass;
    // per chunk whether it holds a source and whether it holds a far pixel.
    int classified = -1;
    auto classify = [&](int j) {
        u8* classes = classesOf(j);
        float* values = rowOf(t.ringValues, j);
        classified = j;
        if (!classifyRow<PIX, nComponents>(s, source, ra + j, rx1, rx2, classes)) {
            std::memset(classes, classFar, static_cast<std::size_t>(padded));
            std::fill(values, values + padded, farValue);
            std::memset(sourcesOf(j), 0, static_cast<std::size_t>(chunks));
            std::memset(farsOf(j), 1, static_cast<std::size_t>(chunks));
            return;
        }
        std::memset(classes + length, classFar, static_cast<std::size_t>(padded - length));
        k.classValues({classes, padded, values, sourcesOf(j)});
        u8* fars = farsOf(j);
        for (int c = 0; c < chunks; ++c) {
            std::uint64_t zeroBytes = 0;
            for (int b = 0; b < chunkPixels; b += 8) {
                std::uint64_t word;
                std::memcpy(&word, classes + c * chunkPixels + b, 8);
                zeroBytes |= (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;
            }
            fars[c] = zeroBytes != 0 ? 1 : 0;
        }
    };

    // The columns of a band of rows that a pass has to work on: chunks holding a far pixel (no
    // other value ever changes) with a source of rows [sourceFirst, sourceLast] within reach + 2
    // pixels (no farther source gives a value up to the reach). Anywhere else a pass would
    // leave every value as it stands, or lower far values to values still beyond the reach,
    // which neither an output pixel nor a value up to the reach can tell apart. Rows not yet
    // classified, or no longer in the ring (wide reaches reach above it), count as sources
    // everywhere. `nearOut`, when given, receives per chunk whether a source is near. Runs of such chunks at least four chunks apart
    // (well beyond the skew of the lanes, which a run pays again) go to t.spans as column
    // pairs; returns their number.
    const int chunkReach = (s.reach + 2 + chunkPixels - 1) / chunkPixels;
    auto activeSpans = [&](int bandFirst, int bandLast, int sourceFirst, int sourceLast,
                           u8* nearOut) {
        u8* nearby = t.activity.data();
        u8* active = nearby + chunks;
        sourceFirst = std::max(sourceFirst, 0);
        sourceLast = std::min(sourceLast, height - 1);
        if (sourceLast > classified || sourceFirst <= classified - ringRows) {
            std::memset(nearby, 1, static_cast<std::size_t>(chunks));
        } else {
            std::memset(nearby, 0, static_cast<std::size_t>(chunks));
            for (int j = sourceFirst; j <= sourceLast; ++j) {
                orBytes(nearby, sourcesOf(j), chunks);
            }
        }
        std::memset(active, 0, static_cast<std::size_t>(chunks));
        for (int j = std::max(bandFirst, 0); j <= std::min(bandLast, height - 1); ++j) {
            orBytes(active, farsOf(j), chunks);
        }
        int count = 0;
        int* spans = t.spans.data();
        for (int c = 0; c < chunks; ++c) {
            const int c1 = std::max(0, c - chunkReach);
            const int c2 = std::min(chunks - 1, c + chunkReach);
            bool near = false;
            for (int d = c1; d <= c2 && !near; ++d) {
                near = nearby[d] != 0;
            }
            if (nearOut != nullptr) {
                nearOut[c] = near ? 1 : 0;
            }
            if (!near || active[c] == 0) {
                continue;
            }
            const int from = c * chunkPixels;
            const int to = std::min(length, from + chunkPixels);
            if (count > 0 && from - spans[2 * count - 1] < 4 * chunkPixels) {
                spans[2 * count - 1] = to;
            } else {
                spans[2 * count] = from;
                spans[2 * count + 1] = to;
                ++count;
            }
        }
        return count;
    };
    auto laneRow = [&](int t0, int row, Buffer<float>& from, Buffer<float>& to) {
        if (row < height) {
            in[t0] = rowOf(from, row);
            out[t0] = rowOf(to, row);
            keys[t0] = row == 0 || row == height - 1 ? -1.0f : farValue;
        } else {
            in[t0] = dummyIn;
            out[t0] = dummyOut;
            keys[t0] = -1.0f;
        }
    };

    classify(0);
    int forwardDone = 0;  // rows up to here have their forward values
    auto forwardTo = [&](int last) {
        while (forwardDone < last) {
            const int first = forwardDone + 1;
            for (int l = 0; l < lanes; ++l) {
                if (first + l < height) {
                    classify(first + l);
                }
                laneRow(l, first + l, t.ringValues, t.ringValues);
            }
            // The forward pass carries values down and to the right: sources above count.
            const int spanCount = activeSpans(first, first + lanes - 1, first - (s.reach + 2),
                                              first + lanes - 1, nullptr);
            for (int span = 0; span < spanCount; ++span) {
                k.wavefront({in, out, rowOf(t.ringValues, first - 1), keys, columnKeys, length,
                             false, t.spans.data()[2 * span], t.spans.data()[2 * span + 1]});
            }
            forwardDone += lanes;
        }
    };

    // Runs of the stripe's pixels [from, to) (in t.spans, ascending) whose region chunk is marked
    // in `near`; returns their number.
    auto nearRuns = [&](const u8* near) {
        int count = 0;
        int* runs = t.spans.data();
        for (int c = 0; c < chunks && c * chunkPixels - offset < stripeLength; ++c) {
            const int from = std::max(0, c * chunkPixels - offset);
            const int to = std::min(stripeLength, (c + 1) * chunkPixels - offset);
            if (near[c] == 0 || from >= to) {
                continue;
            }
            if (count > 0 && runs[2 * count - 1] == from) {
                runs[2 * count - 1] = to;
            } else {
                runs[2 * count] = from;
                runs[2 * count + 1] = to;
                ++count;
            }
        }
        return count;
    };

    // `near`: the chunks of the region with a source within reach + 2 of row j.
    auto emit = [&](int j, const float* values, const u8* near) {
        const int y = ra + j;
        if (rowAborted(s)) {
            return;
        }
        zeroOutsideColumns<PIX, nComponents>(s, tile, y);
        const u8* classes = classesOf(j) + offset;
        u8* categories = t.categories.data();
        // Only pixels with a source within reach + 2 can be anything but zero (see activeSpans):
        // their categories come from the values, every other pixel is zero.
        const int nearCount = nearRuns(near);
        const int* runs = t.spans.data();
        if (nearCount == 0) {
            zeroPixels<PIX, nComponents>(s, y, x1, x2);
            return;
        }
        if (nearCount > 1 || runs[0] > 0 || runs[1] < stripeLength) {
            std::memset(categories, categoryZero, static_cast<std::size_t>(stripeLength));
        }
        for (int run = 0; run < nearCount; ++run) {
            const int from = runs[2 * run];
            const ChamferCategoryArgs args = {values + offset + from,
                                              classes + from,
                                              roundUp(runs[2 * run + 1] - from, chunkPixels),
                                              s.width,
                                              s.widthMinus1,
                                              categories + from};
            k.chamferCategories(args);
        }
        const auto range = sourceLanes(source, y, x1, stripeLength);
        const PIX* src =
            range.first < range.second ? source.template pixel<nComponents>(x1, y) : nullptr;
        const OutputRow<PIX> row = {t.categories.data(),
                                    classes,
                                    stripeLength,
                                    nullptr,
                                    values + offset,
                                    src,
                                    range.first,
                                    range.second,
                                    destination.template pixel<nComponents>(x1, y)};
        writeRow<PIX, nComponents, false>(s, row);
    };

    const int o1 = tile.y1 - ra;
    const int o2 = tile.y2 - ra;
    for (int j0 = o1; j0 < o2; j0 += blockRows) {
        const int jEnd = std::min(o2, j0 + blockRows);
        // The backward pass of this block starts `margin` rows below it, on forward values,
        // and covers whole bands down to j0.
        const int top = std::max(jEnd - 1, std::min(height - 2, jEnd - 1 + margin));
        const int jTop = j0 + roundUp(top - j0 + 1, lanes) - 1;
        forwardTo(std::min(height - 1, jTop + 1));
        const float* below = jTop + 1 < height ? rowOf(t.ringValues, jTop + 1) : dummyIn;
        // Forward values of rows below the block are read again by the next block; every
        // other row takes its backward values in place, and the columns the pass leaves alone
        // keep their forward values without a copy.
        const int inPlaceEnd = jEnd < o2 ? jEnd : height;
        // What the backward pass of a band found near its rows, for writing them.
        auto bandNear = [&](int j) {
            return t.bandNear.data() + static_cast<std::size_t>((j - j0) / lanes) * chunks;
        };
        auto backwardRow = [&](int j) {
            return j < inPlaceEnd ? rowOf(t.ringValues, j) : rowOf(t.ringBackward, j);
        };
        for (int jb = jTop - lanes + 1; jb >= j0; jb -= lanes) {
            for (int l = 0; l < lanes; ++l) {
                const int j = jb + lanes - 1 - l;
                laneRow(l, j, t.ringValues, t.ringValues);
                if (j < height) {
                    out[l] = backwardRow(j);
                }
            }
            // Backward values also come from below: sources on both sides count. Spans run
            // right to left in the pass's own column order.
            const int spanCount = activeSpans(jb, jb + lanes - 1, jb - (s.reach + 2),
                                              jb + lanes - 1 + s.reach + 2, bandNear(jb));
            // Columns the pass leaves alone keep their forward values.
            for (int j = std::max(jb, inPlaceEnd); j < std::min(height, jb + lanes); ++j) {
                int done = 0;
                for (int span = 0; span <= spanCount; ++span) {
                    const int next = span < spanCount ? t.spans.data()[2 * span] : padded;
                    std::memcpy(rowOf(t.ringBackward, j) + done, rowOf(t.ringValues, j) + done,
                                static_cast<std::size_t>(next - done) * sizeof(float));
                    done = span < spanCount ? t.spans.data()[2 * span + 1] : padded;
                }
            }
            const int vectorLanes = lanes / 2;
            for (int span = spanCount - 1; span >= 0; --span) {
                const int from =
                    (length - t.spans.data()[2 * span + 1]) / vectorLanes * vectorLanes;
                const int to = length - t.spans.data()[2 * span];
                k.wavefront({in, out, below, keys, columnKeys, length, true, from, to});
            }
            below = backwardRow(jb);
            // The band's rows of the block are final: written while they are still in cache.
            for (int j = jb; j < std::min(jEnd, jb + lanes); ++j) {
                emit(j, rowOf(t.ringValues, j), bandNear(jb));
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Widths beyond the fast path: the straightforward pipeline on a whole field.
// ---------------------------------------------------------------------------------------------

constexpr int wholeFieldRowsPerTask = 32;
constexpr int wholeFieldColumnsPerTask = 64;

template <class PIX, int nComponents>
void wholeFieldTask(State& s, Scratch& t, int phase, int task) {
    const int width = s.field.x2 - s.field.x1;
    const int height = s.field.y2 - s.field.y1;
    float* field = s.fieldValues.data();
    const Image<PIX> source = sourceImage<PIX>(s);
    if (phase == 0) {
        const int j1 = task * wholeFieldRowsPerTask;
        const int j2 = std::min(height, j1 + wholeFieldRowsPerTask);
        u8* classes = t.regionClasses.data();
        static const float classValues[3] = {farValue, edgeValue, insideValue};
        for (int j = j1; j < j2; ++j) {
            classifyRow<PIX, nComponents>(s, source, s.field.y1 + j, s.field.x1, s.field.x2,
                                          classes);
            float* row = field + static_cast<std::size_t>(j) * width;
            for (int i = 0; i < width; ++i) {
                row[i] = classValues[classes[i]];
            }
        }
        if (s.quality != 0) {
            separableRowPass(field, width, j1, j2);
        }
        return;
    }
    if (phase == 1) {
        if (s.quality == 0) {
            chamferTransform(field, width, height);
        } else {
            const int i1 = task * wholeFieldColumnsPerTask;
            const int i2 = std::min(width, i1 + wholeFieldColumnsPerTask);
            separableColumnPass(field, width, height, i1, i2, t.column);
        }
        return;
    }
    const Image<PIX> destination = destinationImage<PIX>(s);
    const int y1 = s.inner.y1 + task * wholeFieldRowsPerTask;
    const int y2 = std::min(s.inner.y2, y1 + wholeFieldRowsPerTask);
    for (int y = y1; y < y2; ++y) {
        if (rowAborted(s)) {
            continue;
        }
        zeroPixels<PIX, nComponents>(s, y, s.window.x1, s.inner.x1);
        zeroPixels<PIX, nComponents>(s, y, s.inner.x2, s.window.x2);
        if (s.inner.x1 >= s.inner.x2) {
            continue;
        }
        const float* row =
            field + static_cast<std::size_t>(y - s.field.y1) * width + (s.inner.x1 - s.field.x1);
        const int count = s.inner.x2 - s.inner.x1;
        const auto lanes = sourceLanes(source, y, s.inner.x1, count);
        PIX* out = destination.template pixel<nComponents>(s.inner.x1, y);
        const PIX* src = lanes.first < lanes.second
                             ? source.template pixel<nComponents>(s.inner.x1, y)
                             : nullptr;
        for (int i = 0; i < count; ++i) {
            const PIX* pixel = i >= lanes.first && i < lanes.second
                                   ? src + static_cast<std::ptrdiff_t>(i) * nComponents
                                   : nullptr;
            applyOutputRule<PIX, nComponents>(row[i], s.settings, pixel,
                                              out + static_cast<std::ptrdiff_t>(i) * nComponents);
        }
    }
}

template <class PIX, int nComponents>
void stripeTask(State& s, Scratch& t, int /*phase*/, int task) {
    if (s.quality == 0) {
        chamferStripe<PIX, nComponents>(s, t, task);
    } else {
        separableStripe<PIX, nComponents>(s, t, task);
    }
}

// Rows in a window but with no field column: zero them (one task).
template <class PIX, int nComponents>
void zeroTask(State& s, Scratch&, int, int) {
    for (int y = s.inner.y1; y < s.inner.y2; ++y) {
        if (!rowAborted(s)) {
            zeroPixels<PIX, nComponents>(s, y, s.window.x1, s.window.x2);
        }
    }
}

// Smallest n in [0, upTo] whose single-precision square root is above `limit` (upTo if none).
// The search starts just below limit², where the root is safely at or below the limit.
int firstRootAbove(float limit, int upTo) {
    if (!(limit >= 0.0f)) {
        return 0;
    }
    int n = std::max(0, static_cast<int>(limit * limit) - 2);
    while (n < upTo && std::sqrt(static_cast<float>(n)) <= limit) {
        ++n;
    }
    return n;
}

SimdLevel clampLevel(SimdLevel wanted) {
    const SimdLevel best = detectedSimdLevel();
    return static_cast<int>(wanted) < static_cast<int>(best) ? wanted : best;
}

}  // namespace

SimdLevel detectedSimdLevel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq")) {
        return SimdLevel::avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return SimdLevel::avx2;
    }
    return SimdLevel::sse2;
}

FastOutline::FastOutline()
    : state(std::make_unique<State>()) {}

FastOutline::~FastOutline() = default;

void FastOutline::limitSimd(SimdLevel level) {
    state->simdLimit = level;
}

void FastOutline::setWorkUnits(int stripeWidth, int bands, int blockRows) {
    state->stripeWidthOverride = std::max(0, stripeWidth);
    state->bandsOverride = std::max(0, bands);
    state->blockRowsOverride = std::max(0, blockRows);
}

void FastOutline::setAbortQuery(bool (*aborted)(void* context), void* context) {
    state->abortQuery = aborted;
    state->abortContext = context;
}

int FastOutline::phaseCount() const {
    return state->phases;
}

bool FastOutline::usesWholeField() const {
    return state->usesField;
}

std::size_t FastOutline::workingBytes() const {
    std::size_t total = state->fieldValues.bytes();
    for (const Scratch& t : state->scratch) {
        total += t.bytes();
    }
    return total;
}

void FastOutline::runPhase(int phase, unsigned threadIndex, unsigned /*threadCount*/) {
    State& s = *state;
    // Indices beyond the tasks of the render have no scratch: the others take every task.
    if (phase < 0 || phase >= s.phases || threadIndex >= s.threads) {
        return;
    }
    Scratch& t = s.scratch[threadIndex];
    // Tasks are handed out in order to whichever thread asks next, so threads that run at the
    // same time share the work and a thread that runs alone does all of it.
    for (;;) {
        const int task = s.nextTask[phase].fetch_add(1, std::memory_order_relaxed);
        if (task >= s.tasks[phase]) {
            return;
        }
        s.runTask(s, t, phase, task);
    }
}

template <class PIX, int nComponents>
void FastOutline::prepare(const PixelView<const PIX>& source, const PixelView<PIX>& destination,
                          const PixelRect& fieldBounds, const PixelRect& window,
                          const FastOutlineSettings& settings, unsigned maxThreads) {
    State& s = *state;
    s.kernels = &kernelsFor(clampLevel(s.simdLimit));
    s.field = fieldBounds;
    s.window = window;
    s.inner = {std::max(window.x1, fieldBounds.x1), std::max(window.y1, fieldBounds.y1),
               std::min(window.x2, fieldBounds.x2), std::min(window.y2, fieldBounds.y2)};
    s.quality = settings.quality;
    s.settings =
        makeOutputSettings<PIX>(settings.red, settings.green, settings.blue, settings.widthPixels);
    s.width = s.settings.width;
    s.widthMinus1 = s.settings.widthMinus1;
    s.sourceData = reinterpret_cast<const char*>(source.data);
    s.sourceRowBytes = source.rowBytes;
    s.sourceBounds = source.bounds;
    s.hasSource = source.data != nullptr && !isEmpty(source.bounds);
    s.destinationData = reinterpret_cast<char*>(destination.data);
    s.destinationRowBytes = destination.rowBytes;
    s.destinationBounds = destination.bounds;
    s.phases = 0;
    s.threads = 0;
    for (int p = 0; p < 3; ++p) {
        s.tasks[p] = 0;
        s.nextTask[p].store(0, std::memory_order_relaxed);
    }
    const unsigned threads = std::max(1u, maxThreads);
    // Scratch for as many threads as can have a task at once.
    auto useThreads = [&](int mostTasks) {
        s.threads = std::min(threads, static_cast<unsigned>(std::max(1, mostTasks)));
        if (s.scratch.size() < s.threads) {
            s.scratch.resize(s.threads);
        }
    };

    // Nothing is written when the window has no row in the field (or no pixel at all).
    if (isEmpty(window) || isEmpty(fieldBounds) || s.inner.y1 >= s.inner.y2 ||
        destination.data == nullptr) {
        return;
    }
    if (s.inner.x1 >= s.inner.x2) {
        useThreads(1);
        s.phases = 1;
        s.tasks[0] = 1;
        s.runTask = &zeroTask<PIX, nComponents>;
        return;
    }

    // The constant outline pixel: full coverage, nothing composited. It is never used when the
    // coverage is below 1 for every distance (widths below 1).
    s.constantRun.assign(static_cast<std::size_t>(chunkPixels) * nComponents * sizeof(PIX), 0);
    {
        PIX pixel[nComponents];
        applyOutputRule<PIX, nComponents>(0.0f, s.settings, nullptr, pixel);
        for (int i = 0; i < chunkPixels; ++i) {
            std::memcpy(s.constantRun.data() + static_cast<std::size_t>(i) * sizeof pixel, pixel,
                        sizeof pixel);
        }
    }

    const int fieldWidth = fieldBounds.x2 - fieldBounds.x1;
    const int fieldHeight = fieldBounds.y2 - fieldBounds.y1;
    // Widths beyond the fast reach (or not a width at all), and at Good fields taller than the
    // column search is exact for: the straightforward pipeline.
    s.usesField = !(s.width >= 0.0f && s.width <= static_cast<float>(fastReachLimit)) ||
                  (s.quality != 0 && fieldHeight > exactEnvelopeRows);
    if (s.usesField) {
        s.fieldValues.reserve(static_cast<std::size_t>(fieldWidth) *
                              static_cast<std::size_t>(fieldHeight));
        s.tasks[0] = (fieldHeight + wholeFieldRowsPerTask - 1) / wholeFieldRowsPerTask;
        s.tasks[1] = s.quality == 0
                         ? 1
                         : (fieldWidth + wholeFieldColumnsPerTask - 1) / wholeFieldColumnsPerTask;
        s.tasks[2] = (s.inner.y2 - s.inner.y1 + wholeFieldRowsPerTask - 1) / wholeFieldRowsPerTask;
        useThreads(std::max({s.tasks[0], s.tasks[1], s.tasks[2]}));
        for (unsigned i = 0; i < s.threads; ++i) {
            s.scratch[i].regionClasses.reserve(static_cast<std::size_t>(fieldWidth));
            if (s.quality != 0) {
                s.scratch[i].column.reserve(fieldHeight);
            }
        }
        s.phases = 3;
        s.runTask = &wholeFieldTask<PIX, nComponents>;
        return;
    }

    s.reach = static_cast<int>(std::ceil(s.width));
    s.cap = (s.reach + 1) * (s.reach + 1);
    // Thresholds on n such that the square root of every smaller n compares like the width.
    s.zeroFrom = firstRootAbove(s.width, s.cap);
    s.fullBelow = s.width > s.widthMinus1
                      ? std::min(firstRootAbove(s.widthMinus1, s.cap), s.zeroFrom)
                      : s.zeroFrom;

    // Tiles: stripes as wide as the rows kept per column fit in the level-2 cache (whole rows
    // stream best from memory), cut into bands of rows so that every thread has several tiles
    // to take, but not so thin that the rows read beyond a band's ends dominate.
    // Tables of the output rule for this render.
    if (s.quality != 0) {
        s.ringPixels.resize(static_cast<std::size_t>(s.zeroFrom - s.fullBelow) * sizeof(PIX) *
                            nComponents);
        for (int n = s.fullBelow; n < s.zeroFrom; ++n) {
            applyOutputRule<PIX, nComponents>(std::sqrt(static_cast<float>(n)), s.settings, nullptr,
                                              reinterpret_cast<PIX*>(s.ringPixels.data()) +
                                                  static_cast<std::ptrdiff_t>(n - s.fullBelow) *
                                                      nComponents);
        }
    }
    if constexpr (std::is_same_v<PIX, unsigned char> && nComponents == 4) {
        s.blendTable.resize(2 * 256);
        for (int value = 0; value < 2; ++value) {
            u8* outline = s.blendOutline[value];
            applyOutputRule<PIX, 4>(std::sqrt(static_cast<float>(value)), s.settings, nullptr,
                                    outline);
            const float oa = static_cast<float>(outline[3]) / 255.0f;
            for (int alpha = 0; alpha < 256; ++alpha) {
                BlendEntry& e = s.blendTable[static_cast<std::size_t>(value) * 256 + alpha];
                e.sourceAlpha = static_cast<float>(alpha) / 255.0f;
                const float inv = 1.0f - e.sourceAlpha;
                const float a = oa * inv + e.sourceAlpha;
                e.composite = alpha != 0 && a > compositingFloor ? 1 : 0;
                e.reciprocal = 1.0f / a;
                for (int c = 0; c < 3; ++c) {
                    e.outlineTerm[c] = static_cast<float>(outline[c]) * oa * inv;
                }
                e.alpha = limitByte(a * 255.0f);
            }
        }
    }

    const int innerWidth = s.inner.x2 - s.inner.x1;
    const int innerHeight = s.inner.y2 - s.inner.y1;
    int bytesPerColumn = 0;
    int haloRows = 0;
    if (s.quality == 0) {
        s.margin = s.reach + chamferMargin;
        s.blockRows = roundUp(std::max(256, 2 * s.margin), maxLanes);
        bytesPerColumn = (s.blockRows + s.margin + 2 * maxLanes) * 9;
        haloRows = 2 * s.margin;
    } else {
        bytesPerColumn = (2 * s.reach + 1) * 3;
        haloRows = 2 * s.reach;
    }
    // Whole rows stream best (and pay the columns beyond a stripe's ends only at the window's
    // ends), as long as the rows a tile keeps stay within the budget.
    const int budget = s.quality == 0 ? chamferBudget : cacheBudget;
    s.stripeWidth = std::clamp(roundUp(budget / bytesPerColumn, chunkPixels) - chunkPixels,
                               std::min(256, innerWidth), 8192);
    if (s.stripeWidthOverride > 0) {
        s.stripeWidth = std::min(s.stripeWidthOverride, 8192);
    }
    if (s.blockRowsOverride > 0) {
        s.blockRows = s.blockRowsOverride;
    }
    s.stripes = std::max(1, (innerWidth + s.stripeWidth - 1) / s.stripeWidth);
    s.bands = 1;
    if (threads > 1) {
        const int wanted = (3 * static_cast<int>(threads) + s.stripes - 1) / s.stripes;
        s.bands = std::clamp(innerHeight / std::max(1, 4 * haloRows + 32), 1, std::max(1, wanted));
        // A tile count the threads share evenly: with one tile too many, one thread works a
        // whole tile alone at the end. A few more bands cost only their halo rows.
        for (int more = s.bands; more <= wanted && innerHeight / more >= 2 * haloRows + 16;
             ++more) {
            if (s.stripes * more % static_cast<int>(threads) == 0) {
                s.bands = more;
                break;
            }
        }
    }
    if (s.bandsOverride > 0) {
        s.bands = std::min(s.bandsOverride, innerHeight);
    }
    const int stripeMax = roundUp((innerWidth + s.stripes - 1) / s.stripes, chunkPixels);

    useThreads(s.stripes * s.bands);
    for (unsigned i = 0; i < s.threads; ++i) {
        Scratch& t = s.scratch[i];
        const std::size_t chunks = static_cast<std::size_t>(stripeMax / chunkPixels);
        t.categories.reserve(static_cast<std::size_t>(stripeMax + chunkPixels));
        if (s.quality == 0) {
            const std::size_t region = static_cast<std::size_t>(
                roundUp(std::min(fieldWidth, stripeMax + 2 * s.margin), chunkPixels));
            const std::size_t rows = static_cast<std::size_t>(roundUp(s.blockRows, maxLanes) +
                                                              s.margin + 2 * maxLanes + 2);
            const std::size_t stride = region + 2 * guardFloats;
            t.ringValues.reserve(rows * stride);
            t.ringBackward.reserve(rows * stride);
            t.ringClasses.reserve(rows * (region + chunkPixels));
            t.dummyRows.reserve(2 * stride);
            t.columnKeys.reserve(stride);
            t.ringSources.reserve(rows * (region / chunkPixels));
            t.ringFars.reserve(rows * (region / chunkPixels));
            t.activity.reserve(2 * (region / chunkPixels));
            t.spans.reserve(2 * (region / chunkPixels));
            // Bands of a block: at least 8 rows each.
            t.bandNear.reserve((rows / 8 + 1) * (region / chunkPixels));
        } else {
            const std::size_t rows = static_cast<std::size_t>(2 * s.reach + 1);
            const std::size_t region = static_cast<std::size_t>(
                roundUp(std::min(fieldWidth, stripeMax + 2 * (s.reach + 3)), chunkPixels));
            // Loads of a stripe's distances may run up to a chunk past the region.
            t.regionClasses.reserve(region + chunkPixels);
            t.regionDistances.reserve(region + chunkPixels);
            t.ringSquares.reserve(rows * static_cast<std::size_t>(stripeMax));
            t.ringClasses.reserve(rows * static_cast<std::size_t>(stripeMax));
            t.ringFlags.reserve(rows * (chunks + 2));
            t.counts.reserve(chunks);
            t.near.reserve(static_cast<std::size_t>(stripeMax));
            t.rowPointers.reserve(rows);
            t.flagPointers.reserve(rows);
        }
    }
    s.phases = 1;
    s.tasks[0] = s.stripes * s.bands;
    s.runTask = &stripeTask<PIX, nComponents>;
}

#define ZARVEL_FAST_OUTLINE(PIX, N)                                                                \
    template void FastOutline::prepare<PIX, N>(const PixelView<const PIX>&, const PixelView<PIX>&, \
                                               const PixelRect&, const PixelRect&,                 \
                                               const FastOutlineSettings&, unsigned);
ZARVEL_FAST_OUTLINE(unsigned char, 4)
ZARVEL_FAST_OUTLINE(unsigned short, 4)
ZARVEL_FAST_OUTLINE(float, 4)
ZARVEL_FAST_OUTLINE(unsigned char, 1)
ZARVEL_FAST_OUTLINE(unsigned short, 1)
ZARVEL_FAST_OUTLINE(float, 1)
#undef ZARVEL_FAST_OUTLINE

}  // namespace OutlineKernel
