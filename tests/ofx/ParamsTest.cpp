#include <string>

#include <gtest/gtest.h>

#include "host/Parameters.h"
#include "ofx/Parameters.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::thrownBy;

// An instance's parameter set on the host, with a colour, a width and a quality.
class Params : public zarvel::test::LoadedHost {
protected:
    void SetUp() override {
        LoadedHost::SetUp();
        hostSet.define(kOfxParamTypeRGBA, "outlineColor").setValue({1.0, 0.5, 0.25, 1.0});
        hostSet.define(kOfxParamTypeDouble, "outlineWidth").setValue({15.0});
        hostSet.define(kOfxParamTypeChoice, "quality").setValue({2.0});
        params.setParamSetHandle(hostSet.handle());
        host.calls().resetCounts();
    }

    ZarvelHost::HostParamSet hostSet{host, false};
    OFX::ParamSet params;
};

TEST_F(Params, AFetchedParameterIsKeptAndTheHostAskedOnce) {
    OFX::DoubleParam* width = params.fetchDoubleParam("outlineWidth");
    ASSERT_NE(width, nullptr);
    EXPECT_EQ(width->getName(), "outlineWidth");
    EXPECT_EQ(width->getType(), OFX::eParamTypeDouble);
    EXPECT_EQ(width->getParamHandle(), hostSet.param("outlineWidth").handle());
    EXPECT_EQ(width->getProps().propSetHandle(),
              hostSet.param("outlineWidth").properties().handle());
    EXPECT_EQ(width->getParamSet(), &params);
    const std::uint64_t calls = host.calls().callCount();
    EXPECT_EQ(params.fetchDoubleParam("outlineWidth"), width);
    EXPECT_EQ(host.calls().callCount(), calls);
    EXPECT_EQ(host.calls().callCount("paramGetHandle"), 1u);
}

TEST_F(Params, AParameterOfTheWrongKindIsRefused) {
    ASSERT_NE(params.fetchRGBAParam("outlineColor"), nullptr);
    host.calls().resetCounts();
    EXPECT_EQ(thrownBy([&] { params.fetchDoubleParam("outlineColor"); }),
              "TypeRequest: Fetching param and attempting to return the wrong type");
    EXPECT_EQ(host.calls().callCount(), 0u);

    // The host's own type decides for a parameter not fetched yet; nothing is kept then.
    EXPECT_EQ(thrownBy([&] { params.fetchChoiceParam("outlineWidth"); }),
              "TypeRequest: Parameter exists but is of the wrong type");
    EXPECT_EQ(host.calls().callCount("paramGetPropertySet"), 0u);
    EXPECT_NE(params.fetchDoubleParam("outlineWidth"), nullptr);
}

TEST_F(Params, ValuesAreReadAtTheTimeAsked) {
    ZarvelHost::HostParam& hostWidth = hostSet.param("outlineWidth");
    hostWidth.setValueAtTime(0.0, {10.0});
    hostWidth.setValueAtTime(10.0, {20.0});
    double width = -1.0;
    params.fetchDoubleParam("outlineWidth")->getValueAtTime(5.0, width);
    EXPECT_EQ(width, 15.0);

    double r = 0, g = 0, b = 0, a = 0;
    params.fetchRGBAParam("outlineColor")->getValueAtTime(3.0, r, g, b, a);
    EXPECT_EQ(r, 1.0);
    EXPECT_EQ(g, 0.5);
    EXPECT_EQ(b, 0.25);
    EXPECT_EQ(a, 1.0);

    int quality = -1;
    params.fetchChoiceParam("quality")->getValueAtTime(0.0, quality);
    EXPECT_EQ(quality, 2);
}

TEST_F(Params, AReadAnsweredWithAReplyPassesAndAFailureThrows) {
    OFX::DoubleParam* width = params.fetchDoubleParam("outlineWidth");
    double value = -7.0;
    host.calls().failNthCall("paramGetValueAtTime", 1, kOfxStatReplyDefault);
    EXPECT_EQ(thrownBy([&] { width->getValueAtTime(0.0, value); }), "nothing");
    EXPECT_EQ(value, -7.0) << "the caller's variable holds what the host left in it";

    zarvel::test::CaptureStdout out;
    int quality = 0;
    host.calls().failNthCall("paramGetValueAtTime", 1, kOfxStatErrBadHandle);
    EXPECT_EQ(thrownBy([&] { params.fetchChoiceParam("quality")->getValueAtTime(0.0, quality); }),
              "Suite: kOfxStatErrBadHandle");
    double r, g, b, a;
    host.calls().failNthCall("paramGetValueAtTime", 1, kOfxStatErrMemory);
    EXPECT_EQ(
        thrownBy([&] { params.fetchRGBAParam("outlineColor")->getValueAtTime(0.0, r, g, b, a); }),
        "bad_alloc");
}

// Each host call of a first fetch, failed in turn, throws exactly what its rule says, and the
// parameter is not kept: the next fetch asks the host again and succeeds.
TEST_F(Params, EveryFailingCallOfAFetchThrowsItsExceptionAndKeepsNothing) {
    OFX::ParamSet fresh;
    fresh.setParamSetHandle(hostSet.handle());
    const std::uint64_t calls =
        zarvel::test::hostCallsOf(host, [&] { fresh.fetchDoubleParam("outlineWidth"); });
    ASSERT_EQ(calls, 3u);  // paramGetHandle, its type, paramGetPropertySet
    for (OfxStatus status :
         {kOfxStatErrUnknown, kOfxStatErrValue, kOfxStatErrMemory, kOfxStatErrBadHandle}) {
        for (std::uint64_t index = 0; index < calls; ++index) {
            OFX::ParamSet set;
            set.setParamSetHandle(hostSet.handle());
            auto outcome = zarvel::test::runWithFault(
                host, index, status, [&] { set.fetchDoubleParam("outlineWidth"); });
            SCOPED_TRACE(testing::Message() << "call " << index << " " << outcome.function << " "
                                            << outcome.name << " fails with " << status);
            EXPECT_EQ(outcome.thrown,
                      zarvel::test::checkedCallOutcome(outcome.function, outcome.name, status));
            host.calls().resetCounts();
            EXPECT_NE(set.fetchDoubleParam("outlineWidth"), nullptr);
            EXPECT_EQ(host.calls().callCount(), calls);
        }
    }
}

}  // namespace
