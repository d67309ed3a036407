// The built Zarvel.ofx renders the same bytes on every platform: frames of every pixel type at
// every quality, whole and in tiles, hashed and compared with the digests of the Linux x86-64
// build committed in FrameDigests.txt. The Windows build runs this under Wine and the ARM build
// under qemu, so a compiler, a runtime library or a vector width that changes one bit shows here.
//
// After a deliberate change of the output, write the file again from the Linux x86-64 build:
//   ZARVEL_WRITE_DIGESTS=tests/e2e/FrameDigests.txt build/dev/tests/zarvel_tests
//       --gtest_filter='FrameDigests.*'
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "openfx/openfx.h"

namespace {

using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

constexpr OfxRectI sourceBounds{0, 0, 203, 117};

// 64-bit FNV-1a over the pixel bytes of every row, padding excluded.
std::uint64_t digestOf(const ZarvelHost::Image& image) {
    std::uint64_t hash = 14695981039346656037ull;
    const OfxRectI& b = image.bounds();
    const std::size_t rowBytes = std::size_t(image.width()) * std::size_t(image.pixelBytes());
    for (int y = b.y1; y < b.y2; ++y) {
        const auto* row = static_cast<const unsigned char*>(image.pixelAddress(b.x1, y));
        for (std::size_t i = 0; i < rowBytes; ++i) {
            hash = (hash ^ row[i]) * 1099511628211ull;
        }
    }
    return hash;
}

// Alpha 0..255 of the picture at (x, y), from integer arithmetic only (no library function whose
// last bit could differ between platforms): a disc with a soft rim, a bar with a hole, thin
// strokes, and a band of noise.
int alphaAt(int x, int y) {
    const int dx = x - 60;
    const int dy = y - 58;
    const int d2 = dx * dx + dy * dy;
    if (d2 < 30 * 30) {
        return 255;
    }
    if (d2 < 38 * 38) {
        return 255 - (d2 - 900) * 255 / (38 * 38 - 900);
    }
    if (x >= 110 && x < 190 && y >= 20 && y < 50 && !(x >= 140 && x < 155 && y >= 28 && y < 40)) {
        return x < 118 ? (x - 109) * 28 : 255;
    }
    if (y >= 70 && y < 100 && x >= 112 && x < 196 && (x % 9 < 2 || y % 11 == 0)) {
        return 200;
    }
    if (y >= 104 && y < 114 && x >= 100) {
        const std::uint32_t n = std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u;
        return int((n * 2654435761u) >> 24) > 160 ? int((n >> 8) & 255) : 0;
    }
    return 0;
}

void writeComponent(ZarvelHost::Image& image, int x, int y, int c, int value255) {
    auto* pixel = static_cast<unsigned char*>(image.pixelAddress(x, y));
    switch (image.depth()) {
    case PixelDepth::Byte:
        pixel[c] = static_cast<unsigned char>(value255);
        break;
    case PixelDepth::Short: {
        const auto v = static_cast<unsigned short>(value255 * 257);
        std::memcpy(pixel + 2 * c, &v, sizeof v);
        break;
    }
    case PixelDepth::Float: {
        const float v = float(value255) / 255.0f;
        std::memcpy(pixel + 4 * c, &v, sizeof v);
        break;
    }
    }
}

std::shared_ptr<ZarvelHost::Image> makeSource(PixelDepth depth, PixelComponents components) {
    auto image = std::make_shared<ZarvelHost::Image>(sourceBounds, depth, components);
    for (int y = sourceBounds.y1; y < sourceBounds.y2; ++y) {
        for (int x = sourceBounds.x1; x < sourceBounds.x2; ++x) {
            const int a = alphaAt(x, y);
            if (components == PixelComponents::RGBA) {
                // Premultiplied colour that varies across the picture.
                writeComponent(*image, x, y, 0, a * ((x * 5) % 256) / 255);
                writeComponent(*image, x, y, 1, a * ((y * 7) % 256) / 255);
                writeComponent(*image, x, y, 2, a * (((x + y) * 3) % 256) / 255);
                writeComponent(*image, x, y, 3, a);
            } else {
                writeComponent(*image, x, y, 0, a);
            }
        }
    }
    return image;
}

struct Case {
    PixelDepth depth;
    PixelComponents components;
    int quality;

