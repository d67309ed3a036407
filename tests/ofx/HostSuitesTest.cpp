#include <algorithm>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"
#include "ofx/Core.h"
#include "ofx/ImageEffect.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::thrownBy;

// A host that has not been loaded yet, with the layer's state reset around each test.
class FetchHostSuites : public ::testing::Test {
protected:
    FetchHostSuites() {
        zarvel::test::resetSupportLayer();
        OFX::hostPointer = host.ofxHost();
        host.calls().setRecording(true);
    }
    ~FetchHostSuites() override { zarvel::test::resetSupportLayer(); }

    std::vector<std::string> suitesAskedFor() {
        std::vector<std::string> names;
        for (const auto& record : host.calls().records("fetchSuite")) {
            names.push_back(record.name);
        }
        return names;
    }

    ZarvelHost::Host host;
};

const char* const mandatorySuites[] = {kOfxImageEffectSuite, kOfxPropertySuite,
                                       kOfxParameterSuite,   kOfxMemorySuite,
                                       kOfxMultiThreadSuite, kOfxMessageSuite};

TEST_F(FetchHostSuites, TheFirstLoadFetchesEverySuiteInOrderAndLaterLoadsNothing) {
    host.properties().setInt(kOfxImageEffectPropSupportsOverlays, 1);
    OFX::fetchHostSuites();
    EXPECT_EQ(OFX::loadCount, 1);
    EXPECT_EQ(suitesAskedFor(),
              (std::vector<std::string>{
                  kOfxImageEffectSuite, kOfxPropertySuite, kOfxParameterSuite, kOfxMemorySuite,
                  kOfxMultiThreadSuite, kOfxMessageSuite, kOfxMessageSuite, kOfxProgressSuite,
                  kOfxVegasProgressSuite, kOfxTimeLineSuite, kOfxVegasStereoscopicImageEffectSuite,
                  kOfxVegasKeyframeSuite, kOfxInteractSuite, kOfxHWndInteractSuite}));
    const OFX::HostSuites& suites = OFX::hostSuites;
    EXPECT_EQ(suites.imageEffectSuite.load(), host.suite(kOfxImageEffectSuite, 1));
    EXPECT_EQ(suites.propertySuite.load(), host.suite(kOfxPropertySuite, 1));
    EXPECT_EQ(suites.parameterSuite.load(), host.suite(kOfxParameterSuite, 1));
    EXPECT_EQ(suites.memorySuite.load(), host.suite(kOfxMemorySuite, 1));
    EXPECT_EQ(suites.multiThreadSuite.load(), host.suite(kOfxMultiThreadSuite, 1));
    EXPECT_EQ(suites.messageSuite.load(), host.suite(kOfxMessageSuite, 1));
    EXPECT_EQ(suites.messageSuiteV2.load(), host.suite(kOfxMessageSuite, 2));
    EXPECT_NE(suites.interactSuite.load(), nullptr);

    host.calls().resetCounts();
    OFX::fetchHostSuites();
    EXPECT_EQ(OFX::loadCount, 2);
    EXPECT_EQ(host.calls().callCount(), 0u) << "a second load asks the host nothing";
}

TEST_F(FetchHostSuites, TheDescriptionHoldsWhatTheHostSays) {
    ZarvelHost::HostPropertySet& props = host.properties();
    props.setString(kOfxPropName, "a.host");
    props.setInt(kOfxImageEffectHostPropIsBackground, 1);
    props.setInt(kOfxImageEffectPropSupportsTiles, 0);
    props.setInt(kOfxImageEffectPropSetableFielding, 7);
    props.setInt(kOfxParamHostPropMaxParameters, -1);
    props.setInt(kOfxParamHostPropMaxPages, 3);
    props.setInts(kOfxParamHostPropPageRowColumnCount, {12, 4});
    props.setStrings(kOfxImageEffectPropSupportedComponents,
                     {kOfxImageComponentAlpha, "OfxImageComponentRGB", kOfxImageComponentRGBA});
    props.setStrings(kOfxImageEffectPropSupportedContexts,
                     {kOfxImageEffectContextGeneral, kOfxImageEffectContextFilter});
    props.setStrings(kOfxImageEffectPropSupportedPixelDepths, {kOfxBitDepthFloat});
    host.setSuiteEnabled(kOfxProgressSuite, 1, false);
    host.setSuiteEnabled(kOfxTimeLineSuite, 1, false);

    OFX::fetchHostSuites();
    const OFX::HostDescription& d = OFX::hostDescription();
    EXPECT_TRUE(d.exists);
    EXPECT_EQ(d.hostName, "a.host");
    EXPECT_TRUE(d.hostIsBackground);
    EXPECT_FALSE(d.supportsOverlays);
    EXPECT_TRUE(d.supportsMultiResolution);
    EXPECT_FALSE(d.supportsTiles);
    EXPECT_TRUE(d.supportsSetableFielding) << "any non-zero int is true";
    EXPECT_EQ(d.maxParameters, -1);
    EXPECT_EQ(d.maxPages, 3);
    EXPECT_EQ(d.pageRowCount, 12);
    EXPECT_EQ(d.pageColumnCount, 4);
    EXPECT_EQ(d.supportedComponents,
              (std::vector<OFX::PixelComponents>{OFX::componentsAlpha, OFX::componentsCustom,
                                                 OFX::componentsRGBA}));
    EXPECT_EQ(d.supportedContexts,
              (std::vector<OFX::EffectContext>{OFX::contextGeneral, OFX::contextFilter}));
    EXPECT_EQ(d.supportedPixelDepths, std::vector<OFX::BitDepth>{OFX::depthFloat});
    EXPECT_TRUE(d.supportsProgressSuite) << "the Vegas progress suite is there";
    EXPECT_FALSE(d.supportsTimeLineSuite);
    EXPECT_TRUE(d.supportsMessageSuiteV2);
}

