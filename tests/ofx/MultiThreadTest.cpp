#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Image.h"
#include "ofx/ImageEffect.h"
#include "ofx/MultiThread.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::PlainEffect;
using zarvel::test::thrownBy;

// Band split: thread t of n gets rows [y1 + t*dy/n, y1 + (t+1)*dy/n).
TEST(BandOfThread, MatchesTheFormulaAndTilesTheWindowExactly) {
    const OfxRectI windows[] = {
        {0, 0, 7, 10}, {-5, 0, 3, 3},        {2, 100, 9, 101}, {0, -17, 1, 40},
        {0, 0, 1, 1},  {10, 1000, 20, 3160}, {0, 0, 4, 0},
    };
    for (const OfxRectI& window : windows) {
        for (unsigned n = 1; n <= 9; ++n) {
            SCOPED_TRACE(testing::Message()
                         << "window y " << window.y1 << ".." << window.y2 << ", threads " << n);
            const unsigned dy = unsigned(window.y2 - window.y1);
            int expectedStart = window.y1;
            for (unsigned t = 0; t < n; ++t) {
                OfxRectI band = OFX::bandOfThread(window, t, n);
                EXPECT_EQ(band.x1, window.x1);
                EXPECT_EQ(band.x2, window.x2);
                EXPECT_EQ(band.y1, window.y1 + int(t * dy / n));
                EXPECT_EQ(band.y2, window.y1 + int((t + 1) * dy / n));
                EXPECT_EQ(band.y1, expectedStart) << "bands must be contiguous";
                expectedStart = band.y2;
            }
            EXPECT_EQ(expectedStart, window.y2) << "bands must end at the window's end";
        }
    }
}

TEST(BandOfThread, TallWindowsOnManyThreadsDoNotOverflow) {
    // t * dy needs more than 32 bits here.
    const OfxRectI window = {0, -2000000000, 1, 2000000000};
    const std::uint64_t dy = 4000000000u;
    for (unsigned t : {0u, 1u, 62u, 63u}) {
        OfxRectI band = OFX::bandOfThread(window, t, 64);
        EXPECT_EQ(band.y1, int(std::int64_t(window.y1) + std::int64_t(t * dy / 64)));
        EXPECT_EQ(band.y2, int(std::int64_t(window.y1) + std::int64_t((t + 1) * dy / 64)));
    }
    EXPECT_EQ(OFX::bandOfThread(window, 63, 64).y2, window.y2);
}

TEST(BandOfThread, DegenerateRequestsGiveEmptyBands) {
    auto height = [](const OfxRectI& band) { return band.y2 - band.y1; };
    EXPECT_EQ(height(OFX::bandOfThread({0, 10, 4, 5}, 0, 2)), 0) << "rows reversed";
    EXPECT_EQ(height(OFX::bandOfThread({0, 0, 4, 8}, 0, 0)), 0) << "no threads";
    EXPECT_EQ(height(OFX::bandOfThread({0, 0, 4, 8}, 3, 3)), 0) << "index past the count";
}

// Records what the machinery does. Each thread writes only the slot of its own index.
class RecordingProcessor : public OFX::ImageProcessor {
public:
    static constexpr unsigned maxThreads = 64;

    using OFX::ImageProcessor::ImageProcessor;

    void threadBody(unsigned int threadIndex, unsigned int threadCount) override {
        currentIndex = threadIndex;
        if (threadIndex < maxThreads) {
            slots[threadIndex].count = threadCount;
            slots[threadIndex].thread = std::this_thread::get_id();
        }
        OFX::ImageProcessor::threadBody(threadIndex, threadCount);
    }

    void beforeThreads() override { beforeThread = std::this_thread::get_id(); }
    void afterThreads() override { afterThread = std::this_thread::get_id(); }

    void processWindow(const OfxRectI& band) override {
        ++windowsProcessed;
        if (currentIndex < maxThreads) {
            slots[currentIndex].band = band;
        }
        if (throwOnBand(currentIndex)) {
            throw std::runtime_error("band " + std::to_string(currentIndex) + " failed");
        }
        ++windowsFinished;
    }

