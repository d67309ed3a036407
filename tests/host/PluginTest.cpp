// The plug-in driver, checked against a tiny fake plug-in written here: it records what the
// host sends, uses the suites the way a real effect does (clips, a parameter, images, bands of
// rows on the host's threads, an abort check per row), and multiplies its source into its
// output.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"

namespace {

using ZarvelHost::ActionCall;
using ZarvelHost::Host;
using ZarvelHost::Image;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;
using ZarvelHost::Plugin;
using ZarvelHost::PluginLibrary;
using ZarvelHost::RenderOptions;
using ZarvelHost::Session;

namespace fake {

struct Received {
    std::string action;
    const void* handle;
    bool hasInArgs;
    bool hasOutArgs;
};

OfxHost* host = nullptr;
const OfxPropertySuiteV1* props = nullptr;
const OfxImageEffectSuiteV1* effects = nullptr;
const OfxParameterSuiteV1* params = nullptr;
const OfxMultiThreadSuiteV1* threads = nullptr;
// Instances may render concurrently: what they record is kept under this lock.
std::mutex recordMutex;
std::vector<Received> received;
std::string context;
double renderTime = -1;
OfxRectI window{};
OfxPointD scale{};
std::string field;
OfxStatus inArgsWrite = kOfxStatOK;
int instanceMarker = 0;

void reset() {
    host = nullptr;
    props = nullptr;
    effects = nullptr;
    params = nullptr;
    threads = nullptr;
    received.clear();
    context.clear();
    renderTime = -1;
    window = {};
    scale = {};
    field.clear();
    inArgsWrite = kOfxStatOK;
}

void setHost(OfxHost* given) {
    host = given;
}

OfxStatus load() {
    props =
        static_cast<const OfxPropertySuiteV1*>(host->fetchSuite(host->host, kOfxPropertySuite, 1));
    effects = static_cast<const OfxImageEffectSuiteV1*>(
        host->fetchSuite(host->host, kOfxImageEffectSuite, 1));
    params = static_cast<const OfxParameterSuiteV1*>(
        host->fetchSuite(host->host, kOfxParameterSuite, 1));
    threads = static_cast<const OfxMultiThreadSuiteV1*>(
        host->fetchSuite(host->host, kOfxMultiThreadSuite, 1));
    return props && effects && params && threads ? kOfxStatOK : kOfxStatErrMissingHostFeature;
}

OfxStatus describeInContext(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
    char* given = nullptr;
    OfxStatus status = props->propGetString(inArgs, kOfxImageEffectPropContext, 0, &given);
    if (status != kOfxStatOK) {
        return status;
    }
    context = given;
    for (const char* name : {"Source", "Output"}) {
        OfxPropertySetHandle clip = nullptr;
        if ((status = effects->clipDefine(effect, name, &clip)) != kOfxStatOK) {
            return status;
        }
    }
    OfxParamSetHandle paramSet = nullptr;
    if ((status = effects->getParamSet(effect, &paramSet)) != kOfxStatOK) {
        return status;
    }
    OfxPropertySetHandle gain = nullptr;
    if ((status = params->paramDefine(paramSet, kOfxParamTypeDouble, "gain", &gain)) !=
        kOfxStatOK) {
        return status;
    }
    return props->propSetDouble(gain, kOfxParamPropDefault, 0, 2.0);
}

// One render's work, shared by the bands.
struct Work {
    OfxImageEffectHandle effect;
    OfxRectI window;
    double gain;
    const unsigned char* source;
    int sourceBounds[4];
    int sourceRow;
    unsigned char* output;
    int outputBounds[4];
    int outputRow;
};

void renderBand(unsigned int index, unsigned int count, void* argument) {
    const Work& work = *static_cast<const Work*>(argument);
    const int rows = work.window.y2 - work.window.y1;
    const int y1 = work.window.y1 + static_cast<int>(rows * index / count);
    const int y2 = work.window.y1 + static_cast<int>(rows * (index + 1) / count);
    for (int y = y1; y < y2; ++y) {
        if (effects->abort(work.effect)) {
            return;
        }
        for (int x = work.window.x1; x < work.window.x2; ++x) {
            const unsigned char* in = work.source + (y - work.sourceBounds[1]) * work.sourceRow +
                                      (x - work.sourceBounds[0]) * 4;
            unsigned char* out = work.output + (y - work.outputBounds[1]) * work.outputRow +
                                 (x - work.outputBounds[0]) * 4;
            for (int c = 0; c < 4; ++c) {
                out[c] = static_cast<unsigned char>(std::min(255.0, in[c] * work.gain));
            }
        }
    }
}

OfxStatus render(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
    OfxStatus status = kOfxStatOK;
    double time = 0;
    int w[4] = {};
    double s[2] = {};
    char* f = nullptr;
    if ((status = props->propGetDouble(inArgs, kOfxPropTime, 0, &time)) != kOfxStatOK ||
        (status = props->propGetIntN(inArgs, kOfxImageEffectPropRenderWindow, 4, w)) !=
            kOfxStatOK ||
        (status = props->propGetDoubleN(inArgs, kOfxImageEffectPropRenderScale, 2, s)) !=
            kOfxStatOK ||
        (status = props->propGetString(inArgs, kOfxImageEffectPropFieldToRender, 0, &f)) !=
            kOfxStatOK) {
        return status;
    }
    const OfxStatus written = props->propSetDouble(inArgs, kOfxPropTime, 0, 1.0);
    {
        std::lock_guard lock(recordMutex);
        renderTime = time;
        window = {w[0], w[1], w[2], w[3]};
        scale = {s[0], s[1]};
        field = f;
        inArgsWrite = written;
    }

    Work work{};
    work.effect = effect;
    work.window = {w[0], w[1], w[2], w[3]};
    OfxParamSetHandle paramSet = nullptr;
    OfxParamHandle gain = nullptr;
    if ((status = effects->getParamSet(effect, &paramSet)) != kOfxStatOK ||
        (status = params->paramGetHandle(paramSet, "gain", &gain, nullptr)) != kOfxStatOK ||
        (status = params->paramGetValueAtTime(gain, time, &work.gain)) != kOfxStatOK) {
        return status;
    }
    OfxImageClipHandle sourceClip = nullptr;
    OfxImageClipHandle outputClip = nullptr;
    if ((status = effects->clipGetHandle(effect, "Source", &sourceClip, nullptr)) != kOfxStatOK ||
        (status = effects->clipGetHandle(effect, "Output", &outputClip, nullptr)) != kOfxStatOK) {
        return status;
    }
    OfxPropertySetHandle source = nullptr;
    OfxPropertySetHandle output = nullptr;
    if ((status = effects->clipGetImage(sourceClip, time, nullptr, &source)) != kOfxStatOK) {
        return status;
    }
    if ((status = effects->clipGetImage(outputClip, time, nullptr, &output)) != kOfxStatOK) {
        effects->clipReleaseImage(source);
        return status;
    }
    // Byte RGBA on both sides; bounds and strides taken from each image.
    void* sourceData = nullptr;
    void* outputData = nullptr;
    unsigned int cpus = 1;
    if ((status = props->propGetPointer(source, kOfxImagePropData, 0, &sourceData)) == kOfxStatOK &&
        (status = props->propGetPointer(output, kOfxImagePropData, 0, &outputData)) == kOfxStatOK &&
        (status = props->propGetIntN(source, kOfxImagePropBounds, 4, work.sourceBounds)) ==
            kOfxStatOK &&
        (status = props->propGetIntN(output, kOfxImagePropBounds, 4, work.outputBounds)) ==
            kOfxStatOK &&
        (status = props->propGetInt(source, kOfxImagePropRowBytes, 0, &work.sourceRow)) ==
            kOfxStatOK &&
        (status = props->propGetInt(output, kOfxImagePropRowBytes, 0, &work.outputRow)) ==
            kOfxStatOK &&
        (status = threads->multiThreadNumCPUs(&cpus)) == kOfxStatOK) {
        work.source = static_cast<const unsigned char*>(sourceData);
        work.output = static_cast<unsigned char*>(outputData);
        status = threads->multiThread(renderBand, std::max(cpus, 1u), &work);
    }
    const OfxStatus released1 = effects->clipReleaseImage(source);
    const OfxStatus released2 = effects->clipReleaseImage(output);
    if (status != kOfxStatOK) {
        return status;
    }
    return released1 != kOfxStatOK ? released1 : released2;
}

OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs) {
    {
        std::lock_guard lock(recordMutex);
        received.push_back({action, handle, inArgs != nullptr, outArgs != nullptr});
    }
    const std::string name = action;
    auto effect = static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
    if (name == kOfxActionLoad) {
        return load();
    }
    if (name == kOfxActionDescribe) {
        OfxPropertySetHandle effectProps = nullptr;
        const OfxStatus status = effects->getPropertySet(effect, &effectProps);
        return status != kOfxStatOK ? status
                                    : props->propSetString(effectProps, kOfxPropLabel, 0, "Fake");
    }
    if (name == kOfxImageEffectActionDescribeInContext) {
        return describeInContext(effect, inArgs);
    }
    if (name == kOfxActionCreateInstance) {
        OfxPropertySetHandle effectProps = nullptr;
        const OfxStatus status = effects->getPropertySet(effect, &effectProps);
        return status != kOfxStatOK
                   ? status
                   : props->propSetPointer(effectProps, kOfxPropInstanceData, 0, &instanceMarker);
    }
    if (name == kOfxImageEffectActionGetRegionOfDefinition) {
        double rod[4] = {};
        OfxStatus status =
            props->propGetDoubleN(outArgs, kOfxImageEffectPropRegionOfDefinition, 4, rod);
        if (status != kOfxStatOK) {
            return status;
        }
        const double grown[4] = {rod[0] - 1, rod[1] - 1, rod[2] + 1, rod[3] + 1};
        return props->propSetDoubleN(outArgs, kOfxImageEffectPropRegionOfDefinition, 4, grown);
    }
    if (name == kOfxImageEffectActionGetRegionsOfInterest) {
        double roi[4] = {};
        OfxStatus status =
            props->propGetDoubleN(inArgs, kOfxImageEffectPropRegionOfInterest, 4, roi);
        if (status != kOfxStatOK) {
            return status;
        }
        const double grown[4] = {roi[0] - 2, roi[1] - 2, roi[2] + 2, roi[3] + 2};
        return props->propSetDoubleN(outArgs, "OfxImageClipPropRoI_Source", 4, grown);
    }
    if (name == kOfxImageEffectActionRender) {
        return render(effect, inArgs);
    }
    if (name == kOfxActionDestroyInstance || name == kOfxActionUnload) {
        return kOfxStatOK;
    }
    return kOfxStatReplyDefault;
}

OfxPlugin record = {kOfxImageEffectPluginApi, 1, "org.zarvel.fake", 1, 0, setHost, mainEntry};

int count() {
    return 1;
}

OfxPlugin* get(int nth) {
    return nth == 0 ? &record : nullptr;
}

std::vector<std::string> actions() {
    std::vector<std::string> names;
    for (const Received& r : received) {
        names.push_back(r.action);
    }
    return names;
}

}  // namespace fake

