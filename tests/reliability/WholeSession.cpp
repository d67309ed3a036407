#include "tests/reliability/WholeSession.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "host/Effect.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZARVEL_RELIABILITY_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZARVEL_RELIABILITY_SANITIZED 1
#endif

namespace zarvel::reliability {

using ZarvelHost::Image;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

const std::vector<PixelType>& allPixelTypes() {
    static const std::vector<PixelType> types = {
        {PixelDepth::Byte, PixelComponents::RGBA},   {PixelDepth::Short, PixelComponents::RGBA},
        {PixelDepth::Float, PixelComponents::RGBA},  {PixelDepth::Byte, PixelComponents::Alpha},
        {PixelDepth::Short, PixelComponents::Alpha}, {PixelDepth::Float, PixelComponents::Alpha}};
    return types;
}

std::string nameOf(const PixelType& type) {
    return std::string(ZarvelHost::depthString(type.depth)) + "/" +
           ZarvelHost::componentsString(type.components);
}

ZarvelHost::PluginLibrary& linkedPlugin() {
    static ZarvelHost::PluginLibrary library(&OfxGetNumberOfPlugins, &OfxGetPlugin);
    return library;
}

bool runsSanitized() {
#ifdef ZARVEL_RELIABILITY_SANITIZED
    return true;
#else
    return false;
#endif
}

unsigned environmentCount(const char* name, unsigned fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) {
        return fallback;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return *end == '\0' && value > 0 && value < 1000000 ? unsigned(value) : fallback;
}

std::shared_ptr<Image> makeSourceFrame(const OfxRectI& bounds, PixelType type) {
    auto image = std::make_shared<Image>(bounds, type.depth, type.components);
    const int channels = image->componentCount();
    const int width = bounds.x2 - bounds.x1;
    const int height = bounds.y2 - bounds.y1;
    const int x1 = bounds.x1 + width / 4;
    const int x2 = bounds.x1 + width / 2;
    const int y1 = bounds.y1 + height / 4;
    const int y2 = bounds.y1 + (3 * height) / 4;
    const float colour[] = {0.8f, 0.3f, 0.1f};
    auto put = [&](int x, int y, float alpha) {
        for (int c = 0; c + 1 < channels; ++c) {
            image->set(x, y, c, colour[c] * alpha);
        }
        image->set(x, y, channels - 1, alpha);
    };
    for (int y = y1; y < y2; ++y) {
        for (int x = x1; x < x2; ++x) {
            put(x, y, 1.0f);
        }
        put(x2, y, 0.4f);
    }
    put(x1, y2 + 1, 0.2f);
    return image;
}

bool samePixels(const Image& a, const Image& b) {
    const OfxRectI& bounds = a.bounds();
    const OfxRectI& other = b.bounds();
    if (bounds.x1 != other.x1 || bounds.y1 != other.y1 || bounds.x2 != other.x2 ||
        bounds.y2 != other.y2 || a.pixelBytes() != b.pixelBytes()) {
        return false;
    }
    const std::size_t rowLength = std::size_t(a.width()) * std::size_t(a.pixelBytes());
    for (int y = bounds.y1; y < bounds.y2; ++y) {
        if (rowLength > 0 &&
            std::memcmp(a.pixelAddress(bounds.x1, y), b.pixelAddress(bounds.x1, y), rowLength)) {
            return false;
        }
    }
    return true;
}

namespace {

// A session that records every action with the host calls it made.
class Recorder {
public:
    Recorder(ZarvelHost::Host& host, SessionRecord& record)
        : host_(host)
        , record_(record) {}

