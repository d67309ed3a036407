// The action dispatcher: every host action enters here, and every exception leaves as a status.
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>

#include "ofx/Core.h"
#include "ofx/ImageEffect.h"
#include "ofx/Private.h"
#include "ofx/Properties.h"

namespace OFX {

std::map<std::string, DescriptorsByContext> descriptorRegistry;

namespace {

const char* const asterisks =
    "********************************************************************************";

// checkSuiteStatus throws for every status passed here (it writes "Threw suite exception!"
// first); the throw after it only tells the compiler so.
[[noreturn]] void raise(OfxStatus status) {
    checkSuiteStatus(status);
    throw Exception::Suite(status);
}

// One host call as the action handlers see it.
struct Call {
    const char* action;
    OfxImageEffectHandle effect;
    PropertySet inArgs;
    PropertySet outArgs;
    const char* uniqueKey;
    PluginFactory& factory;
};

OfxStatus okOrDefault(bool answered) {
    return answered ? kOfxStatOK : kOfxStatReplyDefault;
}

OfxStatus load(Call& call) {
    std::unique_lock<std::mutex> lock(frameMutex);
    try {
        fetchHostSuites();
        lock.unlock();
        call.factory.load();
    } catch (...) {
        if (!lock.owns_lock()) {
            lock.lock();
        }
        Private::undoFailedLoad();
        throw;
    }
    return kOfxStatOK;
}

OfxStatus unload(Call& call) {
    call.factory.unload();
    Private::unloadCleanup(call.uniqueKey);
    return kOfxStatOK;
}

OfxStatus describe(Call& call) {
    auto descriptor = std::make_shared<ImageEffectDescriptor>(call.effect);
    Private::fetchEffectProperties(call.effect);
    call.factory.describe(*descriptor);
    Private::storeDescriptor(call.uniqueKey, contextNone, std::move(descriptor));
    return kOfxStatOK;
}

OfxStatus describeInContext(Call& call) {
    auto descriptor = std::make_shared<ImageEffectDescriptor>(call.effect);
    const EffectContext context =
        effectContextFromString(call.inArgs.propGetString(kOfxImageEffectPropContext, 0, true));
    Private::fetchEffectProperties(call.effect);
    call.factory.describeInContext(*descriptor, context);
    Private::storeDescriptor(call.uniqueKey, context, std::move(descriptor));
    return kOfxStatOK;
}

OfxStatus createInstance(Call& call) {
    const PropertySet props = Private::fetchEffectProperties(call.effect);
    const EffectContext context =
        effectContextFromString(props.propGetString(kOfxImageEffectPropContext, 0, true));
    // The instance registers itself with the handle. Should the action still fail, the host
    // drops the handle without a DestroyInstance, so the instance must not outlive the failure.
    std::unique_ptr<ImageEffect> instance(call.factory.createInstance(call.effect, context));
    Private::fetchEffectProperties(call.effect);
    instance.release();
    return kOfxStatOK;
}

// Deletes, on every way out of a DestroyInstance, what is left of the instances made for the
// handle: a host that cannot give the instance data back still drops the handle.
class InstancesOfHandle {
public:
    explicit InstancesOfHandle(OfxImageEffectHandle handle)
        : handle_(handle) {}
    ~InstancesOfHandle() {
        while (ImageEffect* instance = Private::takeInstanceOf(handle_)) {
            delete instance;
        }
    }
    InstancesOfHandle(const InstancesOfHandle&) = delete;
    InstancesOfHandle& operator=(const InstancesOfHandle&) = delete;

private:
    OfxImageEffectHandle handle_;
};

OfxStatus destroyInstance(Call& call) {
    const InstancesOfHandle leftovers(call.effect);
    delete Private::retrieveInstance(call.effect);
    return kOfxStatOK;
}

OfxStatus render(Call& call) {
    ImageEffect& instance = Private::requireInstance(call.effect);
    const RenderArguments args = Private::readRenderArguments(call.inArgs);
    instance.onRender(args);
    return kOfxStatOK;
}

OfxStatus beginSequenceRender(Call& call) {
    ImageEffect& instance = Private::requireInstance(call.effect);
    instance.onBeginSequenceRender(Private::readBeginSequenceRenderArguments(call.inArgs));
    return kOfxStatReplyDefault;
}

OfxStatus endSequenceRender(Call& call) {
    ImageEffect& instance = Private::requireInstance(call.effect);
    instance.onEndSequenceRender(Private::readEndSequenceRenderArguments(call.inArgs));
    return kOfxStatReplyDefault;
}

OfxStatus isIdentity(Call& call) {
    ImageEffect& instance = Private::requireInstance(call.effect);
    const RenderArguments args = Private::readRenderArguments(call.inArgs);
    Clip* identityClip = nullptr;
    double identityTime = args.time;
    if (!instance.onIsIdentity(args, identityClip, identityTime) || !identityClip) {
        return kOfxStatReplyDefault;
    }
    call.outArgs.propSetString(kOfxPropName, identityClip->getName(), 0, true);
    call.outArgs.propSetDouble(kOfxPropTime, identityTime, 0, true);
    return kOfxStatOK;
}

OfxStatus getRegionOfDefinition(Call& call) {
    ImageEffect& instance = Private::requireInstance(call.effect);
    const RegionOfDefinitionArguments args = Private::readRegionOfDefinitionArguments(call.inArgs);
    OfxRectD rod = {0.0, 0.0, 0.0, 0.0};
    if (!instance.onGetRegionOfDefinition(args, rod)) {
        return kOfxStatReplyDefault;
    }
    call.outArgs.propSetDouble(kOfxImageEffectPropRegionOfDefinition, rod.x1, 0, true);
    call.outArgs.propSetDouble(kOfxImageEffectPropRegionOfDefinition, rod.y1, 1, true);
    call.outArgs.propSetDouble(kOfxImageEffectPropRegionOfDefinition, rod.x2, 2, true);
    call.outArgs.propSetDouble(kOfxImageEffectPropRegionOfDefinition, rod.y2, 3, true);
    return kOfxStatOK;
}

OfxStatus getRegionsOfInterest(Call& call) {
    return okOrDefault(
        Private::regionsOfInterestAction(call.effect, call.inArgs, call.outArgs, call.uniqueKey));
}

OfxStatus getFramesNeeded(Call& call) {
    return okOrDefault(
        Private::framesNeededAction(call.effect, call.inArgs, call.outArgs, call.uniqueKey));
}

OfxStatus getClipPreferences(Call& call) {
    ImageEffect& instance = Private::requireInstance(call.effect);
    const auto descriptor = Private::requireDescriptor(call.uniqueKey, instance.getContext());
    ClipPreferencesSetter setter(call.outArgs, *descriptor);
    instance.onGetClipPreferences(setter);
    return okOrDefault(setter.didSomething);
}

OfxStatus purgeCaches(Call& call) {
    Private::requireInstance(call.effect).onPurgeCaches();
    return kOfxStatReplyDefault;
}

OfxStatus syncPrivateData(Call& call) {
    Private::requireInstance(call.effect).onSyncPrivateData();
    return kOfxStatReplyDefault;
}

OfxStatus getTimeDomain(Call& call) {
    ImageEffect& instance = Private::requireInstance(call.effect);
    logError(instance.getContext() != contextGeneral,
             "Calling kOfxImageEffectActionGetTimeDomain on an effect that is not a general "
             "context effect.");
    OfxRangeD range = {0.0, 0.0};
    if (!instance.onGetTimeDomain(range)) {
        return kOfxStatReplyDefault;
    }
    call.outArgs.propSetDouble(kOfxImageEffectPropFrameRange, range.min, 0, true);
    call.outArgs.propSetDouble(kOfxImageEffectPropFrameRange, range.max, 1, true);
    return kOfxStatOK;
}

ChangeReason readChangeReason(const PropertySet& inArgs) {
    return changeReasonFromString(inArgs.propGetString(kOfxPropChangeReason, 0, true));
}

OfxStatus beginInstanceChanged(Call& call) {
    ImageEffect& instance = Private::requireInstance(call.effect);
    instance.onBeginInstanceChanged(readChangeReason(call.inArgs));
    return kOfxStatReplyDefault;
}

OfxStatus instanceChanged(Call& call) {
    Private::instanceChangedAction(call.effect, call.inArgs);
    return kOfxStatReplyDefault;
}

OfxStatus endInstanceChanged(Call& call) {
    ImageEffect& instance = Private::requireInstance(call.effect);
    instance.onEndInstanceChanged(readChangeReason(call.inArgs));
    return kOfxStatReplyDefault;
}

OfxStatus beginInstanceEdit(Call& call) {
    Private::requireInstance(call.effect).onBeginInstanceEdit();
    return kOfxStatReplyDefault;
}

OfxStatus endInstanceEdit(Call& call) {
    Private::requireInstance(call.effect).onEndInstanceEdit();
    return kOfxStatReplyDefault;
}

OfxStatus keyframeUplift(Call& call) {
    Private::keyframeUpliftAction(call.effect, call.inArgs);
    return kOfxStatReplyDefault;
}

OfxStatus invokeHelp(Call& call) {
    return okOrDefault(Private::requireInstance(call.effect).onInvokeHelp());
}

OfxStatus invokeAbout(Call& call) {
    return okOrDefault(Private::requireInstance(call.effect).onInvokeAbout());
}

// The handle rule of a row: which of handle, inArgs and outArgs are expected null (the others
// are required), or no rule at all.
enum class Rule { none, checked };

struct ActionRow {
    const char* name;
    OfxStatus (*run)(Call&);
    Rule rule;
    bool handleExpectedNull;
    bool inArgsExpectedNull;
    bool outArgsExpectedNull;
};

constexpr bool N = true;   // expected null
constexpr bool R = false;  // required

const ActionRow actionTable[] = {
    {kOfxActionLoad, load, Rule::none, N, N, N},
    {kOfxActionUnload, unload, Rule::checked, N, N, N},
    {kOfxActionDescribe, describe, Rule::checked, R, N, N},
    {kOfxImageEffectActionDescribeInContext, describeInContext, Rule::checked, R, R, N},
    {kOfxActionCreateInstance, createInstance, Rule::checked, R, N, N},
    {kOfxActionDestroyInstance, destroyInstance, Rule::checked, R, N, N},
    {kOfxImageEffectActionRender, render, Rule::checked, R, R, N},
    {kOfxImageEffectActionBeginSequenceRender, beginSequenceRender, Rule::checked, R, R, N},
    {kOfxImageEffectActionEndSequenceRender, endSequenceRender, Rule::checked, R, R, N},
    {kOfxImageEffectActionIsIdentity, isIdentity, Rule::checked, R, R, R},
    {kOfxImageEffectActionGetRegionOfDefinition, getRegionOfDefinition, Rule::checked, R, R, R},
    {kOfxImageEffectActionGetRegionsOfInterest, getRegionsOfInterest, Rule::checked, R, R, R},
    {kOfxImageEffectActionGetFramesNeeded, getFramesNeeded, Rule::checked, R, R, R},
    {kOfxImageEffectActionGetClipPreferences, getClipPreferences, Rule::checked, R, N, R},
    {kOfxActionPurgeCaches, purgeCaches, Rule::checked, R, N, N},
    {kOfxActionSyncPrivateData, syncPrivateData, Rule::checked, R, N, N},
    {kOfxImageEffectActionGetTimeDomain, getTimeDomain, Rule::checked, R, N, R},
    {kOfxActionBeginInstanceChanged, beginInstanceChanged, Rule::checked, R, R, N},
    {kOfxActionInstanceChanged, instanceChanged, Rule::checked, R, R, N},
    {kOfxActionEndInstanceChanged, endInstanceChanged, Rule::checked, R, R, N},
    {kOfxActionBeginInstanceEdit, beginInstanceEdit, Rule::checked, R, N, N},
    {kOfxActionEndInstanceEdit, endInstanceEdit, Rule::checked, R, N, N},
    {kOfxImageEffectActionVegasKeyframeUplift, keyframeUplift, Rule::checked, R, R, N},
    {kOfxImageEffectActionInvokeHelp, invokeHelp, Rule::checked, R, N, N},
    {kOfxImageEffectActionInvokeAbout, invokeAbout, Rule::checked, R, N, N},
};

OfxStatus dispatch(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                   OfxPropertySetHandle outArgs, const char* uniqueKey) {
    PluginFactory* factory = Private::findFactory(uniqueKey);
    if (!factory) {
        logError(true, "No plug-in is registered under the key '%s'.",
                 uniqueKey ? uniqueKey : "(null)");
        raise(kOfxStatFailed);
    }
    if (!action) {
        logError(true, "Requested action was a null pointer.");
        return kOfxStatReplyDefault;
    }
    for (const ActionRow& row : actionTable) {
        if (std::strcmp(action, row.name) != 0) {
            continue;
        }
        if (row.rule == Rule::checked) {
            Private::checkMainHandles(action, handle, inArgs, outArgs, row.handleExpectedNull,
                                      row.inArgsExpectedNull, row.outArgsExpectedNull);
        }
        // The host passes an effect handle as an untyped constant pointer; the suites take it
        // as the opaque handle type.
        Call call{action,
                  static_cast<OfxImageEffectHandle>(const_cast<void*>(handle)),
                  PropertySet(inArgs),
                  PropertySet(outArgs),
                  uniqueKey,
                  *factory};
        return row.run(call);
    }
    logError(true, "Unknown action '%s'.", action);
    return kOfxStatReplyDefault;
}

// A line on standard output for a caught exception. Writing it must not throw either.
void reportCaught(const char* line) noexcept {
    try {
        std::cout << line << std::endl;
    } catch (...) {
    }
}

}  // namespace

namespace Private {

void checkMainHandles(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                      OfxPropertySetHandle outArgs, bool handleExpectedNull,
                      bool inArgsExpectedNull, bool outArgsExpectedNull) {
    logWarning(handleExpectedNull && handle, "Handle passed to '%s' is not null.", action);
    logError(!handleExpectedNull && !handle, "'Handle passed to '%s' is null.", action);
    logWarning(inArgsExpectedNull && inArgs, "'inArgs' Handle passed to '%s' is not null.", action);
    logError(!inArgsExpectedNull && !inArgs, "'inArgs' handle passed to '%s' is null.", action);
    logWarning(outArgsExpectedNull && outArgs, "'outArgs' Handle passed to '%s' is not null.",
               action);
    logError(!outArgsExpectedNull && !outArgs, "'outArgs' handle passed to '%s' is null.", action);
    if ((!handleExpectedNull && !handle) || (!inArgsExpectedNull && !inArgs) ||
        (!outArgsExpectedNull && !outArgs)) {
        raise(kOfxStatErrBadHandle);
    }
}

PropertySet fetchEffectProperties(OfxImageEffectHandle handle) {
    return effectPropertySet(handle);
}

ImageEffect* retrieveInstance(OfxImageEffectHandle handle) {
    const PropertySet props = fetchEffectProperties(handle);
    auto* instance = static_cast<ImageEffect*>(props.propGetPointer(kOfxPropInstanceData, 0, true));
    logError(!instance, "Instance data handle in effect instance properties is NULL!");
    if (instance && !isLiveInstance(instance, handle)) {
        logError(true, "Instance data of an effect names no live instance of this plug-in.");
        return nullptr;
    }
    return instance;
}

ImageEffect& requireInstance(OfxImageEffectHandle handle) {
    ImageEffect* instance = retrieveInstance(handle);
    if (!instance) {
        raise(kOfxStatErrBadHandle);
    }
    return *instance;
}

void storeDescriptor(const std::string& uniqueKey, EffectContext context,
                     std::shared_ptr<const ImageEffectDescriptor> descriptor) {
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        descriptorRegistry[uniqueKey][context].swap(descriptor);
    }
    // `descriptor` now holds the replaced one, released here outside the lock.
}

std::shared_ptr<const ImageEffectDescriptor> requireDescriptor(const char* uniqueKey,
                                                               EffectContext context) {
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        auto plugin = descriptorRegistry.find(uniqueKey);
        if (plugin != descriptorRegistry.end()) {
            auto found = plugin->second.find(context);
            if (found != plugin->second.end() && found->second) {
                return found->second;
            }
        }
    }
    const char* contextName = effectContextString(context);
    logError(true, "No descriptor of plug-in '%s' for the context '%s'.", uniqueKey,
             contextName ? contextName : "(none)");
    raise(kOfxStatFailed);
}