    struct Slot {
        unsigned count = 0;
        std::thread::id thread;
        OfxRectI band = {0, 0, 0, 0};
    };
    Slot slots[maxThreads];
    std::atomic<int> windowsProcessed{0};
    std::atomic<int> windowsFinished{0};
    std::function<bool(unsigned)> throwOnBand = [](unsigned) { return false; };
    std::thread::id beforeThread;
    std::thread::id afterThread;

private:
    // The index of the band the current thread is working on.
    static thread_local unsigned currentIndex;
};

thread_local unsigned RecordingProcessor::currentIndex = 0;

// A processor over the "Output" image of a filter instance.
class ImageProcessor : public zarvel::test::LoadedHost {
protected:
    void SetUp() override {
        LoadedHost::SetUp();
        effect = std::make_unique<PlainEffect>(hostInstance.handle());
        hostInstance.clip("Output").setImage(pixels);
        dst = effect->getClip("Output")->imageAt(0.0);
        host.calls().resetCounts();
    }

    void TearDown() override {
        dst.reset();
        effect.reset();
        EXPECT_EQ(host.imagesOutstanding(), 0u);
    }

    zarvel::test::HostFilterInstance hostInstance{host};
    std::unique_ptr<PlainEffect> effect;
    std::shared_ptr<ZarvelHost::Image> pixels =
        std::make_shared<ZarvelHost::Image>(OfxRectI{-4, -3, 36, 27}, ZarvelHost::PixelDepth::Float,
                                            ZarvelHost::PixelComponents::Alpha);
    std::unique_ptr<OFX::Image> dst;
};

TEST_F(ImageProcessor, AOneThreadRunStaysOnTheCallingThreadWithoutTheHost) {
    RecordingProcessor processor(*effect);
    processor.setDstImage(dst.get());
    processor.setWindow({0, 0, 8, 5});
    processor.runThreads(1);
    EXPECT_EQ(processor.windowsProcessed, 1);
    EXPECT_EQ(processor.slots[0].count, 1u);
    EXPECT_EQ(processor.slots[0].thread, std::this_thread::get_id());
    EXPECT_EQ(processor.slots[0].band.y2, 5);
    EXPECT_EQ(host.calls().callCount(), 0u);

    host.setCpuCount(1);
    processor.run();
    EXPECT_EQ(host.calls().callCount("multiThread"), 0u);
    EXPECT_EQ(host.calls().callCount("multiThreadNumCPUs"), 1u);
}

TEST_F(ImageProcessor, AFailedCpuQueryMeansOneBandOnTheCallingThread) {
    host.setCpuCount(8);
    host.calls().failNthCall("multiThreadNumCPUs", 1, kOfxStatErrFatal);
    RecordingProcessor processor(*effect);
    processor.setDstImage(dst.get());
    processor.setWindow({1, 2, 9, 12});
    EXPECT_EQ(thrownBy([&] { processor.run(); }), "nothing");
    EXPECT_EQ(processor.windowsProcessed, 1);
    EXPECT_EQ(processor.slots[0].thread, std::this_thread::get_id());
    EXPECT_EQ(processor.slots[0].band.y1, 2);
    EXPECT_EQ(processor.slots[0].band.y2, 12);
    EXPECT_EQ(host.calls().callCount("multiThread"), 0u);
}

// The host's CPU count is the thread count; every index gets its band, on real threads or on
// a host that runs the indices one after another, with before/after on the calling thread.
TEST_F(ImageProcessor, EveryHostThreadProcessesItsOwnBand) {
    const OfxRectI windows[] = {{0, 0, 30, 24}, {-4, 10, 5, 13}, {2, 26, 3, 27}};
    for (bool serial : {false, true}) {
        for (unsigned cpus : {2u, 3u, 8u}) {
            for (const OfxRectI& window : windows) {
                SCOPED_TRACE(testing::Message() << "serial " << serial << " cpus " << cpus
                                                << " rows " << window.y1 << ".." << window.y2);
                host.setSerialThreads(serial);
                host.setCpuCount(cpus);
                host.calls().resetCounts();
                RecordingProcessor processor(*effect);
                processor.setDstImage(dst.get());
                processor.setWindow(window);
                processor.run();
                EXPECT_EQ(host.calls().callCount("multiThread"), 1u);
                EXPECT_EQ(processor.windowsProcessed, int(cpus)) << "empty bands included";
                EXPECT_EQ(processor.beforeThread, std::this_thread::get_id());
                EXPECT_EQ(processor.afterThread, std::this_thread::get_id());
                for (unsigned t = 0; t < cpus; ++t) {
                    OfxRectI expected = OFX::bandOfThread(window, t, cpus);
                    EXPECT_EQ(processor.slots[t].count, cpus);
                    EXPECT_EQ(processor.slots[t].band.x1, window.x1);
                    EXPECT_EQ(processor.slots[t].band.x2, window.x2);
                    EXPECT_EQ(processor.slots[t].band.y1, expected.y1);
                    EXPECT_EQ(processor.slots[t].band.y2, expected.y2);
                }
            }
        }
    }
}

