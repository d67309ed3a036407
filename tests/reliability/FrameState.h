// The plug-in frame's process-wide state, as a finished host session must leave it: nothing
// loaded, no suites, no descriptors kept, no live instance.
#pragma once

#include <mutex>
#include <string>

#include "ofx/Core.h"
#include "ofx/ImageEffect.h"
#include "ofx/Private.h"

namespace zarvel::reliability {

/// Forgets the host description, which the plug-in reads on the first load of the process and
/// never again, so that the next load reads it as in a new process: every session a test runs
/// after this makes the same host calls.
inline void forgetHostDescription() {
    OFX::Private::mutableHostDescription() = OFX::HostDescription();
}

/// What differs from an idle frame, as "; "-separated phrases; empty when the frame is idle.
/// For the plug-in linked into this program. Not to be called while an action runs.
inline std::string frameStateProblems() {
    std::string problems;
    auto add = [&](const std::string& problem) {
        problems += (problems.empty() ? "" : "; ") + problem;
    };
    if (OFX::loadCount.load() != 0) {
        add("load count " + std::to_string(OFX::loadCount.load()));
    }
    const OFX::HostSuites& suites = OFX::hostSuites;
    if (suites.imageEffectSuite.load() || suites.propertySuite.load() ||
        suites.parameterSuite.load() || suites.multiThreadSuite.load()) {
        add("suites still set");
    }
    {
        std::lock_guard<std::mutex> lock(OFX::frameMutex);
        for (const auto& [key, descriptors] : OFX::descriptorRegistry) {
            if (!descriptors.empty()) {
                add(std::to_string(descriptors.size()) + " descriptors kept for " + key);
            }
        }
    }
    if (const std::size_t live = OFX::Private::liveInstanceCount()) {
        add(std::to_string(live) + " live instances");
    }
    return problems;
}

}  // namespace zarvel::reliability
