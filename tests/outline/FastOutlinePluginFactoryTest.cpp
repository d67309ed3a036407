#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"
#include "host/Plugin.h"
#include "ofx/Core.h"
#include "ofx/Private.h"
#include "openfx/openfx.h"
#include "outline/FastOutlinePlugin.h"
#include "outline/FastOutlinePluginFactory.h"
#include "tests/e2e/ExpectedDescription.h"
#include "tests/ofx/SupportHost.h"

namespace {

// The library's factory, described and instantiated through the test host with the effect
// linked in; the layer's process-wide state is reset around each test.
class OutlineFactory : public ::testing::Test {
protected:
    OutlineFactory() {
        zarvel::test::resetSupportLayer();
        OFX::setHost(host.ofxHost());  // the plug-in member was given it before the reset
    }
    ~OutlineFactory() override {
        zarvel::test::resetSupportLayer();
        std::lock_guard<std::mutex> lock(OFX::frameMutex);
        OFX::descriptorRegistry.clear();
    }

    ZarvelHost::Host host;
    ZarvelHost::PluginLibrary library{&OfxGetNumberOfPlugins, &OfxGetPlugin};
    ZarvelHost::Plugin plugin{host, library};
};

TEST(OutlineFactoryList, EveryCallAppendsTheOneFactory) {
    std::vector<OFX::PluginFactory*> factories;
    OFX::appendEffectFactories(factories);
    OFX::appendEffectFactories(factories);
    ASSERT_EQ(factories.size(), 2u);
    EXPECT_EQ(factories[0], factories[1]);
    EXPECT_NE(dynamic_cast<FastOutlinePluginFactory*>(factories[0]), nullptr);
}

TEST(OutlineFactoryList, TheFactoryIsVersionTwoUnderOurReverseDomainIdentifier) {
    std::vector<OFX::PluginFactory*> factories;
    OFX::appendEffectFactories(factories);
    const OFX::PluginFactory& factory = *factories.at(0);
    EXPECT_EQ(factory.pluginIdentifier(), "org.zarvel.outline");
    EXPECT_EQ(factory.uniqueKey(), factory.pluginIdentifier() + "20");
    EXPECT_EQ(factory.pluginVersionMajor(), 2u);
    EXPECT_EQ(factory.pluginVersionMinor(), 0u);
    EXPECT_EQ(factory.mainEntry(),
              &OFX::FactoryMainEntryHelper<FastOutlinePluginFactory>::mainEntry);
}

TEST_F(OutlineFactory, DescribesTheFilterAsTheHostReadsIt) {
    ASSERT_EQ(plugin.load(), kOfxStatOK);
    zarvel::test::expectOutlineDescribed(host, plugin);
    zarvel::test::expectOutlineDescribedInContext(host, plugin, kOfxImageEffectContextFilter);
}

TEST_F(OutlineFactory, DescribesTheSameClipsAndParametersInAnyContext) {
    ASSERT_EQ(plugin.load(), kOfxStatOK);
    ASSERT_EQ(plugin.describe(), kOfxStatOK);
    zarvel::test::expectOutlineDescribedInContext(host, plugin, kOfxImageEffectContextGeneral);
}

TEST_F(OutlineFactory, CreatesAnOutlineInstanceBoundToTheHandle) {
    ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    auto created = plugin.createInstance(kOfxImageEffectContextFilter);
    ASSERT_EQ(created.status, kOfxStatOK);
    auto* instance = static_cast<OFX::ImageEffect*>(created.instance->instanceData());
    ASSERT_NE(dynamic_cast<FastOutlinePlugin*>(instance), nullptr);
    EXPECT_EQ(instance->getEffectHandle(), created.instance->handle());
    EXPECT_EQ(instance->getContext(), OFX::contextFilter);
    EXPECT_EQ(plugin.destroyInstance(std::move(created.instance)), kOfxStatOK);
}

}  // namespace