    std::string name() const {
        static const char* const qualities[] = {"Draft", "Good", "Best"};
        const char* depthName = depth == PixelDepth::Byte    ? "Byte"
                                : depth == PixelDepth::Short ? "Short"
                                                             : "Float";
        const char* componentsName = components == PixelComponents::RGBA ? "RGBA" : "Alpha";
        return std::string(depthName) + "-" + componentsName + "-" + qualities[quality];
    }
};

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (PixelComponents components : {PixelComponents::RGBA, PixelComponents::Alpha}) {
        for (PixelDepth depth : {PixelDepth::Byte, PixelDepth::Short, PixelDepth::Float}) {
            for (int quality : {0, 1, 2}) {
                cases.push_back({depth, components, quality});
            }
        }
    }
    return cases;
}

// Renders `c` over its whole region of definition, in one window or in a 3 × 2 grid of tiles of
// uneven sizes, and returns the output's digest (0 after a failed render).
std::uint64_t render(ZarvelHost::PluginLibrary& library, const Case& c, bool tiled) {
    ZarvelHost::Host host;
    host.setCpuCount(3);
    ZarvelHost::Session session(host, library);
    EXPECT_EQ(session.start(), kOfxStatOK) << session.failedAction();
    if (!session.hasInstance()) {
        return 0;
    }
    ZarvelHost::Effect& instance = session.instance();
    instance.param("quality").setValue({double(c.quality)});
    instance.param("outlineWidth").setValue({30.0});
    instance.param("outlineColor").setValue({0.2, 0.6, 1.0, 1.0});
    session.setImage("Source", makeSource(c.depth, c.components));
    session.clip("Source").setRegionOfDefinition({double(sourceBounds.x1), double(sourceBounds.y1),
                                                  double(sourceBounds.x2),
                                                  double(sourceBounds.y2)});
    const OfxRectD rod = session.plugin().getRegionOfDefinition(instance, 0.0).regionOfDefinition();
    const OfxRectI frame{int(rod.x1), int(rod.y1), int(rod.x2), int(rod.y2)};
    auto output = session.clip("Output").allocateImage(frame, c.depth, c.components);

    std::vector<OfxRectI> windows;
    if (tiled) {
        const int xs[] = {frame.x1, frame.x1 + 71, frame.x1 + 190, frame.x2};
        const int ys[] = {frame.y1, frame.y1 + 97, frame.y2};
        for (int j = 0; j < 2; ++j) {
            for (int i = 0; i < 3; ++i) {
                windows.push_back({xs[i], ys[j], xs[i + 1], ys[j + 1]});
            }
        }
    } else {
        windows.push_back(frame);
    }
    for (const OfxRectI& window : windows) {
        ZarvelHost::RenderOptions options;
        options.window = window;
        const ZarvelHost::FrameResult result = session.renderFrame(options);
        EXPECT_EQ(result.status, kOfxStatOK) << result.failedAction;
        if (result.status != kOfxStatOK) {
            return 0;
        }
    }
    EXPECT_TRUE(output->guardsIntact());
    EXPECT_EQ(session.finish(), kOfxStatOK);
    EXPECT_EQ(host.imagesOutstanding(), 0u);
    return digestOf(*output);
}

std::map<std::string, std::string> committedDigests() {
    std::map<std::string, std::string> digests;
    std::ifstream file(ZARVEL_FRAME_DIGESTS);
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string digest;
        if (line.empty() || line[0] == '#' || !(fields >> name >> digest)) {
            continue;
        }
        digests[name] = digest;
    }
    return digests;
}

std::string hex(std::uint64_t value) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

TEST(FrameDigests, EveryPixelTypeAndQualityWholeAndTiledMatchesTheLinuxBuild) {
    auto library = ZarvelHost::PluginLibrary::open(ZARVEL_PLUGIN_PATH);
    const std::map<std::string, std::string> committed = committedDigests();
    std::ostringstream lines;
    for (const Case& c : allCases()) {
        SCOPED_TRACE(c.name());
        const std::string whole = hex(render(*library, c, false));
        const std::string tiles = hex(render(*library, c, true));
        EXPECT_EQ(tiles, whole) << "tiles and the whole frame differ";
        const auto found = committed.find(c.name());
        EXPECT_EQ(whole, found != committed.end() ? found->second : "(none)") << "whole frame";
        EXPECT_EQ(tiles, found != committed.end() ? found->second : "(none)") << "tiles";
        lines << c.name() << " " << whole << "\n";
    }
    if (const char* path = std::getenv("ZARVEL_WRITE_DIGESTS")) {
        std::ofstream out(path);
        out << "# FNV-1a digests of the frames FrameDigestTest.cpp renders, from the Linux x86-64\n"
               "# build: <depth>-<components>-<quality> <digest>.\n"
            << lines.str();
    }
    EXPECT_EQ(committed.size(), allCases().size()) << "digests read from " ZARVEL_FRAME_DIGESTS;
}

}  // namespace
