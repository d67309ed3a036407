#include <cstdlib>

#include <gtest/gtest.h>

#include "ofx/Core.h"
#include "tests/support/CaptureStdout.h"

namespace {

TEST(Log, FileNameComesFromTheEnvironmentAtStartUp) {
    const char* fromEnvironment = std::getenv("OFX_PLUGIN_LOGFILE");
    EXPECT_EQ(OFX::logFileName(), fromEnvironment ? fromEnvironment : "ofxTestLog.txt");
}

TEST(Log, NothingIsWrittenWithoutAStreamButTheDepthStillMoves) {
    ASSERT_EQ(OFX::logStream(), nullptr);
    int before = OFX::logDepth();
    OFX::logIndent();
    OFX::logPrint("%s", "lost");
    EXPECT_EQ(OFX::logDepth(), before + 1);
    OFX::logOutdent();
    EXPECT_EQ(OFX::logDepth(), before);
}

TEST(Log, LinesAreIndentedFourSpacesPerLevelWithTheirPrefixes) {
    zarvel::test::CaptureLog log;
    OFX::logPrint("plain %d", 1);
    OFX::logIndent();
    OFX::logIndent();
    OFX::logWarning(true, "careful %s", "now");
    OFX::logError(true, "broken %d%%", 7);
    OFX::logWarning(false, "never %s", "shown");
    OFX::logError(false, "never %s", "shown");
    OFX::logOutdent();
    OFX::logPrint("back");
    OFX::logOutdent();
    EXPECT_EQ(log.text(), "plain 1\n"
                          "        WARNING : careful now\n"
                          "        ERROR : broken 7%\n"
                          "    back\n");
}

TEST(Log, NegativeDepthWritesNoIndent) {
    zarvel::test::CaptureLog log;
    OFX::logOutdent();
    OFX::logPrint("flush left");
    OFX::logIndent();
    EXPECT_EQ(log.text(), "flush left\n");
}

}  // namespace
