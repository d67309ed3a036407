#include "host/Plugin.h"

#include <cstring>
#include <stdexcept>
#include <utility>

#include "host/Names.h"
#include "host/SharedLibrary.h"

namespace ZarvelHost {

namespace {

// The standard's name of the output clip; every other clip is an input.
constexpr const char* kOutputClip = "Output";

std::vector<Clip*> inputClips(const Effect* instance) {
    std::vector<Clip*> inputs;
    if (instance) {
        for (Clip* clip : instance->clips()) {
            if (clip->name() != kOutputClip) {
                inputs.push_back(clip);
            }
        }
    }
    return inputs;
}

std::string stringOr(const HostPropertySet& props, const char* name, const char* fallback) {
    try {
        return props.getString(name);
    } catch (const std::exception&) {
        return fallback;
    }
}

double doubleOr(const HostPropertySet& props, const char* name, double fallback) {
    try {
        return props.getDouble(name);
    } catch (const std::exception&) {
        return fallback;
    }
}

}  // namespace

bool isSuccess(OfxStatus status) {
    return status == kOfxStatOK || status == kOfxStatReplyDefault;
}

// ---------------------------------------------------------------------------------------------
// PluginLibrary
// ---------------------------------------------------------------------------------------------

std::unique_ptr<PluginLibrary> PluginLibrary::open(const std::string& path) {
    std::unique_ptr<PluginLibrary> library(new PluginLibrary());
    library->path_ = path;
    library->library_ = std::make_unique<SharedLibrary>(path);
    const SharedLibrary::Function count = library->library_->function("OfxGetNumberOfPlugins");
    const SharedLibrary::Function get = library->library_->function("OfxGetPlugin");
    if (!count || !get) {
        throw std::runtime_error("plug-in library '" + path + "' does not export " +
                                 (!count ? "OfxGetNumberOfPlugins" : "OfxGetPlugin"));
    }
    library->count_ = reinterpret_cast<CountFunction>(count);
    library->get_ = reinterpret_cast<GetFunction>(get);
    return library;
}

PluginLibrary::PluginLibrary(CountFunction count, GetFunction get)
    : count_(count)
    , get_(get) {
    if (!count_ || !get_) {
        throw std::invalid_argument("PluginLibrary needs both entry functions");
    }
}

PluginLibrary::~PluginLibrary() = default;

int PluginLibrary::pluginCount() const {
    return count_();
}

OfxPlugin* PluginLibrary::plugin(int index) const {
    return get_(index);
}

// ---------------------------------------------------------------------------------------------
// ActionCall
// ---------------------------------------------------------------------------------------------

OfxRectD ActionCall::regionOfDefinition() const {
    if (!outArgs) {
        throw std::logic_error(action + " has no outArgs");
    }
    return outArgs->getRectD(kOfxImageEffectPropRegionOfDefinition);
}

OfxRectD ActionCall::regionOfInterest(const std::string& clip) const {
    if (!outArgs) {
        throw std::logic_error(action + " has no outArgs");
    }
    return outArgs->getRectD(kOfxImageClipPropRoIPrefix + clip);
}

std::vector<double> ActionCall::framesNeeded(const std::string& clip) const {
    if (!outArgs) {
        throw std::logic_error(action + " has no outArgs");
    }
    return outArgs->getDoubles(kOfxImageClipPropFrameRangePrefix + clip);
}

// ---------------------------------------------------------------------------------------------
// Plugin
// ---------------------------------------------------------------------------------------------

Plugin::Plugin(Host& host, PluginLibrary& library, int index)
    : host_(host) {
    const int count = library.pluginCount();
    if (index < 0 || index >= count) {
        throw std::runtime_error("plug-in index " + std::to_string(index) + " is out of range (" +
                                 std::to_string(count) + " plug-ins)");
    }
    record_ = library.plugin(index);
    if (!record_) {
        throw std::runtime_error("OfxGetPlugin(" + std::to_string(index) + ") returned null");
    }
    if (!record_->pluginApi || std::strcmp(record_->pluginApi, kOfxImageEffectPluginApi) != 0) {
        throw std::runtime_error(std::string("plug-in API is '") +
                                 (record_->pluginApi ? record_->pluginApi : "(null)") +
                                 "', not '" kOfxImageEffectPluginApi "'");
    }
    if (!record_->mainEntry || !record_->setHost) {
        throw std::runtime_error("plug-in record lacks its main entry or set-host function");
    }
    record_->setHost(host_.ofxHost());
}

Plugin::~Plugin() = default;

ActionCall Plugin::prepare(const std::string& action, const Effect* instance) const {
    ActionCall call;
    call.action = action;
    const Access ro = Access::ReadOnly;
    auto in = [&]() -> HostPropertySet& {
        if (!call.inArgs) {
            call.inArgs = std::make_unique<HostPropertySet>(host_, "inArgs:" + action);
        }
        return *call.inArgs;
    };
    auto out = [&]() -> HostPropertySet& {
        if (!call.outArgs) {
            call.outArgs = std::make_unique<HostPropertySet>(host_, "outArgs:" + action);
        }
        return *call.outArgs;
    };

    if (action == kOfxImageEffectActionDescribeInContext) {
        in().defineString(kOfxImageEffectPropContext, {kOfxImageEffectContextFilter}, ro);
    } else if (action == kOfxImageEffectActionRender || action == kOfxImageEffectActionIsIdentity) {
        in().defineDouble(kOfxPropTime, {0.0}, ro);
        in().defineString(kOfxImageEffectPropFieldToRender, {kOfxImageFieldNone}, ro);
        in().defineInt(kOfxImageEffectPropRenderWindow, {0, 0, 0, 0}, ro);
        in().defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0}, ro);
        if (action == kOfxImageEffectActionRender) {
            in().defineInt(Names::sequentialRenderStatus, {0}, ro);
            in().defineInt(Names::interactiveRenderStatus, {0}, ro);
        } else {
            out().defineString(kOfxPropName, {""});
            out().defineDouble(kOfxPropTime, {0.0});
        }
    } else if (action == kOfxImageEffectActionGetRegionOfDefinition) {
        in().defineDouble(kOfxPropTime, {0.0}, ro);
        in().defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0}, ro);
        out().defineDouble(kOfxImageEffectPropRegionOfDefinition, {0.0, 0.0, 0.0, 0.0});
    } else if (action == kOfxImageEffectActionGetRegionsOfInterest) {
        in().defineDouble(kOfxPropTime, {0.0}, ro);
        in().defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0}, ro);
        in().defineDouble(kOfxImageEffectPropRegionOfInterest, {0.0, 0.0, 0.0, 0.0}, ro);
        for (Clip* clip : inputClips(instance)) {
            out().defineDouble(kOfxImageClipPropRoIPrefix + clip->name(), {0.0, 0.0, 0.0, 0.0});
        }
    } else if (action == kOfxImageEffectActionGetFramesNeeded) {
        in().defineDouble(kOfxPropTime, {0.0}, ro);
        for (Clip* clip : inputClips(instance)) {
            out().defineDouble(kOfxImageClipPropFrameRangePrefix + clip->name(), {0.0, 0.0},
                               Access::ReadWrite, Dimension::Variable);
        }
    } else if (action == kOfxImageEffectActionGetClipPreferences) {
        if (instance) {
            for (Clip* clip : instance->clips()) {
                const HostPropertySet& props = clip->properties();
                out().defineString(
                    kOfxImageClipPropComponentsPrefix + clip->name(),
                    {stringOr(props, kOfxImageEffectPropComponents, kOfxImageComponentNone)});
                out().defineString(
                    kOfxImageClipPropDepthPrefix + clip->name(),
                    {stringOr(props, kOfxImageEffectPropPixelDepth, kOfxBitDepthNone)});
                out().defineDouble(kOfxImageClipPropPARPrefix + clip->name(),
                                   {doubleOr(props, kOfxImagePropPixelAspectRatio, 1.0)});
            }
        }
        out().defineDouble(Names::frameRate, {24.0});
        out().defineString(Names::clipFieldOrder, {kOfxImageFieldNone});
        out().defineString(kOfxImageEffectPropPreMultiplication, {kOfxImagePreMultiplied});
        out().defineInt(Names::continuousSamples, {0});
        out().defineInt(Names::frameVarying, {0});
    } else if (action == kOfxImageEffectActionBeginSequenceRender ||
               action == kOfxImageEffectActionEndSequenceRender) {
        in().defineDouble(kOfxImageEffectPropFrameRange, {0.0, 0.0}, ro);
        in().defineDouble(kOfxImageEffectPropFrameStep, {1.0}, ro);
        in().defineInt(kOfxPropIsInteractive, {0}, ro);
        in().defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0}, ro);
        in().defineInt(Names::sequentialRenderStatus, {0}, ro);
        in().defineInt(Names::interactiveRenderStatus, {0}, ro);
    } else if (action == kOfxActionInstanceChanged) {
        in().defineString(kOfxPropType, {kOfxTypeParameter}, ro);
        in().defineString(kOfxPropName, {""}, ro);
        in().defineString(kOfxPropChangeReason, {kOfxChangeUserEdited}, ro);
        in().defineDouble(kOfxPropTime, {0.0}, ro);
        in().defineDouble(kOfxImageEffectPropRenderScale, {1.0, 1.0}, ro);
    } else if (action == kOfxActionBeginInstanceChanged || action == kOfxActionEndInstanceChanged) {
        in().defineString(kOfxPropChangeReason, {kOfxChangeUserEdited}, ro);
    } else if (action == kOfxImageEffectActionGetTimeDomain) {
        out().defineDouble(kOfxImageEffectPropFrameRange, {0.0, 0.0});
    } else if (action == kOfxImageEffectActionVegasKeyframeUplift) {
        in().definePointer(kOfxPropVegasUpliftKeyframeData, {}, ro, Dimension::Variable);
        in().defineString(kOfxImageEffectPropVegasUpliftGUID, {""}, ro);
        in().definePointer(kOfxPropVegasUpliftData, {nullptr}, ro);
        in().defineInt(kOfxPropVegasUpliftDataLength, {0}, ro);
    }
    return call;
}

