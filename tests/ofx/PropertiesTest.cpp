#include <cstdio>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "host/Properties.h"
#include "ofx/Core.h"
#include "ofx/Properties.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::CaptureLog;
using zarvel::test::CaptureStdout;

// `text` with every null pointer that the C runtime's %p wrote ("(nil)" with glibc, zeros on
// Windows) written as "(nil)", so that one expected text serves both.
std::string withNilPointers(std::string text) {
    char null[32];
    std::snprintf(null, sizeof null, "%p", static_cast<void*>(nullptr));
    const std::string from = null;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 5)) {
        text.replace(at, from.size(), "(nil)");
    }
    return text;
}

class PropertySetTest : public zarvel::test::LoadedHost {
protected:
    PropertySetTest()
        : hostSet(host, "test") {}

    void SetUp() override {
        LoadedHost::SetUp();
        hostSet.defineInt("count", {7, 8});
        hostSet.defineDouble("scale", {0.5});
        hostSet.defineString("label", {"hello"});
        hostSet.definePointer("data", {nullptr});
        hostSet.defineString("options", {}, ZarvelHost::Access::ReadWrite,
                             ZarvelHost::Dimension::Variable);
        props = OFX::PropertySet(hostSet.handle());
    }

    void failNext(const char* function, OfxStatus status) {
        host.calls().failNthCall(function, 1, status);
    }

    ZarvelHost::HostPropertySet hostSet;
    OFX::PropertySet props;
};

TEST_F(PropertySetTest, ReadsAndWritesEveryTypeAtTheGivenIndexWithReportLines) {
    CaptureLog log;
    EXPECT_EQ(props.propGetInt("count", 1, true), 8);
    EXPECT_EQ(props.propGetDouble("scale", 0, true), 0.5);
    EXPECT_EQ(props.propGetString("label", 0, true), "hello");
    EXPECT_EQ(props.propGetDimension("count", true), 2);

    int marker = 0;
    props.propSetInt("count", 42, 1, true);
    props.propSetDouble("scale", 2.25, 0, true);
    props.propSetString("label", "bye", 0, true);
    props.propSetPointer("data", &marker, 0, true);
    EXPECT_EQ(hostSet.getInts("count"), (std::vector<int>{7, 42}));
    EXPECT_EQ(hostSet.getDouble("scale"), 2.25);
    EXPECT_EQ(hostSet.getString("label"), "bye");
    EXPECT_EQ(props.propGetPointer("data", 0, true), &marker);

    char pointerText[64];
    std::snprintf(pointerText, sizeof pointerText, "%p", static_cast<void*>(&marker));
    EXPECT_EQ(log.text(), "Retrieved int property count[1], was given 8.\n"
                          "Retrieved double property scale[0], was given 0.500000.\n"
                          "Retrieved string property label[0], was given hello.\n"
                          "Fetched dimension of property count, returned 2.\n"
                          "Set int property count[1] to be 42.\n"
                          "Set double property scale[0] to be 2.250000.\n"
                          "Set string property label[0] to be bye.\n"
                          "Set pointer property data[0] to be " +
                              std::string(pointerText) +
                              ".\n"
                              "Retrieved pointer property data[0], was given " +
                              pointerText + ".\n");
}

