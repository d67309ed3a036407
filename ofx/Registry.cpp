// The plug-in registry and the two functions the library exports.
#include "ofx/Private.h"

#include "ofx/Core.h"
#include "openfx/openfx.h"

namespace OFX {

std::mutex frameMutex;
std::vector<PluginFactory*> factoryList;
std::vector<std::unique_ptr<OfxPlugin>> pluginRecords;
std::map<std::string, RegistryEntry> pluginRegistry;
bool registryBuilt = false;

std::string uniqueKeyOf(const std::string& identifier, unsigned int versionMajor,
                        unsigned int versionMinor) {
    return identifier + std::to_string(versionMajor) + std::to_string(versionMinor);
}

void setHost(OfxHost* host) noexcept {
    hostPointer.store(host, std::memory_order_release);
}

namespace Private {

std::pair<PluginFactory*, std::unique_ptr<OfxPlugin>> makePluginRecord(PluginFactory* factory) {
    auto record = std::make_unique<OfxPlugin>();  // zero-filled
    record->pluginApi = kOfxImageEffectPluginApi;
    record->apiVersion = 1;
    // The factory outlives the record, so its own characters can be handed out.
    record->pluginIdentifier = factory->pluginIdentifier().c_str();
    record->pluginVersionMajor = factory->pluginVersionMajor();
    record->pluginVersionMinor = factory->pluginVersionMinor();
    record->setHost = &setHost;
    record->mainEntry = factory->mainEntry();
    return {factory, std::move(record)};
}

void ensureRegistry() {
    if (registryBuilt) {
        return;
    }
    // Built aside and committed with swaps that cannot throw, so a failure leaves no half-filled
    // registry behind and the next call starts again from the effect's list.
    std::vector<PluginFactory*> factories;
    appendEffectFactories(factories);
    std::vector<std::unique_ptr<OfxPlugin>> records(factories.size());
    std::map<std::string, RegistryEntry> registry;
    for (std::size_t index = 0; index < factories.size(); ++index) {
        const std::string key = factories[index]->uniqueKey();
        auto made = makePluginRecord(factories[index]);
        registry[key] = RegistryEntry{made.first, made.second.get()};
        records[index] = std::move(made.second);
    }
    factoryList.swap(factories);
    pluginRecords.swap(records);
    pluginRegistry.swap(registry);
    registryBuilt = true;
}

PluginFactory* findFactory(const char* uniqueKey) {
    if (!uniqueKey) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(frameMutex);
    ensureRegistry();
    auto found = pluginRegistry.find(uniqueKey);
    return found == pluginRegistry.end() ? nullptr : found->second.factory;
}

}  // namespace Private
}  // namespace OFX

// The two exported functions. The host calls them through C frames, so nothing may leave them:
// any failure, running out of memory included, answers 0 or null.

int OfxGetNumberOfPlugins(void) {
    try {
        std::lock_guard<std::mutex> lock(OFX::frameMutex);
        OFX::Private::ensureRegistry();
        return static_cast<int>(OFX::factoryList.size());
    } catch (...) {
        return 0;
    }
}

OfxPlugin* OfxGetPlugin(int nth) {
    try {
        std::lock_guard<std::mutex> lock(OFX::frameMutex);
        OFX::Private::ensureRegistry();
        const int distinctPlugins = static_cast<int>(OFX::pluginRegistry.size());
        OFX::logError(nth < 0 || nth >= distinctPlugins,
                      "Host attempted to get plugin %d, when there is only %d plugin(s), so it "
                      "should have asked for 0.",
                      nth, distinctPlugins);
        if (nth < 0 || static_cast<std::size_t>(nth) >= OFX::pluginRecords.size()) {
            return nullptr;
        }
        return OFX::pluginRecords[static_cast<std::size_t>(nth)].get();
    } catch (...) {
        return nullptr;
    }
}
