// zarvel_engine_fuzz: the fast outline engine, driven directly (through EngineAdapter.h), against
// the straightforward pipeline of OutlineKernel.h on the same input, byte for byte. No host.
//
// Each input describes one render; the bytes are read front to back and whatever is missing
// reads as zero, so every byte string is an input. Offsets marked (s) are signed bytes, small
// ones (|s| <= 100) divided by 8 so that most rectangles overlap and a few lie far apart.
//    0     pixel type % 6: RGBA 8-bit, RGBA 16-bit, RGBA float, alpha 8-bit, 16-bit, float
//    1     quality % 3: Draft, Good, Best
//    2     width kind % 8: 0-5 v / 256 within [0.1, 254] (the fast path); 6 beyond 254 (the
//          whole-field fallback); 7 odd values (NaN, infinities, 0, negative, the limits)
//    3-4   v, 16 bits little-endian
//    5     field kind: bits 0-2 7 tall and thin (1 to 4 columns; 4080 to 4095 rows, about
//          exactEnvelopeRows, then steps of 40 rows up to 13,656), 6 wide and short (64 to 448
//          columns of up to 24 rows: many chunks of a row), else small (up to 96 × 96);
//          bits 3-4 move every rectangle by 0, 4099, -1000003 or 2^29 on both axes
//    6-9   field x1, y1 (signed bytes), columns, rows (% 97 for small fields)
//   10-13  destination bounds: the field's edges x1, y1, x2, y2 moved by (s)
//   14-17  window inside the destination: x1, y1, x2, y2 as fractions (/ 256, 255 all) of what
//          is left
//   18     bits 0-1 source kind: 0-1 an image, 2 none, 3 bounds but no data; bits 2-7 s, when
//          not 0, grows the window past the destination's edges by s % 8, s / 8, s % 5 and
//          s % 7 pixels (left, top, right, bottom)
//   19-22  source bounds: the field's edges moved by (s)
//   23     layout: bit 0 source rows bottom-up, bit 1 destination bottom-up, bits 2-4 and 5-7
//          padding of source and destination rows in pixels
//   24-30  schedule: instruction-set level (% levels here), stripe width (0 automatic),
//          bands (% 33, 0 automatic), Draft block rows (0 automatic), threads prepared for
//          (1 + % 8), thread indices run per phase (1 + % prepared), seed of their order
//   31     1 (% 4): render again on the same engine with the schedule in 32-38
//   39-41  outline colour: v / 200 - 0.1, 255 NaN
//   42     bits 0-2 shapes that follow, bit 3 colour components of any float value
//   43-44  seeds of the source colours and the destination's initial bytes
//   45...  shapes, 6 bytes each: kind (ellipse, ring, box, line across, line down), centre
//          (fractions of the source), radii (/ 4), edge softness (0 hard, else / 32 pixels);
//          a shape covers only its box, grown by its softness and 2 pixels
//   then   pixels, 3 bytes each: index into the source (16 bits), alpha code (0-191 spread
//          over the range, a little beyond it for floats; the rest exact values: 0, 1, half,
//          just above half, the maximum, NaN, infinities, negative zero, denormals)
//
// Checks: every byte of the destination's memory, inside and outside the window, padding
// included, equals what the straightforward pipeline gives (which leaves all but the window's
// pixels as they were); the source is left as it was; a second render on the same engine with
// another schedule gives the same bytes. A failure prints the render and aborts. With
// ZARVEL_ENGINE_FUZZ_VERBOSE set, every render is printed with the path it took.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "fuzz/EngineAdapter.h"
#include "outline/OutlineKernel.h"

