#include <new>

#include <gtest/gtest.h>

#include "ofx/Core.h"
#include "tests/support/CaptureStdout.h"

namespace {

TEST(StatusName, NamesEveryStandardCodeAndNothingElse) {
    const std::pair<int, const char*> named[] = {
        {0, "kOfxStatOK"},
        {1, "kOfxStatFailed"},
        {2, "kOfxStatErrFatal"},
        {3, "kOfxStatErrUnknown"},
        {4, "kOfxStatErrMissingHostFeature"},
        {5, "kOfxStatErrUnsupported"},
        {6, "kOfxStatErrExists"},
        {7, "kOfxStatErrFormat"},
        {8, "kOfxStatErrMemory"},
        {9, "kOfxStatErrBadHandle"},
        {10, "kOfxStatErrBadIndex"},
        {11, "kOfxStatErrValue"},
        {12, "kOfxStatReplyYes"},
        {13, "kOfxStatReplyNo"},
        {14, "kOfxStatReplyDefault"},
        {1000, "kOfxStatErrImageFormat"},
    };
    for (const auto& [status, name] : named) {
        EXPECT_STREQ(OFX::statusName(status), name) << status;
    }
    for (int unnamed : {15, -1, 999, 1001, 100}) {
        EXPECT_STREQ(OFX::statusName(unnamed), "UNKNOWN STATUS CODE") << unnamed;
    }
}

TEST(CheckSuiteStatus, SuccessAndRepliesPassSilently) {
    for (int status : {kOfxStatOK, kOfxStatReplyYes, kOfxStatReplyNo, kOfxStatReplyDefault}) {
        zarvel::test::CaptureStdout out;
        EXPECT_NO_THROW(OFX::checkSuiteStatus(status));
        EXPECT_EQ(out.text(), "") << status;
    }
}

TEST(CheckSuiteStatus, MemoryFailureThrowsBadAllocWithoutALine) {
    zarvel::test::CaptureStdout out;
    EXPECT_THROW(OFX::checkSuiteStatus(kOfxStatErrMemory), std::bad_alloc);
    EXPECT_EQ(out.text(), "");
}

TEST(CheckSuiteStatus, OtherFailuresPrintAndThrowSuiteCarryingTheStatus) {
    for (int status : {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 1000, -1, 15}) {
        zarvel::test::CaptureStdout out;
        try {
            OFX::checkSuiteStatus(status);
            ADD_FAILURE() << "no exception for " << status;
        } catch (const OFX::Exception::Suite& e) {
            EXPECT_EQ(e.status(), status);
            EXPECT_STREQ(e.what(), OFX::statusName(status));
        }
        EXPECT_EQ(out.text(), "Threw suite exception!\n") << status;
    }
}

TEST(Exceptions, MessageExceptionsCarryACopyOfTheirText) {
    std::string text = "OfxPropLabel";
    OFX::Exception::PropertyUnknownToHost unknown(text);
    text[0] = 'X';
    EXPECT_STREQ(unknown.what(), "OfxPropLabel");
    EXPECT_STREQ(OFX::Exception::HostInadequate("OfxParameterSuite").what(), "OfxParameterSuite");
    EXPECT_STREQ(OFX::Exception::PropertyValueIllegalToHost("p").what(), "p");
    EXPECT_STREQ(OFX::Exception::TypeRequest("Parameter exists but is of the wrong type").what(),
                 "Parameter exists but is of the wrong type");
}

}  // namespace
