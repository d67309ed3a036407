// Core of the OFX support layer: status codes and exceptions, the diagnostic log, the host
// pointer and suites, and the plug-in frame (factories, registry, exported entry points and the
// action dispatcher).
//
// Error model. Inside the plug-in every failure is a C++ exception; at the host boundary every
// result is an OfxStatus. Host statuses become exceptions in exactly two places:
// `checkSuiteStatus` here (the general rule) and `checkPropertyStatus` in Properties.h (the
// narrower rule for property calls). The action dispatcher turns exceptions back into statuses;
// nothing thrown inside the plug-in ever reaches the host.
#pragma once

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "openfx/openfx.h"

#if defined(__GNUC__)
#define ZARVEL_PRINTF_FORMAT(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define ZARVEL_PRINTF_FORMAT(fmtIndex, firstArg)
#endif

namespace OFX {

// ---------------------------------------------------------------------------------------------
// Status codes
// ---------------------------------------------------------------------------------------------

/// The name of an OfxStatus ("kOfxStatOK" ...), or "UNKNOWN STATUS CODE" for any number the
/// standard does not name (negative ones included). Thread-safe; returns static characters.
const char* statusName(int status);

/// True for the statuses the standard names (those `statusName` knows). Thread-safe.
bool isNamedStatus(int status);

namespace Exception {

/// A host call failed with `status`; what() is the status's name.
class Suite : public std::exception {
public:
    explicit Suite(int status)
        : status_(status) {}
    int status() const { return status_; }
    const char* what() const noexcept override;

private:
    int status_;
};

/// Base of the message-carrying exceptions; the message is copied at construction.
class MessageException : public std::exception {
public:
    explicit MessageException(std::string message)
        : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

/// The host lacks something the plug-in cannot work without (the message names the suite).
class HostInadequate : public MessageException {
    using MessageException::MessageException;
};

/// The host does not know a property (message: the property name, or a clip name).
class PropertyUnknownToHost : public MessageException {
    using MessageException::MessageException;
};

/// The host refused a property value (message: the property name).
class PropertyValueIllegalToHost : public MessageException {
    using MessageException::MessageException;
};

/// A parameter was fetched as the wrong kind.
class TypeRequest : public MessageException {
    using MessageException::MessageException;
};

}  // namespace Exception

/// The general status rule, applied to the status of every host call that is not a property
/// call: kOfxStatOK and the three reply codes pass; kOfxStatErrMemory throws std::bad_alloc;
/// any other status writes "Threw suite exception!" to standard output and throws
/// Exception::Suite carrying it. Thread-safe.
void checkSuiteStatus(int status);

// ---------------------------------------------------------------------------------------------
// Diagnostic log
// ---------------------------------------------------------------------------------------------
//
// Every line goes to one process-wide stdio stream. The plug-in never opens it, so in a shipped
// build every call below returns without output; tests and diagnostic builds attach a stream
// with `attachLogStream`. Each line is indented by four spaces per nesting level, and flushed.
// Lines from several threads may interleave; the depth counter itself is race-free.

/// The log file's name: $OFX_PLUGIN_LOGFILE when set at library start-up, else "ofxTestLog.txt".
/// Nothing opens it; it is there for a build that wants to.
const std::string& logFileName();

/// Attaches the stream the log writes to (null detaches). Not owned. Not thread-safe against
/// concurrent log calls: attach before the host starts calling.
void attachLogStream(std::FILE* stream);

/// The attached stream, or null.
std::FILE* logStream();

/// Current nesting depth (starts at 0).
int logDepth();

/// Writes indent, the formatted text and a line break.
void logPrint(const char* format, ...) ZARVEL_PRINTF_FORMAT(1, 2);

/// When `condition` holds, writes indent, "WARNING : ", the formatted text and a line break.
void logWarning(bool condition, const char* format, ...) ZARVEL_PRINTF_FORMAT(2, 3);

/// When `condition` holds, writes indent, "ERROR : ", the formatted text and a line break.
void logError(bool condition, const char* format, ...) ZARVEL_PRINTF_FORMAT(2, 3);

/// Increases / decreases the nesting depth by one, stream or not.
void logIndent();
void logOutdent();

// ---------------------------------------------------------------------------------------------
// Host pointer and host suites
// ---------------------------------------------------------------------------------------------

/// The host record given to the plug-in's set-host function; null until then. Keeps the last value
/// stored for the life of the process.
extern std::atomic<OfxHost*> hostPointer;

/// The host's suite tables, fetched on the first load (`fetchHostSuites`); a member is null while
/// the host has not given that suite. Members are atomic because a host may load the plug-in
/// again while other instances render and read them.
struct HostSuites {
    std::atomic<const OfxImageEffectSuiteV1*> imageEffectSuite{nullptr};
    std::atomic<const OfxPropertySuiteV1*> propertySuite{nullptr};
    std::atomic<const OfxParameterSuiteV1*> parameterSuite{nullptr};
    std::atomic<const OfxMemorySuiteV1*> memorySuite{nullptr};
    std::atomic<const OfxMultiThreadSuiteV1*> multiThreadSuite{nullptr};
    std::atomic<const OfxMessageSuiteV1*> messageSuite{nullptr};
    std::atomic<const OfxMessageSuiteV2*> messageSuiteV2{nullptr};
    std::atomic<const OfxProgressSuiteV1*> progressSuite{nullptr};
    std::atomic<const OfxVegasProgressSuiteV1*> vegasProgressSuite{nullptr};
    std::atomic<const OfxTimeLineSuiteV1*> timeLineSuite{nullptr};
    std::atomic<const OfxVegasStereoscopicImageEffectSuiteV1*> vegasStereoscopicSuite{nullptr};
    std::atomic<const OfxVegasKeyframeSuiteV1*> vegasKeyframeSuite{nullptr};
    std::atomic<const OfxInteractSuiteV1*> interactSuite{nullptr};
    std::atomic<const OfxHWndInteractSuiteV1*> hwndInteractSuite{nullptr};
};

/// The process-wide suite pointers.
extern HostSuites hostSuites;

/// Loads minus unloads: increased first thing by every `fetchHostSuites` (so a failed load
/// counts too), decreased by the unload handling. Suites are fetched only on the load that takes
/// it from 0 to 1.
extern std::atomic<int> loadCount;

/// The suite fetch of "OfxActionLoad", the one place where `hostSuites` is filled:
///   1. increases `loadCount`;
///   2. with no `hostPointer`, writes the error line "Host pointer has not been set." and throws
///      Exception::Suite carrying kOfxStatErrBadHandle (through `checkSuiteStatus`);
///   3. on the first load only (count now 1): fetches every suite in table order, builds the
///      host description after the keyframe suite (`buildHostDescription`, ImageEffect.h), sets
///      its three suite flags, then fetches the interact suite (only when the host supports
///      overlays or custom interacts) and the window-interact suite.
/// A missing mandatory suite writes "Could not fetch the mandatory suite '%s' version %d." and
/// throws Exception::HostInadequate carrying the suite name; the suites fetched before it stay
/// set. A missing optional suite writes the warning "Could not fetch the optional suite '%s'
/// version %d." and leaves its member null. Property failures while building the description
/// throw as the property status rule says; an unknown context string throws
/// std::invalid_argument.
/// Not thread-safe against itself or the unload clean-up: the dispatcher calls both under the
/// frame's lock. Readers on other threads are safe: every store is atomic, and fetching again
/// stores the tables the host gave before (and writes no description field whose value stays).
void fetchHostSuites();

/// Returns the suite `pointer` holds, or throws Exception::HostInadequate naming `suiteName` when
/// the host has not given it (an action arriving before a successful load).
template <class SUITE>
const SUITE* requireSuite(const std::atomic<const SUITE*>& pointer, const char* suiteName) {
    const SUITE* suite = pointer.load(std::memory_order_acquire);
    if (!suite) {
        throw Exception::HostInadequate(suiteName);
    }
    return suite;
}

// ---------------------------------------------------------------------------------------------
// Plug-in factories, registry and entry points
// ---------------------------------------------------------------------------------------------
//
// The library exports `OfxGetNumberOfPlugins` and `OfxGetPlugin` (declared in openfx/openfx.h,
// defined in Registry.cpp with C linkage). The first call of either builds the registry: the
// effect appends its factories (`appendEffectFactories`), and each factory gets one `OfxPlugin`
// record whose main entry forwards every host action, with the factory's unique key, to
// `mainEntryDispatch`. Records stay valid for as long as the library is loaded, Unload or not.
//
// Threads. Hosts do not all keep to the rule that load and describe actions overlap nothing
// else, so the process-wide state of the frame (registry and records, load count, suite
// pointers, the descriptors kept per context) is guarded by one internal lock. Instance actions
// take it only to look something up; no lock is held while an instance renders.

class ImageEffect;
class ImageEffectDescriptor;
enum EffectContext : int;

/// What an effect implements to be described and instantiated. Factories live for the whole
/// process and are never deleted through this interface. The dispatcher holds no lock while it
/// calls them, so `describe`, `describeInContext` and `createInstance` may run while other
/// instances of the plug-in render, and must keep no state of their own.
class PluginFactory {
public:
    /// Called for every "OfxActionLoad", after the host's suites are fetched. Default: nothing.
    virtual void load() {}
    /// Called for every "OfxActionUnload", before the frame's clean-up. Default: nothing.
    virtual void unload() {}
    /// Describes the effect into `descriptor` ("OfxActionDescribe").
    virtual void describe(ImageEffectDescriptor& descriptor) = 0;
    /// Describes the effect in `context` ("OfxImageEffectActionDescribeInContext").
    virtual void describeInContext(ImageEffectDescriptor& descriptor, EffectContext context) = 0;
    /// A new instance bound to the host's instance `handle`. The instance registers itself with
    /// the handle; the dispatcher deletes it on "OfxActionDestroyInstance".
    virtual ImageEffect* createInstance(OfxImageEffectHandle handle, EffectContext context) = 0;
    /// The reverse-domain plug-in identifier; its characters live as long as the factory.
    virtual const std::string& pluginIdentifier() const = 0;
    /// The identifier followed by the decimal major and minor versions, no separator.
    virtual const std::string& uniqueKey() const = 0;
    virtual unsigned int pluginVersionMajor() const = 0;
    virtual unsigned int pluginVersionMinor() const = 0;
    /// The main entry the host calls for this factory's plug-in.
    virtual OfxPluginEntryPoint* mainEntry() const = 0;

protected:
    PluginFactory() = default;
    PluginFactory(const PluginFactory&) = default;
    PluginFactory& operator=(const PluginFactory&) = default;
    ~PluginFactory() = default;
};

/// The unique key of a plug-in: `identifier` followed by the unsigned decimal digits of
/// `versionMajor` and then of `versionMinor`, no separator (2.0 gives "20"; 1.23 and 12.3 give
/// the same key).
std::string uniqueKeyOf(const std::string& identifier, unsigned int versionMajor,
                        unsigned int versionMinor);

/// The one function through which every host action flows. Writes the framing lines to the log
/// (80 asterisks and "START mainEntry (<action>)", the action's own lines one level deeper, then
/// "STOP mainEntry (<action>)" and an empty line; a null action shows as "(null)"), finds the
/// factory of `uniqueKey`, checks the action's handle rule, runs the action and turns every
/// exception into the returned status (a line per exception class on standard output, none for
/// std::bad_alloc). Never throws. Thread-safe as far as the actions are: instance actions may
/// run concurrently on different instances, and load, unload and describe actions may overlap
/// them.
OfxStatus mainEntryDispatch(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                            OfxPropertySetHandle outArgs, const char* uniqueKey) noexcept;

/// The set-host function of every record: stores `host` in `hostPointer`, nothing else (the
/// suites are fetched on "OfxActionLoad"). Thread-safe.
void setHost(OfxHost* host) noexcept;

/// Implemented by the effect: appends its factories to `factories`, in the order the host is to
/// see them. The registry calls it once per process (again only after a build that failed, e.g.
/// for want of memory). May throw std::bad_alloc.
void appendEffectFactories(std::vector<PluginFactory*>& factories);

/// Gives an effect factory class its identity and a main entry of its own, which forwards to the
/// dispatcher with the class-wide unique key. One instantiation per factory class.
template <class FACTORY>
class FactoryMainEntryHelper {
public:
    /// Stores the identity and sets the class-wide `uniqueKey` (see `uniqueKeyOf`).
    FactoryMainEntryHelper(const std::string& pluginIdentifier, unsigned int major,
                           unsigned int minor)
        : identifier(pluginIdentifier)
        , versionMajor(major)
        , versionMinor(minor) {
        uniqueKey = uniqueKeyOf(identifier, versionMajor, versionMinor);
    }

