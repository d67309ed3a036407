// Test helpers for the support layer: a test host loaded into the layer, effects to work on, and
// fault sweeps that check which exception each failing host call produces.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "ofx/Core.h"
#include "ofx/ImageEffect.h"
#include "openfx/openfx.h"

namespace zarvel::test {

/// Puts the layer's process-wide state (host pointer, load count, suites, host description)
/// back to that of a library nobody has loaded yet.
inline void resetSupportLayer() {
    OFX::hostPointer = nullptr;
    OFX::loadCount = 0;
    OFX::HostSuites& suites = OFX::hostSuites;
    suites.imageEffectSuite = nullptr;
    suites.propertySuite = nullptr;
    suites.parameterSuite = nullptr;
    suites.memorySuite = nullptr;
    suites.multiThreadSuite = nullptr;
    suites.messageSuite = nullptr;
    suites.messageSuiteV2 = nullptr;
    suites.progressSuite = nullptr;
    suites.vegasProgressSuite = nullptr;
    suites.timeLineSuite = nullptr;
    suites.vegasStereoscopicSuite = nullptr;
    suites.vegasKeyframeSuite = nullptr;
    suites.interactSuite = nullptr;
    suites.hwndInteractSuite = nullptr;
    OFX::Private::mutableHostDescription() = OFX::HostDescription();
}

/// What `action` throws, as "<class>: <what()>" ("Suite: kOfxStatErrFatal",
/// "PropertyUnknownToHost: OfxImagePropBounds"), "bad_alloc", or "nothing".
inline std::string thrownBy(const std::function<void()>& action) {
    try {
        action();
    } catch (const OFX::Exception::Suite& failure) {
        return std::string("Suite: ") + failure.what();
    } catch (const OFX::Exception::HostInadequate& failure) {
        return std::string("HostInadequate: ") + failure.what();
    } catch (const OFX::Exception::PropertyUnknownToHost& failure) {
        return std::string("PropertyUnknownToHost: ") + failure.what();
    } catch (const OFX::Exception::PropertyValueIllegalToHost& failure) {
        return std::string("PropertyValueIllegalToHost: ") + failure.what();
    } catch (const OFX::Exception::TypeRequest& failure) {
        return std::string("TypeRequest: ") + failure.what();
    } catch (const std::bad_alloc&) {
        return "bad_alloc";
    } catch (const std::invalid_argument& failure) {
        return std::string("invalid_argument: ") + failure.what();
    } catch (const std::exception& failure) {
        return std::string("other: ") + failure.what();
    } catch (...) {
        return "unknown";
    }
    return "nothing";
}

/// The exception the general status rule makes of `status`, in `thrownBy`'s form.
inline std::string suiteRuleOutcome(OfxStatus status) {
    switch (status) {
    case kOfxStatOK:
    case kOfxStatReplyYes:
    case kOfxStatReplyNo:
    case kOfxStatReplyDefault:
        return "nothing";
    case kOfxStatErrMemory:
        return "bad_alloc";
    default:
        return std::string("Suite: ") + OFX::statusName(status);
    }
}

/// The exception the property status rule makes of `status` for `property` (read or written
/// with `throwOnFailure` on).
inline std::string propertyRuleOutcome(OfxStatus status, const std::string& property) {
    switch (status) {
    case kOfxStatErrUnknown:
    case kOfxStatErrUnsupported:
        return "PropertyUnknownToHost: " + property;
    case kOfxStatErrValue:
        return "PropertyValueIllegalToHost: " + property;
    default:
        return suiteRuleOutcome(status);
    }
}

/// The outcome the layer owes for a host call of `function` about `name` failing with
/// `status`, when the call's result is checked (throwOnFailure on for property calls).
inline std::string checkedCallOutcome(const std::string& function, const std::string& name,
                                      OfxStatus status) {
    return function.rfind("prop", 0) == 0 ? propertyRuleOutcome(status, name)
                                          : suiteRuleOutcome(status);
}

/// One call of a fault sweep: the call the host failed and what the action threw.
struct FaultOutcome {
    bool fired = false;
    std::string function;
    std::string name;
    std::string thrown;
};

/// Counts the host calls `action` makes (the counts are reset first).
inline std::uint64_t hostCallsOf(ZarvelHost::Host& host, const std::function<void()>& action) {
    host.calls().resetCounts();
    action();
    return host.calls().callCount();
}

/// Runs `action` with its host call number `index` (0-based, counted from the start of
/// `action`) failed with `status`.
inline FaultOutcome runWithFault(ZarvelHost::Host& host, std::uint64_t index, OfxStatus status,
                                 const std::function<void()>& action) {
    host.calls().clearFaults();
    const std::size_t firedBefore = host.calls().firedFaults().size();
    host.calls().resetCounts();
    host.calls().failCallAtIndex(index, status);
    FaultOutcome outcome;
    outcome.thrown = thrownBy(action);
    host.calls().clearFaults();
    auto fired = host.calls().firedFaults();
    if (fired.size() > firedBefore) {
        outcome.fired = true;
        outcome.function = fired.back().function;
        outcome.name = fired.back().name;
    }
    return outcome;
}

/// A test host loaded into the support layer (host pointer set, suites fetched), with the
/// layer's process-wide state reset before and after each test.
class LoadedHost : public ::testing::Test {
protected:
    LoadedHost() { resetSupportLayer(); }
    ~LoadedHost() override { resetSupportLayer(); }

    void SetUp() override {
        OFX::hostPointer = host.ofxHost();
        OFX::fetchHostSuites();
        host.calls().resetCounts();
    }

    ZarvelHost::Host host;
};

/// An instance of a filter with the clips "Output" and "Source", built the way a host builds
/// one: main descriptor, context descriptor with the clips, instance.
struct HostFilterInstance {
    explicit HostFilterInstance(ZarvelHost::Host& host,
                                const std::string& context = kOfxImageEffectContextFilter)
        : descriptor(ZarvelHost::Effect::makeDescriptor(host))
        , contextDescriptor(ZarvelHost::Effect::makeContextDescriptor(host, *descriptor, context)) {
        contextDescriptor->defineClip("Output");
        contextDescriptor->defineClip("Source");
        instance = ZarvelHost::Effect::makeInstance(host, *contextDescriptor);
    }

    OfxImageEffectHandle handle() const { return instance->handle(); }
    ZarvelHost::Clip& clip(const std::string& name) const { return instance->clip(name); }

    std::unique_ptr<ZarvelHost::Effect> descriptor;
    std::unique_ptr<ZarvelHost::Effect> contextDescriptor;
    std::unique_ptr<ZarvelHost::Effect> instance;
};

/// The smallest concrete effect instance.
class PlainEffect : public OFX::ImageEffect {
public:
    using OFX::ImageEffect::ImageEffect;
    void onRender(const OFX::RenderArguments&) override {}
};

}  // namespace zarvel::test
