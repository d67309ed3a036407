// Call counting, recording and fault injection: a rule that fires at the wrong call, twice, or
// with a side effect would make every fault sweep lie.
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"
#include "host/Suites.h"

namespace {

using ZarvelHost::Host;
using ZarvelHost::HostPropertySet;

class TestHostCalls : public ::testing::Test {
protected:
    Host host;
    HostPropertySet props{host, "test"};
    const OfxPropertySuiteV1& suite = *ZarvelHost::propertySuite();

    void SetUp() override {
        props.defineInt("a", {1});
        props.defineInt("b", {2});
    }

    OfxStatus getA(int* value) { return suite.propGetInt(props.handle(), "a", 0, value); }
};

TEST_F(TestHostCalls, GivesEveryCallTheNextIndexAndRecordsItsName) {
    host.calls().setRecording(true);
    int value = 0;
    getA(&value);
    suite.propGetInt(props.handle(), "b", 0, &value);
    suite.propGetDimension(props.handle(), "missing", &value);
    ASSERT_EQ(host.calls().callCount(), 3u);
    EXPECT_EQ(host.calls().callCount("propGetInt"), 2u);
    const auto records = host.calls().records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[2].index, 2u);
    EXPECT_EQ(records[2].function, "propGetDimension");
    EXPECT_EQ(records[2].name, "missing");

    host.calls().setRecording(false);
    getA(&value);
    EXPECT_EQ(host.calls().records().size(), 3u);
    EXPECT_EQ(host.calls().callCount(), 4u) << "unrecorded calls still count";
}

TEST_F(TestHostCalls, FailsExactlyTheCallAtTheGlobalIndexOnce) {
    int value = 0;
    getA(&value);
    host.calls().failCallAtIndex(2, kOfxStatErrMemory);
    EXPECT_EQ(getA(&value), kOfxStatOK);  // index 1
    value = -5;
    EXPECT_EQ(getA(&value), kOfxStatErrMemory);  // index 2
    EXPECT_EQ(value, -5) << "a failed call writes nothing";
    EXPECT_EQ(getA(&value), kOfxStatOK);
    EXPECT_EQ(host.calls().pendingFaults(), 0u);
    ASSERT_EQ(host.calls().firedFaults().size(), 1u);
    EXPECT_EQ(host.calls().firedFaults()[0].index, 2u);
}

TEST_F(TestHostCalls, FailsTheNthCallOfAFunctionCountedFromTheRule) {
    int value = 0;
    getA(&value);
    host.calls().failNthCall("propGetInt", 2, kOfxStatErrBadHandle);
    EXPECT_EQ(suite.propGetDouble(props.handle(), "a", 0, nullptr), kOfxStatErrValue);
    EXPECT_EQ(getA(&value), kOfxStatOK);
    EXPECT_EQ(getA(&value), kOfxStatErrBadHandle);
    EXPECT_EQ(getA(&value), kOfxStatOK);
}

TEST_F(TestHostCalls, CountsOnlyCallsAboutTheNamedProperty) {
    host.calls().failNthCall("propSetInt", 1, kOfxStatFailed, std::string("b"));
    EXPECT_EQ(suite.propSetInt(props.handle(), "a", 0, 10), kOfxStatOK);
    EXPECT_EQ(suite.propSetInt(props.handle(), "b", 0, 20), kOfxStatFailed);
    EXPECT_EQ(props.getInt("b"), 2) << "the failed set changed nothing";
    EXPECT_EQ(props.getInt("a"), 10);
}

TEST_F(TestHostCalls, FailsFetchSuiteByReturningNull) {
    OfxHost* record = host.ofxHost();
    host.calls().failNthCall("fetchSuite", 1, kOfxStatFailed);
    EXPECT_EQ(record->fetchSuite(record->host, kOfxPropertySuite, 1), nullptr);
    EXPECT_EQ(record->fetchSuite(record->host, kOfxPropertySuite, 1), ZarvelHost::propertySuite());
}

TEST_F(TestHostCalls, FiresOnceAmongConcurrentCallers) {
    host.calls().failCallAtIndex(500, kOfxStatErrValue);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) {
                int value = 0;
                if (getA(&value) != kOfxStatOK) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(host.calls().callCount(), 1000u);
    EXPECT_EQ(failures, 1);
}

TEST(TestHostSuites, FetchSuiteAnswersOnlyKnownSuitesThatAreOn) {
    Host host;
    OfxHost* record = host.ofxHost();
    EXPECT_EQ(record->fetchSuite(record->host, kOfxParameterSuite, 1),
              ZarvelHost::parameterSuite());
    EXPECT_EQ(record->fetchSuite(record->host, kOfxMessageSuite, 2), ZarvelHost::messageSuiteV2());
    EXPECT_EQ(record->fetchSuite(record->host, kOfxPropertySuite, 2), nullptr);
    EXPECT_EQ(record->fetchSuite(record->host, "OfxNoSuchSuite", 1), nullptr);

    const void* progress = record->fetchSuite(record->host, kOfxProgressSuite, 1);
    const void* timeline = record->fetchSuite(record->host, kOfxTimeLineSuite, 1);
    EXPECT_NE(progress, nullptr);
    EXPECT_NE(progress, timeline);

    host.setSuiteEnabled(kOfxParameterSuite, 1, false);
    EXPECT_EQ(record->fetchSuite(record->host, kOfxParameterSuite, 1), nullptr);
    host.disableOptionalSuites();
    EXPECT_EQ(record->fetchSuite(record->host, kOfxProgressSuite, 1), nullptr);
    EXPECT_EQ(record->fetchSuite(record->host, kOfxMessageSuite, 2), nullptr);
    EXPECT_NE(record->fetchSuite(record->host, kOfxMessageSuite, 1), nullptr);
}

TEST(TestHostSuites, RecordsMessagesWithTheirFormattedText) {
    Host host;
    const OfxMessageSuiteV2& messages = *ZarvelHost::messageSuiteV2();
    EXPECT_EQ(messages.message(nullptr, "OfxMessageError", "id1", "width %d of %s", 3, "clip"),
              kOfxStatOK);
    EXPECT_EQ(messages.message(nullptr, "OfxMessageQuestion", "q", "sure?"), kOfxStatReplyYes);
    EXPECT_EQ(messages.clearPersistentMessage(nullptr), kOfxStatOK);
    const auto posted = host.messages();
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].text, "width 3 of clip");
    EXPECT_EQ(posted[0].id, "id1");
    EXPECT_EQ(posted[2].function, "clearPersistentMessage");
}

TEST(TestHostSuites, TracksMemoryBlocksAndCountsBadFrees) {
    Host host;
    const OfxMemorySuiteV1& memory = *ZarvelHost::memorySuite();
    void* block = nullptr;
    ASSERT_EQ(memory.memoryAlloc(nullptr, 100, &block), kOfxStatOK);
    EXPECT_EQ(host.memoryOutstanding(), 1u);
    EXPECT_EQ(memory.memoryFree(block), kOfxStatOK);
    EXPECT_EQ(memory.memoryFree(block), kOfxStatErrBadHandle);
    EXPECT_EQ(host.memoryOutstanding(), 0u);
    EXPECT_EQ(host.badMemoryFrees(), 1u);
}

}  // namespace
