// Internals of the plug-in frame, shared by Registry.cpp, Dispatcher.cpp and ActionArguments.cpp
// and open to the tests. Nothing outside the frame includes this header.
//
// Locking. `frameMutex` guards every container below, `registryBuilt`, and the load count with
// the suite fetch and the unload clean-up. It is taken only around those, never while a factory
// describes or an instance runs, and nothing called under it takes it again. Descriptors are
// shared: an action that reads one holds its own reference, so a describe or unload that
// replaces or drops the registry's reference never frees a descriptor still in use.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ofx/Core.h"
#include "ofx/ImageEffect.h"
#include "ofx/Properties.h"
#include "openfx/openfx.h"

namespace OFX {

/// The lock of the frame's process-wide state (see above).
extern std::mutex frameMutex;

/// A factory and the record handed out for it.
struct RegistryEntry {
    PluginFactory* factory = nullptr;
    OfxPlugin* plugin = nullptr;
};

/// The effect's factories, in the order it gave them; not owned.
extern std::vector<PluginFactory*> factoryList;
/// The record of each factory, same length and order as `factoryList`. The records live until
/// the library is unloaded: hosts keep calling a record they hold after an "OfxActionUnload".
extern std::vector<std::unique_ptr<OfxPlugin>> pluginRecords;
/// Factory and record by unique key (byte-wise order). Two factories with one key share an
/// entry; the later one wins.
extern std::map<std::string, RegistryEntry> pluginRegistry;
/// Set once the three containers above are filled; never cleared.
extern bool registryBuilt;

/// The descriptors of one plug-in by context; "OfxActionDescribe" stores under contextNone.
using DescriptorsByContext = std::map<EffectContext, std::shared_ptr<const ImageEffectDescriptor>>;
/// The descriptors kept per unique key, for the per-clip property names later actions write.
extern std::map<std::string, DescriptorsByContext> descriptorRegistry;

namespace Private {

// -- Registry (Registry.cpp) ------------------------------------------------------------------

/// Builds the registry once: asks the effect for its factories and makes a record for each.
/// All or nothing: a failure (std::bad_alloc, or what the effect throws) leaves the registry
/// unbuilt, and the next call tries again. The caller holds `frameMutex`.
void ensureRegistry();

/// A new record for `factory`: API "OfxImageEffectPluginAPI" version 1, the factory's own
/// identifier characters, its versions, `setHost` and its main entry. Throws std::bad_alloc.
std::pair<PluginFactory*, std::unique_ptr<OfxPlugin>> makePluginRecord(PluginFactory* factory);

/// The factory registered under `uniqueKey` (building the registry first if need be), or null
/// for a null or unknown key. Takes `frameMutex`.
PluginFactory* findFactory(const char* uniqueKey);

// -- Dispatcher (Dispatcher.cpp) --------------------------------------------------------------

/// The handle rule of an action. For handle, inArgs and outArgs in turn: one expected null but
/// set gets a warning line, one required but null an error line. Then, when any required handle
/// is null, throws Exception::Suite carrying kOfxStatErrBadHandle through the general rule.
void checkMainHandles(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                      OfxPropertySetHandle outArgs, bool handleExpectedNull,
                      bool inArgsExpectedNull, bool outArgsExpectedNull);

/// The effect's property set (`getPropertySet`, general status rule).
PropertySet fetchEffectProperties(OfxImageEffectHandle handle);

/// The instance bound to `handle` ("OfxPropInstanceData"), or null after the error line
/// "Instance data handle in effect instance properties is NULL!". A pointer that is not a live
/// instance made for `handle` counts as null, after the error line "Instance data of an effect
/// names no live instance of this plug-in.". Throws what the host calls throw.
ImageEffect* retrieveInstance(OfxImageEffectHandle handle);

/// As `retrieveInstance`, but a null instance throws Exception::Suite carrying
/// kOfxStatErrBadHandle (through the general rule), so no action calls through null.
ImageEffect& requireInstance(OfxImageEffectHandle handle);

/// Keeps `descriptor` under (`uniqueKey`, `context`), dropping the registry's reference to the
/// one it replaces. Takes `frameMutex`; the replaced descriptor is destroyed outside it, and only
/// when no action holds it any more.
void storeDescriptor(const std::string& uniqueKey, EffectContext context,
                     std::shared_ptr<const ImageEffectDescriptor> descriptor);

/// The descriptor kept under (`uniqueKey`, `context`). When there is none, writes the error line
/// "No descriptor of plug-in '%s' for the context '%s'." and throws Exception::Suite carrying
/// kOfxStatFailed (through the general rule). Takes `frameMutex`.
std::shared_ptr<const ImageEffectDescriptor> requireDescriptor(const char* uniqueKey,
                                                               EffectContext context);

/// The release steps of "OfxActionUnload": decreases the load count, clearing the suites
/// (all but progress, Vegas progress, timeline and keyframe) when it reaches 0, and drops the
/// descriptors of `uniqueKey` (the key's entry stays, empty). The plug-in records are kept.
/// An unload without a load to match (the count already 0) writes the warning "Unload without a
/// matching load." and leaves the count at 0, so that the next load fetches the suites again.
/// Takes `frameMutex`.
void unloadCleanup(const char* uniqueKey);

/// Takes back the count of a load that failed (hosts don't unload a plug-in whose load failed),
/// clearing the suites as the last unload does when the count returns to 0. The caller holds
/// `frameMutex`.
void undoFailedLoad();

// -- Live instances (EffectInstance.cpp) -------------------------------------------------------
//
// Every `ImageEffect` registers itself, with the host handle it was made for, from the start of
// its construction to its destruction. The dispatcher uses the list in two ways: a pointer the
// host hands back as "OfxPropInstanceData" is used only when it names a live instance of that
// handle (a host that mixes up or corrupts instance data gets a bad-handle status, not a call
// through a wild pointer), and "OfxActionDestroyInstance" deletes what belongs to the handle even
// when the host cannot give the instance data back. Guarded by its own lock; every function is
// thread-safe.

/// Adds `instance`, bound to `handle`. Throws std::bad_alloc.
void registerInstance(ImageEffect* instance, OfxImageEffectHandle handle);
/// Removes `instance`; nothing when it is not registered. Never throws.
void unregisterInstance(const ImageEffect* instance) noexcept;
/// True when `instance` is live and was made for `handle`.
bool isLiveInstance(const ImageEffect* instance, OfxImageEffectHandle handle);
/// Removes one live instance made for `handle` from the list and returns it (the caller deletes
/// it), or null when there is none. Never throws.
ImageEffect* takeInstanceOf(OfxImageEffectHandle handle) noexcept;
/// Number of live instances.
std::size_t liveInstanceCount();

// -- Action arguments (ActionArguments.cpp) ---------------------------------------------------
//
// Each reader copies an action's arguments out of its inArgs, in the order the host's
// properties are read; reads marked "on" throw by the property status rule.

/// Time, render scale, render window, views to render (off), render view (off), field to render
/// (an unknown string writes "Unknown field to render '%s'" and leaves fieldNone), render
/// quality (off; an unknown or missing string writes "Unknown Vegas RenderQuality '%s'" and
/// "Unknown render quality '%s'" and leaves renderQualityUnset).
RenderArguments readRenderArguments(const PropertySet& inArgs);
BeginSequenceRenderArguments readBeginSequenceRenderArguments(const PropertySet& inArgs);
EndSequenceRenderArguments readEndSequenceRenderArguments(const PropertySet& inArgs);
RegionOfDefinitionArguments readRegionOfDefinitionArguments(const PropertySet& inArgs);
RegionsOfInterestArguments readRegionsOfInterestArguments(const PropertySet& inArgs);
FramesNeededArguments readFramesNeededArguments(const PropertySet& inArgs);
/// An unknown change reason throws std::invalid_argument (from the mapping).
InstanceChangedArgs readInstanceChangedArgs(const PropertySet& inArgs);
VegasKeyframeUpliftArguments readVegasKeyframeUpliftArguments(const PropertySet& inArgs);

/// "OfxImageEffectActionGetRegionsOfInterest": the instance's regions, written into outArgs
/// under the "OfxImageClipPropRoI_<clip>" names of its context's descriptor. True when any was
/// set.
bool regionsOfInterestAction(OfxImageEffectHandle handle, PropertySet inArgs, PropertySet& outArgs,
                             const char* uniqueKey);

/// "OfxImageEffectActionGetFramesNeeded": the instance's ranges per clip, written (all ranges
/// of a clip, min and max in turn) under the "OfxImageClipPropFrameRange_<clip>" names of its
/// context's descriptor; ranges for "Output" are not written. True when any clip was written.
bool framesNeededAction(OfxImageEffectHandle handle, PropertySet inArgs, PropertySet& outArgs,
                        const char* uniqueKey);

/// "OfxActionInstanceChanged": `onParamChanged` or `onClipChanged` by "OfxPropType"; any other
/// type only writes "Instance Changed called with unknown type '%s' of object '%s'".
void instanceChangedAction(OfxImageEffectHandle handle, PropertySet inArgs);

/// "OfxImageEffectActionVegasKeyframeUplift": `onKeyframeUplift` with the uplift arguments.
void keyframeUpliftAction(OfxImageEffectHandle handle, PropertySet inArgs);

}  // namespace Private
}  // namespace OFX
