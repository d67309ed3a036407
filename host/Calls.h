// The test host's record of suite calls, and its fault injection.
//
// Every function of every suite the host gives out (and the OfxHost record's fetchSuite) enters
// through `CallMonitor::enter` before doing anything. Each entry gets the next global call index
// (0, 1, 2 ... since the host was made or the counts were reset), bumps the per-function count,
// is optionally recorded, and is checked against the fault rules. When a rule fires, the suite
// function returns the rule's status at once and does nothing else: no value is written, no
// object is created, no counter other than the call counts moves.
//
// A fault sweep therefore runs a session once to learn callCount(), then reruns it on a fresh
// host with failCallAtIndex(k, status) for each k below that count.
//
// Thread-safety: all members may be called from any thread; entries from concurrent threads
// are serialised, so every call gets a distinct index and a rule fires exactly once.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "openfx/openfx.h"

namespace ZarvelHost {

/// One suite call as the host saw it.
struct CallRecord {
    /// The global call index (0-based).
    std::uint64_t index = 0;
    /// The suite function's name as in the suite table ("propGetInt", "clipGetImage", ...), or
    /// "fetchSuite".
    std::string function;
    /// The property, parameter, clip, parameter type or suite name the call was about; empty when
    /// the function takes none.
    std::string name;
};

/// A fault rule as given to the monitor.
struct FaultRule {
    /// Fire on the call with this global index (when set), or ...
    std::optional<std::uint64_t> index;
    /// ... on the `nth` (1-based) call of `function` made after the rule was added, counting only
    /// calls about `name` when that is set.
    std::string function;
    std::optional<std::string> name;
    std::uint64_t nth = 0;
    /// The status the failed call returns. For the two functions that return no status (`abort`,
    /// `multiThreadIsSpawnedThread`) its value is returned as their int; `fetchSuite` returns null.
    OfxStatus status = kOfxStatFailed;
};

class CallMonitor {
public:
    /// Entry of one suite call. `name` may be null. Returns the status to fail the call with
    /// when a rule fires (the rule is then removed), or nothing.
    std::optional<OfxStatus> enter(const char* function, const char* name);

    /// Calls entered so far; also the index the next call will get.
    std::uint64_t callCount() const;
    /// Calls of one function entered so far.
    std::uint64_t callCount(std::string_view function) const;
    /// Back to no calls: index 0, per-function counts and records cleared. Rules are kept.
    void resetCounts();

    /// Recording is off initially, so that long runs keep their memory flat.
    void setRecording(bool on);
    bool isRecording() const;
    /// The calls recorded while recording was on, in index order.
    std::vector<CallRecord> records() const;
    /// The recorded calls of one function.
    std::vector<CallRecord> records(std::string_view function) const;
    void clearRecords();

    /// Fail the call whose global index is `index` (0-based, as in CallRecord::index).
    void failCallAtIndex(std::uint64_t index, OfxStatus status);
    /// Fail the `nth` call (1 = the next one) of `function`, counted from now; with `name`, only
    /// calls about that property/parameter/clip count.
    void failNthCall(std::string function, std::uint64_t nth, OfxStatus status,
                     std::optional<std::string> name = std::nullopt);
    void addFault(FaultRule rule);
    /// Drops the rules that have not fired yet.
    void clearFaults();
    /// Rules that have not fired yet.
    std::size_t pendingFaults() const;
    /// The calls that a rule failed, in the order they happened.
    std::vector<CallRecord> firedFaults() const;

private:
    struct PendingRule {
        FaultRule rule;
        std::uint64_t seen = 0;  // matching calls since the rule was added
    };

    mutable std::mutex mutex_;
    std::uint64_t next_ = 0;
    std::map<std::string, std::uint64_t, std::less<>> perFunction_;
    bool recording_ = false;
    std::vector<CallRecord> records_;
    std::vector<PendingRule> rules_;
    std::vector<CallRecord> fired_;
};

}  // namespace ZarvelHost