class TestHostDriver : public ::testing::Test {
protected:
    void SetUp() override { fake::reset(); }

    std::shared_ptr<Image> makeSource() {
        auto image =
            std::make_shared<Image>(OfxRectI{0, 0, 4, 3}, PixelDepth::Byte, PixelComponents::RGBA);
        const float grey[4] = {0.2f, 0.2f, 0.2f, 0.2f};
        image->fill(grey);
        return image;
    }

    Host host;
    PluginLibrary library{fake::count, fake::get};
};

TEST_F(TestHostDriver, SessionRunsTheWholeLifeOfAnInstance) {
    auto source = makeSource();
    auto output = std::make_shared<Image>(OfxRectI{0, 0, 4, 3}, PixelDepth::Byte,
                                          PixelComponents::RGBA, ZarvelHost::RowLayout{8, true});
    {
        Session session(host, library);
        ASSERT_EQ(session.start(), kOfxStatOK) << session.failedAction();
        EXPECT_EQ(fake::host, host.ofxHost());
        EXPECT_EQ(fake::context, kOfxImageEffectContextFilter);
        EXPECT_EQ(session.instance().instanceData(), &fake::instanceMarker);
        EXPECT_EQ(session.plugin().descriptor().properties().getString(kOfxPropLabel), "Fake");
        session.setImage("Source", source);
        session.setImage("Output", output);

        RenderOptions options;
        options.window = {1, 0, 4, 2};
        const ZarvelHost::FrameResult frame = session.renderFrame(options);
        EXPECT_EQ(frame.status, kOfxStatOK) << frame.failedAction;
        EXPECT_EQ(frame.regionOfDefinition.x2, 5.0) << "the source's bounds grown by one";
        EXPECT_EQ(frame.regionsOfInterest.at("Source").x1, -1.0);
        EXPECT_EQ(session.finish(), kOfxStatOK);
    }
    EXPECT_EQ(
        fake::actions(),
        (std::vector<std::string>{
            kOfxActionLoad, kOfxActionDescribe, kOfxImageEffectActionDescribeInContext,
            kOfxActionCreateInstance, kOfxImageEffectActionGetRegionOfDefinition,
            kOfxImageEffectActionGetRegionsOfInterest, kOfxImageEffectActionIsIdentity,
            kOfxImageEffectActionBeginSequenceRender, kOfxImageEffectActionRender,
            kOfxImageEffectActionEndSequenceRender, kOfxActionDestroyInstance, kOfxActionUnload}));
    EXPECT_NEAR(output->get(2, 1, 0), 0.4f, 1.0f / 255);
    EXPECT_EQ(output->get(0, 1, 0), 0.0f) << "outside the render window";
    EXPECT_EQ(output->get(2, 2, 0), 0.0f) << "outside the render window";
    EXPECT_TRUE(output->guardsIntact());
    EXPECT_EQ(host.imagesFetched(), 2u);
    EXPECT_EQ(host.imagesOutstanding(), 0u);
    EXPECT_EQ(host.badImageReleases(), 0u);
}

