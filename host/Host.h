// The test host: an in-process OpenFX image-effect host for tests, the command-line renderer,
// the benchmark and the fuzzer.
//
// A `Host` gives a plug-in the OfxHost record (`ofxHost()`) whose fetchSuite hands out the
// property, parameter, image-effect, multi-thread, memory and message suites (versions 1 and 2)
// and opaque tables for the optional progress, timeline, stereoscopic, keyframe and interact
// suites. Any suite, mandatory ones included, can be switched off. Around the suites it keeps:
//  - the host description property set (`properties()`), which tests may edit freely;
//  - a record of calls and fault injection (`calls()`, see Calls.h);
//  - counters of image fetches and releases, memory blocks and mutexes;
//  - the multi-thread settings (CPU count reported; threads started per call, kept in a pool, or
//    one index after another) and the pool itself;
//  - an abort switch;
//  - the messages the plug-in posted.
//
// The objects behind the handles (property sets, parameter sets and parameters, effects, clips)
// are made by the classes of Properties.h, Parameters.h and Effect.h; each registers its handle
// with its host, which is how the suites tell live handles from stale or foreign ones
// (kOfxStatErrBadHandle). Fetched images, memory blocks and mutexes are owned by the host.
//
// The current host. The suite functions are plain C functions shared by every host, and some
// take no handle (multiThreadNumCPUs, memoryFree ...), so they act on the current host: the most
// recently constructed Host still alive (or the one made current with `makeCurrent`). Drive one
// plug-in through one host at a time; a second Host made while the first lives takes over.
//
// fetchSuite answers only for the host property set of the current host (the one in its own
// OfxHost record); any other first argument gets null.
//
// Memory: nothing grows with the number of calls or frames except what a test switches on (the
// call record) and the messages the plug-in posts, so long runs stay flat.
//
// Thread-safety: every member function may be called from any thread, concurrently with the
// plug-in's suite calls, except construction and destruction. Objects made on a host must be
// destroyed before it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/Calls.h"
#include "host/Handles.h"
#include "host/Properties.h"
#include "host/SharedMutex.h"
#include "openfx/openfx.h"

namespace ZarvelHost {

struct FetchedImage;
class ThreadPool;

/// How multiThread runs its indices on real threads (see Host::setThreadMode).
enum class ThreadMode { SpawnPerCall, Pool };

/// A message the plug-in posted through the message suite.
struct Message {
    /// "message", "setPersistentMessage" or "clearPersistentMessage".
    std::string function;
    std::string type;
    std::string id;
    /// The formatted text.
    std::string text;
};

/// One suite the host can give, with the version asked for.
struct SuiteId {
    std::string name;
    int version = 1;
    bool operator<(const SuiteId& other) const {
        return name < other.name || (name == other.name && version < other.version);
    }
};

class Host {
public:
    /// Makes the host with every suite on and the default description, and makes it current.
    Host();
    /// Releases outstanding images, memory blocks and mutexes; the previous host becomes current.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    /// The host the suite functions act on, or null when no host exists.
    static Host* current();
    /// Makes this host the current one.
    void makeCurrent();

    /// The record to give the plug-in's setHost. Lives as long as the host.
    OfxHost* ofxHost() { return &record_; }

    /// The host description ("OfxPropName", "OfxImageEffectPropSupportsTiles", supported
    /// depths, components and contexts ...). Defaults: name "org.zarvel.testhost", not
    /// background, no overlays, multi-resolution and tiles supported, no temporal access, no
    /// multiple depths or PARs, nothing settable, no string/choice/boolean/custom animation, no
    /// custom interacts, max parameters -1, max pages 0, page rows and columns 0 and 0,
    /// components RGBA and Alpha, contexts filter and general, depths byte, short and float.
    /// All read-only to the plug-in. Tests may change, retype or remove any of them.
    HostPropertySet& properties() { return *properties_; }

    /// The record of calls and the fault rules.
    CallMonitor& calls() { return calls_; }

    // -- Suites ---------------------------------------------------------------------------------

