// Fault sweeps: a whole session run once to count its host calls, then once per call index with
// exactly that call failing, for each failure status a host can answer. Every run must end with a
// named status from every action, release every image it fetched exactly once, write nothing
// outside its outputs' pixels, leave the plug-in's process-wide state as it found it, and leave
// the process able to run a clean session that renders exactly what the first one rendered.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"
#include "host/Plugin.h"
#include "ofx/Core.h"
#include "ofx/Private.h"
#include "openfx/openfx.h"
#include "tests/reliability/FrameState.h"
#include "tests/reliability/WholeSession.h"
#include "tests/support/CaptureStdout.h"

namespace zarvel::reliability {
namespace {

using ZarvelHost::Host;

const OfxStatus sweptStatuses[] = {kOfxStatFailed, kOfxStatErrUnknown, kOfxStatErrBadHandle,
                                   kOfxStatErrMemory, kOfxStatErrValue};

// The statuses an action may end with when a host call fails with `injected`: the status itself
// (a suite call's status passes through), kOfxStatFailed (what every other failure becomes),
// kOfxStatErrMissingHostFeature (a property or suite the host "does not know"), and
// kOfxStatErrBadHandle when the plug-in can no longer find its instance.
bool isExpectedFailure(OfxStatus status, OfxStatus injected) {
    return status == injected || status == kOfxStatFailed ||
           status == kOfxStatErrMissingHostFeature || status == kOfxStatErrBadHandle;
}

// One session's problems, as lines for the failure message.
class Findings {
public:
    void add(const std::string& line) { lines_.push_back(line); }
    bool empty() const { return lines_.empty(); }
    std::string text() const {
        std::ostringstream out;
        for (const std::string& line : lines_) {
            out << "\n  " << line;
        }
        return out.str();
    }

private:
    std::vector<std::string> lines_;
};

// What every session leaves behind, faulted or not: images, guards, sources, the frame's state.
void checkAftermath(Host& host, const SessionRecord& run, bool releaseFailed, Findings& findings) {
    const std::uint64_t fetched = host.imagesFetched();
    const std::uint64_t releaseCalls = host.calls().callCount("clipReleaseImage");
    if (releaseCalls != fetched) {
        findings.add(std::to_string(fetched) + " images fetched but " +
                     std::to_string(releaseCalls) + " release calls");
    }
    if (host.badImageReleases() != 0) {
        findings.add(std::to_string(host.badImageReleases()) + " releases of no outstanding image");
    }
    const std::size_t expectedOutstanding = releaseFailed ? 1 : 0;
    if (host.imagesOutstanding() != expectedOutstanding) {
        findings.add(std::to_string(host.imagesOutstanding()) + " images outstanding, expected " +
                     std::to_string(expectedOutstanding));
    }
    for (const RenderRecord& render : run.renders) {
        if (!render.output->guardsIntact()) {
            findings.add("a write outside the " + nameOf(render.type) + " output's pixels");
        }
        if (!samePixels(*render.source, *render.sourceBefore)) {
            findings.add("the " + nameOf(render.type) + " source was written");
        }
    }
    const std::string state = frameStateProblems();
    if (!state.empty()) {
        findings.add("plug-in state: " + state);
    }
}

// A clean session in the same process, on a fresh host: the same statuses and pixels as `clean`.
void checkCleanSessionAfterwards(const SessionRecord& clean, const SessionSettings& settings,
                                 Findings& findings) {
    Host host;
    const SessionRecord again = runWholeSession(host, linkedPlugin(), settings);
    if (again.actions.size() != clean.actions.size()) {
        findings.add("a clean session afterwards ran " + std::to_string(again.actions.size()) +
                     " actions instead of " + std::to_string(clean.actions.size()));
        return;
    }
    for (std::size_t index = 0; index < clean.actions.size(); ++index) {
        if (again.actions[index].status != clean.actions[index].status) {
            findings.add("a clean session afterwards: " + again.actions[index].action + " gave " +
                         OFX::statusName(again.actions[index].status));
        }
    }
    for (std::size_t index = 0; index < clean.renders.size(); ++index) {
        if (!samePixels(*again.renders[index].output, *clean.renders[index].output)) {
            findings.add("a clean session afterwards rendered other " +
                         nameOf(clean.renders[index].type) + " pixels");
        }
    }
    checkAftermath(host, again, false, findings);
}

// The clean session every sweep starts from: all actions succeed, every render draws.
SessionRecord cleanSession(const SessionSettings& settings, std::uint64_t& calls) {
    forgetHostDescription();
    Host host;
    SessionRecord clean = runWholeSession(host, linkedPlugin(), settings);
    calls = host.calls().callCount();
    Findings findings;
    checkAftermath(host, clean, false, findings);
    EXPECT_TRUE(findings.empty()) << findings.text();
    EXPECT_EQ(clean.actions.size(), 14u);
    for (const ActionRecord& action : clean.actions) {
        EXPECT_TRUE(ZarvelHost::isSuccess(action.status))
            << action.action << ": " << OFX::statusName(action.status);
    }
    return clean;
}

class FaultSweep : public ::testing::TestWithParam<OfxStatus> {};

TEST_P(FaultSweep, EveryHostCallFailingInTurnLeavesDefinedStatusesAndNothingBehind) {
    const OfxStatus injected = GetParam();
    zarvel::test::CaptureStdout quiet;  // the plug-in's "Threw suite exception!" lines
    std::uint64_t callCount = 0;
    const SessionRecord clean = cleanSession({}, callCount);
    ASSERT_GT(callCount, 100u);

    // Under the sanitizers every few call indices, a different share for each status.
    const unsigned stride = environmentCount("ZARVEL_SWEEP_STRIDE", runsSanitized() ? 3u : 1u);
    const auto position = std::find(std::begin(sweptStatuses), std::end(sweptStatuses), injected);
    const std::uint64_t offset = std::uint64_t(position - std::begin(sweptStatuses)) % stride;
    std::uint64_t runs = 0;
    std::uint64_t reported = 0;
    std::map<std::string, std::uint64_t> failedActions;
    for (std::uint64_t index = offset; index < callCount; index += stride) {
        Findings findings;
        std::string fault = "call " + std::to_string(index);
        {
            forgetHostDescription();
            Host host;
            host.calls().failCallAtIndex(index, injected);
            const SessionRecord run = runWholeSession(host, linkedPlugin());
            ++runs;
            const auto fired = host.calls().firedFaults();
            if (fired.size() != 1) {
                findings.add("the fault did not fire");
            } else {
                fault += " (" + fired.front().function + " " + fired.front().name + ")";
            }
            const bool releaseFailed =
                fired.size() == 1 && fired.front().function == "clipReleaseImage";
            for (std::size_t at = 0; at < run.actions.size(); ++at) {
                const ActionRecord& action = run.actions[at];
                if (!isNamedStatus(action.status)) {
                    findings.add(action.action + " returned " + std::to_string(action.status));
                }
                // Actions that ended before the failed call behave as in the clean session.
                if (action.endCall <= index) {
                    if (at >= clean.actions.size() || clean.actions[at].action != action.action ||
                        clean.actions[at].status != action.status) {
                        findings.add(action.action + " before the fault gave " +
                                     OFX::statusName(action.status));
                    }
                } else if (!ZarvelHost::isSuccess(action.status)) {
                    ++failedActions[action.action + " " + OFX::statusName(action.status)];
                    if (!isExpectedFailure(action.status, injected)) {
                        findings.add(action.action + " failed with " +
                                     OFX::statusName(action.status));
                    }
                }
            }
            checkAftermath(host, run, releaseFailed, findings);
        }
        checkCleanSessionAfterwards(clean, {}, findings);
        if (!findings.empty() && ++reported <= 10) {
            ADD_FAILURE() << OFX::statusName(injected) << " at " << fault << ":" << findings.text();
        }
    }
    EXPECT_EQ(reported, 0u) << "runs with problems";
    std::string outcomes;
    for (const auto& [outcome, count] : failedActions) {
        outcomes += outcome + " x" + std::to_string(count) + "; ";
    }
    RecordProperty("faultsInjected", std::to_string(runs));
    RecordProperty("hostCallsPerSession", std::to_string(callCount));
    RecordProperty("failedActions", outcomes);
    std::printf("%s: %llu faults injected over %llu host calls; %s\n", OFX::statusName(injected),
                static_cast<unsigned long long>(runs), static_cast<unsigned long long>(callCount),
                outcomes.c_str());
}

INSTANTIATE_TEST_SUITE_P(EachStatus, FaultSweep, ::testing::ValuesIn(sweptStatuses),
                         [](const ::testing::TestParamInfo<OfxStatus>& param) {
                             return std::string(OFX::statusName(param.param));
                         });

// A host call may fail with a number the standard has no name for. The host still gets one of
// the standard's statuses back: kOfxStatFailed where the number would have been.
TEST(FaultSweepUnnamed, StatusesTheStandardDoesNotNameComeBackAsNamedFailures) {
    zarvel::test::CaptureStdout quiet;
    std::uint64_t callCount = 0;
    const SessionRecord clean = cleanSession({}, callCount);
    const OfxStatus unnamed[] = {-1, 15, 999, 1001, INT_MIN, INT_MAX};
    const unsigned stride = runsSanitized() ? 7u : 2u;
    std::uint64_t reported = 0;
    std::size_t next = 0;
    for (std::uint64_t index = 0; index < callCount; index += stride) {
        const OfxStatus injected = unnamed[next++ % std::size(unnamed)];
        Findings findings;
        bool releaseFailed = false;
        {
            forgetHostDescription();
            Host host;
            host.calls().failCallAtIndex(index, injected);
            const SessionRecord run = runWholeSession(host, linkedPlugin());
            for (const auto& fired : host.calls().firedFaults()) {
                releaseFailed = releaseFailed || fired.function == "clipReleaseImage";
            }
            for (const ActionRecord& action : run.actions) {
                if (!ZarvelHost::isSuccess(action.status) &&
                    !isExpectedFailure(action.status, kOfxStatFailed)) {
                    findings.add(action.action + " returned " + std::to_string(action.status));
                }
            }
            checkAftermath(host, run, releaseFailed, findings);
        }
        if (!findings.empty() && ++reported <= 10) {
            ADD_FAILURE() << "status " << injected << " at call " << index << ":"
                          << findings.text();
        }
    }
    EXPECT_EQ(reported, 0u);
    Findings afterwards;
    checkCleanSessionAfterwards(clean, {}, afterwards);
    EXPECT_TRUE(afterwards.empty()) << afterwards.text();
}

// Worker threads interleave their calls, so which call an index names changes from run to run:
// these runs check only what must hold whatever failed.
TEST(FaultSweepThreaded, FailuresDuringThreadedRendersLeaveNothingBehind) {
    zarvel::test::CaptureStdout quiet;
    SessionSettings settings;
    settings.cpuCount = 4;
    settings.serialThreads = false;
    settings.bounds = {0, 0, 24, 40};
    std::uint64_t callCount = 0;
    const SessionRecord clean = cleanSession(settings, callCount);
    // Only the renders' calls can come from several threads.
    std::uint64_t firstRenderCall = callCount;
    for (const ActionRecord& action : clean.actions) {
        if (action.action == kOfxImageEffectActionRender) {
            firstRenderCall = std::min(firstRenderCall, action.firstCall);
        }
    }
    const unsigned stride = environmentCount("ZARVEL_SWEEP_STRIDE", runsSanitized() ? 7u : 2u);
    std::uint64_t reported = 0;
    std::size_t statusIndex = 0;
    for (std::uint64_t index = firstRenderCall; index < callCount; index += stride) {
        const OfxStatus injected = sweptStatuses[statusIndex++ % std::size(sweptStatuses)];
        Findings findings;
        bool releaseFailed = false;
        {
            forgetHostDescription();
            Host host;
            host.calls().failCallAtIndex(index, injected);
            const SessionRecord run = runWholeSession(host, linkedPlugin(), settings);
            for (const auto& fired : host.calls().firedFaults()) {
                releaseFailed = releaseFailed || fired.function == "clipReleaseImage";
            }
            for (const ActionRecord& action : run.actions) {
                if (!isNamedStatus(action.status)) {
                    findings.add(action.action + " returned " + std::to_string(action.status));
                }
            }
            checkAftermath(host, run, releaseFailed, findings);
        }
        if (!findings.empty() && ++reported <= 10) {
            ADD_FAILURE() << OFX::statusName(injected) << " at call " << index << ":"
                          << findings.text();
        }
    }
    EXPECT_EQ(reported, 0u);
    Findings afterwards;
    checkCleanSessionAfterwards(clean, settings, afterwards);
    EXPECT_TRUE(afterwards.empty()) << afterwards.text();
}

}  // namespace
}  // namespace zarvel::reliability
