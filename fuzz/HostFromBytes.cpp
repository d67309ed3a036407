#include "fuzz/HostFromBytes.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "openfx/openfx.h"
#include "tests/reliability/FrameState.h"

namespace zarvel::fuzz {
namespace {

using ZarvelHost::Image;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

// The input, read front to back; past its end every read is zero.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size)
        : data_(data)
        , size_(size) {}

    bool done() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t u16() { return std::uint16_t(byte() | (unsigned(byte()) << 8)); }
    std::uint64_t u64() {
        std::uint64_t value = 0;
        for (int index = 0; index < 8; ++index) {
            value |= std::uint64_t(byte()) << (8 * index);
        }
        return value;
    }
    /// 0 .. count - 1.
    unsigned below(std::size_t count) {
        return count <= 256 ? unsigned(byte() % count) : unsigned(u16() % count);
    }
    bool flag() { return (byte() & 1) != 0; }
    int between(int low, int high) {
        return int(std::int64_t(low) + below(std::size_t(std::int64_t(high) - low + 1)));
    }
    template <class T>
    const T& pick(const std::vector<T>& table) {
        return table[below(table.size())];
    }

    /// Mostly ordinary numbers, often the ones hosts get wrong.
    double number() {
        switch (below(14)) {
        case 0:
            return std::numeric_limits<double>::quiet_NaN();
        case 1:
            return std::numeric_limits<double>::infinity();
        case 2:
            return -std::numeric_limits<double>::infinity();
        case 3:
            return 0.0;
        case 4:
            return -0.0;
        case 5:
            return double(std::int8_t(byte()));
        case 6:
            return double(std::int16_t(u16())) / 16.0;
        case 7:
            return std::numeric_limits<double>::max() * (flag() ? 1.0 : -1.0);
        case 8:
            return std::numeric_limits<double>::denorm_min();
        case 9: {
            const std::uint64_t bits = u64();
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return value;
        }
        case 10:
            return 1e300 * (flag() ? 1.0 : -1.0);
        default:
            return byte() / 8.0;
        }
    }

    /// A finite number of ordinary size (times of keyframes: the host keys them by value).
    double finite() { return double(std::int16_t(u16())) / 8.0; }

