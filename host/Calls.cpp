#include "host/Calls.h"

#include <utility>

namespace ZarvelHost {

std::optional<OfxStatus> CallMonitor::enter(const char* function, const char* name) {
    const std::string_view functionName = function ? function : "";
    const std::string_view aboutName = name ? name : "";
    std::lock_guard lock(mutex_);
    const std::uint64_t index = next_++;
    auto counted = perFunction_.find(functionName);
    if (counted == perFunction_.end()) {
        counted = perFunction_.emplace(std::string(functionName), 0).first;
    }
    ++counted->second;
    if (recording_) {
        records_.push_back({index, std::string(functionName), std::string(aboutName)});
    }
    // Every rule sees the call, so that the counts of rules that do not fire stay exact; the
    // first one that fires decides the status.
    auto firing = rules_.end();
    for (auto rule = rules_.begin(); rule != rules_.end(); ++rule) {
        bool fires = false;
        if (rule->rule.index) {
            fires = *rule->rule.index == index;
        } else if (rule->rule.function == functionName &&
                   (!rule->rule.name || *rule->rule.name == aboutName)) {
            fires = ++rule->seen == rule->rule.nth;
        }
        if (fires && firing == rules_.end()) {
            firing = rule;
        }
    }
    if (firing == rules_.end()) {
        return std::nullopt;
    }
    const OfxStatus status = firing->rule.status;
    fired_.push_back({index, std::string(functionName), std::string(aboutName)});
    rules_.erase(firing);
    return status;
}

std::uint64_t CallMonitor::callCount() const {
    std::lock_guard lock(mutex_);
    return next_;
}

std::uint64_t CallMonitor::callCount(std::string_view function) const {
    std::lock_guard lock(mutex_);
    auto found = perFunction_.find(function);
    return found == perFunction_.end() ? 0 : found->second;
}

void CallMonitor::resetCounts() {
    std::lock_guard lock(mutex_);
    next_ = 0;
    perFunction_.clear();
    records_.clear();
}

void CallMonitor::setRecording(bool on) {
    std::lock_guard lock(mutex_);
    recording_ = on;
}

bool CallMonitor::isRecording() const {
    std::lock_guard lock(mutex_);
    return recording_;
}

std::vector<CallRecord> CallMonitor::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<CallRecord> CallMonitor::records(std::string_view function) const {
    std::lock_guard lock(mutex_);
    std::vector<CallRecord> result;
    for (const CallRecord& record : records_) {
        if (record.function == function) {
            result.push_back(record);
        }
    }
    return result;
}

void CallMonitor::clearRecords() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

void CallMonitor::failCallAtIndex(std::uint64_t index, OfxStatus status) {
    FaultRule rule;
    rule.index = index;
    rule.status = status;
    addFault(std::move(rule));
}

void CallMonitor::failNthCall(std::string function, std::uint64_t nth, OfxStatus status,
                              std::optional<std::string> name) {
    FaultRule rule;
    rule.function = std::move(function);
    rule.name = std::move(name);
    rule.nth = nth;
    rule.status = status;
    addFault(std::move(rule));
}

void CallMonitor::addFault(FaultRule rule) {
    std::lock_guard lock(mutex_);
    rules_.push_back({std::move(rule), 0});
}

void CallMonitor::clearFaults() {
    std::lock_guard lock(mutex_);
    rules_.clear();
}

std::size_t CallMonitor::pendingFaults() const {
    std::lock_guard lock(mutex_);
    return rules_.size();
}

std::vector<CallRecord> CallMonitor::firedFaults() const {
    std::lock_guard lock(mutex_);
    return fired_;
}

}  // namespace ZarvelHost
