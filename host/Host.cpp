#include "host/Host.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

#include "host/Effect.h"
#include "host/Names.h"
#include "host/Suites.h"
#include "host/ThreadPool.h"

namespace ZarvelHost {

namespace {

// The live hosts, oldest first; the last one is current unless another was made current.
std::mutex hostsMutex;
std::vector<Host*> liveHosts;
std::atomic<Host*> currentHost{nullptr};

const void* fetchSuiteEntry(OfxPropertySetHandle hostHandle, const char* name, int version) {
    Host* host = Host::current();
    if (!host) {
        return nullptr;
    }
    try {
        if (host->calls().enter("fetchSuite", name)) {
            return nullptr;
        }
        if (hostHandle != host->properties().handle() || !name) {
            return nullptr;
        }
        return host->suite(name, version);
    } catch (...) {
        return nullptr;
    }
}

void defineHostProperties(HostPropertySet& props) {
    const Access ro = Access::ReadOnly;
    props.defineString(kOfxPropType, {kOfxTypeImageEffectHost}, ro);
    props.defineString(kOfxPropName, {"org.zarvel.testhost"}, ro);
    props.defineString(kOfxPropLabel, {"Zarvel test host"}, ro);
    props.defineInt(kOfxImageEffectHostPropIsBackground, {0}, ro);
    props.defineInt(kOfxImageEffectPropSupportsOverlays, {0}, ro);
    props.defineInt(kOfxImageEffectPropSupportsMultiResolution, {1}, ro);
    props.defineInt(kOfxImageEffectPropSupportsTiles, {1}, ro);
    props.defineInt(kOfxImageEffectPropTemporalClipAccess, {0}, ro);
    props.defineInt(kOfxImageEffectPropMultipleClipDepths, {0}, ro);
    props.defineInt(kOfxImageEffectPropSupportsMultipleClipPARs, {0}, ro);
    props.defineInt(kOfxImageEffectPropSetableFrameRate, {0}, ro);
    props.defineInt(kOfxImageEffectPropSetableFielding, {0}, ro);
    props.defineInt(kOfxParamHostPropSupportsStringAnimation, {0}, ro);
    props.defineInt(kOfxParamHostPropSupportsCustomInteract, {0}, ro);
    props.defineInt(kOfxParamHostPropSupportsChoiceAnimation, {0}, ro);
    props.defineInt(kOfxParamHostPropSupportsBooleanAnimation, {0}, ro);
    props.defineInt(kOfxParamHostPropSupportsCustomAnimation, {0}, ro);
    props.defineInt(kOfxParamHostPropMaxParameters, {-1}, ro);
    props.defineInt(kOfxParamHostPropMaxPages, {0}, ro);
    props.defineInt(kOfxParamHostPropPageRowColumnCount, {0, 0}, ro);
    props.defineString(kOfxImageEffectPropSupportedComponents,
                       {kOfxImageComponentRGBA, kOfxImageComponentAlpha}, ro, Dimension::Variable);
    props.defineString(kOfxImageEffectPropSupportedContexts,
                       {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral}, ro,
                       Dimension::Variable);
    props.defineString(kOfxImageEffectPropSupportedPixelDepths,
                       {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat}, ro,
                       Dimension::Variable);
}

}  // namespace

// The host's own recursive mutex: destroying it while locked, or unlocking it from a thread that
// does not hold it, must answer a status, which std::recursive_mutex cannot promise.
struct Host::Mutex {
    static constexpr HandleKind handleKind = HandleKind::Mutex;
    std::mutex mutex;
    std::condition_variable released;
    std::thread::id owner;
    int depth = 0;
};

struct Host::ImageMemory {
    explicit ImageMemory(std::size_t bytes)
        : data(new unsigned char[bytes == 0 ? 1 : bytes]) {}
    std::unique_ptr<unsigned char[]> data;
    int locks = 0;
};

Host::Host()
    : properties_(std::make_unique<HostPropertySet>(*this, "host"))
    , threadPool_(std::make_unique<ThreadPool>()) {
    defineHostProperties(*properties_);
    record_.host = properties_->handle();
    record_.fetchSuite = &fetchSuiteEntry;
    for (const SuiteId& id : knownSuites()) {
        suiteEnabled_[id] = true;
    }
    cpuCount_ = std::max(1u, std::thread::hardware_concurrency());
    std::lock_guard lock(hostsMutex);
    liveHosts.push_back(this);
    currentHost = this;
}

Host::~Host() {
    threadPool_.reset();  // no multiThread call is running now; its workers are idle
    {
        std::lock_guard lock(hostsMutex);
        liveHosts.erase(std::remove(liveHosts.begin(), liveHosts.end(), this), liveHosts.end());
        if (currentHost == this) {
            currentHost = liveHosts.empty() ? nullptr : liveHosts.back();
        }
    }
    // Outstanding objects go while the registry they unregister from still exists.
    std::lock_guard imagesLock(imagesMutex_);
    images_.clear();
}

Host* Host::current() {
    return currentHost.load(std::memory_order_acquire);
}

void Host::makeCurrent() {
    std::lock_guard lock(hostsMutex);
    currentHost = this;
}

// ---------------------------------------------------------------------------------------------
// Suites
// ---------------------------------------------------------------------------------------------

const std::vector<SuiteId>& Host::knownSuites() {
    static const std::vector<SuiteId> suites = {
        {kOfxImageEffectSuite, 1},
        {kOfxPropertySuite, 1},
        {kOfxParameterSuite, 1},
        {kOfxMemorySuite, 1},
        {kOfxMultiThreadSuite, 1},
        {kOfxMessageSuite, 1},
        {kOfxMessageSuite, 2},
        {kOfxProgressSuite, 1},
        {kOfxVegasProgressSuite, 1},
        {kOfxTimeLineSuite, 1},
        {kOfxVegasStereoscopicImageEffectSuite, 1},
        {kOfxVegasKeyframeSuite, 1},
        {kOfxInteractSuite, 1},
        {kOfxHWndInteractSuite, 1},
    };
    return suites;
}

void Host::setSuiteEnabled(const std::string& name, int version, bool enabled) {
    std::lock_guard lock(suitesMutex_);
    suiteEnabled_[{name, version}] = enabled;
}

void Host::disableOptionalSuites() {
    const std::vector<SuiteId> mandatory = {
        {kOfxImageEffectSuite, 1}, {kOfxPropertySuite, 1},    {kOfxParameterSuite, 1},
        {kOfxMemorySuite, 1},      {kOfxMultiThreadSuite, 1}, {kOfxMessageSuite, 1},
    };
    std::lock_guard lock(suitesMutex_);
    for (auto& entry : suiteEnabled_) {
        const SuiteId& id = entry.first;
        entry.second = std::find_if(mandatory.begin(), mandatory.end(), [&](const SuiteId& m) {
                           return m.name == id.name && m.version == id.version;
                       }) != mandatory.end();
    }
}

bool Host::isSuiteEnabled(const std::string& name, int version) const {
    std::lock_guard lock(suitesMutex_);
    auto found = suiteEnabled_.find({name, version});
    return found != suiteEnabled_.end() && found->second;
}

const void* Host::suite(const char* name, int version) const {
    if (!name || !isSuiteEnabled(name, version)) {
        return nullptr;
    }
    const std::string_view wanted = name;
    if (version == 1) {
        if (wanted == kOfxPropertySuite) {
            return propertySuite();
        }
        if (wanted == kOfxParameterSuite) {
            return parameterSuite();
        }
        if (wanted == kOfxImageEffectSuite) {
            return imageEffectSuite();
        }
        if (wanted == kOfxMultiThreadSuite) {
            return multiThreadSuite();
        }
        if (wanted == kOfxMemorySuite) {
            return memorySuite();
        }
        if (wanted == kOfxMessageSuite) {
            return messageSuiteV1();
        }
        return opaqueSuite(name);
    }
    if (version == 2 && wanted == kOfxMessageSuite) {
        return messageSuiteV2();
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Abort
// ---------------------------------------------------------------------------------------------

void Host::setAbortAfter(std::uint64_t calls) {
    abortAfter_ = abortCalls_ + calls;
    abortAfterSet_ = true;
}

void Host::clearAbort() {
    abort_ = false;
    abortAfterSet_ = false;
}

int Host::answerAbort() {
    const std::uint64_t call = abortCalls_++;
    if (abort_) {
        return 1;
    }
    return abortAfterSet_ && call >= abortAfter_ ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Handles and images
// ---------------------------------------------------------------------------------------------

void Host::registerHandle(const void* handle, HandleKind kind) {
    std::unique_lock lock(registryMutex_);
    registry_[handle] = kind;
}

void Host::unregisterHandle(const void* handle) {
    std::unique_lock lock(registryMutex_);
    registry_.erase(handle);
}

bool Host::isLive(const void* handle, HandleKind kind) const {
    if (!handle) {
        return false;
    }
    std::shared_lock lock(registryMutex_);
    auto found = registry_.find(handle);
    return found != registry_.end() && found->second == kind;
}

HostPropertySet* Host::findPropertySet(OfxPropertySetHandle handle) const {
    return find<HostPropertySet>(handle);
}

void Host::adoptImage(std::unique_ptr<FetchedImage> image) {
    const void* key = image->properties.handle();
    std::lock_guard lock(imagesMutex_);
    images_[key] = std::move(image);
    ++imagesFetched_;
}

OfxStatus Host::releaseImage(OfxPropertySetHandle image) {
    std::unique_ptr<FetchedImage> released;
    {
        std::lock_guard lock(imagesMutex_);
        auto found = images_.find(image);
        if (found == images_.end()) {
            ++badImageReleases_;
            return kOfxStatErrBadHandle;
        }
        released = std::move(found->second);
        images_.erase(found);
        ++imagesReleased_;
    }
    return kOfxStatOK;
}

std::size_t Host::imagesOutstanding() const {
    std::lock_guard lock(imagesMutex_);
    return images_.size();
}

// ---------------------------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------------------------

OfxStatus Host::allocateMemory(std::size_t bytes, void** data) {
    if (!data) {
        return kOfxStatErrValue;
    }
    std::unique_ptr<unsigned char[]> block(
        new (std::nothrow) unsigned char[bytes == 0 ? 1 : bytes]);
    if (!block) {
        return kOfxStatErrMemory;
    }
    std::lock_guard lock(memoryMutex_);
    void* address = block.get();
    memory_[address] = std::move(block);
    *data = address;
    return kOfxStatOK;
}

OfxStatus Host::freeMemory(void* data) {
    std::lock_guard lock(memoryMutex_);
    auto found = memory_.find(data);
    if (found == memory_.end()) {
        ++badMemoryFrees_;
        return kOfxStatErrBadHandle;
    }
    memory_.erase(found);
    return kOfxStatOK;
}

OfxStatus Host::allocateImageMemory(std::size_t bytes, OfxImageMemoryHandle* handle) {
    if (!handle) {
        return kOfxStatErrValue;
    }
    auto block = std::make_unique<ImageMemory>(bytes);
    std::lock_guard lock(memoryMutex_);
    const void* key = block.get();
    imageMemory_[key] = std::move(block);
    registerHandle(key, HandleKind::ImageMemory);
    *handle = reinterpret_cast<OfxImageMemoryHandle>(const_cast<void*>(key));
    return kOfxStatOK;
}

OfxStatus Host::freeImageMemory(OfxImageMemoryHandle handle) {
    std::lock_guard lock(memoryMutex_);
    auto found = imageMemory_.find(handle);
    if (found == imageMemory_.end()) {
        ++badMemoryFrees_;
        return kOfxStatErrBadHandle;
    }
    unregisterHandle(handle);
    imageMemory_.erase(found);
    return kOfxStatOK;
}

OfxStatus Host::lockImageMemory(OfxImageMemoryHandle handle, void** data) {
    if (!data) {
        return kOfxStatErrValue;
    }
    std::lock_guard lock(memoryMutex_);
    auto found = imageMemory_.find(handle);
    if (found == imageMemory_.end()) {
        return kOfxStatErrBadHandle;
    }
    ++found->second->locks;
    *data = found->second->data.get();
    return kOfxStatOK;
}

OfxStatus Host::unlockImageMemory(OfxImageMemoryHandle handle) {
    std::lock_guard lock(memoryMutex_);
    auto found = imageMemory_.find(handle);
    if (found == imageMemory_.end()) {
        return kOfxStatErrBadHandle;
    }
    if (found->second->locks > 0) {
        --found->second->locks;
    }
    return kOfxStatOK;
}

std::size_t Host::memoryOutstanding() const {
    std::lock_guard lock(memoryMutex_);
    return memory_.size() + imageMemory_.size();
}

// ---------------------------------------------------------------------------------------------
// Mutexes
// ---------------------------------------------------------------------------------------------

OfxStatus Host::createMutex(OfxMutexHandle* mutex, int lockCount) {
    if (!mutex || lockCount < 0) {
        return kOfxStatErrValue;
    }
    auto created = std::make_unique<Mutex>();
    if (lockCount > 0) {
        created->owner = std::this_thread::get_id();
        created->depth = lockCount;
    }
    const void* key = created.get();
    {
        std::lock_guard lock(mutexesMutex_);
        mutexes_[key] = std::move(created);
    }
    registerHandle(key, HandleKind::Mutex);
    *mutex = reinterpret_cast<OfxMutexHandle>(const_cast<void*>(key));
    return kOfxStatOK;
}

OfxStatus Host::destroyMutex(OfxMutexHandle mutex) {
    std::unique_ptr<Mutex> destroyed;
    {
        std::lock_guard lock(mutexesMutex_);
        auto found = mutexes_.find(mutex);
        if (found == mutexes_.end()) {
            return kOfxStatErrBadHandle;
        }
        destroyed = std::move(found->second);
        mutexes_.erase(found);
    }
    unregisterHandle(mutex);
    return kOfxStatOK;
}

OfxStatus Host::lockMutex(OfxMutexHandle handle) {
    Mutex* mutex = find<Mutex>(handle);
    if (!mutex) {
        return kOfxStatErrBadHandle;
    }
    const auto self = std::this_thread::get_id();
    std::unique_lock lock(mutex->mutex);
    mutex->released.wait(lock, [&] { return mutex->depth == 0 || mutex->owner == self; });
    mutex->owner = self;
    ++mutex->depth;
    return kOfxStatOK;
}

OfxStatus Host::unlockMutex(OfxMutexHandle handle) {
    Mutex* mutex = find<Mutex>(handle);
    if (!mutex) {
        return kOfxStatErrBadHandle;
    }
    std::unique_lock lock(mutex->mutex);
    if (mutex->depth == 0 || mutex->owner != std::this_thread::get_id()) {
        return kOfxStatErrValue;
    }
    if (--mutex->depth == 0) {
        mutex->owner = std::thread::id();
        lock.unlock();
        mutex->released.notify_one();
    }
    return kOfxStatOK;
}

OfxStatus Host::tryLockMutex(OfxMutexHandle handle) {
    Mutex* mutex = find<Mutex>(handle);
    if (!mutex) {
        return kOfxStatErrBadHandle;
    }
    const auto self = std::this_thread::get_id();
    std::lock_guard lock(mutex->mutex);
    if (mutex->depth != 0 && mutex->owner != self) {
        return kOfxStatFailed;
    }
    mutex->owner = self;
    ++mutex->depth;
    return kOfxStatOK;
}

std::size_t Host::mutexesOutstanding() const {
    std::lock_guard lock(mutexesMutex_);
    return mutexes_.size();
}

// ---------------------------------------------------------------------------------------------
// Messages
// ---------------------------------------------------------------------------------------------

OfxStatus Host::postMessage(Message message) {
    const bool question = message.function == "message" && message.type == Names::messageQuestion;
    std::lock_guard lock(messagesMutex_);
    messages_.push_back(std::move(message));
    return question ? questionReply_.load() : kOfxStatOK;
}

std::vector<Message> Host::messages() const {
    std::lock_guard lock(messagesMutex_);
    return messages_;
}

void Host::clearMessages() {
    std::lock_guard lock(messagesMutex_);
    messages_.clear();
}

}  // namespace ZarvelHost