TEST_F(FetchHostSuites, AMissingOptionalSuiteOnlyWarns) {
    zarvel::test::CaptureLog log;
    host.disableOptionalSuites();
    OFX::fetchHostSuites();
    EXPECT_NE(log.text().find("WARNING : Could not fetch the optional suite "
                              "'OfxVegasProgressSuite' version 1.\n"),
              std::string::npos);
    EXPECT_NE(log.text().find("WARNING : Could not fetch the optional suite "
                              "'OfxMessageSuite' version 2.\n"),
              std::string::npos);
    EXPECT_EQ(OFX::hostSuites.vegasProgressSuite.load(), nullptr);
    EXPECT_FALSE(OFX::hostDescription().supportsProgressSuite);
    EXPECT_FALSE(OFX::hostDescription().supportsMessageSuiteV2);
    EXPECT_NE(OFX::hostSuites.multiThreadSuite.load(), nullptr);
}

TEST_F(FetchHostSuites, AMissingMandatorySuiteRefusesTheHostAndKeepsTheEarlierOnes) {
    for (std::size_t missing = 0; missing < std::size(mandatorySuites); ++missing) {
        SCOPED_TRACE(mandatorySuites[missing]);
        zarvel::test::resetSupportLayer();
        OFX::hostPointer = host.ofxHost();
        for (const char* suite : mandatorySuites) {
            host.setSuiteEnabled(suite, 1, suite != mandatorySuites[missing]);
        }
        zarvel::test::CaptureLog log;
        EXPECT_EQ(thrownBy(OFX::fetchHostSuites),
                  std::string("HostInadequate: ") + mandatorySuites[missing]);
        EXPECT_NE(log.text().find(std::string("ERROR : Could not fetch the mandatory suite '") +
                                  mandatorySuites[missing] + "' version 1.\n"),
                  std::string::npos);
        EXPECT_EQ(OFX::loadCount, 1);
        EXPECT_EQ(OFX::hostSuites.imageEffectSuite.load() != nullptr, missing > 0);
        EXPECT_EQ(OFX::hostSuites.messageSuite.load(), nullptr);
        EXPECT_FALSE(OFX::hostDescription().exists);
    }
}

TEST_F(FetchHostSuites, TheInteractSuiteIsAskedForOnlyWhenOverlaysOrCustomInteractsAreSupported) {
    OFX::fetchHostSuites();
    std::vector<std::string> asked = suitesAskedFor();
    EXPECT_EQ(std::count(asked.begin(), asked.end(), kOfxInteractSuite), 0);
    EXPECT_EQ(asked.back(), kOfxHWndInteractSuite);

    // Custom interacts make it mandatory: a host that then lacks it is refused.
    zarvel::test::resetSupportLayer();
    OFX::hostPointer = host.ofxHost();
    host.properties().setInt(kOfxParamHostPropSupportsCustomInteract, 1);
    host.setSuiteEnabled(kOfxInteractSuite, 1, false);
    EXPECT_EQ(thrownBy(OFX::fetchHostSuites), "HostInadequate: OfxInteractSuite");
}