OfxStatus Plugin::run(ActionCall& call, const void* handle) const {
    if (hook_) {
        hook_(call.action, call.inArgs.get(), call.outArgs.get());
    }
    call.status =
        callMainEntry(call.action.c_str(), handle, call.inArgs ? call.inArgs->handle() : nullptr,
                      call.outArgs ? call.outArgs->handle() : nullptr);
    return call.status;
}

OfxStatus Plugin::callMainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                                OfxPropertySetHandle outArgs) const {
    return record_->mainEntry(action, handle, inArgs, outArgs);
}

// -- Lifecycle -----------------------------------------------------------------------------------

OfxStatus Plugin::load() {
    ActionCall call = prepare(kOfxActionLoad, nullptr);
    return run(call, nullptr);
}

OfxStatus Plugin::unload() {
    ActionCall call = prepare(kOfxActionUnload, nullptr);
    return run(call, nullptr);
}

OfxStatus Plugin::describe() {
    contextDescriptors_.clear();
    descriptor_ = Effect::makeDescriptor(host_);
    ActionCall call = prepare(kOfxActionDescribe, nullptr);
    return run(call, descriptor_->handle());
}

ActionCall Plugin::describeInContext(const std::string& context) {
    if (!descriptor_) {
        throw std::logic_error("describeInContext(" + context + ") before describe()");
    }
    auto contextDescriptor = Effect::makeContextDescriptor(host_, *descriptor_, context);
    ActionCall call = prepare(kOfxImageEffectActionDescribeInContext, nullptr);
    call.inArgs->setString(kOfxImageEffectPropContext, context);
    run(call, contextDescriptor->handle());
    contextDescriptors_[context] = std::move(contextDescriptor);
    return call;
}

