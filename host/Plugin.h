// Driving a plug-in through the test host: loading its library, calling its actions with the
// argument sets a real host builds, and a session helper for the usual sequence.
//
//   PluginLibrary   the plug-in's two exported functions, from a loaded ".ofx" file (see
//                   SharedLibrary.h) or given directly when the plug-in's code is linked into
//                   the program.
//   Plugin          one plug-in of a library: OfxGetPlugin(n), setHost, then every action with
//                   properly built inArgs / outArgs; keeps the descriptors it was given.
//   Session         Load → Describe → DescribeInContext → CreateInstance for one context, frames
//                   rendered one at a time, DestroyInstance and Unload at the end.
//
// A frame rendered through a built plug-in:
//
//   ZarvelHost::Host host;
//   auto library = ZarvelHost::PluginLibrary::open(pathToOfxFile);
//   ZarvelHost::Session session(host, *library);
//   if (session.start() != kOfxStatOK) { ... session.failedAction() ... }
//   session.setImage("Source", sourceImage);
//   auto output = session.clip("Output").allocateImage(bounds, PixelDepth::Float,
//                                                      PixelComponents::RGBA);
//   ZarvelHost::RenderOptions options;
//   options.window = bounds;
//   ZarvelHost::FrameResult frame = session.renderFrame(options);
//   ... frame.status, output pixels, host.imagesOutstanding() ...
//   session.finish();   // or let the session go out of scope
//
// Action results. Each action wrapper returns an `ActionCall`: the status the main entry
// returned and the argument sets it was given, so the caller can read what the plug-in wrote
// into outArgs (or check what it was sent). The argument sets hold the properties a host passes
// for that action, with the standard's names, read-only in inArgs and writable in outArgs, and
// host defaults in outArgs (the region of definition of the "Source" clip, regions of interest
// equal to the region asked for, frame ranges [time, time], the clips' current preferences).
// An arguments hook lets a test change any argument before the call.
//
// Errors of the driver itself (a library that cannot be loaded, a plug-in index out of range,
// an action on an effect that was never described) throw std::runtime_error or
// std::logic_error with a message naming what is wrong. Statuses the plug-in returns are never
// thrown: they are returned for the caller to check.
//
// Thread-safety: Load, Unload, Describe and DescribeInContext must not overlap any other call
// on the plug-in, as the standard requires of hosts. The instance actions of different instances
// may run concurrently on different threads; one instance takes one action at a time.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Properties.h"
#include "openfx/openfx.h"

namespace ZarvelHost {

class SharedLibrary;

/// True for the statuses by which an action reports success: kOfxStatOK and
/// kOfxStatReplyDefault.
bool isSuccess(OfxStatus status);

/// The two functions a plug-in library exports.
class PluginLibrary {
public:
    using CountFunction = int (*)();
    using GetFunction = OfxPlugin* (*)(int);

    /// Loads the library at `path` (SharedLibrary) and finds "OfxGetNumberOfPlugins" and
    /// "OfxGetPlugin". Throws std::runtime_error with the loader's message when the file
    /// cannot be loaded or lacks either symbol.
    static std::unique_ptr<PluginLibrary> open(const std::string& path);

    /// A library whose code is linked into this program.
    PluginLibrary(CountFunction count, GetFunction get);
    /// Unloads a loaded library. Every Plugin of it must be gone by then.
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    /// OfxGetNumberOfPlugins().
    int pluginCount() const;
    /// OfxGetPlugin(index); whatever the library returns, null included.
    OfxPlugin* plugin(int index) const;
    /// The path it was opened from; empty for a linked library.
    const std::string& path() const { return path_; }

private:
    PluginLibrary() = default;

    std::unique_ptr<SharedLibrary> library_;
    CountFunction count_ = nullptr;
    GetFunction get_ = nullptr;
    std::string path_;
};

/// One action as it was called.
struct ActionCall {
    std::string action;
    /// What the main entry returned (kOfxStatReplyDefault until it was called).
    OfxStatus status = kOfxStatReplyDefault;
    /// The argument sets given; null when the action takes none.
    std::unique_ptr<HostPropertySet> inArgs;
    std::unique_ptr<HostPropertySet> outArgs;

