// zarvel_bench: renders whole frames through the built Zarvel.ofx, loaded over the standard's C
// interface (dlopen) into our own host, and sets each render beside two baselines measured in
// the same run: a copy of the same frame's bytes by threads pinned one per core, and the same
// render with the host starting threads for every multiThread call instead of keeping a pool.
//
// Every case renders a destination as large as its source (1920×1080, 3840×2160 or 7680×4320),
// window = bounds, so the drawn width is the width parameter × height / 1080. Before timing,
// the first render of each picture and parameter set is compared byte for byte with the
// independent reference computation (tests/support/ReferenceOutline), with the host's pool and
// with threads started per call; a mismatch stops the program.
//
// Timing: each sample evicts the caches (reads a buffer several times the last-level cache),
// then times one Render action (or one copy) on a steady clock. The variants of a case (pool,
// spawn per call, the compared build) take their samples in turn, so that a change in the
// machine's state falls on all of them alike. Samples are taken until each variant has both a
// minimum count and a minimum total time; the median is reported.
//
// Copies: "copy" splits the bytes over as many threads as the render is offered, started for
// the copy as spawn-per-call starts them; "pinned" hands the parts to threads kept for the run
// and pinned one per core, so that the scheduler cannot put both on one core.
//
// `--quick` checks a handful of 1080p cases in both thread modes in a few seconds and times
// nothing: it is the smoke test ctest runs. `--help` lists the options.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/BenchFrames.h"
#include "bench/Measurement.h"
#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "tests/support/ReferenceOutline.h"