OfxStatus Plugin::loadAndDescribe(const std::string& context) {
    OfxStatus status = load();
    if (!isSuccess(status)) {
        return status;
    }
    status = describe();
    if (!isSuccess(status)) {
        return status;
    }
    status = describeInContext(context).status;
    return isSuccess(status) ? kOfxStatOK : status;
}

Effect& Plugin::descriptor() const {
    if (!descriptor_) {
        throw std::logic_error("the plug-in has not been described");
    }
    return *descriptor_;
}

Effect* Plugin::contextDescriptor(const std::string& context) const {
    auto found = contextDescriptors_.find(context);
    return found == contextDescriptors_.end() ? nullptr : found->second.get();
}

Plugin::Created Plugin::createInstance(const std::string& context) {
    Effect* source = contextDescriptor(context);
    if (!source) {
        throw std::logic_error("createInstance: context '" + context + "' was not described");
    }
    Created created;
    created.instance = Effect::makeInstance(host_, *source);
    ActionCall call = prepare(kOfxActionCreateInstance, created.instance.get());
    created.status = run(call, created.instance->handle());
    if (!isSuccess(created.status)) {
        created.instance.reset();
    }
    return created;
}

OfxStatus Plugin::destroyInstance(std::unique_ptr<Effect> instance) {
    if (!instance) {
        throw std::invalid_argument("destroyInstance: no instance");
    }
    ActionCall call = prepare(kOfxActionDestroyInstance, instance.get());
    return run(call, instance->handle());
}