TEST_F(TestHostDriver, PassesHandlesAndArgumentSetsAsTheStandardSays) {
    Plugin plugin(host, library);
    ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    Plugin::Created created = plugin.createInstance(kOfxImageEffectContextFilter);
    ASSERT_EQ(created.status, kOfxStatOK);
    created.instance->clip("Source").setImage(makeSource());
    created.instance->clip("Output").setImage(makeSource());

    RenderOptions options;
    options.time = 7.0;
    options.window = {0, 1, 2, 3};
    options.renderScale = {0.5, 0.25};
    options.field = kOfxImageFieldLower;
    const ActionCall render = plugin.render(*created.instance, options);
    EXPECT_EQ(render.status, kOfxStatOK);
    EXPECT_EQ(fake::renderTime, 7.0);
    EXPECT_EQ(fake::window.y2, 3);
    EXPECT_EQ(fake::scale.y, 0.25);
    EXPECT_EQ(fake::field, kOfxImageFieldLower);
    EXPECT_EQ(fake::inArgsWrite, kOfxStatErrValue) << "inArgs are read-only";
    EXPECT_FALSE(render.inArgs->has(kOfxImageEffectPropRenderQuality));
    EXPECT_EQ(plugin.destroyInstance(std::move(created.instance)), kOfxStatOK);

    // Instance actions get the instance handle; load and unload get nothing at all.
    const fake::Received& load = fake::received.front();
    EXPECT_EQ(load.handle, nullptr);
    EXPECT_FALSE(load.hasInArgs || load.hasOutArgs);
    const fake::Received& renderReceived = fake::received[4];
    EXPECT_EQ(renderReceived.action, kOfxImageEffectActionRender);
    EXPECT_TRUE(renderReceived.hasInArgs);
    EXPECT_FALSE(renderReceived.hasOutArgs);
}