    /// The main entry of FACTORY's plug-in record. Never throws.
    static OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                               OfxPropertySetHandle outArgs) noexcept {
        return mainEntryDispatch(action, handle, inArgs, outArgs, uniqueKey.c_str());
    }

protected:
    std::string identifier;
    unsigned int versionMajor;
    unsigned int versionMinor;
    /// Set by the constructor; read by `mainEntry`, which the host calls only after the factory
    /// exists.
    static inline std::string uniqueKey;
};

/// Implements the identity operations of `PluginFactory` from `FactoryMainEntryHelper`; the
/// effect's factory class derives from it and supplies describe, describeInContext and
/// createInstance.
template <class FACTORY>
class PluginFactoryHelper : public PluginFactory, public FactoryMainEntryHelper<FACTORY> {
public:
    PluginFactoryHelper(const std::string& pluginIdentifier, unsigned int major, unsigned int minor)
        : FactoryMainEntryHelper<FACTORY>(pluginIdentifier, major, minor) {}

    const std::string& pluginIdentifier() const override { return this->identifier; }
    const std::string& uniqueKey() const override {
        return FactoryMainEntryHelper<FACTORY>::uniqueKey;
    }
    unsigned int pluginVersionMajor() const override { return this->versionMajor; }
    unsigned int pluginVersionMinor() const override { return this->versionMinor; }
    OfxPluginEntryPoint* mainEntry() const override {
        return &FactoryMainEntryHelper<FACTORY>::mainEntry;
    }
};

}  // namespace OFX