    bool succeeded() const { return isSuccess(status); }
    /// "OfxImageEffectPropRegionOfDefinition" of outArgs.
    OfxRectD regionOfDefinition() const;
    /// "OfxImageClipPropRoI_<clip>" of outArgs.
    OfxRectD regionOfInterest(const std::string& clip) const;
    /// "OfxImageClipPropFrameRange_<clip>" of outArgs (pairs of min, max).
    std::vector<double> framesNeeded(const std::string& clip) const;
};

/// The render arguments of one frame.
struct RenderOptions {
    double time = 0.0;
    /// In pixel coordinates at the render scale; x2, y2 exclusive.
    OfxRectI window{0, 0, 0, 0};
    OfxPointD renderScale{1.0, 1.0};
    /// "OfxImageEffectPropFieldToRender".
    std::string field = kOfxImageFieldNone;
    int sequentialRenderStatus = 0;
    int interactiveRenderStatus = 0;
    /// "OfxImageEffectPropRenderQuality" ("OfxImageEffectPropRenderQualityBest" ...); absent
    /// from the arguments when not set, as with most hosts.
    std::optional<std::string> quality;
    /// "OfxImageEffectPropViewsToRender" and "OfxImageEffectPropRenderView"; absent when not set.
    std::optional<int> viewsToRender;
    std::optional<int> renderView;
};

/// The arguments of Begin/EndSequenceRender.
struct SequenceOptions {
    OfxRangeD frameRange{0.0, 0.0};
    double frameStep = 1.0;
    bool interactive = false;
    OfxPointD renderScale{1.0, 1.0};
    int sequentialRenderStatus = 0;
    int interactiveRenderStatus = 0;
};

/// Called with the action name and its argument sets (either may be null) just before the main
/// entry; may change anything in them.
using ArgumentsHook = std::function<void(const std::string& action, HostPropertySet* inArgs,
                                         HostPropertySet* outArgs)>;

class Plugin {
public:
    /// Takes plug-in `index` of `library` (OfxGetPlugin) and gives it `host` (setHost). Throws
    /// std::runtime_error when the index is out of range, the record is null, its API is not
    /// "OfxImageEffectPluginAPI" or it has no main entry. `host` and `library` must outlive it.
    Plugin(Host& host, PluginLibrary& library, int index = 0);
    /// Drops the descriptors (no action is called).
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const OfxPlugin& record() const { return *record_; }
    Host& host() const { return host_; }

    /// Called before every action; replaces any earlier hook. Set it before actions start.
    void setArgumentsHook(ArgumentsHook hook) { hook_ = std::move(hook); }

    /// The argument sets a host gives `action` on `instance` (which may be null for actions
    /// without one), with their default values; see the top of this file.
    ActionCall prepare(const std::string& action, const Effect* instance) const;
    /// Runs the hook, then the main entry with `call`'s sets and `handle`; stores and returns
    /// the status. No exception from the plug-in can reach here (it is a C function).
    OfxStatus run(ActionCall& call, const void* handle) const;
    /// Any action, with handles and argument sets given as they are.
    OfxStatus callMainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                            OfxPropertySetHandle outArgs) const;

    // -- Plug-in lifecycle ----------------------------------------------------------------------

    OfxStatus load();
    OfxStatus unload();
    /// Makes a fresh descriptor and calls Describe with it.
    OfxStatus describe();
    /// Makes a descriptor for `context` (a copy of the Describe descriptor's properties) and
    /// calls DescribeInContext. Throws std::logic_error before describe().
    ActionCall describeInContext(const std::string& context);
    /// Load, Describe, DescribeInContext(context), stopping at the first that fails; returns
    /// that status, or kOfxStatOK.
    OfxStatus loadAndDescribe(const std::string& context);

    /// The Describe descriptor; throws std::logic_error before describe().
    Effect& descriptor() const;
    /// The descriptor of a context, or null when it was not described.
    Effect* contextDescriptor(const std::string& context) const;

    /// Builds an instance from the descriptor of `context` and calls CreateInstance. On
    /// success (kOfxStatOK or kOfxStatReplyDefault) `instance` is set; on failure it stays
    /// null, as a host drops an instance the plug-in refused (no DestroyInstance).
    struct Created {
        OfxStatus status = kOfxStatReplyDefault;
        std::unique_ptr<Effect> instance;
    };
    /// Throws std::logic_error when `context` was not described.
    Created createInstance(const std::string& context);
    /// Calls DestroyInstance and then deletes the instance, whatever the status.
    OfxStatus destroyInstance(std::unique_ptr<Effect> instance);