namespace {

using zarvel::fuzz::EngineSchedule;
using zarvel::fuzz::EngineSettings;
using zarvel::fuzz::Pixels;
using zarvel::fuzz::Rect;

// ---------------------------------------------------------------------------------------------
// Reading the input
// ---------------------------------------------------------------------------------------------

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size)
        : data_(data)
        , size_(size) {}

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    int signedByte() { return static_cast<std::int8_t>(byte()); }
    unsigned u16() {
        const unsigned low = byte();
        return low | static_cast<unsigned>(byte()) << 8;
    }
    // A signed offset: small values in eighths, so most rectangles overlap.
    int offset() {
        const int s = signedByte();
        return std::abs(s) <= 100 ? s / 8 : s;
    }
    bool atEnd() const { return at_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct Shape {
    int kind;
    double cx, cy, rx, ry, softness;
};

struct Sprinkle {
    unsigned index;
    std::uint8_t code;
};

struct Input {
    int type = 0;
    EngineSettings settings;
    Rect field, destination, window, source;
    int sourceKind = 0;
    bool sourceBottomUp = false;
    bool destinationBottomUp = false;
    int sourcePadding = 0;
    int destinationPadding = 0;
    EngineSchedule schedule;
    bool again = false;
    EngineSchedule scheduleAgain;
    bool wildColours = false;
    std::uint8_t colourSeed = 0;
    std::uint8_t fillSeed = 0;
    std::vector<Shape> shapes;
    std::vector<Sprinkle> sprinkles;
};

double width(int kind, unsigned v) {
    if (kind <= 5) {
        return std::min(254.0, std::max(0.1, v / 256.0));
    }
    if (kind == 6) {
        return 254.0 + (v + 1) / 256.0;
    }
    const double odd[] = {std::numeric_limits<double>::quiet_NaN(),
                          -1.0,
                          0.0,
                          0.05,
                          std::numeric_limits<double>::infinity(),
                          1e30,
                          254.0,
                          std::nextafter(254.0, 255.0),
                          std::nextafter(254.0, 0.0),
                          0.1,
                          1.0,
                          0.5,
                          2.5,
                          1e-300,
                          -0.0,
                          std::nextafter(1.0, 2.0)};
    return odd[v % 16];
}

Rect moved(const Rect& r, Reader& in) {
    Rect m;
    m.x1 = r.x1 + in.offset();
    m.y1 = r.y1 + in.offset();
    m.x2 = r.x2 + in.offset();
    m.y2 = r.y2 + in.offset();
    return m;
}

EngineSchedule schedule(Reader& in) {
    EngineSchedule s;
    s.simdLevel = in.byte() % zarvel::fuzz::engineSimdLevels();
    s.stripeWidth = in.byte();
    s.bands = in.byte() % 33;
    s.blockRows = in.byte();
    s.maxThreads = 1 + in.byte() % 8;
    s.threads = 1 + in.byte() % s.maxThreads;
    s.orderSeed = in.byte();
    return s;
}

// 0 to `whole` in 256 steps; 255 is all of it.
int fraction(std::uint8_t v, int whole) {
    return v == 255 ? whole : v * (whole + 1) / 256;
}

double colour(std::uint8_t v) {
    return v == 255 ? std::numeric_limits<double>::quiet_NaN() : v / 200.0 - 0.1;
}

Input decode(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    Input input;
    input.type = in.byte() % 6;
    input.settings.quality = in.byte() % 3;
    const int widthKind = in.byte() % 8;
    input.settings.widthPixels = width(widthKind, in.u16());
    const std::uint8_t fieldKind = in.byte();
    const bool tall = fieldKind % 8 == 7;
    const bool wide = fieldKind % 8 == 6;
    // Coordinates far from the origin, where products of coordinates and row bytes are large.
    const int shifts[] = {0, 4099, -1000003, 1 << 29};
    const int shift = shifts[(fieldKind >> 3) & 3];
    input.field.x1 = shift + in.signedByte();
    input.field.y1 = shift + in.signedByte();
    const std::uint8_t columns = in.byte();
    const std::uint8_t rows = in.byte();
    int fieldColumns = columns % 97;
    int fieldRows = rows % 97;
    if (tall) {
        fieldColumns = 1 + columns % 4;
        // Every height about exactEnvelopeRows, then steps of 40 rows to past 13,000.
        fieldRows = rows < 16 ? 4080 + rows : 4096 + (rows - 16) * 40;
    } else if (wide) {
        fieldColumns = 64 + 4 * (columns % 97);
        fieldRows = 1 + rows % 24;
    }
    input.field.x2 = input.field.x1 + fieldColumns;
    input.field.y2 = input.field.y1 + fieldRows;
    input.destination = moved(input.field, in);
    // The window lies inside the destination's bounds unless it is grown below.
    const Rect& d = input.destination;
    const int dw = std::max(0, d.x2 - d.x1);
    const int dh = std::max(0, d.y2 - d.y1);
    input.window.x1 = d.x1 + fraction(in.byte(), dw);
    input.window.y1 = d.y1 + fraction(in.byte(), dh);
    input.window.x2 = input.window.x1 + fraction(in.byte(), d.x1 + dw - input.window.x1);
    input.window.y2 = input.window.y1 + fraction(in.byte(), d.y1 + dh - input.window.y1);
    const std::uint8_t sourceKind = in.byte();
    input.sourceKind = sourceKind % 4;
    if (const int spill = sourceKind >> 2; spill > 0) {
        input.window.x1 -= spill % 8;
        input.window.y1 -= spill / 8;
        input.window.x2 += spill % 5;
        input.window.y2 += spill % 7;
    }
    input.source = moved(input.field, in);
    const std::uint8_t layout = in.byte();
    input.sourceBottomUp = layout & 1;
    input.destinationBottomUp = layout & 2;
    input.sourcePadding = (layout >> 2) & 7;
    input.destinationPadding = (layout >> 5) & 7;
    input.schedule = schedule(in);
    input.again = in.byte() % 4 == 1;
    input.scheduleAgain = schedule(in);
    input.settings.red = colour(in.byte());
    input.settings.green = colour(in.byte());
    input.settings.blue = colour(in.byte());
    const std::uint8_t content = in.byte();
    input.wildColours = content & 8;
    input.colourSeed = in.byte();
    input.fillSeed = in.byte();
    for (int n = content & 7; n > 0; --n) {
        Shape shape;
        shape.kind = in.byte() % 5;
        shape.cx = in.byte() / 256.0;
        shape.cy = in.byte() / 256.0;
        shape.rx = in.byte() / 4.0;
        shape.ry = in.byte() / 4.0;
        shape.softness = in.byte() / 32.0;
        input.shapes.push_back(shape);
    }
    while (!in.atEnd()) {
        Sprinkle sprinkle;
        sprinkle.index = in.u16();
        sprinkle.code = in.byte();
        input.sprinkles.push_back(sprinkle);
    }
    return input;
}

// ---------------------------------------------------------------------------------------------
// Images
// ---------------------------------------------------------------------------------------------

bool isEmpty(const Rect& r) {
    return r.x2 <= r.x1 || r.y2 <= r.y1;
}

bool contains(const Rect& r, int x, int y) {
    return x >= r.x1 && x < r.x2 && y >= r.y1 && y < r.y2;
}

// Pixels in memory of their own, exactly as large as the rows need, so that the address
// sanitizer sees any access beyond them.
template <class PIX, int N>
struct Image {
    Image(const Rect& area, bool bottomUp, int paddingPixels)
        : bounds(area) {
        const std::size_t width = static_cast<std::size_t>(std::max(0, area.x2 - area.x1));
        height = static_cast<std::size_t>(std::max(0, area.y2 - area.y1));
        rowBytes = (width + static_cast<std::size_t>(paddingPixels)) * N * sizeof(PIX);
        bytes.resize(std::max<std::size_t>(1, rowBytes * height));
        origin = bottomUp && height > 0 ? bytes.data() + rowBytes * (height - 1) : bytes.data();
        step = bottomUp ? -static_cast<std::ptrdiff_t>(rowBytes)
                        : static_cast<std::ptrdiff_t>(rowBytes);
    }

    PIX* pixel(int x, int y) {
        if (!contains(bounds, x, y)) {
            return nullptr;
        }
        return reinterpret_cast<PIX*>(origin + step * (y - bounds.y1)) +
               static_cast<std::size_t>(x - bounds.x1) * N;
    }

    template <class VIEW>
    Pixels<VIEW> pixels() {
        return {reinterpret_cast<VIEW*>(origin), step, bounds};
    }

    Rect bounds;
    std::size_t height = 0;
    std::size_t rowBytes = 0;
    std::vector<unsigned char> bytes;
    unsigned char* origin = nullptr;
    std::ptrdiff_t step = 0;
};

// A destination's bytes before the render: a pattern that no shifted or repeated write matches
// (period 256, written a period at a time).
template <class PIX, int N>
void fill(Image<PIX, N>& image, std::uint8_t seed) {
    unsigned char period[256];
    for (unsigned i = 0; i < 256; ++i) {
        period[i] = static_cast<unsigned char>(i * 131 + seed);
    }
    for (std::size_t at = 0; at < image.bytes.size(); at += 256) {
        std::memcpy(image.bytes.data() + at, period,
                    std::min<std::size_t>(256, image.bytes.size() - at));
    }
}

template <class PIX>
constexpr unsigned maxOf() {
    return std::is_same_v<PIX, unsigned char> ? 255u : 65535u;
}

float floatCode(std::uint8_t code) {
    if (code < 192) {
        return static_cast<float>(code) / 159.0f - 0.1f;
    }
    const float exact[] = {0.0f,
                           -0.0f,
                           std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           0.5f,
                           std::nextafter(0.5f, 1.0f),
                           std::numeric_limits<float>::denorm_min()};
    return exact[code % 8];
}

// An alpha (or colour) component from a code: most codes spread over the range, the rest exact
// values at the classification's boundaries.
template <class PIX>
PIX componentCode(std::uint8_t code) {
    if constexpr (std::is_same_v<PIX, float>) {
        return floatCode(code);
    } else {
        constexpr unsigned top = maxOf<PIX>();
        if (code < 192) {
            return static_cast<PIX>(code * top / 191);
        }
        const unsigned exact[] = {0, 1, top / 2, top / 2 + 1, top - 1, top, top / 2 - 1, 2};
        return static_cast<PIX>(exact[code % 8]);
    }
}

template <class PIX>
PIX fromCoverage(double coverage) {
    if constexpr (std::is_same_v<PIX, float>) {
        return static_cast<float>(coverage);
    } else {
        return static_cast<PIX>(std::lround(coverage * maxOf<PIX>()));
    }
}

// Coverage of one shape at a pixel centre: a soft edge over `softness` pixels, or a hard one.
double coverage(const Shape& shape, double x, double y) {
    const double dx = x - shape.cx;
    const double dy = y - shape.cy;
    double inside = 0.0;  // how far inside the edge, in pixels
    switch (shape.kind) {
    case 0:
    case 1: {
        const double rx = std::max(shape.rx, 0.25);
        const double ry = std::max(shape.ry, 0.25);
        const double d = std::hypot(dx / rx, dy / ry);
        inside = (1.0 - d) * std::min(rx, ry);
        if (shape.kind == 1) {
            inside = std::min(inside, (d - 0.5) * std::min(rx, ry));
        }
        break;
    }
    case 2:
        inside = std::min(shape.rx - std::abs(dx), shape.ry - std::abs(dy));
        break;
    case 3:
        inside = shape.ry / 8.0 + 0.5 - std::abs(dy);
        break;
    default:
        inside = shape.rx / 8.0 + 0.5 - std::abs(dx);
        break;
    }
    if (shape.softness == 0.0) {
        return inside > 0.0 ? 1.0 : 0.0;
    }
    return std::clamp(0.5 + inside / shape.softness, 0.0, 1.0);
}

std::uint8_t hashByte(int x, int y, std::uint8_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^
                      static_cast<std::uint32_t>(y) * 19349663u ^ seed * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return static_cast<std::uint8_t>(h >> 24);
}

template <class PIX, int N>
void paintSource(Image<PIX, N>& source, const Input& input) {
    const Rect& b = source.bounds;
    const int width = b.x2 - b.x1;
    const int height = b.y2 - b.y1;
    if (width <= 0 || height <= 0) {
        return;
    }
    // Each shape covers pixels of its box only (the shape grown by its soft edge), which keeps
    // painting cheap beside the render.
    std::vector<double> alpha(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (Shape shape : input.shapes) {
        shape.cx = b.x1 + shape.cx * width;
        shape.cy = b.y1 + shape.cy * height;
        const double margin = shape.softness + 2.0;
        double rx = std::max(shape.rx, 0.25) + margin;
        double ry = std::max(shape.ry, 0.25) + margin;
        if (shape.kind == 3) {
            rx = width;
            ry = shape.ry / 8.0 + margin;
        } else if (shape.kind == 4) {
            rx = shape.rx / 8.0 + margin;
            ry = height;
        }
        const int x1 = std::max(b.x1, static_cast<int>(std::floor(shape.cx - rx)));
        const int x2 = std::min(b.x2, static_cast<int>(std::ceil(shape.cx + rx)) + 1);
        const int y1 = std::max(b.y1, static_cast<int>(std::floor(shape.cy - ry)));
        const int y2 = std::min(b.y2, static_cast<int>(std::ceil(shape.cy + ry)) + 1);
        for (int y = y1; y < y2; ++y) {
            for (int x = x1; x < x2; ++x) {
                double& a = alpha[static_cast<std::size_t>(y - b.y1) * width + (x - b.x1)];
                a = std::max(a, coverage(shape, x + 0.5, y + 0.5));
            }
        }
    }
    for (int y = b.y1; y < b.y2; ++y) {
        for (int x = b.x1; x < b.x2; ++x) {
            PIX* p = source.pixel(x, y);
            p[N - 1] =
                fromCoverage<PIX>(alpha[static_cast<std::size_t>(y - b.y1) * width + (x - b.x1)]);
            for (int c = 0; c + 1 < N; ++c) {
                const std::uint8_t v =
                    hashByte(x, y, static_cast<std::uint8_t>(input.colourSeed + c));
                if constexpr (std::is_same_v<PIX, float>) {
                    p[c] = input.wildColours ? floatCode(v) : v / 255.0f;
                } else {
                    p[c] = static_cast<PIX>(v * maxOf<PIX>() / 255);
                }
            }
        }
    }
    const unsigned pixels = static_cast<unsigned>(width) * static_cast<unsigned>(height);
    for (const Sprinkle& s : input.sprinkles) {
        const unsigned at = s.index % pixels;
        source.pixel(b.x1 + static_cast<int>(at % static_cast<unsigned>(width)),
                     b.y1 + static_cast<int>(at / static_cast<unsigned>(width)))[N - 1] =
            componentCode<PIX>(s.code);
    }
}

// ---------------------------------------------------------------------------------------------
// The straightforward pipeline
// ---------------------------------------------------------------------------------------------

// The whole field classified from the source at the same coordinates, transformed, and the
// output rule on every pixel of the window (clipped to the destination) in a row inside the
// field; zero outside its columns.
template <class PIX, int N>
void renderStraightforward(Image<PIX, N>* source, Image<PIX, N>& destination, const Input& input) {
    namespace K = OutlineKernel;
    const Rect& f = input.field;
    const Rect& d = input.destination;
    // The window clipped to the destination's bounds: the pixels that may be written.
    const Rect w{std::max(input.window.x1, d.x1), std::max(input.window.y1, d.y1),
                 std::min(input.window.x2, d.x2), std::min(input.window.y2, d.y2)};
    if (isEmpty(f) || isEmpty(w)) {
        return;
    }
    const int width = f.x2 - f.x1;
    const int height = f.y2 - f.y1;
    std::vector<float> field(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = f.y1; y < f.y2; ++y) {
        for (int x = f.x1; x < f.x2; ++x) {
            const PIX* p = source ? source->pixel(x, y) : nullptr;
            field[static_cast<std::size_t>(y - f.y1) * width + (x - f.x1)] =
                p ? K::classifyAlpha<PIX>(p[N - 1]) : K::farValue;
        }
    }
    if (input.settings.quality == 0) {
        K::chamferTransform(field.data(), width, height);
    } else {
        K::separableTransform(field.data(), width, height);
    }
    const K::OutputSettings settings = K::makeOutputSettings<PIX>(
        input.settings.red, input.settings.green, input.settings.blue, input.settings.widthPixels);
    for (int y = std::max(w.y1, f.y1); y < std::min(w.y2, f.y2); ++y) {
        for (int x = w.x1; x < w.x2; ++x) {
            PIX* dst = destination.pixel(x, y);
            if (x < f.x1 || x >= f.x2) {
                std::memset(dst, 0, sizeof(PIX) * N);
                continue;
            }
            const PIX* src = source ? source->pixel(x, y) : nullptr;
            K::applyOutputRule<PIX, N>(
                field[static_cast<std::size_t>(y - f.y1) * width + (x - f.x1)], settings, src, dst);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------------------

const char* const typeNames[] = {"RGBA 8-bit",  "RGBA 16-bit",  "RGBA float",
                                 "alpha 8-bit", "alpha 16-bit", "alpha float"};

std::string describe(const Rect& r) {
    std::ostringstream out;
    out << "(" << r.x1 << "," << r.y1 << ")-(" << r.x2 << "," << r.y2 << ")";
    return out.str();
}

std::string describe(const EngineSchedule& s) {
    std::ostringstream out;
    out << zarvel::fuzz::engineSimdLevelName(s.simdLevel) << ", stripe " << s.stripeWidth
        << ", bands " << s.bands << ", block rows " << s.blockRows << ", " << s.threads << " of "
        << s.maxThreads << " threads, order seed " << s.orderSeed;
    return out.str();
}

std::string describe(const Input& input) {
    static const char* const sources[] = {"image", "image", "none", "bounds without data"};
    std::ostringstream out;
    out.precision(17);
    out << typeNames[input.type] << ", quality " << input.settings.quality << ", width "
        << input.settings.widthPixels << ", colour " << input.settings.red << " "
        << input.settings.green << " " << input.settings.blue << "\n  field "
        << describe(input.field) << ", destination " << describe(input.destination)
        << (input.destinationBottomUp ? " bottom-up" : "") << " padding "
        << input.destinationPadding << ", window " << describe(input.window) << "\n  source "
        << sources[input.sourceKind] << " " << describe(input.source)
        << (input.sourceBottomUp ? " bottom-up" : "") << " padding " << input.sourcePadding << ", "
        << input.shapes.size() << " shapes, " << input.sprinkles.size() << " pixels"
        << (input.wildColours ? ", any float colours" : "") << "\n  schedule "
        << describe(input.schedule);
    return out.str();
}

// Where the first differing byte of two destinations lies, or empty when they are equal.
template <class PIX, int N>
std::string firstDifference(const Image<PIX, N>& expected, const Image<PIX, N>& actual) {
    if (expected.bytes == actual.bytes) {
        return {};
    }
    for (std::size_t i = 0; i < expected.bytes.size(); ++i) {
        if (expected.bytes[i] == actual.bytes[i]) {
            continue;
        }
        std::ostringstream out;
        const std::size_t memoryRow = i / std::max<std::size_t>(1, expected.rowBytes);
        const std::size_t row = expected.step < 0 ? expected.height - 1 - memoryRow : memoryRow;
        const std::size_t column =
            i % std::max<std::size_t>(1, expected.rowBytes) / (N * sizeof(PIX));
        const int x = expected.bounds.x1 + static_cast<int>(column);
        const int y = expected.bounds.y1 + static_cast<int>(row);
        out << "byte " << i << " differs: pixel (" << x << ", " << y << ")"
            << (contains(expected.bounds, x, y) ? "" : " (row padding)") << ", expected "
            << int(expected.bytes[i]) << ", got " << int(actual.bytes[i]);
        return out.str();
    }
    return {};
}

bool verbose = false;

template <class PIX, int N>
std::string run(const Input& input) {
    std::unique_ptr<Image<PIX, N>> source;
    Pixels<const PIX> sourcePixels;
    if (input.sourceKind != 2) {
        source = std::make_unique<Image<PIX, N>>(input.source, input.sourceBottomUp,
                                                 input.sourcePadding);
        paintSource(*source, input);
        sourcePixels = source->template pixels<const PIX>();
        if (input.sourceKind == 3) {
            sourcePixels.data = nullptr;
        }
    }
    Image<PIX, N> expected(input.destination, input.destinationBottomUp, input.destinationPadding);
    Image<PIX, N> actual(input.destination, input.destinationBottomUp, input.destinationPadding);
    fill(expected, input.fillSeed);
    fill(actual, input.fillSeed);
    const std::vector<unsigned char> sourceBefore =
        source ? source->bytes : std::vector<unsigned char>();

    renderStraightforward<PIX, N>(input.sourceKind == 3 ? nullptr : source.get(), expected, input);
    zarvel::fuzz::Engine engine;
    engine.render<PIX, N>(sourcePixels, actual.template pixels<PIX>(), input.field, input.window,
                          input.settings, input.schedule);
    const char* path = engine.usedWholeField() ? "whole field" : "fast path";
    if (verbose) {
        std::fprintf(stderr, "zarvel_engine_fuzz: %s\n  %s\n", path, describe(input).c_str());
    }
    if (std::string problem = firstDifference(expected, actual); !problem.empty()) {
        return std::string(path) + ": " + problem;
    }
    if (source && source->bytes != sourceBefore) {
        return "the source was written";
    }
    if (input.again) {
        fill(actual, input.fillSeed);
        engine.render<PIX, N>(sourcePixels, actual.template pixels<PIX>(), input.field,
                              input.window, input.settings, input.scheduleAgain);
        if (std::string problem = firstDifference(expected, actual); !problem.empty()) {
            return "rendering again with " + describe(input.scheduleAgain) + ": " + problem;
        }
    }
    return {};
}

std::string run(const Input& input) {
    switch (input.type) {
    case 0:
        return run<unsigned char, 4>(input);
    case 1:
        return run<unsigned short, 4>(input);
    case 2:
        return run<float, 4>(input);
    case 3:
        return run<unsigned char, 1>(input);
    case 4:
        return run<unsigned short, 1>(input);
    default:
        return run<float, 1>(input);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    verbose = std::getenv("ZARVEL_ENGINE_FUZZ_VERBOSE") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Input input = decode(data, size);
    const std::string problem = run(input);
    if (!problem.empty()) {
        std::fprintf(stderr, "zarvel_engine_fuzz: %s\n  %s\n", problem.c_str(),
                     describe(input).c_str());
        std::abort();
    }
    return 0;
}
