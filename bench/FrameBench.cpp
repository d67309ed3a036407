// zarvel_bench: renders whole frames through the built Zarvel.ofx, loaded over the standard's C
// interface (dlopen) into our own host, and compares each render with a plain copy of the same
// frame's bytes on the same number of threads, measured in the same run.
//
// Every case renders a destination as large as its source (1920×1080 or 3840×2160), window =
// bounds, so the drawn width is the width parameter × height / 1080. Before timing, the first
// render of each picture and parameter set is compared byte for byte with the independent
// reference computation (tests/support/ReferenceOutline); a mismatch stops the program.
//
// Timing: each sample evicts the caches (reads a buffer several times the last-level cache),
// then times one Render action (or one copy) on a steady clock. Samples are taken until both a
// minimum count and a minimum total time are reached; the median is reported. The copy uses as
// many threads as the host offers the plug-in, started the way our host starts them.
//
// `--quick` runs a handful of 1080p cases in a few seconds, checked but with no claim about
// time: it is the smoke test ctest runs. `--help` lists the options.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/BenchFrames.h"
#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "tests/support/ReferenceOutline.h"

namespace {

using ZarvelBench::Content;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

// ---------------------------------------------------------------------------------------------
// Cases
// ---------------------------------------------------------------------------------------------

struct FrameType {
    int width;
    int height;
    PixelDepth depth;
    PixelComponents components;

    bool operator<(const FrameType& o) const {
        return std::tie(width, height, depth, components) <
               std::tie(o.width, o.height, o.depth, o.components);
    }
    bool operator==(const FrameType& o) const { return !(*this < o) && !(o < *this); }
};

struct Case {
    FrameType frame;
    Content content;
    int quality;   // 0 Draft, 1 Good
    double width;  // the parameter: pixels on a 1080-row frame
    unsigned threads;
};

const char* depthName(PixelDepth depth) {
    return depth == PixelDepth::Byte ? "8-bit" : depth == PixelDepth::Short ? "16-bit" : "float";
}

const char* componentsName(PixelComponents components) {
    return components == PixelComponents::RGBA ? "RGBA" : "Alpha";
}

std::string widthName(double width) {
    std::ostringstream out;
    out << "w" << width;
    return out.str();
}

std::string caseName(const Case& c) {
    std::ostringstream out;
    out << c.frame.width << "x" << c.frame.height << " " << componentsName(c.frame.components)
        << " " << depthName(c.frame.depth) << " " << (c.quality == 0 ? "Draft" : "Good") << " "
        << widthName(c.width) << " " << ZarvelBench::contentName(c.content) << " " << c.threads
        << "t";
    return out.str();
}

const FrameType hd8{1920, 1080, PixelDepth::Byte, PixelComponents::RGBA};

std::vector<Case> fullCases() {
    std::vector<Case> cases;
    for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        for (PixelDepth depth : {PixelDepth::Byte, PixelDepth::Short, PixelDepth::Float}) {
            for (PixelComponents components : {PixelComponents::RGBA, PixelComponents::Alpha}) {
                const FrameType frame{w, h, depth, components};
                // The widths, opaque and empty frames on the two types the targets name.
                const bool main = components == PixelComponents::RGBA && depth != PixelDepth::Short;
                std::vector<Content> contents = {Content::shapes, Content::text};
                if (main) {
                    contents.push_back(Content::opaque);
                    contents.push_back(Content::empty);
                }
                for (Content content : contents) {
                    const bool drawn = content == Content::shapes || content == Content::text;
                    std::vector<double> widths = {15.0};
                    if (main && drawn) {
                        widths = {2.5, 15.0, 20.0};
                        if (h == 1080) {
                            widths.push_back(160.0);  // 160 pixels: a width of 20 on 8K
                        }
                    }
                    for (int quality : {0, 1}) {
                        for (double width : widths) {
                            for (unsigned threads : {1u, 2u}) {
                                if (threads == 1 && (width != 15.0 || !drawn)) {
                                    continue;
                                }
                                cases.push_back({frame, content, quality, width, threads});
                            }
                        }
                    }
                }
            }
        }
    }
    return cases;
}