// -- Instance actions ----------------------------------------------------------------------------

namespace {

void fillRenderArguments(HostPropertySet& in, const RenderOptions& options) {
    in.setDouble(kOfxPropTime, options.time);
    in.setString(kOfxImageEffectPropFieldToRender, options.field);
    in.setRect(kOfxImageEffectPropRenderWindow, options.window);
    in.setPoint(kOfxImageEffectPropRenderScale, options.renderScale);
    if (options.quality) {
        in.defineString(kOfxImageEffectPropRenderQuality, {*options.quality}, Access::ReadOnly);
    }
    if (options.viewsToRender) {
        in.defineInt(kOfxImageEffectPropViewsToRender, {*options.viewsToRender}, Access::ReadOnly);
    }
    if (options.renderView) {
        in.defineInt(kOfxImageEffectPropRenderView, {*options.renderView}, Access::ReadOnly);
    }
}

void fillSequenceArguments(HostPropertySet& in, const SequenceOptions& options) {
    in.setDoubles(kOfxImageEffectPropFrameRange, {options.frameRange.min, options.frameRange.max});
    in.setDouble(kOfxImageEffectPropFrameStep, options.frameStep);
    in.setInt(kOfxPropIsInteractive, options.interactive ? 1 : 0);
    in.setPoint(kOfxImageEffectPropRenderScale, options.renderScale);
    in.setInt(Names::sequentialRenderStatus, options.sequentialRenderStatus);
    in.setInt(Names::interactiveRenderStatus, options.interactiveRenderStatus);
}

}  // namespace