TEST_F(PropertySetTest, AppendingAtTheDimensionGrowsAList) {
    for (const char* option : {"a", "b", "c"}) {
        props.propSetString("options", option, props.propGetDimension("options", true), true);
    }
    EXPECT_EQ(hostSet.getStrings("options"), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(PropertySetTest, UnknownPropertyThrowingLogsTheErrorLineOnly) {
    CaptureLog log;
    CaptureStdout out;
    EXPECT_EQ(zarvel::test::thrownBy([&] { props.propGetInt("nope", 0, true); }),
              "PropertyUnknownToHost: nope");
    EXPECT_EQ(log.text(), "ERROR : Failed on getting int property nope[0], host returned status "
                          "kOfxStatErrUnknown;\n");
    EXPECT_EQ(out.text(), "");
}

TEST_F(PropertySetTest, FailuresThatDoNotThrowReturnTheStartValueAndStillReport) {
    CaptureLog log;
    EXPECT_EQ(props.propGetInt("nope", 0, false), 0);
    EXPECT_EQ(props.propGetDouble("nope", 0, false), 0.0);
    EXPECT_EQ(props.propGetPointer("nope", 0, false), nullptr);
    EXPECT_EQ(props.propGetString("nope", 0, false), "");
    EXPECT_EQ(props.propGetDimension("nope", false), 0);
    EXPECT_EQ(withNilPointers(log.text()),
              "ERROR : Failed on getting int property nope[0], host returned status "
              "kOfxStatErrUnknown;\n"
              "Retrieved int property nope[0], was given 0.\n"
              "ERROR : Failed on getting double property nope[0], host returned status "
              "kOfxStatErrUnknown;\n"
              "Retrieved double property nope[0], was given 0.000000.\n"
              "ERROR : Failed on getting pointer property nope[0], host returned status "
              "kOfxStatErrUnknown;\n"
              "Retrieved pointer property nope[0], was given (nil).\n"
              "ERROR : Failed on getting string property nope[0], host returned status "
              "kOfxStatErrUnknown;\n"
              "Retrieved string property nope[0], was given .\n"
              "ERROR : Failed on fetching dimension for property nope, host returned status "
              "kOfxStatErrUnknown.\n"
              "Fetched dimension of property nope, returned 0.\n");
}

TEST_F(PropertySetTest, ReplyStatusesAreLoggedButNeverThrown) {
    CaptureLog log;
    failNext("propGetInt", kOfxStatReplyDefault);
    EXPECT_EQ(props.propGetInt("count", 0, true), 0);
    EXPECT_EQ(log.text(), "ERROR : Failed on getting int property count[0], host returned status "
                          "kOfxStatReplyDefault;\n"
                          "Retrieved int property count[0], was given 0.\n");
}

TEST_F(PropertySetTest, SetterErrorLinesCarryTheValueAndTheIntSetterTheNumber) {
    CaptureLog log;
    failNext("propSetInt", kOfxStatErrValue);
    EXPECT_EQ(zarvel::test::thrownBy([&] { props.propSetInt("count", 5, 1, true); }),
              "PropertyValueIllegalToHost: count");
    failNext("propSetDouble", kOfxStatErrBadIndex);
    failNext("propSetString", kOfxStatErrFatal);
    failNext("propSetPointer", kOfxStatErrUnsupported);
    props.propSetDouble("scale", 1.5, 0, false);
    props.propSetString("label", "x", 0, false);
    props.propSetPointer("data", nullptr, 0, false);
    EXPECT_EQ(withNilPointers(log.text()),
              "ERROR : Failed on setting int property count[1] to 5, host returned status "
              "kOfxStatErrValue (11);\n"
              "ERROR : Failed on setting double property scale[0] to 1.500000, host returned "
              "status kOfxStatErrBadIndex;\n"
              "Set double property scale[0] to be 1.500000.\n"
              "ERROR : Failed on setting string property label[0] to x, host returned status "
              "kOfxStatErrFatal;\n"
              "Set string property label[0] to be x.\n"
              "ERROR : Failed on setting pointer property data[0] to (nil), host returned status "
              "kOfxStatErrUnsupported;\n"
              "Set pointer property data[0] to be (nil).\n");
    EXPECT_EQ(hostSet.getDouble("scale"), 0.5) << "a failed call must not have written";
}

TEST_F(PropertySetTest, EveryStatusGoesThroughThePropertyRule) {
    const OfxStatus statuses[] = {kOfxStatFailed,
                                  kOfxStatErrFatal,
                                  kOfxStatErrUnknown,
                                  kOfxStatErrUnsupported,
                                  kOfxStatErrExists,
                                  kOfxStatErrFormat,
                                  kOfxStatErrMemory,
                                  kOfxStatErrBadIndex,
                                  kOfxStatErrValue,
                                  kOfxStatErrImageFormat,
                                  -1,
                                  kOfxStatReplyYes};
    for (OfxStatus status : statuses) {
        CaptureStdout out;
        failNext("propGetDouble", status);
        EXPECT_EQ(zarvel::test::thrownBy([&] { props.propGetDouble("scale", 0, true); }),
                  zarvel::test::propertyRuleOutcome(status, "scale"))
            << status;
        const bool generalRule =
            zarvel::test::propertyRuleOutcome(status, "scale").rfind("Suite:", 0) == 0;
        EXPECT_EQ(out.text(), generalRule ? "Threw suite exception!\n" : "") << status;
    }
}

TEST_F(PropertySetTest, UnsupportedPassesWhenThrowOnUnsupportedIsOff) {
    OFX::PropertySet::throwOnUnsupported = false;
    EXPECT_NO_THROW(props.propGetInt("nope", 0, true));
    OFX::PropertySet::throwOnUnsupported = true;
    EXPECT_THROW(props.propGetInt("nope", 0, true), OFX::Exception::PropertyUnknownToHost);
}

TEST_F(PropertySetTest, StatusNamesInLinesCoverUnnamedNumbers) {
    CaptureLog log;
    failNext("propGetDimension", kOfxStatErrImageFormat);
    props.propGetDimension("count", false);
    failNext("propGetDimension", 77);
    props.propGetDimension("count", false);
    const std::string text = log.text();
    EXPECT_NE(text.find("host returned status kOfxStatErrImageFormat."), std::string::npos);
    EXPECT_NE(text.find("host returned status UNKNOWN STATUS CODE."), std::string::npos);
}

TEST_F(PropertySetTest, ReportLinesStopWhenTheLoggingLevelIsZero) {
    CaptureLog log;
    OFX::PropertySet::propertyLoggingLevel = 0;
    props.propGetInt("count", 0, true);
    props.propGetInt("nope", 0, false);
    OFX::PropertySet::propertyLoggingLevel = 1;
    EXPECT_EQ(log.text(), "ERROR : Failed on getting int property nope[0], host returned status "
                          "kOfxStatErrUnknown;\n");
}

TEST_F(PropertySetTest, AnEmptySetGetsTheHostsAnswerForANullHandle) {
    OFX::PropertySet empty;
    EXPECT_EQ(zarvel::test::thrownBy([&] { empty.propGetInt("count", 0, true); }),
              "Suite: kOfxStatErrBadHandle");
    EXPECT_EQ(empty.propGetString("count", 0, false), "");
}

}  // namespace