std::vector<Case> quickCases() {
    const FrameType hdFloat{1920, 1080, PixelDepth::Float, PixelComponents::RGBA};
    const FrameType hdAlpha16{1920, 1080, PixelDepth::Short, PixelComponents::Alpha};
    return {{hd8, Content::shapes, 1, 15.0, 2},     {hd8, Content::shapes, 0, 15.0, 2},
            {hd8, Content::text, 1, 15.0, 2},       {hd8, Content::text, 0, 15.0, 1},
            {hd8, Content::opaque, 1, 15.0, 2},     {hd8, Content::empty, 0, 15.0, 2},
            {hdFloat, Content::shapes, 1, 2.5, 2},  {hdFloat, Content::text, 0, 20.0, 2},
            {hdAlpha16, Content::text, 1, 15.0, 1}, {hd8, Content::shapes, 1, 160.0, 2}};
}

// ---------------------------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------------------------

std::shared_ptr<ZarvelHost::Image> makeSource(const FrameType& frame, Content content) {
    auto image = std::make_shared<ZarvelHost::Image>(OfxRectI{0, 0, frame.width, frame.height},
                                                     frame.depth, frame.components);
    const std::vector<float> coverage =
        ZarvelBench::frameCoverage(content, frame.width, frame.height);
    const int n = image->componentCount();
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            float values[4];
            values[n - 1] = coverage[std::size_t(y) * std::size_t(frame.width) + std::size_t(x)];
            for (int c = 0; c + 1 < n; ++c) {
                values[c] = ZarvelBench::frameColour(x, y, c);
            }
            void* pixel = image->pixelAddress(x, y);
            for (int c = 0; c < n; ++c) {
                if (frame.depth == PixelDepth::Float) {
                    static_cast<float*>(pixel)[c] = values[c];
                } else if (frame.depth == PixelDepth::Short) {
                    static_cast<std::uint16_t*>(pixel)[c] =
                        std::uint16_t(std::lround(values[c] * 65535.0f));
                } else {
                    static_cast<std::uint8_t*>(pixel)[c] =
                        std::uint8_t(std::lround(values[c] * 255.0f));
                }
            }
        }
    }
    return image;
}

ReferenceOutline::Image referenceView(const ZarvelHost::Image& image) {
    ReferenceOutline::Image view;
    view.data = image.data();
    view.rowBytes = image.rowBytes();
    view.bounds = image.bounds();
    view.componentType = image.depth() == PixelDepth::Byte    ? ReferenceOutline::componentByte
                         : image.depth() == PixelDepth::Short ? ReferenceOutline::componentShort
                                                              : ReferenceOutline::componentFloat;
    view.nComponents = image.componentCount();
    return view;
}

std::size_t imageBytes(const ZarvelHost::Image& image) {
    return std::size_t(std::abs(image.rowBytes())) * std::size_t(image.height());
}

// The rows of an image in memory, lowest address first.
unsigned char* firstByte(const ZarvelHost::Image& image) {
    unsigned char* data = static_cast<unsigned char*>(image.data());
    return image.rowBytes() >= 0
               ? data
               : data + std::ptrdiff_t(image.rowBytes()) * std::ptrdiff_t(image.height() - 1);
}

// ---------------------------------------------------------------------------------------------
// Timing
// ---------------------------------------------------------------------------------------------

struct Timing {
    double minTime = 0.4;  // seconds of timed samples per measurement, at least
    int minSamples = 7;
    int maxSamples = 400;
};

// Reading this evicts every cache line of the frames; the last-level cache here is 32 MiB.
class Evictor {
public:
    Evictor()
        : buffer(std::size_t(128) << 20, 1) {}

    void run() {
        unsigned sum = 0;
        for (std::size_t i = 0; i < buffer.size(); i += 64) {
            sum += buffer[i];
        }
        sink = sum;
    }

private:
    std::vector<unsigned char> buffer;
    volatile unsigned sink = 0;
};