ActionCall Plugin::render(Effect& instance, const RenderOptions& options) const {
    instance.setRenderScale(options.renderScale);
    instance.setRenderField(options.field);
    ActionCall call = prepare(kOfxImageEffectActionRender, &instance);
    fillRenderArguments(*call.inArgs, options);
    call.inArgs->setInt(Names::sequentialRenderStatus, options.sequentialRenderStatus);
    call.inArgs->setInt(Names::interactiveRenderStatus, options.interactiveRenderStatus);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::isIdentity(Effect& instance, const RenderOptions& options) const {
    instance.setRenderScale(options.renderScale);
    instance.setRenderField(options.field);
    ActionCall call = prepare(kOfxImageEffectActionIsIdentity, &instance);
    fillRenderArguments(*call.inArgs, options);
    call.outArgs->setDouble(kOfxPropTime, options.time);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::getRegionOfDefinition(Effect& instance, double time,
                                         OfxPointD renderScale) const {
    ActionCall call = prepare(kOfxImageEffectActionGetRegionOfDefinition, &instance);
    call.inArgs->setDouble(kOfxPropTime, time);
    call.inArgs->setPoint(kOfxImageEffectPropRenderScale, renderScale);
    // A filter's default region of definition is its source's.
    OfxRectD rod{0.0, 0.0, 0.0, 0.0};
    if (Clip* source = instance.findClip("Source")) {
        if (source->suiteGetRegionOfDefinition(time, &rod) != kOfxStatOK) {
            rod = {0.0, 0.0, 0.0, 0.0};
        }
    }
    call.outArgs->setRect(kOfxImageEffectPropRegionOfDefinition, rod);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::getRegionsOfInterest(Effect& instance, double time, OfxRectD region,
                                        OfxPointD renderScale) const {
    ActionCall call = prepare(kOfxImageEffectActionGetRegionsOfInterest, &instance);
    call.inArgs->setDouble(kOfxPropTime, time);
    call.inArgs->setPoint(kOfxImageEffectPropRenderScale, renderScale);
    call.inArgs->setRect(kOfxImageEffectPropRegionOfInterest, region);
    if (call.outArgs) {
        for (const std::string& name : call.outArgs->names()) {
            call.outArgs->setRect(name, region);
        }
    }
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::getFramesNeeded(Effect& instance, double time) const {
    ActionCall call = prepare(kOfxImageEffectActionGetFramesNeeded, &instance);
    call.inArgs->setDouble(kOfxPropTime, time);
    if (call.outArgs) {
        for (const std::string& name : call.outArgs->names()) {
            call.outArgs->setDoubles(name, {time, time});
        }
    }
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::getClipPreferences(Effect& instance) const {
    ActionCall call = prepare(kOfxImageEffectActionGetClipPreferences, &instance);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::getTimeDomain(Effect& instance) const {
    ActionCall call = prepare(kOfxImageEffectActionGetTimeDomain, &instance);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::beginSequenceRender(Effect& instance, const SequenceOptions& options) const {
    instance.setRenderScale(options.renderScale);
    ActionCall call = prepare(kOfxImageEffectActionBeginSequenceRender, &instance);
    fillSequenceArguments(*call.inArgs, options);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::endSequenceRender(Effect& instance, const SequenceOptions& options) const {
    ActionCall call = prepare(kOfxImageEffectActionEndSequenceRender, &instance);
    fillSequenceArguments(*call.inArgs, options);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::instanceChanged(Effect& instance, const std::string& type,
                                   const std::string& name, const std::string& reason, double time,
                                   OfxPointD renderScale) const {
    ActionCall call = prepare(kOfxActionInstanceChanged, &instance);
    call.inArgs->setString(kOfxPropType, type);
    call.inArgs->setString(kOfxPropName, name);
    call.inArgs->setString(kOfxPropChangeReason, reason);
    call.inArgs->setDouble(kOfxPropTime, time);
    call.inArgs->setPoint(kOfxImageEffectPropRenderScale, renderScale);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::beginInstanceChanged(Effect& instance, const std::string& reason) const {
    ActionCall call = prepare(kOfxActionBeginInstanceChanged, &instance);
    call.inArgs->setString(kOfxPropChangeReason, reason);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::endInstanceChanged(Effect& instance, const std::string& reason) const {
    ActionCall call = prepare(kOfxActionEndInstanceChanged, &instance);
    call.inArgs->setString(kOfxPropChangeReason, reason);
    run(call, instance.handle());
    return call;
}

ActionCall Plugin::simpleAction(Effect& instance, const std::string& action) const {
    ActionCall call = prepare(action, &instance);
    run(call, instance.handle());
    return call;
}

// ---------------------------------------------------------------------------------------------
// Session
// ---------------------------------------------------------------------------------------------

Session::Session(Host& host, PluginLibrary& library, SessionOptions options)
    : plugin_(host, library, options.pluginIndex)
    , options_(std::move(options)) {}

Session::~Session() {
    try {
        finish();
    } catch (...) {
        // A destructor must not throw; finish() only throws for misuse.
    }
}

OfxStatus Session::start() {
    failedAction_.clear();
    OfxStatus status = plugin_.load();
    if (!isSuccess(status)) {
        failedAction_ = kOfxActionLoad;
        return status;
    }
    loaded_ = true;
    status = plugin_.describe();
    if (!isSuccess(status)) {
        failedAction_ = kOfxActionDescribe;
        return status;
    }
    status = plugin_.describeInContext(options_.context).status;
    if (!isSuccess(status)) {
        failedAction_ = kOfxImageEffectActionDescribeInContext;
        return status;
    }
    Plugin::Created created = plugin_.createInstance(options_.context);
    if (!isSuccess(created.status)) {
        failedAction_ = kOfxActionCreateInstance;
        return created.status;
    }
    instance_ = std::move(created.instance);
    return kOfxStatOK;
}

Effect& Session::instance() const {
    if (!instance_) {
        throw std::logic_error("the session has no instance");
    }
    return *instance_;
}

Clip& Session::clip(std::string_view name) const {
    return instance().clip(name);
}

void Session::setImage(std::string_view clipName, std::shared_ptr<Image> image) const {
    clip(clipName).setImage(std::move(image));
}

ActionCall Session::render(const RenderOptions& options) const {
    return plugin_.render(instance(), options);
}

FrameResult Session::renderFrame(const RenderOptions& options) const {
    Effect& effect = instance();
    FrameResult result;
    auto failed = [&](const ActionCall& call) {
        result.status = call.status;
        result.failedAction = call.action;
        return result;
    };

    const ActionCall rod = plugin_.getRegionOfDefinition(effect, options.time, options.renderScale);
    if (!rod.succeeded()) {
        return failed(rod);
    }
    result.regionOfDefinition = rod.regionOfDefinition();

    const OfxRectD region{
        options.window.x1 / options.renderScale.x, options.window.y1 / options.renderScale.y,
        options.window.x2 / options.renderScale.x, options.window.y2 / options.renderScale.y};
    const ActionCall roi =
        plugin_.getRegionsOfInterest(effect, options.time, region, options.renderScale);
    if (!roi.succeeded()) {
        return failed(roi);
    }
    for (Clip* clip : inputClips(&effect)) {
        result.regionsOfInterest[clip->name()] = roi.regionOfInterest(clip->name());
    }

    const ActionCall identity = plugin_.isIdentity(effect, options);
    if (!identity.succeeded()) {
        return failed(identity);
    }
    if (identity.status == kOfxStatOK) {
        result.identity = true;
        result.status = kOfxStatOK;
        return result;
    }

    SequenceOptions sequence;
    sequence.frameRange = {options.time, options.time};
    sequence.interactive = options.interactiveRenderStatus != 0;
    sequence.renderScale = options.renderScale;
    sequence.sequentialRenderStatus = options.sequentialRenderStatus;
    sequence.interactiveRenderStatus = options.interactiveRenderStatus;
    const ActionCall begin = plugin_.beginSequenceRender(effect, sequence);
    if (!begin.succeeded()) {
        return failed(begin);
    }
    const ActionCall rendered = plugin_.render(effect, options);
    const ActionCall end = plugin_.endSequenceRender(effect, sequence);
    if (!rendered.succeeded()) {
        return failed(rendered);
    }
    if (!end.succeeded()) {
        return failed(end);
    }
    result.status = rendered.status;
    return result;
}

OfxStatus Session::finish() {
    OfxStatus first = kOfxStatOK;
    if (instance_) {
        const OfxStatus status = plugin_.destroyInstance(std::move(instance_));
        if (!isSuccess(status)) {
            first = status;
        }
    }
    if (loaded_) {
        loaded_ = false;
        const OfxStatus status = plugin_.unload();
        if (!isSuccess(status) && first == kOfxStatOK) {
            first = status;
        }
    }
    return first;
}

}  // namespace ZarvelHost
