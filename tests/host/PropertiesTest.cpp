// The host's property sets as the plug-in sees them through the property suite: the statuses
// every later test relies on, append semantics, and the lifetime of handed-out strings.
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"
#include "host/Properties.h"
#include "host/Suites.h"

namespace {

using ZarvelHost::Access;
using ZarvelHost::Dimension;
using ZarvelHost::Host;
using ZarvelHost::HostPropertySet;

class TestHostProperties : public ::testing::Test {
protected:
    Host host;
    HostPropertySet props{host, "test"};
    const OfxPropertySuiteV1& suite = *ZarvelHost::propertySuite();

    void SetUp() override {
        props.defineInt("int2", {1, 2});
        props.defineDouble("double1", {0.5});
        props.defineString("strings", {"a"}, Access::ReadWrite, Dimension::Variable);
        props.definePointer("pointer", {nullptr});
        props.defineInt("readOnly", {7}, Access::ReadOnly);
    }
};

TEST_F(TestHostProperties, GetsAndSetsEveryTypeByIndex) {
    int i = 0;
    EXPECT_EQ(suite.propGetInt(props.handle(), "int2", 1, &i), kOfxStatOK);
    EXPECT_EQ(i, 2);
    EXPECT_EQ(suite.propSetDouble(props.handle(), "double1", 0, -INFINITY), kOfxStatOK);
    double d = 0;
    EXPECT_EQ(suite.propGetDouble(props.handle(), "double1", 0, &d), kOfxStatOK);
    EXPECT_EQ(d, -INFINITY);
    int marker = 0;
    EXPECT_EQ(suite.propSetPointer(props.handle(), "pointer", 0, &marker), kOfxStatOK);
    void* p = nullptr;
    EXPECT_EQ(suite.propGetPointer(props.handle(), "pointer", 0, &p), kOfxStatOK);
    EXPECT_EQ(p, &marker);
    char* s = nullptr;
    EXPECT_EQ(suite.propSetString(props.handle(), "strings", 0, "bee"), kOfxStatOK);
    EXPECT_EQ(suite.propGetString(props.handle(), "strings", 0, &s), kOfxStatOK);
    EXPECT_STREQ(s, "bee");
}

TEST_F(TestHostProperties, AnswersTheStandardStatusesAndLeavesOutValuesAlone) {
    int value = 42;
    EXPECT_EQ(suite.propGetInt(props.handle(), "noSuchProperty", 0, &value), kOfxStatErrUnknown);
    EXPECT_EQ(suite.propGetInt(props.handle(), nullptr, 0, &value), kOfxStatErrUnknown);
    EXPECT_EQ(suite.propGetInt(props.handle(), "int2", 2, &value), kOfxStatErrBadIndex);
    EXPECT_EQ(suite.propGetInt(props.handle(), "int2", -1, &value), kOfxStatErrBadIndex);
    EXPECT_EQ(suite.propGetInt(props.handle(), "double1", 0, &value), kOfxStatErrValue);
    EXPECT_EQ(suite.propGetInt(nullptr, "int2", 0, &value), kOfxStatErrBadHandle);
    EXPECT_EQ(value, 42);

    EXPECT_EQ(suite.propSetInt(props.handle(), "int2", 2, 5), kOfxStatErrBadIndex)
        << "a fixed dimension never grows";
    EXPECT_EQ(suite.propSetInt(props.handle(), "readOnly", 0, 5), kOfxStatErrValue);
    EXPECT_EQ(suite.propSetString(props.handle(), "strings", 0, nullptr), kOfxStatErrValue);
    EXPECT_EQ(suite.propSetDouble(props.handle(), "int2", 0, 1.0), kOfxStatErrValue);
    EXPECT_EQ(props.getInts("int2"), (std::vector<int>{1, 2}));
    EXPECT_EQ(props.getInt("readOnly"), 7);
}

TEST_F(TestHostProperties, RejectsHandlesThatAreNotLivePropertySets) {
    int value = 0;
    auto* stale = new HostPropertySet(host, "gone");
    OfxPropertySetHandle handle = stale->handle();
    delete stale;
    EXPECT_EQ(suite.propGetInt(handle, "int2", 0, &value), kOfxStatErrBadHandle);
    int notASet = 0;
    EXPECT_EQ(suite.propGetInt(reinterpret_cast<OfxPropertySetHandle>(&notASet), "x", 0, &value),
              kOfxStatErrBadHandle);
}

TEST_F(TestHostProperties, AppendsAtTheDimensionOfAVariableProperty) {
    props.defineString(kOfxParamPropChoiceOption, {}, Access::ReadWrite, Dimension::Variable);
    int dimension = -1;
    for (const char* option : {"Draft", "Good", "Best"}) {
        ASSERT_EQ(suite.propGetDimension(props.handle(), kOfxParamPropChoiceOption, &dimension),
                  kOfxStatOK);
        ASSERT_EQ(suite.propSetString(props.handle(), kOfxParamPropChoiceOption, dimension, option),
                  kOfxStatOK);
    }
    EXPECT_EQ(props.getStrings(kOfxParamPropChoiceOption),
              (std::vector<std::string>{"Draft", "Good", "Best"}));
    EXPECT_EQ(suite.propSetString(props.handle(), kOfxParamPropChoiceOption, 4, "gap"),
              kOfxStatErrBadIndex);
}

TEST_F(TestHostProperties, KeepsHandedOutStringsUntilThatPropertyChanges) {
    props.defineString("other", {"x"});
    char* first = nullptr;
    ASSERT_EQ(suite.propGetString(props.handle(), "strings", 0, &first), kOfxStatOK);
    // Appending to the same property and writing others must not move the first value.
    for (int i = 1; i < 64; ++i) {
        ASSERT_EQ(suite.propSetString(props.handle(), "strings", i, "a long value past SSO size"),
                  kOfxStatOK);
        ASSERT_EQ(suite.propSetString(props.handle(), "other", 0, "changed again and again"),
                  kOfxStatOK);
    }
    EXPECT_STREQ(first, "a");
}

TEST_F(TestHostProperties, NVariantsFollowTheDimensionRules) {
    int two[2] = {0, 0};
    EXPECT_EQ(suite.propGetIntN(props.handle(), "int2", 2, two), kOfxStatOK);
    EXPECT_EQ(two[1], 2);
    int three[3] = {};
    EXPECT_EQ(suite.propGetIntN(props.handle(), "int2", 3, three), kOfxStatErrBadIndex);
    const int values[3] = {4, 5, 6};
    EXPECT_EQ(suite.propSetIntN(props.handle(), "int2", 3, values), kOfxStatErrBadIndex);
    EXPECT_EQ(suite.propSetIntN(props.handle(), "int2", 1, values), kOfxStatOK);
    EXPECT_EQ(props.getInts("int2"), (std::vector<int>{4, 2}));

    const char* const list[2] = {"p", "q"};
    EXPECT_EQ(suite.propSetStringN(props.handle(), "strings", 2, list), kOfxStatOK);
    int dimension = 0;
    EXPECT_EQ(suite.propGetDimension(props.handle(), "strings", &dimension), kOfxStatOK);
    EXPECT_EQ(dimension, 2);
    char* got[2] = {};
    EXPECT_EQ(suite.propGetStringN(props.handle(), "strings", 2, got), kOfxStatOK);
    EXPECT_STREQ(got[1], "q");
}

TEST_F(TestHostProperties, ResetRestoresTheDefinedValues) {
    ASSERT_EQ(suite.propSetInt(props.handle(), "int2", 0, 9), kOfxStatOK);
    ASSERT_EQ(suite.propSetString(props.handle(), "strings", 1, "more"), kOfxStatOK);
    EXPECT_EQ(suite.propReset(props.handle(), "int2"), kOfxStatOK);
    EXPECT_EQ(suite.propReset(props.handle(), "strings"), kOfxStatOK);
    EXPECT_EQ(props.getInts("int2"), (std::vector<int>{1, 2}));
    EXPECT_EQ(props.getStrings("strings"), (std::vector<std::string>{"a"}));
    EXPECT_EQ(suite.propReset(props.handle(), "unknown"), kOfxStatErrUnknown);
}

TEST_F(TestHostProperties, HostSideWritesBypassEveryRule) {
    props.setString("readOnly", "retyped");
    EXPECT_EQ(props.type("readOnly"), ZarvelHost::PropertyType::String);
    props.setInt("int2", -3, 5);
    EXPECT_EQ(props.getInts("int2"), (std::vector<int>{1, 2, 0, 0, 0, -3}));
    props.setDouble("brandNew", NAN);
    EXPECT_TRUE(std::isnan(props.getDouble("brandNew")));
    props.remove("double1");
    double d = 0;
    EXPECT_EQ(suite.propGetDouble(props.handle(), "double1", 0, &d), kOfxStatErrUnknown);
    EXPECT_THROW(props.getInt("double1"), std::out_of_range);
    EXPECT_THROW(props.getInt("pointer"), std::invalid_argument);
    EXPECT_THROW(props.getInt("int2", 6), std::out_of_range);
}

TEST_F(TestHostProperties, ServesConcurrentReadersWhileAnotherPropertyIsWritten) {
    std::vector<std::thread> readers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                int value = 0;
                if (suite.propGetInt(props.handle(), "int2", 1, &value) != kOfxStatOK ||
                    value != 2) {
                    ++wrong;
                }
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        suite.propSetDouble(props.handle(), "double1", 0, i);
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(wrong, 0);
}

TEST(TestHostDescription, OffersWhatALoadReadsWithItsStandardNames) {
    Host host;
    HostPropertySet& props = host.properties();
    const OfxPropertySuiteV1& suite = *ZarvelHost::propertySuite();
    char* name = nullptr;
    EXPECT_EQ(suite.propGetString(host.ofxHost()->host, kOfxPropName, 0, &name), kOfxStatOK);
    EXPECT_STREQ(name, "org.zarvel.testhost");
    int rowsColumns[2] = {-1, -1};
    EXPECT_EQ(suite.propGetIntN(host.ofxHost()->host, kOfxParamHostPropPageRowColumnCount, 2,
                                rowsColumns),
              kOfxStatOK);
    EXPECT_EQ(props.getStrings(kOfxImageEffectPropSupportedPixelDepths),
              (std::vector<std::string>{kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat}));
    EXPECT_EQ(suite.propSetInt(host.ofxHost()->host, kOfxImageEffectPropSupportsTiles, 0, 0),
              kOfxStatErrValue)
        << "the host description is read-only to plug-ins";
}

}  // namespace