TEST_F(FetchHostSuites, ALoadWithoutAHostPointerFailsWithABadHandleAndStillCounts) {
    OFX::hostPointer = nullptr;
    zarvel::test::CaptureLog log;
    zarvel::test::CaptureStdout out;
    EXPECT_EQ(thrownBy(OFX::fetchHostSuites), "Suite: kOfxStatErrBadHandle");
    EXPECT_EQ(log.text(), "ERROR : Host pointer has not been set.\n");
    EXPECT_EQ(OFX::loadCount, 1);
    EXPECT_EQ(host.calls().callCount(), 0u);

    // The suites now come only once enough unloads bring the count back to 0.
    OFX::hostPointer = host.ofxHost();
    OFX::fetchHostSuites();
    EXPECT_EQ(OFX::hostSuites.propertySuite.load(), nullptr);
    OFX::loadCount = 0;
    OFX::fetchHostSuites();
    EXPECT_NE(OFX::hostSuites.propertySuite.load(), nullptr);
}

TEST_F(FetchHostSuites, AReloadFetchesTheSuitesAgainButNeverRebuildsTheDescription) {
    OFX::fetchHostSuites();
    host.properties().setString(kOfxPropName, "renamed");
    OFX::loadCount = 0;  // as the last unload leaves it
    host.calls().resetCounts();
    zarvel::test::CaptureLog log;
    OFX::fetchHostSuites();
    EXPECT_EQ(log.text().find("ERROR : Tried to create host description when we already have "
                              "one.\n") != std::string::npos,
              true);
    EXPECT_EQ(OFX::hostDescription().hostName, "org.zarvel.testhost");
    EXPECT_EQ(host.calls().callCount("fetchSuite"), 13u);
    EXPECT_EQ(host.calls().callCount("propGetString"), 0u);
}

TEST_F(FetchHostSuites, AnUnknownHostPropertyStopsTheDescriptionPartWay) {
    host.properties().remove(kOfxImageEffectPropSetableFielding);
    host.properties().setInt(kOfxImageEffectPropSupportsOverlays, 1);
    EXPECT_EQ(thrownBy(OFX::fetchHostSuites),
              "PropertyUnknownToHost: OfxImageEffectPropSetableFielding");
    const OFX::HostDescription& d = OFX::hostDescription();
    EXPECT_TRUE(d.exists);
    EXPECT_TRUE(d.supportsOverlays) << "fields before the missing one are read";
    EXPECT_TRUE(d.supportedContexts.empty()) << "fields after it are not";
    EXPECT_EQ(OFX::hostSuites.interactSuite.load(), nullptr);

    // An unknown context string is refused by its mapping.
    zarvel::test::resetSupportLayer();
    OFX::hostPointer = host.ofxHost();
    host.properties().setInt(kOfxImageEffectPropSetableFielding, 0);
    host.properties().setStrings(kOfxImageEffectPropSupportedContexts, {"OfxImageEffectContextX"});
    EXPECT_EQ(thrownBy(OFX::fetchHostSuites), "invalid_argument: OfxImageEffectContextX");
}

// Every host call of a load, failed in turn: a missing mandatory suite refuses the host, a
// missing optional one passes, and every refused property read throws by the property rule.
TEST_F(FetchHostSuites, EveryFailingCallOfALoadRaisesExactlyItsException) {
    host.properties().setInt(kOfxImageEffectPropSupportsOverlays, 1);
    const std::uint64_t calls = zarvel::test::hostCallsOf(host, OFX::fetchHostSuites);
    ASSERT_GT(calls, 40u);
    const std::set<std::string> mandatory(std::begin(mandatorySuites), std::end(mandatorySuites));
    for (OfxStatus status : {kOfxStatErrUnknown, kOfxStatErrBadIndex, kOfxStatErrMemory}) {
        for (std::uint64_t index = 0; index < calls; ++index) {
            zarvel::test::resetSupportLayer();
            OFX::hostPointer = host.ofxHost();
            host.calls().setRecording(false);
            auto outcome = zarvel::test::runWithFault(host, index, status, OFX::fetchHostSuites);
            SCOPED_TRACE(testing::Message() << "call " << index << " " << outcome.function << " "
                                            << outcome.name << " fails with " << status);
            ASSERT_TRUE(outcome.fired);
            std::string expected;
            if (outcome.function == "fetchSuite") {
                // The version-2 message suite shares its name with a mandatory one; it is the
                // seventh call.
                bool isMandatory = (mandatory.count(outcome.name) && index != 6) ||
                                   outcome.name == kOfxInteractSuite;
                expected = isMandatory ? "HostInadequate: " + outcome.name : "nothing";
            } else {
                expected = zarvel::test::checkedCallOutcome(outcome.function, outcome.name, status);
            }
            EXPECT_EQ(outcome.thrown, expected);
        }
    }
}

}  // namespace
