#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"
#include "host/Plugin.h"
#include "ofx/Core.h"
#include "ofx/Private.h"
#include "openfx/openfx.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"

// Allocation failure on demand, for the calling thread only: the test program's global
// allocation functions count down and throw std::bad_alloc once the count reaches 0. Every form
// a plug-in may allocate with is replaced, so that each block is freed by the family that made
// it (the sanitizers check that).
namespace {
thread_local long allocationsBeforeFailure = -1;  // below 0: never fail

void* allocate(std::size_t size) {
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (allocationsBeforeFailure > 0) {
        --allocationsBeforeFailure;
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
}  // namespace

// These are the allocation functions themselves: malloc and free are their matching pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

using zarvel::test::CaptureLog;

// Back to a library whose exported functions were never called.
void forgetRegistry() {
    std::lock_guard<std::mutex> lock(OFX::frameMutex);
    OFX::factoryList.clear();
    OFX::pluginRecords.clear();
    OFX::pluginRegistry.clear();
    OFX::registryBuilt = false;
}

class Registry : public ::testing::Test {
protected:
    Registry() { forgetRegistry(); }
    ~Registry() override {
        allocationsBeforeFailure = -1;
        forgetRegistry();
        zarvel::test::resetSupportLayer();
        std::lock_guard<std::mutex> lock(OFX::frameMutex);
        OFX::descriptorRegistry.clear();
    }
};

TEST(UniqueKey, IsTheIdentifierFollowedByTheVersionDigits) {
    EXPECT_EQ(OFX::uniqueKeyOf("org.zarvel.outline", 2, 0), "org.zarvel.outline20");
    EXPECT_EQ(OFX::uniqueKeyOf("a.b", 1, 23), "a.b123");
    EXPECT_EQ(OFX::uniqueKeyOf("a.b", 12, 3), "a.b123");
    EXPECT_EQ(OFX::uniqueKeyOf("a.b", 4294967295u, 10), "a.b429496729510");
}

TEST_F(Registry, HandsOutOneRecordForTheEffect) {
    EXPECT_EQ(OfxGetNumberOfPlugins(), 1);
    EXPECT_EQ(OfxGetNumberOfPlugins(), 1);
    ASSERT_EQ(OFX::factoryList.size(), 1u);  // the effect was asked once
    OFX::PluginFactory& factory = *OFX::factoryList[0];

    OfxPlugin* record = OfxGetPlugin(0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(OfxGetPlugin(0), record);
    EXPECT_STREQ(record->pluginApi, "OfxImageEffectPluginAPI");
    EXPECT_EQ(record->apiVersion, 1);
    EXPECT_EQ(record->pluginIdentifier, factory.pluginIdentifier().c_str());
    EXPECT_STREQ(record->pluginIdentifier, "org.zarvel.outline");
    EXPECT_EQ(record->pluginVersionMajor, 2u);
    EXPECT_EQ(record->pluginVersionMinor, 0u);
    EXPECT_EQ(record->setHost, &OFX::setHost);
    EXPECT_EQ(record->mainEntry, factory.mainEntry());

    ASSERT_EQ(OFX::pluginRegistry.size(), 1u);
    EXPECT_EQ(OFX::pluginRegistry.begin()->first, "org.zarvel.outline20");
    EXPECT_EQ(OFX::pluginRegistry.begin()->second.factory, &factory);
    EXPECT_EQ(OFX::pluginRegistry.begin()->second.plugin, record);
}

TEST_F(Registry, AnIndexOutsideTheListGivesNullAndAnErrorLine) {
    for (int index : {1, 2, -1, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
        SCOPED_TRACE(index);
        CaptureLog log;
        EXPECT_EQ(OfxGetPlugin(index), nullptr);
        EXPECT_EQ(log.text(), "ERROR : Host attempted to get plugin " + std::to_string(index) +
                                  ", when there is only 1 plugin(s), so it should have asked "
                                  "for 0.\n");
    }
    CaptureLog log;
    EXPECT_NE(OfxGetPlugin(0), nullptr);
    EXPECT_EQ(log.text(), "");
}

TEST_F(Registry, TheFirstBuildIsSafeFromConcurrentCalls) {
    constexpr int threadCount = 8;
    for (int round = 0; round < 20; ++round) {
        forgetRegistry();
        std::atomic<int> ready{0};
        std::vector<OfxPlugin*> records(threadCount, nullptr);
        std::vector<int> counts(threadCount, -1);
        std::vector<std::thread> threads;
        for (int index = 0; index < threadCount; ++index) {
            threads.emplace_back([&, index] {
                ready.fetch_add(1);
                while (ready.load() < threadCount) {
                }
                if (index % 2 == 0) {
                    counts[index] = OfxGetNumberOfPlugins();
                    records[index] = OfxGetPlugin(0);
                } else {
                    records[index] = OfxGetPlugin(0);
                    counts[index] = OfxGetNumberOfPlugins();
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        ASSERT_NE(records[0], nullptr);
        for (int index = 0; index < threadCount; ++index) {
            EXPECT_EQ(records[index], records[0]);
            EXPECT_EQ(counts[index], 1);
        }
        EXPECT_EQ(OFX::factoryList.size(), 1u);
    }
}

TEST_F(Registry, RunningOutOfMemoryNeverLeavesTheExportedFunctions) {
    // Fail each allocation of the first build in turn: every call answers null or 0, leaves the
    // registry unbuilt, and the next call builds it whole.
    bool built = false;
    for (long failing = 0; !built; ++failing) {
        ASSERT_LT(failing, 1000);
        forgetRegistry();
        allocationsBeforeFailure = failing;
        OfxPlugin* record = OfxGetPlugin(0);
        const bool failed = allocationsBeforeFailure < 0 && record == nullptr;
        allocationsBeforeFailure = -1;
        if (failed) {
            EXPECT_FALSE(OFX::registryBuilt);
            EXPECT_TRUE(OFX::factoryList.empty());
            EXPECT_TRUE(OFX::pluginRegistry.empty());
        } else {
            ASSERT_NE(record, nullptr);
            built = true;
        }
        EXPECT_NE(OfxGetPlugin(0), nullptr);
        EXPECT_EQ(OFX::factoryList.size(), 1u);
    }

    forgetRegistry();
    allocationsBeforeFailure = 0;
    EXPECT_EQ(OfxGetNumberOfPlugins(), 0);
    allocationsBeforeFailure = -1;
    EXPECT_EQ(OfxGetNumberOfPlugins(), 1);
}

TEST_F(Registry, ARecordStaysValidAndUnchangedAfterUnload) {
    ZarvelHost::Host host;
    ZarvelHost::PluginLibrary library(&OfxGetNumberOfPlugins, &OfxGetPlugin);
    OfxPlugin* record = OfxGetPlugin(0);
    ASSERT_NE(record, nullptr);
    const OfxPlugin before = *record;
    {
        ZarvelHost::Plugin plugin(host, library);
        ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
        ASSERT_EQ(plugin.unload(), kOfxStatOK);
    }
    EXPECT_EQ(OfxGetPlugin(0), record);
    EXPECT_EQ(std::memcmp(record, &before, sizeof before), 0);

    // A host that goes on with the record it holds, as some do after an early unload.
    ZarvelHost::Plugin plugin(host, library);
    EXPECT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    auto created = plugin.createInstance(kOfxImageEffectContextFilter);
    EXPECT_EQ(created.status, kOfxStatOK);
    EXPECT_EQ(plugin.destroyInstance(std::move(created.instance)), kOfxStatOK);
    EXPECT_EQ(plugin.unload(), kOfxStatOK);
}

TEST_F(Registry, TheRecordsMainEntryCarriesTheFactorysKey) {
    ZarvelHost::Host host;
    OfxPlugin* record = OfxGetPlugin(0);
    ASSERT_NE(record, nullptr);
    record->setHost(host.ofxHost());
    EXPECT_EQ(OFX::hostPointer.load(), host.ofxHost());
    EXPECT_EQ(record->mainEntry(kOfxActionLoad, nullptr, nullptr, nullptr), kOfxStatOK);
    auto descriptor = ZarvelHost::Effect::makeDescriptor(host);
    EXPECT_EQ(record->mainEntry(kOfxActionDescribe, descriptor->handle(), nullptr, nullptr),
              kOfxStatOK);
    std::lock_guard<std::mutex> lock(OFX::frameMutex);
    ASSERT_EQ(OFX::descriptorRegistry.count("org.zarvel.outline20"), 1u);
    EXPECT_EQ(OFX::descriptorRegistry["org.zarvel.outline20"].count(OFX::contextNone), 1u);
}

}  // namespace
