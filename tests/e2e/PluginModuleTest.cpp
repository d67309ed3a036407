// The built Zarvel.ofx, loaded and driven through its C interface as a host does.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "openfx/openfx.h"
#include "tests/e2e/ExpectedDescription.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/ProcessMemory.h"
#include "tests/support/ReferenceOutline.h"

namespace {

using zarvel::test::CaptureProcessStdout;
using zarvel::test::heapInUse;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

class PluginModule : public ::testing::Test {
protected:
    ZarvelHost::Host host;
    std::unique_ptr<ZarvelHost::PluginLibrary> library =
        ZarvelHost::PluginLibrary::open(ZARVEL_PLUGIN_PATH);
};

// A square source, opaque over [40, 68) in both directions with a soft right edge, and a zeroed
// output over the whole 108-row frame: with the width at 20 the drawn outline is 2 pixels wide.
struct Frame {
    static constexpr OfxRectI bounds{0, 0, 108, 108};

    Frame(ZarvelHost::Session& session, PixelDepth depth, PixelComponents components)
        : source(std::make_shared<ZarvelHost::Image>(bounds, depth, components)) {
        for (int y = 40; y < 68; ++y) {
            for (int x = 40; x < 68; ++x) {
                if (components == PixelComponents::RGBA) {
                    const float pixel[] = {0.5f, 0.25f, 0.75f, 1.0f};
                    for (int c = 0; c < 4; ++c) {
                        source->set(x, y, c, pixel[c]);
                    }
                } else {
                    source->set(x, y, 0, 1.0f);
                }
            }
        }
        // A soft edge: a column of half-covered pixels right of the square.
        for (int y = 40; y < 68; ++y) {
            for (int c = 0; c < (components == PixelComponents::RGBA ? 4 : 1); ++c) {
                source->set(68, y, c, 0.25f);
            }
        }
        session.setImage("Source", source);
        output = session.clip("Output").allocateImage(bounds, depth, components);
        session.instance().param("outlineWidth").setValue({20.0});
    }