    template <class ACTION>
    OfxStatus run(const char* name, ACTION&& action) {
        ActionRecord entry;
        entry.action = name;
        entry.firstCall = host_.calls().callCount();
        entry.status = action();
        entry.endCall = host_.calls().callCount();
        record_.actions.push_back(entry);
        return entry.status;
    }

private:
    ZarvelHost::Host& host_;
    SessionRecord& record_;
};

}  // namespace

std::shared_ptr<Image> copyOf(const Image& image) {
    auto copy = std::make_shared<Image>(image.bounds(), image.depth(), image.components());
    const std::size_t rowLength = std::size_t(image.width()) * std::size_t(image.pixelBytes());
    for (int y = image.bounds().y1; y < image.bounds().y2; ++y) {
        std::memcpy(copy->pixelAddress(image.bounds().x1, y),
                    image.pixelAddress(image.bounds().x1, y), rowLength);
    }
    return copy;
}

SessionRecord runWholeSession(ZarvelHost::Host& host, ZarvelHost::PluginLibrary& library,
                              const SessionSettings& settings) {
    using ZarvelHost::isSuccess;
    host.setCpuCount(settings.cpuCount);
    host.setSerialThreads(settings.serialThreads);
    SessionRecord record;
    Recorder recorder(host, record);
    ZarvelHost::Plugin plugin(host, library);

    if (!isSuccess(recorder.run(kOfxActionLoad, [&] { return plugin.load(); }))) {
        return record;
    }
    record.loaded = true;
    auto unload = [&] { recorder.run(kOfxActionUnload, [&] { return plugin.unload(); }); };
    if (!isSuccess(recorder.run(kOfxActionDescribe, [&] { return plugin.describe(); })) ||
        !isSuccess(recorder.run(kOfxImageEffectActionDescribeInContext, [&] {
            return plugin.describeInContext(kOfxImageEffectContextFilter).status;
        }))) {
        unload();
        return record;
    }
    std::unique_ptr<ZarvelHost::Effect> instance;
    recorder.run(kOfxActionCreateInstance, [&] {
        auto created = plugin.createInstance(kOfxImageEffectContextFilter);
        instance = std::move(created.instance);
        return created.status;
    });
    if (!instance) {
        unload();
        return record;
    }

    // A width of 180 draws 2 pixels on a 12-row frame.
    const double rows = double(settings.bounds.y2 - settings.bounds.y1);
    instance->param("outlineWidth").setValue({2.0 * 1080.0 / rows});
    instance->param("outlineColor").setValue({0.25, 0.5, 1.0, 1.0});
    instance->clip("Source").setImage(makeSourceFrame(settings.bounds, allPixelTypes().front()));

    recorder.run(kOfxImageEffectActionGetRegionOfDefinition,
                 [&] { return plugin.getRegionOfDefinition(*instance, 0.0).status; });
    const OfxRectD region{double(settings.bounds.x1), double(settings.bounds.y1),
                          double(settings.bounds.x2), double(settings.bounds.y2)};
    recorder.run(kOfxImageEffectActionGetRegionsOfInterest,
                 [&] { return plugin.getRegionsOfInterest(*instance, 0.0, region).status; });

    int index = 0;
    for (const PixelType& type : allPixelTypes()) {
        RenderRecord render;
        render.type = type;
        render.source = makeSourceFrame(settings.bounds, type);
        render.sourceBefore = copyOf(*render.source);
        // Padding and bottom-up rows on some outputs, so a write past a row shows in the guards.
        ZarvelHost::RowLayout layout;
        layout.paddingBytes = index % 2 == 0 ? 12 : 0;
        layout.bottomUp = index % 3 == 1;
        instance->clip("Source").setImage(render.source);
        render.output = instance->clip("Output").allocateImage(settings.bounds, type.depth,
                                                               type.components, layout);
        // Draft and Good in turn: the two transforms make different host calls.
        instance->param("quality").setValue({double(index % 2)});
        ZarvelHost::RenderOptions options;
        options.window = settings.bounds;
        recorder.run(kOfxImageEffectActionRender,
                     [&] { return plugin.render(*instance, options).status; });
        record.renders.push_back(render);
        ++index;
    }

    recorder.run(kOfxActionDestroyInstance,
                 [&] { return plugin.destroyInstance(std::move(instance)); });
    unload();
    return record;
}

bool isNamedStatus(OfxStatus status) {
    return (status >= kOfxStatOK && status <= kOfxStatReplyDefault) ||
           status == kOfxStatErrImageFormat;
}

}  // namespace zarvel::reliability