    /// One of `table`, the empty string, a near miss of one of them, or raw bytes.
    std::string text(const std::vector<std::string>& table) {
        const unsigned choice = below(table.size() + 3);
        if (choice < table.size()) {
            return table[choice];
        }
        switch (choice - table.size()) {
        case 0:
            return "";
        case 1: {
            std::string miss = pick(table);
            if (!miss.empty() && flag()) {
                miss.resize(below(miss.size()));
            } else if (!miss.empty()) {
                miss[below(miss.size())] = char(byte() | 1);
            }
            return miss;
        }
        default: {
            std::string raw(below(12), '\0');
            for (char& c : raw) {
                c = char(byte() | 1);
            }
            return raw;
        }
        }
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

const std::vector<std::string> depthStrings = {
    kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat, kOfxBitDepthNone, "OfxBitDepthHalf"};
const std::vector<std::string> componentStrings = {kOfxImageComponentRGBA, kOfxImageComponentAlpha,
                                                   kOfxImageComponentNone, "OfxImageComponentRGB"};
const std::vector<std::string> premultiplicationStrings = {kOfxImageOpaque, kOfxImagePreMultiplied,
                                                           kOfxImageUnPreMultiplied};
const std::vector<std::string> fieldStrings = {kOfxImageFieldNone, kOfxImageFieldBoth,
                                               kOfxImageFieldLower, kOfxImageFieldUpper};
const std::vector<std::string> contextStrings = {
    kOfxImageEffectContextFilter,    kOfxImageEffectContextGeneral,
    kOfxImageEffectContextGenerator, kOfxImageEffectContextTransition,
    kOfxImageEffectContextPaint,     kOfxImageEffectContextRetimer};
const std::vector<std::string> reasonStrings = {kOfxChangeUserEdited, kOfxChangePluginEdited,
                                                kOfxChangeTime};
const std::vector<std::string> typeStrings = {kOfxTypeParameter, kOfxTypeClip};
const std::vector<std::string> objectNames = {"outlineWidth", "outlineColor", "quality", "Source",
                                              "Output"};
const std::vector<std::string> renderQualities = {
    kOfxImageEffectPropRenderQualityDraft, kOfxImageEffectPropRenderQualityPreview,
    kOfxImageEffectPropRenderQualityGood, kOfxImageEffectPropRenderQualityBest};
const std::vector<std::string> actionNames = {kOfxActionLoad,
                                              kOfxActionUnload,
                                              kOfxActionDescribe,
                                              kOfxImageEffectActionDescribeInContext,
                                              kOfxActionCreateInstance,
                                              kOfxActionDestroyInstance,
                                              kOfxImageEffectActionRender,
                                              kOfxImageEffectActionBeginSequenceRender,
                                              kOfxImageEffectActionEndSequenceRender,
                                              kOfxImageEffectActionIsIdentity,
                                              kOfxImageEffectActionGetRegionOfDefinition,
                                              kOfxImageEffectActionGetRegionsOfInterest,
                                              kOfxImageEffectActionGetFramesNeeded,
                                              kOfxImageEffectActionGetClipPreferences,
                                              kOfxActionPurgeCaches,
                                              kOfxActionSyncPrivateData,
                                              kOfxImageEffectActionGetTimeDomain,
                                              kOfxActionBeginInstanceChanged,
                                              kOfxActionInstanceChanged,
                                              kOfxActionEndInstanceChanged,
                                              kOfxActionBeginInstanceEdit,
                                              kOfxActionEndInstanceEdit,
                                              kOfxImageEffectActionVegasKeyframeUplift,
                                              kOfxImageEffectActionInvokeHelp,
                                              kOfxImageEffectActionInvokeAbout};
const std::vector<std::string> simpleActions = {kOfxActionPurgeCaches,
                                                kOfxActionSyncPrivateData,
                                                kOfxActionBeginInstanceEdit,
                                                kOfxActionEndInstanceEdit,
                                                kOfxImageEffectActionInvokeHelp,
                                                kOfxImageEffectActionInvokeAbout,
                                                kOfxImageEffectActionVegasKeyframeUplift};
const std::vector<std::string> suiteFunctions = {"fetchSuite",
                                                 "propGetInt",
                                                 "propGetDouble",
                                                 "propGetString",
                                                 "propGetPointer",
                                                 "propGetDimension",
                                                 "propSetInt",
                                                 "propSetDouble",
                                                 "propSetString",
                                                 "propSetPointer",
                                                 "getPropertySet",
                                                 "getParamSet",
                                                 "clipDefine",
                                                 "clipGetHandle",
                                                 "clipGetImage",
                                                 "clipReleaseImage",
                                                 "clipGetRegionOfDefinition",
                                                 "abort",
                                                 "paramDefine",
                                                 "paramGetHandle",
                                                 "paramSetGetPropertySet",
                                                 "paramGetPropertySet",
                                                 "paramGetValueAtTime",
                                                 "multiThread",
                                                 "multiThreadNumCPUs"};
const std::vector<OfxStatus> faultStatuses = {kOfxStatFailed,
                                              kOfxStatErrUnknown,
                                              kOfxStatErrBadHandle,
                                              kOfxStatErrMemory,
                                              kOfxStatErrValue,
                                              kOfxStatErrFatal,
                                              kOfxStatErrUnsupported,
                                              kOfxStatErrBadIndex,
                                              kOfxStatReplyDefault,
                                              kOfxStatReplyYes,
                                              kOfxStatErrImageFormat,
                                              -1,
                                              42};
const std::vector<std::string> descriptionProperties = {kOfxPropName,
                                                        kOfxImageEffectPropSupportedContexts,
                                                        kOfxImageEffectPropSupportedComponents,
                                                        kOfxImageEffectPropSupportedPixelDepths,
                                                        kOfxImageEffectPropSupportsOverlays,
                                                        kOfxParamHostPropSupportsCustomInteract,
                                                        kOfxImageEffectPropSupportsTiles,
                                                        kOfxParamHostPropPageRowColumnCount,
                                                        kOfxParamHostPropMaxParameters};
const std::vector<std::string> argumentProperties = {kOfxPropTime,
                                                     kOfxImageEffectPropRenderWindow,
                                                     kOfxImageEffectPropRenderScale,
                                                     kOfxImageEffectPropFieldToRender,
                                                     kOfxImageEffectPropRenderQuality,
                                                     kOfxImageEffectPropViewsToRender,
                                                     kOfxImageEffectPropRenderView,
                                                     kOfxImageEffectPropFrameRange,
                                                     kOfxImageEffectPropFrameStep,
                                                     kOfxPropIsInteractive,
                                                     kOfxImageEffectPropRegionOfInterest,
                                                     kOfxImageEffectPropRegionOfDefinition,
                                                     kOfxPropChangeReason,
                                                     kOfxPropType,
                                                     kOfxPropName,
                                                     kOfxImageEffectPropContext,
                                                     "OfxImageClipPropRoI_Source",
                                                     "OfxImageClipPropFrameRange_Source",
                                                     kOfxPropVegasUpliftKeyframeData};
const std::vector<std::string> imageProperties = {kOfxImagePropData,
                                                  kOfxImagePropRowBytes,
                                                  kOfxImagePropBounds,
                                                  kOfxImagePropRegionOfDefinition,
                                                  kOfxImageEffectPropPixelDepth,
                                                  kOfxImageEffectPropComponents,
                                                  kOfxImageEffectPropPreMultiplication,
                                                  kOfxImagePropField,
                                                  kOfxImagePropUniqueIdentifier,
                                                  kOfxImagePropPixelAspectRatio,
                                                  kOfxImageEffectPropRenderScale};

// Bytes per pixel of a layout at a depth, as the plug-in works it out from the strings; 0 for a
// string outside the tables.
int pixelBytesOf(const std::string& depth, const std::string& components) {
    const int bytes = depth == kOfxBitDepthByte    ? 1
                      : depth == kOfxBitDepthShort ? 2
                      : depth == kOfxBitDepthFloat ? 4
                                                   : 0;
    const int count = components == kOfxImageComponentRGBA    ? 4
                      : components == kOfxImageComponentAlpha ? 1
                                                              : 0;
    return bytes * count;
}

// Pixel memory the harness owns, and the layout the host claims for it. A claim never reaches
// past the memory, except by a row longer than the claimed row bytes, which the plug-in must
// refuse: honest claims stay inside the rows the memory has.
struct FuzzImage {
    static constexpr std::size_t guard = 64;

    std::vector<unsigned char> memory;
    /// What the test host serves (its data, bounds, row bytes, depth and layout are the claims).
    std::shared_ptr<Image> image;
    /// The memory is as wide as any pixel type, so that any depth and layout may be claimed.
    bool anyType = false;
};

std::shared_ptr<FuzzImage> makeImage(Bytes& in) {
    auto made = std::make_shared<FuzzImage>();
    const int width = in.between(0, 24);
    const int height = in.between(0, 24);
    const PixelDepth depth = std::vector<PixelDepth>{PixelDepth::Byte, PixelDepth::Short,
                                                     PixelDepth::Float}[in.below(3)];
    const PixelComponents components = in.flag() ? PixelComponents::Alpha : PixelComponents::RGBA;
    const std::uint8_t lies = in.byte();
    made->anyType = (lies & 1) != 0;
    const int pixelBytes =
        ZarvelHost::bytesPerComponent(depth) * ZarvelHost::componentCount(components);
    const int realPixelBytes = made->anyType ? 16 : pixelBytes;
    const int padding = (lies & 2) != 0 ? in.between(1, 40) : 0;
    const int stride = width * realPixelBytes + padding;
    made->memory.assign(2 * FuzzImage::guard + std::size_t(height) * std::size_t(stride), 0xA5);
    unsigned char* first = made->memory.data() + FuzzImage::guard;

    // Pixels: zero, an opaque block, or bytes of the input itself (NaN and infinite floats too).
    const unsigned fill = in.below(3);
    for (int row = 0; row < height; ++row) {
        unsigned char* pixels = first + std::size_t(row) * std::size_t(stride);
        const std::size_t rowLength = std::size_t(width) * std::size_t(realPixelBytes);
        if (fill == 0) {
            std::memset(pixels, 0, rowLength);
        } else if (fill == 1) {
            const bool inside = row >= height / 4 && row < (3 * height) / 4;
            std::memset(pixels, 0, rowLength);
            if (inside && width > 0) {
                std::memset(pixels + rowLength / 4, 0xFF, rowLength / 2);
            }
        } else {
            for (std::size_t at = 0; at < rowLength; ++at) {
                pixels[at] = in.byte();
            }
        }
    }

    // The claims.
    int rows = height;
    int columns = width;
    int rowBytes = stride;
    if ((lies & 4) != 0) {
        rowBytes = in.between(0, stride);  // shorter than a row: to be refused
    }
    if ((lies & 8) != 0) {
        switch (in.below(4)) {
        case 0:
            rows = in.between(0, height);
            break;
        case 1:
            columns = in.between(0, 2 * width + 2);
            break;
        case 2:
            columns = 1 << in.between(10, 30);  // longer than any row: to be refused
            break;
        default:
            rows = 0;
            break;
        }
    }
    const int x1 = in.between(-32, 32);
    const int y1 = in.between(-32, 32);
    OfxRectI bounds{x1, y1, x1 + columns, y1 + rows};
    if ((lies & 16) != 0) {
        std::swap(bounds.x1, bounds.x2);  // inverted: no pixels
    }
    unsigned char* data = first;
    if ((lies & 32) != 0 && rows > 0) {
        // Rows go downwards in memory.
        data = first + std::size_t(rows - 1) * std::size_t(rowBytes);
        rowBytes = -rowBytes;
    }
    made->image = std::make_shared<Image>(Image::wrap(data, bounds, depth, components, rowBytes));
    return made;
}

// A one-shot change to an action's argument sets.
struct ArgumentChange {
    bool outArgs = false;
    std::string property;
    unsigned kind = 0;
    std::string text;
    double number = 0.0;
    int integer = 0;
};

// One instance the host made, with the images it serves.
struct Instance {
    std::unique_ptr<ZarvelHost::Effect> effect;
    void* instanceData = nullptr;
    std::shared_ptr<FuzzImage> source;
    std::shared_ptr<FuzzImage> output;
};

class Harness {
public:
    Harness(const std::uint8_t* data, std::size_t size)
        : in_(data, size) {}

    std::string run();

private:
    enum Op {
        opLoad,
        opUnload,
        opDescribe,
        opDescribeInContext,
        opCreateInstance,
        opDestroyInstance,
        opSourceImage,
        opOutputImage,
        opParameters,
        opRender,
        opRenderFrame,
        opRegionOfDefinition,
        opRegionsOfInterest,
        opIsIdentity,
        opSequenceRender,
        opInstanceChanged,
        opBeginEndChanged,
        opClipPreferences,
        opTimeDomain,
        opFramesNeeded,
        opSimpleAction,
        opRawAction,
        opClipProperties,
        opImageProperties,
        opInstanceProperties,
        opArguments,
        opHostSettings,
        opCount
    };

    void setUpHost();
    void addFault();
    void step(Op op);
    void finish();

    Instance* pickInstance() {
        return instances_.empty() ? nullptr : &instances_[in_.below(instances_.size())];
    }
    ZarvelHost::RenderOptions renderOptions();
    OfxRectI rectangle();
    OfxPointD scale();

    void checkStatus(const std::string& action, OfxStatus status);
    void checkAfterAction(const std::string& action);
    void renderChecked(Instance& instance, const std::function<void()>& render);
    void checkOutput(const Instance& instance, const std::vector<unsigned char>& before,
                     const OfxRectI& window);
    void fail(const std::string& problem) {
        if (problem_.empty()) {
            problem_ = problem;
        }
    }
    std::size_t failedReleases() const;

    Bytes in_;
    std::unique_ptr<ZarvelHost::Host> host_;
    std::unique_ptr<ZarvelHost::Plugin> plugin_;
    std::vector<Instance> instances_;
    bool described_ = false;
    int loads_ = 0;  // loads not yet matched by an unload, as the host counts them
    std::optional<ArgumentChange> change_;
    OfxRectI lastWindow_{0, 0, 0, 0};
    std::string problem_;
};

void Harness::setUpHost() {
    ZarvelHost::Host& host = *host_;
    host.setSerialThreads(true);
    host.setCpuCount(std::vector<unsigned>{1, 2, 3, 4, 0, 7, 64, 4294967295u}[in_.below(8)]);
    const std::uint8_t settings = in_.byte();
    if ((settings & 1) != 0) {
        const ZarvelHost::SuiteId& suite = in_.pick(ZarvelHost::Host::knownSuites());
        host.setSuiteEnabled(suite.name, suite.version, false);
    }
    if ((settings & 2) != 0) {
        const std::string& name = in_.pick(descriptionProperties);
        switch (in_.below(4)) {
        case 0:
            host.properties().remove(name);
            break;
        case 1:
            host.properties().setStrings(name,
                                         {in_.text(contextStrings), in_.text(componentStrings)});
            break;
        case 2:
            host.properties().setInt(name, in_.between(-2, 2));
            break;
        default:
            host.properties().setDouble(name, in_.number());
            break;
        }
    }
    const unsigned faults = (settings >> 2) & 3;
    for (unsigned index = 0; index < faults; ++index) {
        addFault();
    }
}

void Harness::addFault() {
    const OfxStatus status = in_.pick(faultStatuses);
    if (in_.flag()) {
        host_->calls().failCallAtIndex(in_.u16() % 1024, status);
    } else {
        const std::string& function = in_.pick(suiteFunctions);
        host_->calls().failNthCall(function, 1 + in_.below(8), status);
    }
}

OfxRectI Harness::rectangle() {
    if (in_.below(8) == 0) {
        const std::vector<int> extremes = {INT_MIN, INT_MIN + 1, -1, 0, INT_MAX - 1, INT_MAX};
        return {in_.pick(extremes), in_.pick(extremes), in_.pick(extremes), in_.pick(extremes)};
    }
    const int x1 = in_.between(-40, 40);
    const int y1 = in_.between(-40, 40);
    return {x1, y1, x1 + in_.between(-4, 40), y1 + in_.between(-4, 40)};
}

OfxPointD Harness::scale() {
    if (in_.below(4) != 0) {
        return {1.0, 1.0};
    }
    return {in_.number(), in_.number()};
}

ZarvelHost::RenderOptions Harness::renderOptions() {
    ZarvelHost::RenderOptions options;
    const std::uint8_t choices = in_.byte();
    options.time = (choices & 1) != 0 ? in_.number() : 0.0;
    options.window = rectangle();
    if ((choices & 2) != 0) {
        options.renderScale = scale();
    }
    if ((choices & 4) != 0) {
        options.field = in_.text(fieldStrings);
    }
    if ((choices & 8) != 0) {
        options.quality = in_.text(renderQualities);
    }
    if ((choices & 16) != 0) {
        options.viewsToRender = in_.between(-2, 4);
        options.renderView = in_.between(-2, 4);
    }
    return options;
}

std::size_t Harness::failedReleases() const {
    std::size_t count = 0;
    for (const ZarvelHost::CallRecord& fired : host_->calls().firedFaults()) {
        count += fired.function == "clipReleaseImage" ? 1 : 0;
    }
    return count;
}

void Harness::checkStatus(const std::string& action, OfxStatus status) {
    const bool named = (status >= kOfxStatOK && status <= kOfxStatReplyDefault) ||
                       status == kOfxStatErrImageFormat;
    if (!named) {
        fail(action + " returned the status " + std::to_string(status));
    }
    if (action == kOfxActionLoad && ZarvelHost::isSuccess(status)) {
        ++loads_;
    } else if (action == kOfxActionUnload && loads_ > 0) {
        --loads_;
    }
}

void Harness::checkAfterAction(const std::string& action) {
    const std::size_t outstanding = host_->imagesOutstanding();
    if (outstanding != failedReleases()) {
        fail(action + " left " + std::to_string(outstanding) + " images outstanding");
    }
    if (host_->badImageReleases() != 0) {
        fail(action + " released an image twice or one it never had");
    }
}

// The bytes a render of `window` may write into the output as the host described it: the
// window's pixels within the claimed bounds, at the claimed address, row bytes and pixel size.
void Harness::checkOutput(const Instance& instance, const std::vector<unsigned char>& before,
                          const OfxRectI& window) {
    const FuzzImage& output = *instance.output;
    std::vector<bool> writable(output.memory.size(), false);
    ZarvelHost::Clip& clip = instance.effect->clip("Output");
    ZarvelHost::HostPropertySet& claims = clip.imageOverrides();
    const Image& image = *output.image;
    auto claimed = [&](const char* name, const std::string& honest) {
        return claims.has(name) && claims.type(name) == ZarvelHost::PropertyType::String
                   ? claims.getString(name)
                   : honest;
    };
    const int pixelBytes = pixelBytesOf(
        claimed(kOfxImageEffectPropPixelDepth, ZarvelHost::depthString(image.depth())),
        claimed(kOfxImageEffectPropComponents, ZarvelHost::componentsString(image.components())));
    const bool dataClaimed = claims.has(kOfxImagePropData);
    const OfxRectI& bounds = image.bounds();
    if (!dataClaimed && pixelBytes > 0) {
        const int x1 = std::max(window.x1, bounds.x1);
        const int x2 = std::min(window.x2, bounds.x2);
        const int y1 = std::max(window.y1, bounds.y1);
        const int y2 = std::min(window.y2, bounds.y2);
        const auto base = static_cast<const unsigned char*>(image.data());
        for (int y = y1; y < y2 && x1 < x2; ++y) {
            const std::ptrdiff_t start =
                (base - output.memory.data()) +
                std::ptrdiff_t(std::int64_t(y) - bounds.y1) * image.rowBytes() +
                std::ptrdiff_t(std::int64_t(x1) - bounds.x1) * pixelBytes;
            const std::ptrdiff_t length = std::ptrdiff_t(std::int64_t(x2) - x1) * pixelBytes;
            for (std::ptrdiff_t at = std::max<std::ptrdiff_t>(start, 0);
                 at < start + length && at < std::ptrdiff_t(writable.size()); ++at) {
                writable[std::size_t(at)] = true;
            }
        }
    }
    for (std::size_t at = 0; at < output.memory.size(); ++at) {
        if (output.memory[at] != before[at] && !writable[at]) {
            fail("a render wrote byte " + std::to_string(at) +
                 " of its output, outside the window");
            return;
        }
    }
}

void Harness::renderChecked(Instance& instance, const std::function<void()>& render) {
    std::vector<unsigned char> source;
    std::vector<unsigned char> output;
    if (instance.source) {
        source = instance.source->memory;
    }
    if (instance.output) {
        output = instance.output->memory;
    }
    render();
    if (instance.source && instance.source->memory != source) {
        fail("a render wrote into its source");
    }
    if (instance.output) {
        checkOutput(instance, output, lastWindow_);
    }
}

void Harness::step(Op op) {
    ZarvelHost::Plugin& plugin = *plugin_;
    auto record = [&](const ZarvelHost::ActionCall& call) {
        checkStatus(call.action, call.status);
    };
    switch (op) {
    case opLoad:
        checkStatus(kOfxActionLoad, plugin.load());
        break;
    case opUnload:
        checkStatus(kOfxActionUnload, plugin.unload());
        break;
    case opDescribe:
        checkStatus(kOfxActionDescribe, plugin.describe());
        described_ = true;
        break;
    case opDescribeInContext:
        if (described_) {
            record(plugin.describeInContext(in_.text(contextStrings)));
        }
        break;
    case opCreateInstance: {
        const std::string context = in_.text(contextStrings);
        if (instances_.size() < 3 && plugin.contextDescriptor(context)) {
            ZarvelHost::Plugin::Created created = plugin.createInstance(context);
            checkStatus(kOfxActionCreateInstance, created.status);
            if (created.instance) {
                Instance instance;
                instance.instanceData = created.instance->instanceData();
                instance.effect = std::move(created.instance);
                if (ZarvelHost::HostParam* width = instance.effect->params().find("outlineWidth")) {
                    // Wide enough to show on the small images here.
                    width->setValue({150.0});
                }
                instances_.push_back(std::move(instance));
            }
        }
        break;
    }
    case opDestroyInstance:
        if (!instances_.empty()) {
            const std::size_t index = in_.below(instances_.size());
            checkStatus(kOfxActionDestroyInstance,
                        plugin.destroyInstance(std::move(instances_[index].effect)));
            instances_.erase(instances_.begin() + std::ptrdiff_t(index));
        }
        break;
    case opSourceImage:
    case opOutputImage:
        if (Instance* instance = pickInstance()) {
            const char* name = op == opSourceImage ? "Source" : "Output";
            std::shared_ptr<FuzzImage> image = makeImage(in_);
            ZarvelHost::Clip& clip = instance->effect->clip(name);
            clip.setImage(image->image);
            if (image->anyType && in_.flag()) {
                // Depth and layout strings outside the six types, on the image or the clip.
                ZarvelHost::HostPropertySet& target =
                    in_.flag() ? clip.imageOverrides() : clip.properties();
                target.setString(kOfxImageEffectPropPixelDepth, in_.text(depthStrings));
                target.setString(kOfxImageEffectPropComponents, in_.text(componentStrings));
            } else {
                clip.imageOverrides().remove(kOfxImageEffectPropPixelDepth);
                clip.imageOverrides().remove(kOfxImageEffectPropComponents);
            }
            (op == opSourceImage ? instance->source : instance->output) = std::move(image);
        }
        break;
    case opParameters:
        if (Instance* instance = pickInstance()) {
            ZarvelHost::Effect& effect = *instance->effect;
            const unsigned which = in_.below(3);
            const char* names[] = {"outlineWidth", "outlineColor", "quality"};
            ZarvelHost::HostParam* found = effect.params().find(names[which]);
            if (!found) {
                break;
            }
            ZarvelHost::HostParam& param = *found;
            std::vector<double> value(which == 1 ? 4 : 1);
            for (double& component : value) {
                component = in_.number();
            }
            if (in_.flag()) {
                param.setValueAtTime(in_.finite(), value);
            } else {
                param.setValue(value);
            }
        }
        break;
    case opRender:
        if (Instance* instance = pickInstance()) {
            const ZarvelHost::RenderOptions options = renderOptions();
            lastWindow_ = options.window;
            renderChecked(*instance, [&] { record(plugin.render(*instance->effect, options)); });
        }
        break;
    case opRenderFrame:
        if (Instance* instance = pickInstance()) {
            const ZarvelHost::RenderOptions options = renderOptions();
            lastWindow_ = options.window;
            ZarvelHost::Effect& effect = *instance->effect;
            renderChecked(*instance, [&] {
                record(plugin.getRegionOfDefinition(effect, options.time, options.renderScale));
                record(plugin.getRegionsOfInterest(
                    effect, options.time,
                    {double(options.window.x1), double(options.window.y1),
                     double(options.window.x2), double(options.window.y2)},
                    options.renderScale));
                record(plugin.isIdentity(effect, options));
                ZarvelHost::SequenceOptions sequence;
                sequence.frameRange = {options.time, options.time};
                sequence.renderScale = options.renderScale;
                record(plugin.beginSequenceRender(effect, sequence));
                record(plugin.render(effect, options));
                record(plugin.endSequenceRender(effect, sequence));
            });
        }
        break;
    case opRegionOfDefinition:
        if (Instance* instance = pickInstance()) {
            const double time = in_.number();
            record(plugin.getRegionOfDefinition(*instance->effect, time, scale()));
        }
        break;
    case opRegionsOfInterest:
        if (Instance* instance = pickInstance()) {
            const double time = in_.number();
            const OfxRectD region{in_.number(), in_.number(), in_.number(), in_.number()};
            record(plugin.getRegionsOfInterest(*instance->effect, time, region, scale()));
        }
        break;
    case opIsIdentity:
        if (Instance* instance = pickInstance()) {
            record(plugin.isIdentity(*instance->effect, renderOptions()));
        }
        break;
    case opSequenceRender:
        if (Instance* instance = pickInstance()) {
            ZarvelHost::SequenceOptions sequence;
            sequence.frameRange = {in_.number(), in_.number()};
            sequence.frameStep = in_.number();
            sequence.interactive = in_.flag();
            sequence.renderScale = scale();
            record(in_.flag() ? plugin.beginSequenceRender(*instance->effect, sequence)
                              : plugin.endSequenceRender(*instance->effect, sequence));
        }
        break;
    case opInstanceChanged:
        if (Instance* instance = pickInstance()) {
            const std::string type = in_.text(typeStrings);
            const std::string name = in_.text(objectNames);
            const std::string reason = in_.text(reasonStrings);
            const double time = in_.number();
            record(plugin.instanceChanged(*instance->effect, type, name, reason, time, scale()));
        }
        break;
    case opBeginEndChanged:
        if (Instance* instance = pickInstance()) {
            const std::string reason = in_.text(reasonStrings);
            record(in_.flag() ? plugin.beginInstanceChanged(*instance->effect, reason)
                              : plugin.endInstanceChanged(*instance->effect, reason));
        }
        break;
    case opClipPreferences:
        if (Instance* instance = pickInstance()) {
            record(plugin.getClipPreferences(*instance->effect));
        }
        break;
    case opTimeDomain:
        if (Instance* instance = pickInstance()) {
            record(plugin.getTimeDomain(*instance->effect));
        }
        break;
    case opFramesNeeded:
        if (Instance* instance = pickInstance()) {
            record(plugin.getFramesNeeded(*instance->effect, in_.number()));
        }
        break;
    case opSimpleAction:
        if (Instance* instance = pickInstance()) {
            record(plugin.simpleAction(*instance->effect, in_.pick(simpleActions)));
        }
        break;
    case opRawAction: {
        // Any action, with handles a host has no business passing.
        const std::string action = in_.text(actionNames);
        static int stranger = 0;
        const void* handle = nullptr;
        const Instance* instance = pickInstance();
        switch (in_.below(4)) {
        case 0:
            break;
        case 1:
            handle = instance ? instance->effect->handle() : nullptr;
            break;
        case 2:
            handle = described_ ? plugin.descriptor().handle() : nullptr;
            break;
        default:
            handle = &stranger;
            break;
        }
        ZarvelHost::ActionCall call =
            plugin.prepare(action, instance ? instance->effect.get() : nullptr);
        ZarvelHost::HostPropertySet empty(*host_, "empty");
        OfxPropertySetHandle inArgs = call.inArgs ? call.inArgs->handle() : nullptr;
        OfxPropertySetHandle outArgs = call.outArgs ? call.outArgs->handle() : nullptr;
        switch (in_.below(4)) {
        case 0:
            inArgs = nullptr;
            break;
        case 1:
            outArgs = empty.handle();
            break;
        case 2:
            inArgs = empty.handle();
            break;
        default:
            break;
        }
        checkStatus(action, plugin.callMainEntry(action.c_str(), handle, inArgs, outArgs));
        break;
    }
    case opClipProperties:
        if (Instance* instance = pickInstance()) {
            ZarvelHost::Clip* clip = instance->effect->findClip(in_.flag() ? "Source" : "Output");
            if (!clip) {
                break;
            }
            switch (in_.below(5)) {
            case 0:
                clip->properties().setString(kOfxImageEffectPropPixelDepth, in_.text(depthStrings));
                break;
            case 1:
                clip->properties().setString(kOfxImageEffectPropComponents,
                                             in_.text(componentStrings));
                break;
            case 2:
                clip->setConnected(in_.flag());
                break;
            case 3: {
                // Small regions, or ones no frame has (their rounding meets the int limits).
                const double far = in_.flag() ? 1e12 : 1.0;
                clip->setRegionOfDefinition({in_.between(-40, 40) * far, in_.between(-40, 40) * far,
                                             in_.between(-40, 40) * far,
                                             in_.between(-40, 40) * far});
                break;
            }
            default:
                clip->clearRegionOfDefinition();
                break;
            }
        }
        break;
    case opImageProperties:
        if (Instance* instance = pickInstance()) {
            ZarvelHost::Clip* clip = instance->effect->findClip(in_.flag() ? "Source" : "Output");
            if (!clip) {
                break;
            }
            ZarvelHost::HostPropertySet& claims = clip->imageOverrides();
            switch (in_.below(9)) {
            case 0:
                claims.definePointer(kOfxImagePropData, {nullptr});
                break;
            case 1:
                claims.setString(kOfxImageEffectPropPreMultiplication,
                                 in_.text(premultiplicationStrings));
                break;
            case 2:
                claims.setString(kOfxImagePropField, in_.text(fieldStrings));
                break;
            case 3:
                claims.setString(kOfxImagePropUniqueIdentifier, in_.text({"frame"}));
                break;
            case 4:
                claims.setDouble(kOfxImagePropPixelAspectRatio, in_.number());
                break;
            case 5:
                claims.setDoubles(kOfxImageEffectPropRenderScale, {in_.number(), in_.number()});
                break;
            case 6: {
                // Regions of definition: small, infinite, or larger than any frame.
                const std::vector<int> sides = {INT_MIN, -(1 << 30), -8, 0, 8, 1 << 30, INT_MAX};
                claims.setInts(kOfxImagePropRegionOfDefinition, {in_.pick(sides), in_.pick(sides),
                                                                 in_.pick(sides), in_.pick(sides)});
                break;
            }
            case 7:
                clip->removeImageProperty(in_.pick(imageProperties));
                break;
            default:
                claims.remove(in_.pick(imageProperties));
                break;
            }
        }
        break;
    case opInstanceProperties:
        if (Instance* instance = pickInstance()) {
            ZarvelHost::HostPropertySet& props = instance->effect->properties();
            static int stranger = 0;
            switch (in_.below(5)) {
            case 0:
                props.setPointer(kOfxPropInstanceData, nullptr);
                break;
            case 1:
                props.setPointer(kOfxPropInstanceData, &stranger);
                break;
            case 2:
                props.setPointer(kOfxPropInstanceData, pickInstance()->instanceData);
                break;
            case 3:
                props.setString(kOfxImageEffectPropContext, in_.text(contextStrings));
                break;
            default:
                props.setPointer(kOfxPropInstanceData, instance->instanceData);
                break;
            }
        }
        break;
    case opArguments: {
        ArgumentChange change;
        change.outArgs = in_.flag();
        change.property = in_.pick(argumentProperties);
        change.kind = in_.below(5);
        change.text = in_.text(fieldStrings);
        change.number = in_.number();
        change.integer = in_.between(-3, 3);
        change_ = change;
        break;
    }
    case opHostSettings:
        switch (in_.below(6)) {
        case 0:
            host_->setCpuCount(
                std::vector<unsigned>{1, 2, 3, 0, 9, 100, 4294967295u}[in_.below(7)]);
            break;
        case 1:
            host_->setAbort(in_.flag());
            break;
        case 2:
            host_->setAbortAfter(in_.below(40));
            break;
        case 3: {
            const ZarvelHost::SuiteId& suite = in_.pick(ZarvelHost::Host::knownSuites());
            host_->setSuiteEnabled(suite.name, suite.version, in_.flag());
            break;
        }
        case 4:
            addFault();
            break;
        default:
            host_->calls().clearFaults();
            break;
        }
        break;
    case opCount:
        break;
    }
}

void Harness::finish() {
    // A careful host's end: faults and aborts over, every instance destroyed, every load unloaded.
    host_->calls().clearFaults();
    host_->clearAbort();
    plugin_->setArgumentsHook(nullptr);
    while (!instances_.empty()) {
        checkStatus(kOfxActionDestroyInstance,
                    plugin_->destroyInstance(std::move(instances_.back().effect)));
        instances_.pop_back();
    }
    while (loads_ > 0) {
        checkStatus(kOfxActionUnload, plugin_->unload());
    }
    checkAfterAction("the end");
    const std::string state = zarvel::reliability::frameStateProblems();
    if (!state.empty()) {
        fail("the plug-in kept: " + state);
    }
}

std::string Harness::run() {
    // The description is read on the first load of a process only; forgetting it makes every
    // input a session of a new process.
    zarvel::reliability::forgetHostDescription();
    host_ = std::make_unique<ZarvelHost::Host>();
    setUpHost();
    static ZarvelHost::PluginLibrary library(&OfxGetNumberOfPlugins, &OfxGetPlugin);
    plugin_ = std::make_unique<ZarvelHost::Plugin>(*host_, library);
    for (int steps = 0; steps < 48 && !in_.done() && problem_.empty(); ++steps) {
        const Op op = Op(in_.below(opCount));
        if (change_) {
            const ArgumentChange change = *change_;
            change_.reset();
            plugin_->setArgumentsHook([change](const std::string&,
                                               ZarvelHost::HostPropertySet* inArgs,
                                               ZarvelHost::HostPropertySet* outArgs) {
                ZarvelHost::HostPropertySet* target = change.outArgs ? outArgs : inArgs;
                if (!target) {
                    return;
                }
                switch (change.kind) {
                case 0:
                    target->remove(change.property);
                    break;
                case 1:
                    target->setString(change.property, change.text);
                    break;
                case 2:
                    target->setDouble(change.property, change.number);
                    break;
                case 3:
                    target->setInt(change.property, change.integer);
                    break;
                default:
                    target->setInts(change.property, {});
                    break;
                }
            });
        }
        try {
            step(op);
        } catch (const std::exception&) {
            // The driver refused something the script asked of it (a clip the instance lacks, a
            // context never described); no plug-in call was made, or its status is recorded.
        }
        plugin_->setArgumentsHook(nullptr);
        checkAfterAction("step " + std::to_string(steps));
    }
    try {
        finish();
    } catch (const std::exception& failure) {
        fail(std::string("the host's own end failed: ") + failure.what());
    }
    plugin_.reset();
    host_.reset();
    return problem_;
}

}  // namespace

std::string runHostFromBytes(const std::uint8_t* data, std::size_t size) {
    return Harness(data, size).run();
}

}  // namespace zarvel::fuzz