TEST_F(ImageProcessor, NothingRunsWithoutADestinationOrWithoutPixels) {
    host.setCpuCount(4);
    RecordingProcessor noImage(*effect);
    noImage.setWindow({0, 0, 8, 8});
    noImage.run();
    const OfxRectI emptyWindows[] = {{3, 0, 3, 8}, {0, 5, 8, 5}, {6, 0, 2, 8}, {0, 7, 8, 1}};
    for (const OfxRectI& window : emptyWindows) {
        RecordingProcessor processor(*effect);
        processor.setDstImage(dst.get());
        processor.setWindow(window);
        processor.run();
        EXPECT_EQ(processor.windowsProcessed, 0);
        EXPECT_EQ(processor.beforeThread, std::thread::id());
    }
    EXPECT_EQ(noImage.windowsProcessed, 0);
    EXPECT_EQ(noImage.beforeThread, std::thread::id());
    EXPECT_EQ(host.calls().callCount(), 0u);
}

TEST_F(ImageProcessor, AFailedHostRunThrowsAndSkipsAfterThreads) {
    zarvel::test::CaptureStdout out;
    host.setCpuCount(4);
    for (auto [status, expected] : {std::pair{kOfxStatErrMemory, "bad_alloc"},
                                    std::pair{kOfxStatErrFatal, "Suite: kOfxStatErrFatal"}}) {
        RecordingProcessor processor(*effect);
        processor.setDstImage(dst.get());
        processor.setWindow({0, 0, 8, 8});
        host.calls().failNthCall("multiThread", 1, status);
        EXPECT_EQ(thrownBy([&] { processor.run(); }), expected);
        EXPECT_EQ(processor.beforeThread, std::this_thread::get_id());
        EXPECT_EQ(processor.afterThread, std::thread::id());
    }
    // A reported count of 0 is passed on unchanged; this host refuses it.
    host.setCpuCount(0);
    RecordingProcessor processor(*effect);
    processor.setDstImage(dst.get());
    processor.setWindow({0, 0, 8, 8});
    EXPECT_EQ(thrownBy([&] { processor.run(); }), "Suite: kOfxStatErrValue");
}

// A band that throws on a worker thread: the exception stays inside the plug-in's thread
// function, the other bands finish, and the calling thread raises it after the run.
TEST_F(ImageProcessor, ABandThatThrowsIsRaisedOnTheCallingThreadAfterTheOthersFinish) {
    for (bool serial : {false, true}) {
        for (unsigned cpus : {1u, 2u, 5u}) {
            for (unsigned failing : {0u, cpus - 1}) {
                SCOPED_TRACE(testing::Message()
                             << "serial " << serial << " cpus " << cpus << " failing " << failing);
                host.setSerialThreads(serial);
                host.setCpuCount(cpus);
                RecordingProcessor processor(*effect);
                processor.setDstImage(dst.get());
                processor.setWindow({0, 0, 30, 24});
                processor.throwOnBand = [failing](unsigned index) { return index == failing; };
                EXPECT_EQ(thrownBy([&] { processor.run(); }),
                          "other: band " + std::to_string(failing) + " failed");
                EXPECT_EQ(processor.windowsProcessed, int(cpus));
                EXPECT_EQ(processor.windowsFinished, int(cpus) - 1);
                EXPECT_EQ(processor.afterThread, std::thread::id());
            }
        }
    }
    // When every band throws, one of their exceptions comes out.
    host.setSerialThreads(false);
    host.setCpuCount(6);
    RecordingProcessor processor(*effect);
    processor.setDstImage(dst.get());
    processor.setWindow({0, 0, 30, 24});
    processor.throwOnBand = [](unsigned) { return true; };
    std::string thrown = thrownBy([&] { processor.run(); });
    EXPECT_EQ(thrown.rfind("other: band ", 0), 0u) << thrown;
    EXPECT_EQ(processor.windowsProcessed, 6);
    // The processor can run again and starts clean.
    processor.throwOnBand = [](unsigned) { return false; };
    EXPECT_EQ(thrownBy([&] { processor.run(); }), "nothing");
}