TEST_F(TestHostDriver, BuildsOutArgsForEveryInputClip) {
    Plugin plugin(host, library);
    ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    Plugin::Created created = plugin.createInstance(kOfxImageEffectContextFilter);
    const ActionCall roi = plugin.getRegionsOfInterest(*created.instance, 0.0, {0, 0, 10, 10});
    EXPECT_TRUE(roi.outArgs->has("OfxImageClipPropRoI_Source"));
    EXPECT_FALSE(roi.outArgs->has("OfxImageClipPropRoI_Output"));
    const ActionCall frames = plugin.getFramesNeeded(*created.instance, 3.0);
    EXPECT_EQ(frames.framesNeeded("Source"), (std::vector<double>{3.0, 3.0}));
    const ActionCall prefs = plugin.getClipPreferences(*created.instance);
    EXPECT_TRUE(prefs.outArgs->has("OfxImageClipPropDepth_Output"));
    EXPECT_EQ(prefs.status, kOfxStatReplyDefault);
    EXPECT_EQ(plugin.destroyInstance(std::move(created.instance)), kOfxStatOK);
}

TEST_F(TestHostDriver, HookBendsArgumentsBeforeTheCall) {
    Session session(host, library);
    ASSERT_EQ(session.start(), kOfxStatOK);
    session.setImage("Source", makeSource());
    session.clip("Output").allocateImage({0, 0, 1, 1}, PixelDepth::Byte, PixelComponents::RGBA);
    session.plugin().setArgumentsHook([](const std::string& action, ZarvelHost::HostPropertySet* in,
                                         ZarvelHost::HostPropertySet*) {
        if (action == kOfxImageEffectActionRender) {
            in->setString(kOfxImageEffectPropFieldToRender, "NotAField");
        }
    });
    RenderOptions options;
    options.window = {0, 0, 1, 1};
    EXPECT_EQ(session.render(options).status, kOfxStatOK);
    EXPECT_EQ(fake::field, "NotAField");
}