namespace {

using namespace ZarvelBench;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;
using ZarvelHost::ThreadMode;

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
    double pixels() const { return double(width) * double(height); }
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

const char* qualityName(int quality) {
    return quality == 0 ? "Draft" : "Good";
}

std::string widthName(double width) {
    std::ostringstream out;
    out << "w" << width;
    return out.str();
}

std::string caseName(const Case& c) {
    std::ostringstream out;
    out << c.frame.width << "x" << c.frame.height << " " << componentsName(c.frame.components)
        << " " << depthName(c.frame.depth) << " " << qualityName(c.quality) << " "
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
    // 8K UHD, a delivery format, against 4K per pixel: taller than the fast path's stripes.
    for (PixelComponents components : {PixelComponents::RGBA, PixelComponents::Alpha}) {
        for (Content content : {Content::shapes, Content::text}) {
            for (int quality : {0, 1}) {
                cases.push_back(
                    {{7680, 4320, PixelDepth::Byte, components}, content, quality, 15.0, 2});
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

// ---------------------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------------------

struct Options {
    bool quick = false;
    bool check = true;
    bool memory = true;
    std::string plugin = ZARVEL_BENCH_PLUGIN;
    std::string compare;  // a second build timed beside the first; empty for none
    std::string filter;
    Timing timing;
};

// The timed variants of one case.
enum Variant { pool, spawn, comparePool, variantCount };

struct Result {
    Case c;
    Measured render[variantCount];
    Measured copy;
    Measured pinned;
    // The build's render under the pool against the pinned copy.
    double ratio(Variant variant = pool) const { return render[variant].median / pinned.median; }
};

// One build of the plug-in with its own instance and output image.
struct Build {
    Build(ZarvelHost::Host& host, const std::string& path)
        : library(ZarvelHost::PluginLibrary::open(path))
        , session(host, *library) {
        if (session.start() != kOfxStatOK) {
            throw std::runtime_error(path + ": the plug-in failed " + session.failedAction());
        }
        session.instance().param("outlineColor").setValue({0.9, 0.45, 0.1, 1.0});
    }

    std::unique_ptr<ZarvelHost::PluginLibrary> library;
    ZarvelHost::Session session;
    std::shared_ptr<ZarvelHost::Image> output;
};

class Bench {
public:
    explicit Bench(const Options& options)
        : opts(options)
        , copier(2) {
        builds.push_back(std::make_unique<Build>(host, options.plugin));
        if (!options.compare.empty()) {
            builds.push_back(std::make_unique<Build>(host, options.compare));
        }
    }

    std::string copierPlacement() const { return copier.placement(); }

    // Peak resident memory of one render beyond what the process held before it, first thing
    // in the process so that no earlier render left memory behind.
    void reportMemory(const FrameType& frame, int quality) {
        prepareFrame(frame, Content::shapes);
        setParameters(quality, 15.0);
        host.setCpuCount(2);
        host.setThreadMode(ThreadMode::Pool);
        const long long before = statusBytes("VmRSS:");
        if (before < 0 || !resetPeak()) {
            std::printf("memory: peak resident memory cannot be measured here\n");
            return;
        }
        renderOnce(*builds[0]);
        const long long peak = statusBytes("VmHWM:");
        const double mib = 1024.0 * 1024.0;
        const double field = frame.pixels() * sizeof(float);
        std::printf(
            "memory: %dx%d %s %s %s render, 2 threads: peak resident %.1f MiB above the %.1f MiB "
            "held before (source and destination %.1f MiB each; one float per field pixel would "
            "be %.1f MiB)\n",
            frame.width, frame.height, componentsName(frame.components), depthName(frame.depth),
            qualityName(quality), double(peak - before) / mib, double(before) / mib,
            double(imageBytes(*source)) / mib, field / mib);
    }

    void run(const std::vector<Case>& cases) {
        if (opts.quick) {
            std::printf("%-42s %s\n", "case", "checked");
        } else {
            std::printf("%-42s %8s %8s %8s %8s %8s %8s", "case", "pool ms", "spawn ms", "Mpix/s",
                        "copy ms", "pinned", "x pinned");
            if (builds.size() > 1) {
                std::printf(" %8s %8s", "cmp ms", "cmp/plg");
            }
            std::printf(" %7s\n", "samples");
        }
        for (const Case& c : cases) {
            if (!opts.filter.empty() && caseName(c).find(opts.filter) == std::string::npos) {
                continue;
            }
            runCase(c);
        }
    }

    const std::vector<Result>& results() const { return done; }
    bool comparing() const { return builds.size() > 1; }

private:
    void prepareFrame(const FrameType& frame, Content content) {
        if (source && currentFrame == frame && currentContent == content) {
            return;
        }
        expected.reset();
        for (auto& build : builds) {
            build->output.reset();
        }
        source.reset();
        source = makeSource(frame, content);
        for (auto& build : builds) {
            build->session.setImage("Source", source);
            build->output = build->session.clip("Output").allocateImage(
                {0, 0, frame.width, frame.height}, frame.depth, frame.components);
        }
        currentFrame = frame;
        currentContent = content;
        copies.clear();
    }

    void setParameters(int quality, double width) {
        for (auto& build : builds) {
            build->session.instance().param("quality").setValue({double(quality)});
            build->session.instance().param("outlineWidth").setValue({width});
        }
    }

    void renderOnce(const Build& build) {
        ZarvelHost::RenderOptions options;
        options.window = build.output->bounds();
        const ZarvelHost::ActionCall call = build.session.render(options);
        if (call.status != kOfxStatOK) {
            throw std::runtime_error("the render failed with status " +
                                     std::to_string(call.status));
        }
    }

    // The render matches the reference computation byte for byte, or the run stops.
    void check(const Case& c, const Build& build, ThreadMode mode) {
        const std::string key = std::to_string(c.quality) + "/" + std::to_string(c.width);
        if (!expected || expectedKey != key) {
            expected = std::make_unique<ZarvelHost::Image>(build.output->bounds(), c.frame.depth,
                                                           c.frame.components);
            const ReferenceOutline::Image sourceView = referenceView(*source);
            const double widthPixels = c.width * double(c.frame.height) / 1080.0;
            ReferenceOutline::render(&sourceView, referenceView(*expected), build.output->bounds(),
                                     c.quality, widthPixels, 0.9, 0.45, 0.1);
            expectedKey = key;
        }
        const ZarvelHost::Image& output = *build.output;
        host.setThreadMode(mode);
        std::memset(firstByte(output), 0xA5, imageBytes(output));
        renderOnce(build);
        const std::size_t bytes = imageBytes(output);
        const unsigned char* a = firstByte(output);
        const unsigned char* b = firstByte(*expected);
        if (std::memcmp(a, b, bytes) != 0) {
            std::size_t at = 0;
            while (a[at] == b[at]) {
                ++at;
            }
            const std::size_t row = at / std::size_t(std::abs(output.rowBytes()));
            const std::size_t column =
                (at % std::size_t(std::abs(output.rowBytes()))) / std::size_t(output.pixelBytes());
            throw std::runtime_error(build.library->path() + ", " + caseName(c) +
                                     (mode == ThreadMode::Pool ? ", pool" : ", spawn per call") +
                                     ": the render differs from the reference at pixel (" +
                                     std::to_string(column) + ", " + std::to_string(row) + ")");
        }
    }

    // A render in the given thread mode, as a timed body.
    std::function<void()> timedRender(const Build& build, ThreadMode mode) {
        return [this, &build, mode] {
            host.setThreadMode(mode);
            renderOnce(build);
        };
    }

    void runCase(const Case& c) {
        prepareFrame(c.frame, c.content);
        setParameters(c.quality, c.width);
        host.setCpuCount(c.threads);
        // Checking renders each variant once first, which also warms it up.
        for (auto& build : builds) {
            for (ThreadMode mode : {ThreadMode::Pool, ThreadMode::SpawnPerCall}) {
                if (opts.check) {
                    check(c, *build, mode);
                } else {
                    host.setThreadMode(mode);
                    renderOnce(*build);
                }
            }
        }
        if (opts.quick) {
            // The copies once each, so the smoke test runs every part of the program.
            copyFrame(*source, *builds[0]->output, c.threads);
            copier.copy(*source, *builds[0]->output, c.threads);
            std::printf("%-42s %s\n", caseName(c).c_str(),
                        opts.check ? "pool, spawn per call" : "not checked");
            std::fflush(stdout);
            return;
        }
        // The copies of this frame on this many threads, measured once per frame.
        auto copy = copies.find(c.threads);
        if (copy == copies.end()) {
            const ZarvelHost::Image& to = *builds[0]->output;
            copy = copies
                       .emplace(c.threads,
                                measureInTurn(opts.timing, evictor,
                                              {[&] { copyFrame(*source, to, c.threads); },
                                               [&] { copier.copy(*source, to, c.threads); }}))
                       .first;
        }
        std::vector<std::function<void()>> bodies = {
            timedRender(*builds[0], ThreadMode::Pool),
            timedRender(*builds[0], ThreadMode::SpawnPerCall)};
        if (comparing()) {
            bodies.push_back(timedRender(*builds[1], ThreadMode::Pool));
        }
        const std::vector<Measured> renders = measureInTurn(opts.timing, evictor, bodies);
        Result r;
        r.c = c;
        std::copy(renders.begin(), renders.end(), r.render);
        r.copy = copy->second[0];
        r.pinned = copy->second[1];
        const double megapixels = c.frame.pixels() / 1e6;
        std::printf("%-42s %8.2f %8.2f %8.0f %8.2f %8.2f %8.2f", caseName(c).c_str(),
                    r.render[pool].median, r.render[spawn].median,
                    megapixels / (r.render[pool].median / 1e3), r.copy.median, r.pinned.median,
                    r.ratio());
        if (comparing()) {
            std::printf(" %8.2f %8.2f", r.render[comparePool].median,
                        r.render[comparePool].median / r.render[pool].median);
        }
        std::printf(" %7d\n", r.render[pool].samples);
        std::fflush(stdout);
        done.push_back(r);
    }

    Options opts;
    ZarvelHost::Host host;
    PinnedCopier copier;
    std::vector<std::unique_ptr<Build>> builds;
    Evictor evictor;
    std::shared_ptr<ZarvelHost::Image> source;
    std::unique_ptr<ZarvelHost::Image> expected;
    std::string expectedKey;
    FrameType currentFrame{0, 0, PixelDepth::Byte, PixelComponents::RGBA};
    Content currentContent = Content::empty;
    std::map<unsigned, std::vector<Measured>> copies;  // copy, pinned copy; by thread count
    std::vector<Result> done;
};

// ---------------------------------------------------------------------------------------------
// Targets
// ---------------------------------------------------------------------------------------------

bool sameButFor(const Case& a, const Case& b, bool frameSize, bool quality, bool threads) {
    return a.content == b.content && a.frame.depth == b.frame.depth &&
           a.frame.components == b.frame.components && a.width == b.width &&
           (frameSize || (a.frame.width == b.frame.width && a.frame.height == b.frame.height)) &&
           (quality || a.quality == b.quality) && (threads || a.threads == b.threads);
}

const char* verdict(bool met) {
    return met ? "met" : "NOT MET";
}

bool isDrawn(const Case& c) {
    return c.content == Content::shapes || c.content == Content::text;
}

// 1080p RGBA 8-bit, 2 threads, width 15, shapes or text.
bool isMainCase(const Case& c) {
    return c.frame == hd8 && c.width == 15.0 && c.threads == 2 && isDrawn(c);
}

// The targets, for one build's renders under the pool.
void reportTargets(const std::vector<Result>& results, Variant variant, const char* build) {
    std::printf("\ntargets for %s (medians under the host's pool; 'copy' is the pinned copy of "
                "the same frame):\n",
                build);
    auto time = [variant](const Result& r) { return r.render[variant].median; };
    // Draft against Good on every frame, width, depth and thread count.
    int pairs = 0;
    int slower = 0;
    double worst = 0.0;
    std::string worstName;
    for (const Result& d : results) {
        if (d.c.quality != 0) {
            continue;
        }
        for (const Result& g : results) {
            if (g.c.quality != 1 || !sameButFor(d.c, g.c, false, true, false)) {
                continue;
            }
            ++pairs;
            const double ratio = time(d) / time(g);
            slower += ratio > 1.0 ? 1 : 0;
            if (ratio > worst) {
                worst = ratio;
                worstName = caseName(d.c);
            }
            if (isMainCase(d.c)) {
                std::printf("  Draft <= 0.8 x Good, 1080p RGBA 8-bit w15 %s: %.2f: %s\n",
                            ZarvelBench::contentName(d.c.content), ratio, verdict(ratio <= 0.8));
            }
        }
    }
    if (pairs > 0) {
        std::printf("  Draft <= Good everywhere: %d of %d pairs slower; worst Draft/Good %.2f "
                    "(%s): %s\n",
                    slower, pairs, worst, worstName.c_str(), verdict(slower == 0));
    }
    // Good against the pinned copy.
    const FrameType hdAlpha{1920, 1080, PixelDepth::Byte, PixelComponents::Alpha};
    const FrameType uhdFloat{3840, 2160, PixelDepth::Float, PixelComponents::RGBA};
    for (const Result& r : results) {
        const Case& c = r.c;
        if (c.quality != 1 || c.width != 15.0 || c.threads != 2 || !isDrawn(c)) {
            continue;
        }
        const double ratio = time(r) / r.pinned.median;
        const char* content = ZarvelBench::contentName(c.content);
        double limit = 0.0;
        std::string what;
        if (c.frame == hd8) {
            limit = c.content == Content::shapes ? 3.0 : 5.0;
            what = "1080p RGBA 8-bit";
        } else if (c.frame == hdAlpha && c.content == Content::shapes) {
            limit = 5.0;
            what = "1080p Alpha 8-bit";
        } else if (c.frame == uhdFloat) {
            limit = 2.0;
            what = "4K RGBA float";
        } else {
            continue;
        }
        std::printf("  %s Good w15 %s: %.2f x copy (<= %.0f): %s\n", what.c_str(), content, ratio,
                    limit, verdict(ratio <= limit));
    }
    // Two threads against one under the pool.
    for (const Result& two : results) {
        if (two.c.threads != 2 || !(two.c.frame == hd8) || two.c.width != 15.0 || !isDrawn(two.c)) {
            continue;
        }
        for (const Result& one : results) {
            if (one.c.threads == 1 && sameButFor(two.c, one.c, false, false, true)) {
                const double gain = time(one) / time(two);
                std::printf("  pool, 1080p RGBA 8-bit %s w15 %s: 2 threads %.2f x faster than 1 "
                            "(>= 1.7): %s\n",
                            qualityName(two.c.quality), ZarvelBench::contentName(two.c.content),
                            gain, verdict(gain >= 1.7));
            }
        }
    }
    // 8K against 4K, per pixel.
    for (const Result& big : results) {
        if (big.c.frame.height != 4320) {
            continue;
        }
        for (const Result& small : results) {
            if (small.c.frame.height != 2160 || !sameButFor(big.c, small.c, true, false, false)) {
                continue;
            }
            const double perPixel =
                (time(big) / big.c.frame.pixels()) / (time(small) / small.c.frame.pixels());
            std::string name = caseName(big.c);
            if (big.c.quality == 1) {
                std::printf("  8K per pixel <= 1.5 x 4K, %s: %.2f: %s\n", name.c_str(), perPixel,
                            verdict(perPixel <= 1.5));
            } else {
                std::printf("  8K per pixel against 4K, %s: %.2f (no target)\n", name.c_str(),
                            perPixel);
            }
        }
    }
}

// Two threads against one in every mode, beside the pinned copy's gain.
void reportThreadGains(const std::vector<Result>& results) {
    bool header = false;
    for (const Result& two : results) {
        if (two.c.threads != 2) {
            continue;
        }
        for (const Result& one : results) {
            if (one.c.threads != 1 || !sameButFor(two.c, one.c, false, false, true)) {
                continue;
            }
            if (!header) {
                std::printf("\n2 threads against 1 (times of 1 over 2):\n%-42s %8s %8s %8s\n",
                            "case", "pool", "spawn", "pinned");
                header = true;
            }
            std::printf("%-42s %8.2f %8.2f %8.2f\n", caseName(two.c).c_str(),
                        one.render[pool].median / two.render[pool].median,
                        one.render[spawn].median / two.render[spawn].median,
                        one.pinned.median / two.pinned.median);
        }
    }
}

// The compared build against the first, case by case.
void reportComparison(const std::vector<Result>& results, const std::string& plugin,
                      const std::string& compare) {
    if (results.empty()) {
        return;
    }
    std::vector<double> ratios;
    const Result* worst = &results.front();
    const Result* bestCase = &results.front();
    auto ratio = [](const Result& r) {
        return r.render[comparePool].median / r.render[pool].median;
    };
    int slower = 0;
    for (const Result& r : results) {
        ratios.push_back(ratio(r));
        worst = ratio(r) > ratio(*worst) ? &r : worst;
        bestCase = ratio(r) < ratio(*bestCase) ? &r : bestCase;
        slower += ratio(r) > 1.05 ? 1 : 0;
    }
    const Measured summary = summarise(ratios);
    std::printf("\n%s against %s (pool, time over time): median %.2f, best %.2f (%s), worst %.2f "
                "(%s); %d of %zu cases more than 5 %% slower\n",
                compare.c_str(), plugin.c_str(), summary.median, ratio(*bestCase),
                caseName(bestCase->c).c_str(), ratio(*worst), caseName(worst->c).c_str(), slower,
                results.size());
}

void usage() {
    std::printf(
        "usage: zarvel_bench [--quick] [--plugin PATH] [--compare PATH] [--filter TEXT]\n"
        "                    [--min-time SECONDS] [--no-check] [--no-memory]\n"
        "Renders whole frames through Zarvel.ofx and prints, per case, the median time per\n"
        "frame with the host's thread pool and with threads started per call, Mpixel/s, the\n"
        "copy of the frame's bytes (threads started per copy, and threads pinned one per core)\n"
        "and the ratio of the pool's render to the pinned copy.\n"
        "  --quick       a few 1080p cases, checked in both thread modes, not timed (the ctest\n"
        "                smoke test)\n"
        "  --plugin      the Zarvel.ofx to load (default: the one built in this tree)\n"
        "  --compare     a second Zarvel.ofx, timed beside the first case by case (samples in\n"
        "                turn), with the ratio of its time to the first's\n"
        "  --filter      only cases whose name contains TEXT, e.g. '1920x1080 RGBA 8-bit Good'\n"
        "  --min-time    timed seconds per variant and case, at least (default 0.4)\n"
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
        } else if (arg == "--compare") {
            options.compare = value();
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
        options.memory = false;
    }
    if (!options.compare.empty() && options.compare == options.plugin) {
        // The loader would hand back the same library, loaded once for two sessions.
        std::fprintf(stderr, "zarvel_bench: --compare names the --plugin file; copy it to time a "
                             "build against itself\n");
        return 2;
    }
    try {
        Bench bench(options);
        std::printf("zarvel_bench: %s%s%s, %u hardware threads, pinned copy on %s%s\n",
                    options.plugin.c_str(), options.compare.empty() ? "" : " against ",
                    options.compare.c_str(), std::thread::hardware_concurrency(),
                    bench.copierPlacement().c_str(), options.quick ? ", quick (not timed)" : "");
        if (options.memory && options.filter.empty()) {
            bench.reportMemory({3840, 2160, PixelDepth::Float, PixelComponents::RGBA}, 1);
        }
        bench.run(options.quick ? quickCases() : fullCases());
        if (!options.quick) {
            reportThreadGains(bench.results());
            reportTargets(bench.results(), pool, options.plugin.c_str());
            if (bench.comparing()) {
                reportTargets(bench.results(), comparePool, options.compare.c_str());
                reportComparison(bench.results(), options.plugin, options.compare);
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zarvel_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