    /// Every suite the host knows, with its version, in the order a plug-in fetches them.
    static const std::vector<SuiteId>& knownSuites();
    /// Switches one suite on or off; fetchSuite answers null for a suite that is off. Unknown
    /// names are accepted (they stay unknown to fetchSuite).
    void setSuiteEnabled(const std::string& name, int version, bool enabled);
    /// Switches off every suite but the six mandatory ones (property, parameter, image effect,
    /// multi-thread, memory, message version 1).
    void disableOptionalSuites();
    bool isSuiteEnabled(const std::string& name, int version) const;
    /// What fetchSuite answers for this name and version, without counting a call: the suite
    /// table, or null when the suite is unknown or off.
    const void* suite(const char* name, int version) const;

    // -- Threads --------------------------------------------------------------------------------

    /// The count multiThreadNumCPUs reports. Default: the machine's hardware threads (at least
    /// 1). Any value may be set, 0 and huge ones included: it is only reported.
    void setCpuCount(unsigned count) { cpuCount_ = count; }
    unsigned cpuCount() const { return cpuCount_; }
    /// When on, multiThread runs the thread function for index 0, 1, ... one after another on
    /// the calling thread, as some hosts do. Off by default (real threads).
    void setSerialThreads(bool serial) { serialThreads_ = serial; }
    bool serialThreads() const { return serialThreads_; }
    /// Most threads one multiThread call runs on (default 64); a larger request is spread over
    /// this many threads, each running several indices in turn.
    void setMaxThreads(unsigned count) { maxThreads_ = count == 0 ? 1 : count; }
    unsigned maxThreads() const { return maxThreads_; }
    /// How multiThread runs its indices when not serial. ThreadMode::SpawnPerCall (the default)
    /// starts min(count, maxThreads) threads for each call and joins them before returning.
    /// ThreadMode::Pool hands the indices to the host's persistent pool (ThreadPool.h): the
    /// calling thread and up to maxThreads - 1 workers that are started once and kept until the
    /// host is destroyed, as production hosts do. May be switched at any time; a call runs in
    /// the mode it started in.
    void setThreadMode(ThreadMode mode) { threadMode_ = mode; }
    ThreadMode threadMode() const { return threadMode_; }
    /// The pool behind ThreadMode::Pool. Its workers are started by the first call that needs
    /// them and stopped by the host's destructor.
    ThreadPool& threadPool() { return *threadPool_; }
    /// multiThread calls that ran (neither failed by a rule nor refused).
    std::uint64_t multiThreadRuns() const { return multiThreadRuns_; }

    // -- Abort ----------------------------------------------------------------------------------

    /// While on, the image-effect suite's abort answers 1.
    void setAbort(bool on) { abort_ = on; }
    /// abort answers 0 for the next `calls` calls and 1 from then on (until clearAbort).
    void setAbortAfter(std::uint64_t calls);
    /// Back to never aborting.
    void clearAbort();
    /// abort calls answered so far.
    std::uint64_t abortCalls() const { return abortCalls_; }

    // -- Parameters -----------------------------------------------------------------------------

    /// The time paramGetValue and paramSetValue (the forms without a time) use. Default 0.
    void setCurrentTime(double time) { currentTime_ = time; }
    double currentTime() const { return currentTime_; }

    // -- Images ---------------------------------------------------------------------------------

    /// Successful clipGetImage calls.
    std::uint64_t imagesFetched() const { return imagesFetched_; }
    /// Successful clipReleaseImage calls.
    std::uint64_t imagesReleased() const { return imagesReleased_; }
    /// clipReleaseImage calls with a handle that is not an outstanding image (never fetched,
    /// already released, null). They answer kOfxStatErrBadHandle and change nothing else.
    std::uint64_t badImageReleases() const { return badImageReleases_; }
    /// Images fetched and not yet released.
    std::size_t imagesOutstanding() const;
    /// What clipReleaseImage does, without counting a call: releases an outstanding image
    /// (kOfxStatOK), or counts a bad release and answers kOfxStatErrBadHandle.
    OfxStatus releaseImage(OfxPropertySetHandle image);

    // -- Memory, mutexes, messages --------------------------------------------------------------

    /// Blocks of the memory suite and of image memory not yet freed.
    std::size_t memoryOutstanding() const;
    /// memoryFree / imageMemoryFree calls with an address or handle the host did not give.
    std::uint64_t badMemoryFrees() const { return badMemoryFrees_; }
    /// Mutexes created and not yet destroyed.
    std::size_t mutexesOutstanding() const;
    /// Every message posted so far, in order.
    std::vector<Message> messages() const;
    void clearMessages();
    /// What message answers for the type "OfxMessageQuestion" (default kOfxStatReplyYes); other
    /// types answer kOfxStatOK.
    void setQuestionReply(OfxStatus reply) { questionReply_ = reply; }

