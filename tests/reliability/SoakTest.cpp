// A soak: thousands of small frames over every pixel type, and hundreds of whole sessions, with
// the process's memory measured before and after. Nothing may grow with the number of frames.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "openfx/openfx.h"
#include "tests/reliability/FrameState.h"
#include "tests/reliability/WholeSession.h"
#include "tests/support/ProcessMemory.h"

namespace zarvel::reliability {
namespace {

struct Memory {
    std::size_t heap = zarvel::test::heapInUse();
    std::size_t resident = zarvel::test::residentBytes();
};

double growth(std::size_t before, std::size_t after) {
    return after > before ? double(after - before) : 0.0;
}

// Whether the resident memory the system reports is this program's. Under qemu's user-mode
// emulator (ZARVEL_UNDER_QEMU, set by the cross build's tests) it is the emulator's, which keeps
// memory for every thread the program ever started; the heap bound still holds there.
bool residentIsOurs() {
    const char* emulated = std::getenv("ZARVEL_UNDER_QEMU");
    if (emulated && *emulated) {
        std::printf("Resident memory not checked: under qemu it is the emulator's\n");
        return false;
    }
    return !runsSanitized();
}

TEST(Soak, ThousandsOfSmallFramesOverEveryPixelTypeKeepMemoryFlat) {
    const int frames = int(environmentCount("ZARVEL_SOAK_FRAMES", runsSanitized() ? 600 : 4000));
    ZarvelHost::Host host;
    host.setCpuCount(3);
    ZarvelHost::Session session(host, linkedPlugin());
    ASSERT_EQ(session.start(), kOfxStatOK);
    ZarvelHost::Effect& instance = session.instance();
    instance.param("outlineWidth").setValue({1080.0 * 1.5 / 16.0});

    // The images are made once, so that only the plug-in's and the host's per-frame work counts.
    const OfxRectI bounds{0, 0, 20, 16};
    std::vector<std::shared_ptr<ZarvelHost::Image>> sources;
    std::vector<std::shared_ptr<ZarvelHost::Image>> outputs;
    for (const PixelType& type : allPixelTypes()) {
        sources.push_back(makeSourceFrame(bounds, type));
        outputs.push_back(std::make_shared<ZarvelHost::Image>(bounds, type.depth, type.components,
                                                              ZarvelHost::RowLayout{4, false}));
    }
    int failures = 0;
    auto renderFrame = [&](int frame) {
        const std::size_t type = std::size_t(frame) % allPixelTypes().size();
        instance.clip("Source").setImage(sources[type]);
        instance.clip("Output").setImage(outputs[type]);
        instance.param("quality").setValue({double(frame / 6 % 3)});
        ZarvelHost::RenderOptions options;
        options.time = double(frame);
        options.window = frame % 5 == 4 ? OfxRectI{2, 3, 17, 11} : bounds;
        const ZarvelHost::FrameResult result = session.renderFrame(options);
        failures += result.status == kOfxStatOK ? 0 : 1;
    };
    for (int frame = 0; frame < 120; ++frame) {
        renderFrame(frame);
    }
    const Memory before;
    for (int frame = 0; frame < frames; ++frame) {
        renderFrame(frame);
    }
    const Memory after;
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(host.imagesOutstanding(), 0u);
    for (const auto& output : outputs) {
        EXPECT_TRUE(output->guardsIntact());
    }
    const double heapGrowth = growth(before.heap, after.heap);
    RecordProperty("frames", frames);
    RecordProperty("heapBytesPerFrame", std::to_string(heapGrowth / frames));
    RecordProperty("residentGrowthBytes", std::to_string(growth(before.resident, after.resident)));
    // An image or a field kept per frame would cost hundreds of bytes each.
    EXPECT_LT(heapGrowth, 32.0 * 1024) << "heap " << before.heap << " -> " << after.heap;
    if (residentIsOurs()) {
        // Resident memory moves in pages and with the allocator's caches: a loose bound.
        EXPECT_LT(growth(before.resident, after.resident), 4.0 * 1024 * 1024)
            << "resident " << before.resident << " -> " << after.resident;
    }
    EXPECT_EQ(session.finish(), kOfxStatOK);
}

TEST(Soak, HundredsOfWholeSessionsKeepMemoryFlat) {
    const int sessions = int(environmentCount("ZARVEL_SOAK_SESSIONS", runsSanitized() ? 60 : 400));
    auto runOne = [] {
        ZarvelHost::Host host;
        const SessionRecord run = runWholeSession(host, linkedPlugin());
        bool ok = run.actions.size() == 14 && host.imagesOutstanding() == 0;
        for (const ActionRecord& action : run.actions) {
            ok = ok && ZarvelHost::isSuccess(action.status);
        }
        return ok;
    };
    // The allocator's caches and the containers of the process settle over the first sessions.
    for (int warmUp = 0; warmUp < 100; ++warmUp) {
        ASSERT_TRUE(runOne());
    }
    const Memory before;
    int failures = 0;
    for (int index = 0; index < sessions; ++index) {
        failures += runOne() ? 0 : 1;
    }
    const Memory after;
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(frameStateProblems(), "");
    const double heapGrowth = growth(before.heap, after.heap);
    RecordProperty("sessions", sessions);
    RecordProperty("heapBytesPerSession", std::to_string(heapGrowth / sessions));
    // One instance, descriptor or image kept per session would cost kilobytes each.
    EXPECT_LT(heapGrowth, 32.0 * 1024) << "heap " << before.heap << " -> " << after.heap;
    if (residentIsOurs()) {
        EXPECT_LT(growth(before.resident, after.resident), 4.0 * 1024 * 1024)
            << "resident " << before.resident << " -> " << after.resident;
    }
}

}  // namespace
}  // namespace zarvel::reliability