struct Measured {
    double median = 0.0;  // ms
    double best = 0.0;    // ms
    int samples = 0;
};

template <class Body>
Measured measure(const Timing& timing, Evictor& evictor, Body&& body) {
    std::vector<double> samples;
    double total = 0.0;
    while ((int(samples.size()) < timing.minSamples || total < timing.minTime) &&
           int(samples.size()) < timing.maxSamples) {
        evictor.run();
        const auto start = std::chrono::steady_clock::now();
        body();
        const auto end = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(end - start).count();
        samples.push_back(seconds * 1e3);
        total += seconds;
    }
    std::sort(samples.begin(), samples.end());
    Measured m;
    m.samples = int(samples.size());
    m.best = samples.front();
    const std::size_t mid = samples.size() / 2;
    m.median = samples.size() % 2 ? samples[mid] : 0.5 * (samples[mid - 1] + samples[mid]);
    return m;
}

// A copy of the source's bytes into the destination, split into as many contiguous parts as
// threads; several threads are started for each copy, as our host starts them for a render.
void copyFrame(const ZarvelHost::Image& source, const ZarvelHost::Image& destination,
               unsigned threads) {
    const unsigned char* from = firstByte(source);
    unsigned char* to = firstByte(destination);
    const std::size_t bytes = imageBytes(source);
    auto part = [&](unsigned t) {
        const std::size_t begin = bytes * t / threads;
        const std::size_t end = bytes * (t + 1) / threads;
        std::memcpy(to + begin, from + begin, end - begin);
    };
    if (threads == 1) {
        part(0);
        return;
    }
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back(part, t);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

// ---------------------------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------------------------

// A "VmRSS" / "VmHWM" line of /proc/self/status in bytes, or -1.
long long statusBytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atoll(line.c_str() + std::strlen(key) + 1) * 1024;
        }
    }
    return -1;
}

// Starts a new peak of resident memory from the current resident size; false if the kernel
// does not allow it.
bool resetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return bool(clear);
}

// ---------------------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------------------

struct Options {
    bool quick = false;
    bool check = true;
    bool memory = true;
    std::string plugin = ZARVEL_BENCH_PLUGIN;
    std::string filter;
    Timing timing;
};

struct Result {
    Case c;
    Measured render;
    Measured copy;
    double ratio() const { return render.median / copy.median; }
};

class Bench {
public:
    explicit Bench(const Options& options)
        : opts(options)
        , library(ZarvelHost::PluginLibrary::open(options.plugin))
        , session(host, *library) {
        if (session.start() != kOfxStatOK) {
            throw std::runtime_error("the plug-in failed " + session.failedAction());
        }
        session.instance().param("outlineColor").setValue({0.9, 0.45, 0.1, 1.0});
    }

    // Peak resident memory of one render beyond what the process held before it, first thing
    // in the process so that no earlier render left memory behind.
    void reportMemory(const FrameType& frame, int quality) {
        prepareFrame(frame, Content::shapes);
        setParameters(quality, 15.0);
        host.setCpuCount(2);
        const long long before = statusBytes("VmRSS:");
        if (before < 0 || !resetPeak()) {
            std::printf("memory: peak resident memory cannot be measured here\n");
            return;
        }
        renderOnce();
        const long long peak = statusBytes("VmHWM:");
        const double mib = 1024.0 * 1024.0;
        const double field = double(frame.width) * frame.height * sizeof(float);
        std::printf(
            "memory: %dx%d %s %s %s render, 2 threads: peak resident %.1f MiB above the %.1f MiB "
            "held before (source and destination %.1f MiB each; one float per field pixel would "
            "be %.1f MiB)\n",
            frame.width, frame.height, componentsName(frame.components), depthName(frame.depth),
            quality == 0 ? "Draft" : "Good", double(peak - before) / mib, double(before) / mib,
            double(imageBytes(*source)) / mib, field / mib);
    }