    // -- Handles --------------------------------------------------------------------------------

    /// The live property set behind `handle` (any kind: plain, descriptor, instance, clip,
    /// image, argument set), or null when the handle is not one of this host's.
    HostPropertySet* findPropertySet(OfxPropertySetHandle handle) const;
    /// True when `handle` is a live object of that kind made on this host.
    bool isLive(const void* handle, HandleKind kind) const;
    /// Checked handle look-up for the suites: `T` names its kind as `T::handleKind`.
    template <class T>
    T* find(const void* handle) const {
        return isLive(handle, T::handleKind) ? static_cast<T*>(const_cast<void*>(handle)) : nullptr;
    }

    // -- For the objects and suites of this library (not for tests) ----------------------------

    void registerHandle(const void* handle, HandleKind kind);
    void unregisterHandle(const void* handle);
    /// Takes ownership of a fetched image and counts the fetch.
    void adoptImage(std::unique_ptr<FetchedImage> image);
    OfxStatus allocateMemory(std::size_t bytes, void** data);
    OfxStatus freeMemory(void* data);
    OfxStatus allocateImageMemory(std::size_t bytes, OfxImageMemoryHandle* handle);
    OfxStatus freeImageMemory(OfxImageMemoryHandle handle);
    OfxStatus lockImageMemory(OfxImageMemoryHandle handle, void** data);
    OfxStatus unlockImageMemory(OfxImageMemoryHandle handle);
    OfxStatus createMutex(OfxMutexHandle* mutex, int lockCount);
    OfxStatus destroyMutex(OfxMutexHandle mutex);
    OfxStatus lockMutex(OfxMutexHandle mutex);
    OfxStatus unlockMutex(OfxMutexHandle mutex);
    OfxStatus tryLockMutex(OfxMutexHandle mutex);
    /// Posts a message and returns the reply.
    OfxStatus postMessage(Message message);
    /// Answers one abort call.
    int answerAbort();
    void countMultiThreadRun() { ++multiThreadRuns_; }

private:
    struct ImageMemory;
    struct Mutex;

    // The registry comes first: every other member registers in it.
    mutable SharedMutex registryMutex_;
    std::unordered_map<const void*, HandleKind> registry_;

    CallMonitor calls_;
    std::unique_ptr<HostPropertySet> properties_;
    OfxHost record_{};

    mutable std::mutex suitesMutex_;
    std::map<SuiteId, bool> suiteEnabled_;

    std::atomic<unsigned> cpuCount_{1};
    std::atomic<bool> serialThreads_{false};
    std::atomic<unsigned> maxThreads_{64};
    std::atomic<ThreadMode> threadMode_{ThreadMode::SpawnPerCall};
    std::unique_ptr<ThreadPool> threadPool_;
    std::atomic<std::uint64_t> multiThreadRuns_{0};

    std::atomic<bool> abort_{false};
    std::atomic<bool> abortAfterSet_{false};
    std::atomic<std::uint64_t> abortAfter_{0};
    std::atomic<std::uint64_t> abortCalls_{0};

    std::atomic<double> currentTime_{0.0};

    mutable std::mutex imagesMutex_;
    std::unordered_map<const void*, std::unique_ptr<FetchedImage>> images_;
    std::atomic<std::uint64_t> imagesFetched_{0};
    std::atomic<std::uint64_t> imagesReleased_{0};
    std::atomic<std::uint64_t> badImageReleases_{0};

    mutable std::mutex memoryMutex_;
    std::unordered_map<void*, std::unique_ptr<unsigned char[]>> memory_;
    std::unordered_map<const void*, std::unique_ptr<ImageMemory>> imageMemory_;
    std::atomic<std::uint64_t> badMemoryFrees_{0};

    mutable std::mutex mutexesMutex_;
    std::unordered_map<const void*, std::unique_ptr<Mutex>> mutexes_;

    mutable std::mutex messagesMutex_;
    std::vector<Message> messages_;
    std::atomic<OfxStatus> questionReply_{kOfxStatReplyYes};
};

}  // namespace ZarvelHost