    // -- Instance actions -----------------------------------------------------------------------
    // Render and IsIdentity also set the instance's render scale and field, which the images it
    // fetches carry.

    ActionCall render(Effect& instance, const RenderOptions& options) const;
    ActionCall isIdentity(Effect& instance, const RenderOptions& options) const;
    ActionCall getRegionOfDefinition(Effect& instance, double time,
                                     OfxPointD renderScale = {1.0, 1.0}) const;
    /// `region` is the region to render, in canonical coordinates.
    ActionCall getRegionsOfInterest(Effect& instance, double time, OfxRectD region,
                                    OfxPointD renderScale = {1.0, 1.0}) const;
    ActionCall getFramesNeeded(Effect& instance, double time) const;
    ActionCall getClipPreferences(Effect& instance) const;
    ActionCall getTimeDomain(Effect& instance) const;
    ActionCall beginSequenceRender(Effect& instance, const SequenceOptions& options) const;
    ActionCall endSequenceRender(Effect& instance, const SequenceOptions& options) const;
    /// `type` is "OfxTypeParameter" or "OfxTypeClip"; `reason` "OfxChangeUserEdited" ...
    ActionCall instanceChanged(Effect& instance, const std::string& type, const std::string& name,
                               const std::string& reason, double time,
                               OfxPointD renderScale = {1.0, 1.0}) const;
    ActionCall beginInstanceChanged(Effect& instance, const std::string& reason) const;
    ActionCall endInstanceChanged(Effect& instance, const std::string& reason) const;
    /// PurgeCaches, SyncPrivateData, Begin/EndInstanceEdit, InvokeHelp, InvokeAbout, or any
    /// other action on the instance, with its argument sets at their defaults (the keyframe
    /// uplift's included).
    ActionCall simpleAction(Effect& instance, const std::string& action) const;

private:
    Host& host_;
    OfxPlugin* record_ = nullptr;
    ArgumentsHook hook_;
    std::unique_ptr<Effect> descriptor_;
    std::map<std::string, std::unique_ptr<Effect>> contextDescriptors_;
};

/// What renderFrame did.
struct FrameResult {
    /// The first failing action's status, else the render's (kOfxStatOK when it rendered).
    OfxStatus status = kOfxStatReplyDefault;
    /// The action that failed; empty when none did.
    std::string failedAction;
    /// What GetRegionOfDefinition left in outArgs.
    OfxRectD regionOfDefinition{0, 0, 0, 0};
    /// What GetRegionsOfInterest left in outArgs, per input clip.
    std::map<std::string, OfxRectD> regionsOfInterest;
    /// IsIdentity answered kOfxStatOK: the render was skipped, as a host would.
    bool identity = false;
};

struct SessionOptions {
    int pluginIndex = 0;
    std::string context = kOfxImageEffectContextFilter;
};

/// One plug-in with one instance in one context.
class Session {
public:
    Session(Host& host, PluginLibrary& library, SessionOptions options = {});
    /// finish(), ignoring its status.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// Load, Describe, DescribeInContext, CreateInstance; stops at the first that fails and
    /// returns its status (kOfxStatOK when all went through).
    OfxStatus start();
    /// The action start() stopped at; empty when it went through.
    const std::string& failedAction() const { return failedAction_; }

    Plugin& plugin() { return plugin_; }
    bool hasInstance() const { return instance_ != nullptr; }
    /// Throws std::logic_error without a live instance.
    Effect& instance() const;
    /// instance().clip(name).
    Clip& clip(std::string_view name) const;
    /// Serves `image` from clip `clip` at every time.
    void setImage(std::string_view clip, std::shared_ptr<Image> image) const;

    /// Only the Render action.
    ActionCall render(const RenderOptions& options) const;
    /// A host's sequence for one frame: GetRegionOfDefinition, GetRegionsOfInterest (for the
    /// window in canonical coordinates), IsIdentity, BeginSequenceRender, Render (unless
    /// identity), EndSequenceRender (also after a failed render). Stops at the first failure
    /// before the render.
    FrameResult renderFrame(const RenderOptions& options) const;

    /// DestroyInstance (when there is an instance) and Unload (when loaded); returns the first
    /// failing status, or kOfxStatOK. Safe to call twice.
    OfxStatus finish();

private:
    Plugin plugin_;
    SessionOptions options_;
    bool loaded_ = false;
    std::unique_ptr<Effect> instance_;
    std::string failedAction_;
};

}  // namespace ZarvelHost