    void run(const std::vector<Case>& cases) {
        std::printf("%-42s %10s %9s %10s %8s %8s\n", "case", "ms/frame", "Mpixel/s", "copy ms",
                    "ratio", "samples");
        for (const Case& c : cases) {
            if (!opts.filter.empty() && caseName(c).find(opts.filter) == std::string::npos) {
                continue;
            }
            runCase(c);
        }
    }

    const std::vector<Result>& results() const { return done; }

private:
    void prepareFrame(const FrameType& frame, Content content) {
        if (source && currentFrame == frame && currentContent == content) {
            return;
        }
        output.reset();
        source.reset();
        expected.reset();
        source = makeSource(frame, content);
        session.setImage("Source", source);
        output = session.clip("Output").allocateImage({0, 0, frame.width, frame.height},
                                                      frame.depth, frame.components);
        currentFrame = frame;
        currentContent = content;
        copies.clear();
    }

    void setParameters(int quality, double width) {
        session.instance().param("quality").setValue({double(quality)});
        session.instance().param("outlineWidth").setValue({width});
    }

    void renderOnce() {
        ZarvelHost::RenderOptions options;
        options.window = output->bounds();
        const ZarvelHost::ActionCall call = session.render(options);
        if (call.status != kOfxStatOK) {
            throw std::runtime_error("the render failed with status " +
                                     std::to_string(call.status));
        }
    }

    // The render matches the reference computation byte for byte, or the run stops.
    void check(const Case& c) {
        const std::string key = std::to_string(c.quality) + "/" + std::to_string(c.width);
        if (!expected || expectedKey != key) {
            expected = std::make_unique<ZarvelHost::Image>(output->bounds(), c.frame.depth,
                                                           c.frame.components);
            const ReferenceOutline::Image sourceView = referenceView(*source);
            const double widthPixels = c.width * double(c.frame.height) / 1080.0;
            ReferenceOutline::render(&sourceView, referenceView(*expected), output->bounds(),
                                     c.quality, widthPixels, 0.9, 0.45, 0.1);
            expectedKey = key;
        }
        std::memset(firstByte(*output), 0xA5, imageBytes(*output));
        renderOnce();
        const std::size_t bytes = imageBytes(*output);
        const unsigned char* a = firstByte(*output);
        const unsigned char* b = firstByte(*expected);
        if (std::memcmp(a, b, bytes) != 0) {
            std::size_t at = 0;
            while (a[at] == b[at]) {
                ++at;
            }
            const std::size_t row = at / std::size_t(std::abs(output->rowBytes()));
            const std::size_t column = (at % std::size_t(std::abs(output->rowBytes()))) /
                                       std::size_t(output->pixelBytes());
            throw std::runtime_error(caseName(c) + ": the render differs from the reference at " +
                                     "pixel (" + std::to_string(column) + ", " +
                                     std::to_string(row) + ")");
        }
    }

    void runCase(const Case& c) {
        prepareFrame(c.frame, c.content);
        setParameters(c.quality, c.width);
        host.setCpuCount(c.threads);
        if (opts.check) {
            check(c);
        } else {
            renderOnce();  // warm-up
        }
        // The copy of this frame on this many threads, measured once per frame next to its renders.
        auto copy = copies.find(c.threads);
        if (copy == copies.end()) {
            copy = copies
                       .emplace(c.threads, measure(opts.timing, evictor,
                                                   [&] { copyFrame(*source, *output, c.threads); }))
                       .first;
        }
        Result r{c, measure(opts.timing, evictor, [&] { renderOnce(); }), copy->second};
        const double megapixels = double(c.frame.width) * c.frame.height / 1e6;
        std::printf("%-42s %10.2f %9.0f %10.2f %8.2f %8d\n", caseName(c).c_str(), r.render.median,
                    megapixels / (r.render.median / 1e3), r.copy.median, r.ratio(),
                    r.render.samples);
        std::fflush(stdout);
        done.push_back(r);
    }

