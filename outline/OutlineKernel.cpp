#include "outline/OutlineKernel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace OutlineKernel {

namespace {

// The column pass gathers this many neighbouring columns at once, so that it reads and writes the
// field a cache line per row instead of one float per row.
constexpr int columnBlock = 16;

std::size_t elementIndex(int i, int j, int width) {
    return static_cast<std::size_t>(j) * static_cast<std::size_t>(width) +
           static_cast<std::size_t>(i);
}

// Square of an integer position, converted to float. 64-bit, because a 32-bit product
// overflows from 46341 on.
float squareAsFloat(int value) {
    const std::int64_t wide = value;
    return static_cast<float>(wide * wide);
}

// Parabola intersection of the lower envelope: where the parabola rooted at q starts to lie
// below the one rooted at p. Parabola k of `f` stands at position first + k.
float intersection(const float* f, int q, int p, int first) {
    const float fq = static_cast<float>(first + q);
    const float fp = static_cast<float>(first + p);
    return ((f[q] + squareAsFloat(first + q)) - (f[p] + squareAsFloat(first + p))) /
           ((fq + fq) - (fp + fp));
}

template <class PIX>
constexpr float maxAsFloat() {
    return static_cast<float>(PixelTraits<PIX>::maxValue);
}

// Limits a value to [0, max] and, for integer types, truncates it toward zero. NaN becomes 0:
// it has no place in [0, max], and converting it to an integer is undefined.
template <class PIX>
PIX limit(float value) {
    float limited = value;
    if (!(limited >= 0.0f)) {
        limited = 0.0f;
    } else if (limited > maxAsFloat<PIX>()) {
        limited = maxAsFloat<PIX>();
    }
    return static_cast<PIX>(limited);
}

template <class PIX>
bool hasPositiveAlpha(PIX alpha) {
    if constexpr (std::is_same_v<PIX, float>) {
        return alpha > 0.0f;
    } else {
        return alpha != 0;
    }
}

template <class PIX, int nComponents>
inline void outputPixel(float d, const OutputSettings& settings, const PIX* src, PIX* dst) {
    static_assert(nComponents == 1 || nComponents == 4, "pixels have 1 or 4 components");
    if (d < 0.0f) {
        for (int c = 0; c < nComponents; ++c) {
            dst[c] = src != nullptr ? src[c] : PIX(0);
        }
        return;
    }
    const float w = settings.width;
    const float wm1 = settings.widthMinus1;
    if (!(w >= d)) {
        for (int c = 0; c < nComponents; ++c) {
            dst[c] = PIX(0);
        }
        return;
    }
    float coverage = 1.0f;
    if (d > wm1 && w > wm1) {
        const float falling = 1.0f - (d - wm1) / (w - wm1);
        coverage = falling < 0.0f ? 0.0f : (falling < 1.0f ? falling : 1.0f);
    }
    constexpr float maxValue = maxAsFloat<PIX>();
    if constexpr (nComponents == 1) {
        dst[0] = limit<PIX>(coverage * maxValue);
    } else {
        dst[0] = limit<PIX>(settings.red * coverage);
        dst[1] = limit<PIX>(settings.green * coverage);
        dst[2] = limit<PIX>(settings.blue * coverage);
        dst[3] = limit<PIX>(coverage * maxValue);
        if (src == nullptr || !hasPositiveAlpha(src[3])) {
            return;
        }
        const float sa = static_cast<float>(src[3]) / maxValue;
        const float oa = static_cast<float>(dst[3]) / maxValue;
        const float inv = 1.0f - sa;
        const float a = oa * inv + sa;
        if (!(a > compositingFloor)) {
            return;
        }
        const float reciprocal = 1.0f / a;
        // The outline component is the value just written, which already carries the coverage.
        for (int c = 0; c < 3; ++c) {
            const float outline = static_cast<float>(dst[c]);
            const float source = static_cast<float>(src[c]);
            dst[c] = limit<PIX>((outline * oa * inv + source * sa) * reciprocal);
        }
        dst[3] = limit<PIX>(a * maxValue);
    }
}

float smaller(float a, float b) {
    return b < a ? b : a;
}

// Forward then backward relaxation of one row by orthogonal steps: an element above its
// neighbour plus one step becomes that sum.
void relaxRow(float* row, int width) {
    float previous = row[0];
    for (int i = 1; i < width; ++i) {
        previous = smaller(row[i], previous + orthogonalStep);
        row[i] = previous;
    }
    for (int i = width - 2; i >= 0; --i) {
        previous = smaller(row[i], previous + orthogonalStep);
        row[i] = previous;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Chamfer transform
// ---------------------------------------------------------------------------------------------

void chamferTransform(float* field, int width, int height) {
    if (width < 3 || height < 3) {
        return;
    }
    const std::size_t stride = static_cast<std::size_t>(width);
    // The candidates from the neighbouring row do not depend on this row, so only the step from
    // the element just written forms a chain from one element to the next. Without NaNs (a field
    // holds none) the smallest of a set is the same whatever order it is taken in.
    for (int j = 1; j <= height - 2; ++j) {
        float* row = field + elementIndex(0, j, width);
        const float* above = row - stride;
        float previous = row[0];
        for (int i = 1; i <= width - 2; ++i) {
            const float v = row[i];
            const float fromAbove =
                smaller(above[i] + orthogonalStep,
                        smaller(above[i - 1] + diagonalStep, above[i + 1] + diagonalStep));
            const float smallest = smaller(smaller(v, fromAbove), previous + orthogonalStep);
            previous = v > 0.0f ? smallest : v;
            row[i] = previous;
        }
    }
    for (int j = height - 2; j >= 1; --j) {
        float* row = field + elementIndex(0, j, width);
        const float* below = row + stride;
        float previous = row[width - 1];
        for (int i = width - 2; i >= 1; --i) {
            const float v = row[i];
            const float fromBelow =
                smaller(below[i] + orthogonalStep,
                        smaller(below[i + 1] + diagonalStep, below[i - 1] + diagonalStep));
            const float smallest = smaller(smaller(v, fromBelow), previous + orthogonalStep);
            previous = v > 0.0f ? smallest : v;
            row[i] = previous;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Separable transform
// ---------------------------------------------------------------------------------------------

ColumnScratch::ColumnScratch(int height) {
    reserve(height);
}

void ColumnScratch::reserve(int height) {
    if (height <= capacity) {
        return;
    }
    const std::size_t rows = static_cast<std::size_t>(height);
    column.resize(rows * columnBlock);
    envelope.resize(rows * columnBlock);
    positions.resize(rows);
    boundaries.resize(rows + 1);
    capacity = height;
}

void separableRowPass(float* field, int width, int rowBegin, int rowEnd) {
    if (width <= 0) {
        return;
    }
    for (int j = rowBegin; j < rowEnd; ++j) {
        relaxRow(field + elementIndex(0, j, width), width);
    }
}

void separableColumnPass(float* field, int width, int height, int columnBegin, int columnEnd,
                         ColumnScratch& scratch) {
    if (width <= 0 || height <= 0 || columnBegin >= columnEnd) {
        return;
    }
    scratch.reserve(height);
    const std::size_t rows = static_cast<std::size_t>(height);
    for (int first = columnBegin; first < columnEnd; first += columnBlock) {
        const int count = columnEnd - first < columnBlock ? columnEnd - first : columnBlock;
        for (int j = 0; j < height; ++j) {
            const float* row = field + elementIndex(first, j, width);
            for (int c = 0; c < count; ++c) {
                scratch.column[c * rows + j] = row[c] * row[c];
            }
        }
        for (int c = 0; c < count; ++c) {
            lowerEnvelope(scratch.column.data() + c * rows, scratch.envelope.data() + c * rows,
                          height, scratch.positions.data(), scratch.boundaries.data());
        }
        for (int j = 0; j < height; ++j) {
            float* row = field + elementIndex(first, j, width);
            for (int c = 0; c < count; ++c) {
                // Only inside elements leave the row pass at exactly the inside value.
                row[c] =
                    row[c] == insideValue ? insideValue : std::sqrt(scratch.envelope[c * rows + j]);
            }
        }
    }
}

void separableTransform(float* field, int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    separableRowPass(field, width, 0, height);
    ColumnScratch scratch(height);
    separableColumnPass(field, width, height, 0, width, scratch);
}

namespace {

// The lower envelope of one column as it is built parabola by parabola: positions v[0..k] of
// the parabolas on it, and boundaries z[0..k + 1] between them.
struct Envelope {
    int* v;
    float* z;
    int k;

    void start() {
        k = 0;
        v[0] = 0;
        z[0] = envelopeLow;
        z[1] = envelopeHigh;
    }

    // Adds the parabola of value q (q ≥ 1) of `f`, whose values stand at positions first + 0, ...
    void add(const float* f, int q, int first) {
        float s = intersection(f, q, v[k], first);
        while (s <= z[k]) {
            // Only values beyond the envelope bounds (or infinities) get here: the new parabola
            // lies below the first one everywhere, so it takes the first one's place instead of
            // the search running off the front of the arrays.
            if (k == 0) {
                v[0] = q;
                z[1] = envelopeHigh;
                return;
            }
            --k;
            s = intersection(f, q, v[k], first);
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = envelopeHigh;
    }

    // The envelope at value q of `f`, for q = 0, 1, ... in turn after `k` was set to 0.
    float at(const float* f, int q, int first) {
        const float position = static_cast<float>(first + q);
        while (z[k + 1] < position) {
            ++k;
        }
        return squareAsFloat(q - v[k]) + f[v[k]];
    }
};

}  // namespace

void lowerEnvelopeColumns(const float* f, float* g, int n, int first, int columns, int* positions,
                          float* boundaries) {
    if (n <= 0 || columns <= 0) {
        return;
    }
    // Every column is built by exactly the steps of `lowerEnvelopeFrom`; doing the columns side
    // by side only lets the processor overlap their independent chains of work.
    constexpr int most = 16;
    for (int c0 = 0; c0 < columns; c0 += most) {
        const int count = std::min(most, columns - c0);
        Envelope envelopes[most];
        for (int c = 0; c < count; ++c) {
            const std::size_t column = static_cast<std::size_t>(c0 + c);
            envelopes[c] = {positions + column * n, boundaries + column * (n + 1), 0};
            envelopes[c].start();
        }
        for (int q = 1; q < n; ++q) {
            for (int c = 0; c < count; ++c) {
                envelopes[c].add(f + static_cast<std::size_t>(c0 + c) * n, q, first);
            }
        }
        for (int c = 0; c < count; ++c) {
            envelopes[c].k = 0;
        }
        for (int q = 0; q < n; ++q) {
            for (int c = 0; c < count; ++c) {
                const std::size_t column = static_cast<std::size_t>(c0 + c) * n;
                g[column + q] = envelopes[c].at(f + column, q, first);
            }
        }
    }
}

void lowerEnvelopeFrom(const float* f, float* g, int n, int first, int* positions,
                       float* boundaries) {
    lowerEnvelopeColumns(f, g, n, first, 1, positions, boundaries);
}

void lowerEnvelope(const float* f, float* g, int n, int* positions, float* boundaries) {
    lowerEnvelopeFrom(f, g, n, 0, positions, boundaries);
}

// ---------------------------------------------------------------------------------------------
// Output rule
// ---------------------------------------------------------------------------------------------

template <class PIX>
OutputSettings makeOutputSettings(double red, double green, double blue, double widthPixels) {
    OutputSettings settings;
    settings.width = static_cast<float>(widthPixels);
    settings.widthMinus1 = settings.width - 1.0f;
    settings.red = static_cast<float>(red * PixelTraits<PIX>::maxValue);
    settings.green = static_cast<float>(green * PixelTraits<PIX>::maxValue);
    settings.blue = static_cast<float>(blue * PixelTraits<PIX>::maxValue);
    return settings;
}

template <class PIX, int nComponents>
void applyOutputRule(float d, const OutputSettings& settings, const PIX* src, PIX* dst) {
    outputPixel<PIX, nComponents>(d, settings, src, dst);
}

template <class PIX, int nComponents>
void applyOutputRuleRow(const float* d, int count, const OutputSettings& settings, const PIX* src,
                        PIX* dst) {
    if (src == nullptr) {
        for (int k = 0; k < count; ++k) {
            outputPixel<PIX, nComponents>(d[k], settings, nullptr, dst + k * nComponents);
        }
        return;
    }
    for (int k = 0; k < count; ++k) {
        outputPixel<PIX, nComponents>(d[k], settings, src + k * nComponents, dst + k * nComponents);
    }
}

template OutputSettings makeOutputSettings<unsigned char>(double, double, double, double);
template OutputSettings makeOutputSettings<unsigned short>(double, double, double, double);
template OutputSettings makeOutputSettings<float>(double, double, double, double);

#define ZARVEL_OUTPUT_RULE(PIX, N)                                                                 \
    template void applyOutputRule<PIX, N>(float, const OutputSettings&, const PIX*, PIX*);         \
    template void applyOutputRuleRow<PIX, N>(const float*, int, const OutputSettings&, const PIX*, \
                                             PIX*);
ZARVEL_OUTPUT_RULE(unsigned char, 4)
ZARVEL_OUTPUT_RULE(unsigned short, 4)
ZARVEL_OUTPUT_RULE(float, 4)
ZARVEL_OUTPUT_RULE(unsigned char, 1)
ZARVEL_OUTPUT_RULE(unsigned short, 1)
ZARVEL_OUTPUT_RULE(float, 1)
#undef ZARVEL_OUTPUT_RULE

}  // namespace OutlineKernel