    std::shared_ptr<ZarvelHost::Image> source;
    std::shared_ptr<ZarvelHost::Image> output;
};

ZarvelHost::RenderOptions wholeFrame() {
    ZarvelHost::RenderOptions options;
    options.window = Frame::bounds;
    return options;
}

TEST_F(PluginModule, ListsOneOutlinePlugin) {
    EXPECT_EQ(library->pluginCount(), 1);
    OfxPlugin* record = library->plugin(0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(library->plugin(0), record);
    EXPECT_STREQ(record->pluginApi, kOfxImageEffectPluginApi);
    EXPECT_EQ(record->apiVersion, 1);
    EXPECT_STREQ(record->pluginIdentifier, "org.zarvel.outline");
    EXPECT_EQ(record->pluginVersionMajor, 2u);
    EXPECT_EQ(record->pluginVersionMinor, 0u);
    EXPECT_NE(record->setHost, nullptr);
    EXPECT_NE(record->mainEntry, nullptr);
    EXPECT_EQ(library->plugin(1), nullptr);
    EXPECT_EQ(library->plugin(-1), nullptr);
}

TEST_F(PluginModule, DescribesTheFilterAsTheHostReadsIt) {
    ZarvelHost::Plugin plugin(host, *library);
    ASSERT_EQ(plugin.load(), kOfxStatOK);
    zarvel::test::expectOutlineDescribed(host, plugin);
    zarvel::test::expectOutlineDescribedInContext(host, plugin, kOfxImageEffectContextFilter);
    EXPECT_EQ(plugin.unload(), kOfxStatOK);
}

TEST_F(PluginModule, RendersEveryPixelTypeAsTheReferenceDoes) {
    const std::pair<PixelDepth, PixelComponents> types[] = {
        {PixelDepth::Byte, PixelComponents::RGBA},   {PixelDepth::Short, PixelComponents::RGBA},
        {PixelDepth::Float, PixelComponents::RGBA},  {PixelDepth::Byte, PixelComponents::Alpha},
        {PixelDepth::Short, PixelComponents::Alpha}, {PixelDepth::Float, PixelComponents::Alpha}};
    for (const auto& [depth, components] : types) {
        for (int quality : {0, 1}) {
            SCOPED_TRACE(testing::Message()
                         << ZarvelHost::depthString(depth) << " "
                         << ZarvelHost::componentsString(components) << " quality " << quality);
            ZarvelHost::Session session(host, *library);
            ASSERT_EQ(session.start(), kOfxStatOK) << session.failedAction();
            Frame frame(session, depth, components);
            session.instance().param("quality").setValue({double(quality)});
            CaptureProcessStdout out;
            const ZarvelHost::FrameResult result = session.renderFrame(wholeFrame());
            EXPECT_EQ(result.status, kOfxStatOK) << result.failedAction;
            EXPECT_EQ(out.text(), "");
            EXPECT_EQ(host.imagesOutstanding(), 0u);
            EXPECT_TRUE(frame.output->guardsIntact());

            // The whole frame, against the tests' own straightforward computation.
            const int channels = components == PixelComponents::RGBA ? 4 : 1;
            const int type = depth == PixelDepth::Byte    ? ReferenceOutline::componentByte
                             : depth == PixelDepth::Short ? ReferenceOutline::componentShort
                                                          : ReferenceOutline::componentFloat;
            ReferenceOutline::Image source;
            source.data = frame.source->data();
            source.rowBytes = frame.source->rowBytes();
            source.bounds = frame.source->bounds();
            source.componentType = type;
            source.nComponents = channels;
            ReferenceOutline::OwnedImage expected(Frame::bounds, type, channels);
            ReferenceOutline::render(&source, expected.view, Frame::bounds, quality, 2.0, 1.0, 1.0,
                                     1.0);
            int mismatches = 0;
            for (int y = Frame::bounds.y1; y < Frame::bounds.y2; ++y) {
                for (int x = Frame::bounds.x1; x < Frame::bounds.x2; ++x) {
                    const int bytes = ReferenceOutline::componentBytes(type) * channels;
                    if (std::memcmp(ReferenceOutline::pixelAddress(expected.view, x, y),
                                    frame.output->pixelAddress(x, y), size_t(bytes)) != 0 &&
                        ++mismatches <= 3) {
                        ADD_FAILURE() << "pixel " << x << ", " << y << " differs";
                    }
                }
            }
            EXPECT_EQ(mismatches, 0);
            float outline = 0.0f;
            for (int x = 30; x < 40; ++x) {
                outline = std::max(outline, frame.output->get(x, 50, channels - 1));
            }
            EXPECT_EQ(outline, 1.0f) << "an outline is drawn left of the square";
            EXPECT_EQ(session.finish(), kOfxStatOK);
        }
    }
}

TEST_F(PluginModule, AnswersTheRegionActions) {
    ZarvelHost::Session session(host, *library);
    ASSERT_EQ(session.start(), kOfxStatOK);
    ZarvelHost::Effect& instance = session.instance();
    session.clip("Source").setRegionOfDefinition({0.0, 0.0, 1920.0, 1080.0});
    const auto rod = session.plugin().getRegionOfDefinition(instance, 0.0);
    EXPECT_EQ(rod.status, kOfxStatOK);
    const OfxRectD region = rod.regionOfDefinition();
    EXPECT_EQ(region.x1, -60.0);
    EXPECT_EQ(region.y1, -60.0);
    EXPECT_EQ(region.x2, 1980.0);
    EXPECT_EQ(region.y2, 1140.0);

    instance.param("outlineWidth").setValue({2.5});
    const auto rois =
        session.plugin().getRegionsOfInterest(instance, 0.0, {100.0, 100.0, 200.0, 200.0});
    EXPECT_EQ(rois.status, kOfxStatOK);
    const OfxRectD roi = rois.regionOfInterest("Source");
    EXPECT_LE(roi.x1, 90.0);
    EXPECT_LE(roi.y1, 90.0);
    EXPECT_GE(roi.x2, 210.0);
    EXPECT_GE(roi.y2, 210.0);
}

TEST_F(PluginModule, ActionsTheEffectLeavesToTheHostAnswerDefault) {
    ZarvelHost::Session session(host, *library);
    ASSERT_EQ(session.start(), kOfxStatOK);
    ZarvelHost::Plugin& plugin = session.plugin();
    ZarvelHost::Effect& instance = session.instance();
    CaptureProcessStdout out;
    EXPECT_EQ(plugin.isIdentity(instance, wholeFrame()).status, kOfxStatReplyDefault);
    EXPECT_EQ(plugin.getFramesNeeded(instance, 0.0).status, kOfxStatReplyDefault);
    EXPECT_EQ(plugin.getClipPreferences(instance).status, kOfxStatReplyDefault);
    EXPECT_EQ(plugin.getTimeDomain(instance).status, kOfxStatReplyDefault);
    EXPECT_EQ(plugin.beginSequenceRender(instance, {}).status, kOfxStatReplyDefault);
    EXPECT_EQ(plugin.endSequenceRender(instance, {}).status, kOfxStatReplyDefault);
    EXPECT_EQ(plugin.beginInstanceChanged(instance, kOfxChangeUserEdited).status,
              kOfxStatReplyDefault);
    EXPECT_EQ(
        plugin
            .instanceChanged(instance, kOfxTypeParameter, "outlineWidth", kOfxChangeUserEdited, 0.0)
            .status,
        kOfxStatReplyDefault);
    EXPECT_EQ(plugin.endInstanceChanged(instance, kOfxChangeUserEdited).status,
              kOfxStatReplyDefault);
    for (const char* action :
         {kOfxActionPurgeCaches, kOfxActionSyncPrivateData, kOfxActionBeginInstanceEdit,
          kOfxActionEndInstanceEdit, kOfxImageEffectActionVegasKeyframeUplift,
          kOfxImageEffectActionInvokeHelp, kOfxImageEffectActionInvokeAbout}) {
        EXPECT_EQ(plugin.simpleAction(instance, action).status, kOfxStatReplyDefault) << action;
    }
    EXPECT_EQ(plugin.callMainEntry(nullptr, nullptr, nullptr, nullptr), kOfxStatReplyDefault);
    EXPECT_EQ(plugin.callMainEntry("OfxActionLoad ", nullptr, nullptr, nullptr),
              kOfxStatReplyDefault);
    EXPECT_EQ(out.text(), "");

    // A required handle missing: the action never reaches the effect.
    CaptureProcessStdout failed;
    EXPECT_EQ(
        plugin.callMainEntry(kOfxImageEffectActionRender, instance.handle(), nullptr, nullptr),
        kOfxStatErrBadHandle);
    EXPECT_EQ(failed.text(), "Threw suite exception!\nCaught OFX::Exception::Suite\n");
    EXPECT_EQ(session.finish(), kOfxStatOK);
}

TEST_F(PluginModule, TheRecordOutlivesUnloadAndServesAgain) {
    OfxPlugin* record = library->plugin(0);
    ASSERT_NE(record, nullptr);
    const OfxPlugin before = *record;
    {
        // Discovery as some hosts do it: load, describe, unload straight away.
        ZarvelHost::Plugin plugin(host, *library);
        ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
        ASSERT_EQ(plugin.unload(), kOfxStatOK);
    }
    EXPECT_EQ(library->plugin(0), record);
    EXPECT_EQ(std::memcmp(record, &before, sizeof before), 0);
    EXPECT_STREQ(record->pluginIdentifier, "org.zarvel.outline");

    ZarvelHost::Session session(host, *library);
    ASSERT_EQ(session.start(), kOfxStatOK) << session.failedAction();
    Frame frame(session, PixelDepth::Float, PixelComponents::RGBA);
    EXPECT_EQ(session.renderFrame(wholeFrame()).status, kOfxStatOK);
    EXPECT_EQ(session.finish(), kOfxStatOK);
}

TEST(PluginModuleLoading, TheFirstCallsFromManyThreadsAgree) {
    // A fresh load of the library: its registry is built by whichever call comes first.
    auto library = ZarvelHost::PluginLibrary::open(ZARVEL_PLUGIN_PATH);
    constexpr int threadCount = 6;
    std::atomic<int> ready{0};
    std::vector<OfxPlugin*> records(threadCount, nullptr);
    std::vector<int> counts(threadCount, -1);
    std::vector<std::thread> threads;
    for (int index = 0; index < threadCount; ++index) {
        threads.emplace_back([&, index] {
            ready.fetch_add(1);
            while (ready.load() < threadCount) {
            }
            if (index % 2 == 0) {
                records[index] = library->plugin(0);
                counts[index] = library->pluginCount();
            } else {
                counts[index] = library->pluginCount();
                records[index] = library->plugin(0);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_NE(records[0], nullptr);
    for (int index = 0; index < threadCount; ++index) {
        EXPECT_EQ(records[index], records[0]);
        EXPECT_EQ(counts[index], 1);
    }
}

// A host that loads, describes and creates a fresh instance for every frame, on its own thread,
// while other instances render, and never unloads.
TEST_F(PluginModule, DescribingAndCreatingWhileOthersRenderIsSafe) {
#ifdef ZARVEL_TEST_SANITIZED
    constexpr int cycles = 20;
    constexpr int frames = 5;
#else
    constexpr int cycles = 100;
    constexpr int frames = 20;
#endif
    constexpr int renderers = 3;
    host.setCpuCount(2);
    std::vector<std::unique_ptr<ZarvelHost::Session>> sessions;
    std::vector<std::unique_ptr<Frame>> images;
    for (int index = 0; index < renderers; ++index) {
        sessions.push_back(std::make_unique<ZarvelHost::Session>(host, *library));
        ASSERT_EQ(sessions.back()->start(), kOfxStatOK);
        images.push_back(
            std::make_unique<Frame>(*sessions.back(), PixelDepth::Byte, PixelComponents::RGBA));
    }
    ZarvelHost::Plugin describer(host, *library);

    std::atomic<int> failures{0};
    std::atomic<bool> describing{true};
    std::vector<std::thread> threads;
    for (int index = 0; index < renderers; ++index) {
        // Rendering goes on for as long as the describing does.
        threads.emplace_back([&, index] {
            for (int frame = 0; frame < frames || describing.load(); ++frame) {
                if (sessions[index]->renderFrame(wholeFrame()).status != kOfxStatOK) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    threads.emplace_back([&] {
        for (int cycle = 0; cycle < cycles; ++cycle) {
            if (describer.loadAndDescribe(kOfxImageEffectContextFilter) != kOfxStatOK) {
                failures.fetch_add(1);
                continue;
            }
            auto created = describer.createInstance(kOfxImageEffectContextFilter);
            if (created.status != kOfxStatOK) {
                failures.fetch_add(1);
                continue;
            }
            if (describer.getRegionsOfInterest(*created.instance, 0.0, {0, 0, 10, 10}).status !=
                    kOfxStatOK ||
                describer.destroyInstance(std::move(created.instance)) != kOfxStatOK) {
                failures.fetch_add(1);
            }
        }
        describing.store(false);
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(host.imagesOutstanding(), 0u);
    for (auto& session : sessions) {
        EXPECT_EQ(session->finish(), kOfxStatOK);
    }
}

TEST_F(PluginModule, MemoryStaysFlatOverManyDescribeCreateRenderCycles) {
#ifdef ZARVEL_TEST_SANITIZED
    constexpr int cycles = 500;
#else
    constexpr int cycles = 5000;
#endif
    host.setCpuCount(1);
    ZarvelHost::Plugin plugin(host, *library);
    const auto source = std::make_shared<ZarvelHost::Image>(OfxRectI{0, 0, 8, 8}, PixelDepth::Byte,
                                                            PixelComponents::RGBA);
    const float opaque[] = {1.0f, 1.0f, 1.0f, 1.0f};
    source->fill(opaque);
    ZarvelHost::RenderOptions options;
    options.window = {0, 0, 8, 8};
    auto cycle = [&] {
        // Load without unload, a new description and a fresh instance per frame.
        if (plugin.loadAndDescribe(kOfxImageEffectContextFilter) != kOfxStatOK) {
            return false;
        }
        auto created = plugin.createInstance(kOfxImageEffectContextFilter);
        if (created.status != kOfxStatOK) {
            return false;
        }
        created.instance->clip("Source").setImage(source);
        created.instance->clip("Output").allocateImage(options.window, PixelDepth::Byte,
                                                       PixelComponents::RGBA);
        const bool rendered = plugin.render(*created.instance, options).status == kOfxStatOK;
        return plugin.destroyInstance(std::move(created.instance)) == kOfxStatOK && rendered;
    };
    for (int warmUp = 0; warmUp < 50; ++warmUp) {
        ASSERT_TRUE(cycle());
    }
    const std::size_t before = heapInUse();
    for (int index = 0; index < cycles; ++index) {
        ASSERT_TRUE(cycle()) << "cycle " << index;
    }
    const std::size_t after = heapInUse();
    // A descriptor kept per describe would cost kilobytes a cycle.
    const double perCycle = after > before ? double(after - before) / cycles : 0.0;
    RecordProperty("heapBytesPerCycle", std::to_string(perCycle));
    EXPECT_LT(perCycle, 16.0) << "heap " << before << " -> " << after << " bytes";
}

}  // namespace