    Options opts;
    ZarvelHost::Host host;
    std::unique_ptr<ZarvelHost::PluginLibrary> library;
    ZarvelHost::Session session;
    Evictor evictor;
    std::shared_ptr<ZarvelHost::Image> source;
    std::shared_ptr<ZarvelHost::Image> output;
    std::unique_ptr<ZarvelHost::Image> expected;
    std::string expectedKey;
    FrameType currentFrame{0, 0, PixelDepth::Byte, PixelComponents::RGBA};
    Content currentContent = Content::empty;
    std::map<unsigned, Measured> copies;
    std::vector<Result> done;
};

// ---------------------------------------------------------------------------------------------
// Targets
// ---------------------------------------------------------------------------------------------

bool sameButFor(const Case& a, const Case& b, bool frameSize, bool quality, bool width,
                bool threads) {
    return a.content == b.content && a.frame.depth == b.frame.depth &&
           a.frame.components == b.frame.components &&
           (frameSize || (a.frame.width == b.frame.width && a.frame.height == b.frame.height)) &&
           (quality || a.quality == b.quality) && (width || a.width == b.width) &&
           (threads || a.threads == b.threads);
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

void reportTargets(const std::vector<Result>& results) {
    std::printf("\ntargets (medians; ratios to the same-run copy of the frame):\n");
    for (const Result& r : results) {
        const Case& c = r.c;
        if (c.frame.components != PixelComponents::RGBA || c.quality != 1 || c.width != 15.0 ||
            c.threads != 2) {
            continue;
        }
        if (c.frame == hd8 && (c.content == Content::shapes || c.content == Content::text)) {
            const double limit = c.content == Content::shapes ? 3.0 : 7.0;
            std::printf("  1080p RGBA 8-bit Good w15 %s, 2 threads: %.2f x copy (<= %.0f): %s\n",
                        ZarvelBench::contentName(c.content), r.ratio(), limit,
                        verdict(r.ratio() <= limit));
        }
        if (c.frame.height == 2160 && c.frame.depth == PixelDepth::Float &&
            (c.content == Content::shapes || c.content == Content::text)) {
            std::printf("  4K RGBA float Good w15 %s, 2 threads: %.2f x copy (<= 2.5): %s\n",
                        ZarvelBench::contentName(c.content), r.ratio(), verdict(r.ratio() <= 2.5));
        }
    }
    // Draft against Good on the same frame, width and threads.
    int pairs = 0;
    int slower = 0;
    double worst = 0.0;
    std::string worstName;
    for (const Result& d : results) {
        if (d.c.quality != 0) {
            continue;
        }
        for (const Result& g : results) {
            if (g.c.quality == 1 && sameButFor(d.c, g.c, false, true, false, false)) {
                ++pairs;
                const double ratio = d.render.median / g.render.median;
                slower += ratio > 1.0 ? 1 : 0;
                if (ratio > worst) {
                    worst = ratio;
                    worstName = caseName(d.c);
                }
            }
        }
    }
    if (pairs > 0) {
        std::printf("  Draft never slower than Good: %d of %d pairs slower; worst Draft/Good %.2f "
                    "(%s): %s\n",
                    slower, pairs, worst, worstName.c_str(), verdict(slower == 0));
    }
    // Two threads against one.
    double leastGain = 1e9;
    std::string leastName;
    for (const Result& two : results) {
        if (two.c.threads != 2) {
            continue;
        }
        for (const Result& one : results) {
            if (one.c.threads != 1 || !sameButFor(two.c, one.c, false, false, false, true)) {
                continue;
            }
            const double gain = one.render.median / two.render.median;
            const double copyGain = one.copy.median / two.copy.median;
            if (two.c.frame.height == 1080 && two.c.frame.depth == PixelDepth::Byte &&
                gain < leastGain) {
                leastGain = gain;
                leastName = caseName(two.c);
            }
            if (two.c.frame.height == 2160 && two.c.frame.depth == PixelDepth::Float &&
                two.c.frame.components == PixelComponents::RGBA) {
                std::printf("  4K RGBA float %s %s: 2 threads %.2f x faster than 1 (the copy "
                            "%.2f x): %s\n",
                            two.c.quality == 0 ? "Draft" : "Good",
                            ZarvelBench::contentName(two.c.content), gain, copyGain,
                            verdict(gain >= copyGain * 0.95));
            }
        }
    }
    if (leastName.size() > 0) {
        std::printf("  1080p 8-bit: 2 threads at least %.2f x faster than 1 (>= 1.7; least: "
                    "%s): %s\n",
                    leastGain, leastName.c_str(), verdict(leastGain >= 1.7));
    }
    // Pixels: 4K against 1080p.
    double worstScale = 0.0;
    std::string scaleName;
    for (const Result& big : results) {
        if (big.c.frame.height != 2160) {
            continue;
        }
        for (const Result& small : results) {
            if (small.c.frame.height == 1080 &&
                sameButFor(big.c, small.c, true, false, false, false)) {
                const double scale = big.render.median / small.render.median;
                if (scale > worstScale) {
                    worstScale = scale;
                    scaleName = caseName(big.c);
                }
            }
        }
    }
    if (!scaleName.empty()) {
        std::printf("  4K at most 4.5 x 1080p on the same content: worst %.2f x (%s): %s\n",
                    worstScale, scaleName.c_str(), verdict(worstScale <= 4.5));
    }
    // Width: 160 pixels against 15, and the step from 15 to 20.
    for (const Result& wide : results) {
        if (wide.c.width != 160.0) {
            continue;
        }
        for (const Result& base : results) {
            if (base.c.width == 15.0 && sameButFor(wide.c, base.c, false, false, true, false)) {
                const double growth = wide.render.median / base.render.median;
                std::printf("  width 160 px at most 3 x width 15 (%s): %.2f x: %s\n",
                            caseName(wide.c).c_str(), growth, verdict(growth <= 3.0));
            }
        }
    }
}

void usage() {
    std::printf(
        "usage: zarvel_bench [--quick] [--plugin PATH] [--filter TEXT] [--min-time SECONDS]\n"
        "                    [--no-check] [--no-memory]\n"
        "Renders whole frames through Zarvel.ofx and prints, per case, the median time per\n"
        "frame, Mpixel/s and the ratio to a copy of the frame's bytes on the same threads.\n"
        "  --quick       a few 1080p cases, briefly (the ctest smoke test; no timing claims)\n"
        "  --plugin      the Zarvel.ofx to load (default: the one built in this tree)\n"
        "  --filter      only cases whose name contains TEXT, e.g. '1920x1080 RGBA 8-bit Good'\n"
        "  --min-time    timed seconds per measurement, at least (default 0.4)\n"
        "  --no-check    skip the byte-for-byte comparison with the reference computation\n"
        "  --no-memory   skip the peak-memory measurement of a 4K float render\n");
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zarvel_bench: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--plugin") {
            options.plugin = value();
        } else if (arg == "--filter") {
            options.filter = value();
        } else if (arg == "--min-time") {
            options.timing.minTime = std::atof(value().c_str());
        } else if (arg == "--no-check") {
            options.check = false;
        } else if (arg == "--no-memory") {
            options.memory = false;
        } else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else {
            std::fprintf(stderr, "zarvel_bench: unknown option %s\n", arg.c_str());
            usage();
            return 2;
        }
    }
    if (options.quick) {
        options.timing = {0.02, 2, 20};
        options.memory = false;
    }
    try {
        Bench bench(options);
        std::printf("zarvel_bench: %s, %u hardware threads%s\n", options.plugin.c_str(),
                    std::thread::hardware_concurrency(),
                    options.quick ? ", quick (no timing claims)" : "");
        if (options.memory && options.filter.empty()) {
            bench.reportMemory({3840, 2160, PixelDepth::Float, PixelComponents::RGBA}, 1);
        }
        bench.run(options.quick ? quickCases() : fullCases());
        if (!options.quick) {
            reportTargets(bench.results());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zarvel_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