// Writes each pixel of its band once, asking about abort once per row, as the outline
// processors do.
class FillProcessor : public OFX::ImageProcessor {
public:
    using OFX::ImageProcessor::ImageProcessor;

    void processWindow(const OfxRectI& band) override {
        for (int y = band.y1; y < band.y2; ++y) {
            if (effect.abortRequested()) {
                continue;
            }
            for (int x = band.x1; x < band.x2; ++x) {
                auto* pixel = static_cast<float*>(dstImage->pixelAt(x, y));
                *pixel += float(y * 1000 + x);
            }
        }
    }
};

TEST_F(ImageProcessor, BandsFillTheDestinationExactlyOnceOnRealThreads) {
    host.setCpuCount(7);
    const OfxRectI window = {-2, -3, 30, 25};
    FillProcessor processor(*effect);
    processor.setDstImage(dst.get());
    processor.setWindow(window);
    processor.run();
    const OfxRectI& bounds = pixels->bounds();
    for (int y = bounds.y1; y < bounds.y2; ++y) {
        for (int x = bounds.x1; x < bounds.x2; ++x) {
            bool inside = x >= window.x1 && x < window.x2 && y >= window.y1 && y < window.y2;
            ASSERT_EQ(pixels->get(x, y, 0), inside ? float(y * 1000 + x) : 0.0f)
                << "pixel " << x << ", " << y;
        }
    }
    EXPECT_TRUE(pixels->guardsIntact());
    EXPECT_EQ(host.abortCalls(), std::uint64_t(window.y2 - window.y1));

    // Once the host asks to abort, the remaining rows are skipped.
    host.setAbort(true);
    FillProcessor aborted(*effect);
    aborted.setDstImage(dst.get());
    aborted.setWindow(window);
    aborted.run();
    EXPECT_EQ(pixels->get(5, 5, 0), 5005.0f);
}

// A processor of several phases: each phase is one host call with the CPU count read once, and
// every index of a phase has finished before the next phase starts, on real threads and on a
// host that runs its indices one after another.
class PhasedProcessor : public OFX::ImageProcessor {
public:
    using OFX::ImageProcessor::ImageProcessor;

    unsigned int phaseCount() const override { return 3; }
    void processPhase(unsigned int phase, unsigned int threadIndex,
                      unsigned int threadCount) override {
        // Each index sees every index of the previous phase done, and counts itself.
        if (phase > 0 && finished[phase - 1].load() != threadCount) {
            outOfOrder = true;
        }
        finished[phase].fetch_add(1);
        (void)threadIndex;
    }

    std::atomic<unsigned> finished[3] = {};
    std::atomic<bool> outOfOrder{false};
};

TEST_F(ImageProcessor, PhasesRunInOrderOneHostCallEach) {
    for (bool serial : {false, true}) {
        host.setSerialThreads(serial);
        host.setCpuCount(4);
        host.calls().resetCounts();
        PhasedProcessor processor(*effect);
        processor.setDstImage(dst.get());
        processor.setWindow({0, 0, 8, 8});
        processor.run();
        EXPECT_EQ(host.calls().callCount("multiThreadNumCPUs"), 1u) << "serial " << serial;
        EXPECT_EQ(host.calls().callCount("multiThread"), 3u) << "serial " << serial;
        EXPECT_EQ(processor.getThreadCount(), 4u);
        EXPECT_FALSE(processor.outOfOrder) << "serial " << serial;
        for (const auto& count : processor.finished) {
            EXPECT_EQ(count.load(), 4u) << "serial " << serial;
        }
    }
}

}  // namespace