TEST_F(TestHostDriver, StopsAtALoadThatLacksASuite) {
    host.setSuiteEnabled(kOfxParameterSuite, 1, false);
    Session session(host, library);
    EXPECT_EQ(session.start(), kOfxStatErrMissingHostFeature);
    EXPECT_EQ(session.failedAction(), kOfxActionLoad);
    EXPECT_FALSE(session.hasInstance());
    EXPECT_EQ(session.finish(), kOfxStatOK);
    EXPECT_EQ(fake::actions(), std::vector<std::string>{kOfxActionLoad})
        << "no Unload after a failed Load";
}

TEST_F(TestHostDriver, ReportsLibrariesAndIndicesThatCannotBeUsed) {
    try {
        PluginLibrary::open("/nonexistent/Missing.ofx");
        FAIL() << "opening a missing library must throw";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/Missing.ofx"), std::string::npos);
    }
    EXPECT_THROW(Plugin(host, library, 1), std::runtime_error);
}

TEST_F(TestHostDriver, RendersSeveralInstancesAtOnce) {
    Plugin plugin(host, library);
    ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    host.setCpuCount(3);
    constexpr int kInstances = 3;
    std::vector<std::unique_ptr<ZarvelHost::Effect>> instances;
    std::vector<std::shared_ptr<Image>> outputs;
    for (int i = 0; i < kInstances; ++i) {
        Plugin::Created created = plugin.createInstance(kOfxImageEffectContextFilter);
        ASSERT_EQ(created.status, kOfxStatOK);
        created.instance->param("gain").setValue({1.0 + i});
        created.instance->clip("Source").setImage(makeSource());
        outputs.push_back(
            std::make_shared<Image>(OfxRectI{0, 0, 4, 3}, PixelDepth::Byte, PixelComponents::RGBA));
        created.instance->clip("Output").setImage(outputs.back());
        instances.push_back(std::move(created.instance));
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> renderers;
    for (int i = 0; i < kInstances; ++i) {
        renderers.emplace_back([&, i] {
            RenderOptions options;
            options.window = {0, 0, 4, 3};
            for (int frame = 0; frame < 20; ++frame) {
                options.time = frame;
                if (plugin.render(*instances[i], options).status != kOfxStatOK) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& renderer : renderers) {
        renderer.join();
    }
    EXPECT_EQ(failures, 0);
    for (int i = 0; i < kInstances; ++i) {
        EXPECT_NEAR(outputs[i]->get(3, 2, 1), 0.2f * (1 + i), 1.0f / 255) << "instance " << i;
        EXPECT_EQ(plugin.destroyInstance(std::move(instances[i])), kOfxStatOK);
    }
    EXPECT_EQ(host.imagesFetched(), 2u * kInstances * 20);
    EXPECT_EQ(host.imagesOutstanding(), 0u);
    EXPECT_EQ(host.multiThreadRuns(), kInstances * 20u);
    EXPECT_EQ(host.calls().callCount("abort"), kInstances * 20u * 3);
}

TEST_F(TestHostDriver, AbortStopsTheBandsAtTheNextRow) {
    Session session(host, library);
    ASSERT_EQ(session.start(), kOfxStatOK);
    auto output =
        std::make_shared<Image>(OfxRectI{0, 0, 4, 3}, PixelDepth::Byte, PixelComponents::RGBA);
    session.setImage("Source", makeSource());
    session.setImage("Output", output);
    host.setSerialThreads(true);
    host.setCpuCount(1);
    host.setAbortAfter(1);
    RenderOptions options;
    options.window = {0, 0, 4, 3};
    EXPECT_EQ(session.render(options).status, kOfxStatOK);
    EXPECT_GT(output->get(0, 0, 0), 0.0f);
    EXPECT_EQ(output->get(0, 1, 0), 0.0f) << "rows after the abort stay untouched";
}

// A fault sweep as later tests run it: count a whole session's calls, then fail each call in
// turn on a fresh host. Each run must fire exactly its one rule, at its index, and leave no
// image behind but one whose release was the failed call.
TEST_F(TestHostDriver, SweepFailsEachCallOfASessionExactlyOnce) {
    auto runSession = [&](Host& sweepHost) {
        fake::reset();
        Session session(sweepHost, library);
        if (session.start() == kOfxStatOK) {
            session.setImage("Source", makeSource());
            session.setImage("Output", makeSource());
            RenderOptions options;
            options.window = {0, 0, 2, 2};
            session.renderFrame(options);
        }
    };
    std::uint64_t total = 0;
    {
        Host counting;
        runSession(counting);
        total = counting.calls().callCount();
    }
    ASSERT_GT(total, 20u);
    for (std::uint64_t k = 0; k < total; ++k) {
        Host sweepHost;
        sweepHost.calls().failCallAtIndex(k, kOfxStatErrUnknown);
        runSession(sweepHost);
        const auto fired = sweepHost.calls().firedFaults();
        ASSERT_EQ(fired.size(), 1u) << "call " << k;
        EXPECT_EQ(fired[0].index, k);
        // A failed release does nothing, so exactly that image stays with the host.
        const std::size_t kept = fired[0].function == "clipReleaseImage" ? 1u : 0u;
        EXPECT_EQ(sweepHost.imagesOutstanding(), kept) << "call " << k;
    }
}

}  // namespace