namespace {

// The last unload's release of the suites; the caller holds frameMutex.
void releaseLoad() {
    const int count = loadCount.load();
    if (count <= 0) {
        logWarning(true, "Unload without a matching load.");
        return;
    }
    loadCount.store(count - 1);
    if (count != 1) {
        return;
    }
    HostSuites& suites = hostSuites;
    suites.imageEffectSuite = nullptr;
    suites.propertySuite = nullptr;
    suites.parameterSuite = nullptr;
    suites.memorySuite = nullptr;
    suites.multiThreadSuite = nullptr;
    suites.messageSuite = nullptr;
    suites.messageSuiteV2 = nullptr;
    suites.interactSuite = nullptr;
    suites.hwndInteractSuite = nullptr;
    suites.vegasStereoscopicSuite = nullptr;
}

}  // namespace

void undoFailedLoad() {
    releaseLoad();
}

void unloadCleanup(const char* uniqueKey) {
    DescriptorsByContext released;
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        releaseLoad();
        auto plugin = descriptorRegistry.find(uniqueKey);
        if (plugin != descriptorRegistry.end()) {
            released.swap(plugin->second);
        }
    }
    // The descriptors die here, outside the lock, unless an action still holds them.
}

}  // namespace Private

OfxStatus mainEntryDispatch(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                            OfxPropertySetHandle outArgs, const char* uniqueKey) noexcept {
    // A null action is never read as characters, not even for the framing lines.
    const char* shownAction = action ? action : "(null)";
    logPrint("%s", asterisks);
    logPrint("START mainEntry (%s)", shownAction);
    logIndent();
    OfxStatus status = kOfxStatReplyDefault;
    try {
        status = dispatch(action, handle, inArgs, outArgs, uniqueKey);
    } catch (const Exception::Suite& failure) {
        reportCaught("Caught OFX::Exception::Suite");
        status = failure.status();
        // A host call may fail with a number the standard has no name for; the host is owed one
        // of the standard's statuses all the same.
        if (!isNamedStatus(status)) {
            status = kOfxStatFailed;
        }
    } catch (const Exception::HostInadequate&) {
        reportCaught("Caught OFX::Exception::HostInadequate");
        status = kOfxStatErrMissingHostFeature;
    } catch (const Exception::PropertyUnknownToHost&) {
        reportCaught("Caught OFX::Exception::PropertyUnknownToHost");
        status = kOfxStatErrMissingHostFeature;
    } catch (const std::bad_alloc&) {
        status = kOfxStatErrMemory;
    } catch (...) {
        reportCaught("Caught Unknown exception");
        status = kOfxStatFailed;
    }
    logOutdent();
    logPrint("STOP mainEntry (%s)\n", shownAction);
    return status;
}

}  // namespace OFX
