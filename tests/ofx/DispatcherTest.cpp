#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Plugin.h"
#include "host/Properties.h"
#include "ofx/Core.h"
#include "ofx/ImageEffect.h"
#include "ofx/Private.h"
#include "openfx/openfx.h"
#include "tests/ofx/ScriptedPlugin.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::CaptureLog;
using zarvel::test::CaptureStdout;
using zarvel::test::script;

const std::string badHandleLines = "Threw suite exception!\nCaught OFX::Exception::Suite\n";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string formatted(const char* format, const std::string& action) {
    std::string text = format;
    text.replace(text.find("%s"), 2, action);
    return text;
}

// The handle rule of every action with one, written out again here so that a slip in the
// dispatcher's own table shows.
struct Row {
    const char* action;
    bool handleExpectedNull;
    bool inArgsExpectedNull;
    bool outArgsExpectedNull;
    OfxStatus normalStatus;
};

constexpr bool N = true;
constexpr bool R = false;

// Unload comes last here: it drops the descriptors the per-clip actions look up.
const Row rows[] = {
    {kOfxActionDescribe, R, N, N, kOfxStatOK},
    {kOfxImageEffectActionDescribeInContext, R, R, N, kOfxStatOK},
    {kOfxActionCreateInstance, R, N, N, kOfxStatOK},
    {kOfxActionDestroyInstance, R, N, N, kOfxStatOK},
    {kOfxImageEffectActionRender, R, R, N, kOfxStatOK},
    {kOfxImageEffectActionBeginSequenceRender, R, R, N, kOfxStatReplyDefault},
    {kOfxImageEffectActionEndSequenceRender, R, R, N, kOfxStatReplyDefault},
    {kOfxImageEffectActionIsIdentity, R, R, R, kOfxStatReplyDefault},
    {kOfxImageEffectActionGetRegionOfDefinition, R, R, R, kOfxStatReplyDefault},
    {kOfxImageEffectActionGetRegionsOfInterest, R, R, R, kOfxStatReplyDefault},
    {kOfxImageEffectActionGetFramesNeeded, R, R, R, kOfxStatReplyDefault},
    {kOfxImageEffectActionGetClipPreferences, R, N, R, kOfxStatReplyDefault},
    {kOfxActionPurgeCaches, R, N, N, kOfxStatReplyDefault},
    {kOfxActionSyncPrivateData, R, N, N, kOfxStatReplyDefault},
    {kOfxImageEffectActionGetTimeDomain, R, N, R, kOfxStatReplyDefault},
    {kOfxActionBeginInstanceChanged, R, R, N, kOfxStatReplyDefault},
    {kOfxActionInstanceChanged, R, R, N, kOfxStatReplyDefault},
    {kOfxActionEndInstanceChanged, R, R, N, kOfxStatReplyDefault},
    {kOfxActionBeginInstanceEdit, R, N, N, kOfxStatReplyDefault},
    {kOfxActionEndInstanceEdit, R, N, N, kOfxStatReplyDefault},
    {kOfxImageEffectActionVegasKeyframeUplift, R, R, N, kOfxStatReplyDefault},
    {kOfxImageEffectActionInvokeHelp, R, N, N, kOfxStatReplyDefault},
    {kOfxImageEffectActionInvokeAbout, R, N, N, kOfxStatReplyDefault},
    {kOfxActionUnload, N, N, N, kOfxStatOK},
};

const std::vector<std::string> instanceActions = {
    kOfxImageEffectActionRender,
    kOfxImageEffectActionBeginSequenceRender,
    kOfxImageEffectActionEndSequenceRender,
    kOfxImageEffectActionIsIdentity,
    kOfxImageEffectActionGetRegionOfDefinition,
    kOfxImageEffectActionGetRegionsOfInterest,
    kOfxImageEffectActionGetFramesNeeded,
    kOfxImageEffectActionGetClipPreferences,
    kOfxActionPurgeCaches,
    kOfxActionSyncPrivateData,
    kOfxImageEffectActionGetTimeDomain,
    kOfxActionBeginInstanceChanged,
    kOfxActionInstanceChanged,
    kOfxActionEndInstanceChanged,
    kOfxActionBeginInstanceEdit,
    kOfxActionEndInstanceEdit,
    kOfxImageEffectActionVegasKeyframeUplift,
    kOfxImageEffectActionInvokeHelp,
    kOfxImageEffectActionInvokeAbout,
};

class Dispatcher : public zarvel::test::ScriptedPluginHost {
protected:
    // One call of `action` with the handles a host would pass, any of which a test may replace.
    struct Prepared {
        ZarvelHost::ActionCall call;
        const void* handle = nullptr;
        OfxPropertySetHandle inArgs = nullptr;
        OfxPropertySetHandle outArgs = nullptr;
        std::unique_ptr<ZarvelHost::Effect> descriptor;
        std::unique_ptr<ZarvelHost::Effect> effect;
    };

    Prepared prepare(const std::string& action) {
        Prepared prepared;
        if (action == kOfxActionUnload) {
            plugin.load();  // keeps the suites when the unload takes the count down
            prepared.call = plugin.prepare(action, nullptr);
        } else if (action == kOfxActionDescribe) {
            prepared.effect = ZarvelHost::Effect::makeDescriptor(host);
            prepared.call = plugin.prepare(action, nullptr);
        } else if (action == kOfxImageEffectActionDescribeInContext) {
            prepared.descriptor = ZarvelHost::Effect::makeDescriptor(host);
            prepared.effect = ZarvelHost::Effect::makeContextDescriptor(
                host, *prepared.descriptor, kOfxImageEffectContextFilter);
            prepared.call = plugin.prepare(action, nullptr);
        } else if (action == kOfxActionCreateInstance) {
            prepared.effect = ZarvelHost::Effect::makeInstance(
                host, *plugin.contextDescriptor(kOfxImageEffectContextFilter));
            prepared.call = plugin.prepare(action, prepared.effect.get());
        } else if (action == kOfxActionDestroyInstance) {
            prepared.effect = plugin.createInstance(kOfxImageEffectContextFilter).instance;
            prepared.call = plugin.prepare(action, prepared.effect.get());
        } else {
            prepared.call = plugin.prepare(action, instance.get());
        }
        if (prepared.effect) {
            prepared.handle = prepared.effect->handle();
        } else if (action != kOfxActionUnload) {
            prepared.handle = instance->handle();
        }
        prepared.inArgs = prepared.call.inArgs ? prepared.call.inArgs->handle() : nullptr;
        prepared.outArgs = prepared.call.outArgs ? prepared.call.outArgs->handle() : nullptr;
        script().calls.clear();
        return prepared;
    }

    OfxStatus run(const std::string& action, const Prepared& prepared) {
        return plugin.callMainEntry(action.c_str(), prepared.handle, prepared.inArgs,
                                    prepared.outArgs);
    }

    // Passes `value` as the handle (0), inArgs (1) or outArgs (2).
    static void replace(Prepared& prepared, int which, OfxPropertySetHandle value) {
        if (which == 0) {
            prepared.handle = value;
        } else if (which == 1) {
            prepared.inArgs = value;
        } else {
            prepared.outArgs = value;
        }
    }

    // Deletes a plug-in instance an action left bound to `prepared`'s host effect.
    static void release(Prepared& prepared) {
        if (prepared.effect && prepared.effect->isInstance()) {
            delete static_cast<OFX::ImageEffect*>(prepared.effect->instanceData());
        }
    }

    ZarvelHost::HostPropertySet spare{host, "spare"};
};

TEST_F(Dispatcher, EveryActionWithItsHandlesAnswersTheStatusOfItsRow) {
    start();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.action);
        Prepared prepared = prepare(row.action);
        CaptureStdout out;
        EXPECT_EQ(run(row.action, prepared), row.normalStatus);
        EXPECT_EQ(out.text(), "");
        release(prepared);
    }
}

TEST_F(Dispatcher, ARequiredHandleThatIsNullStopsTheActionWithBadHandle) {
    start();
    const int constructedBefore = script().constructed;
    for (const Row& row : rows) {
        for (int which = 0; which < 3; ++which) {
            const bool expectedNull[] = {row.handleExpectedNull, row.inArgsExpectedNull,
                                         row.outArgsExpectedNull};
            if (expectedNull[which]) {
                continue;
            }
            const char* errors[] = {"'Handle passed to '%s' is null.",
                                    "'inArgs' handle passed to '%s' is null.",
                                    "'outArgs' handle passed to '%s' is null."};
            SCOPED_TRACE(testing::Message() << row.action << " without handle " << which);
            Prepared prepared = prepare(row.action);
            replace(prepared, which, nullptr);
            const int describesBefore = script().describes;
            CaptureLog log;
            CaptureStdout out;
            EXPECT_EQ(run(row.action, prepared), kOfxStatErrBadHandle);
            EXPECT_EQ(out.text(), badHandleLines);
            EXPECT_TRUE(contains(log.text(), "    ERROR : " + formatted(errors[which], row.action)))
                << log.text();
            EXPECT_TRUE(script().calls.empty());
            EXPECT_EQ(script().describes, describesBefore);
            release(prepared);
        }
    }
    EXPECT_EQ(script().constructed, constructedBefore + 1);  // the instance of DestroyInstance
}

TEST_F(Dispatcher, AHandleThatShouldBeNullOnlyWarns) {
    start();
    for (const Row& row : rows) {
        for (int which = 0; which < 3; ++which) {
            const bool expectedNull[] = {row.handleExpectedNull, row.inArgsExpectedNull,
                                         row.outArgsExpectedNull};
            if (!expectedNull[which]) {
                continue;
            }
            const char* warnings[] = {"Handle passed to '%s' is not null.",
                                      "'inArgs' Handle passed to '%s' is not null.",
                                      "'outArgs' Handle passed to '%s' is not null."};
            SCOPED_TRACE(testing::Message() << row.action << " with handle " << which);
            Prepared prepared = prepare(row.action);
            replace(prepared, which, spare.handle());
            CaptureLog log;
            EXPECT_EQ(run(row.action, prepared), row.normalStatus);
            EXPECT_TRUE(
                contains(log.text(), "    WARNING : " + formatted(warnings[which], row.action)))
                << log.text();
            release(prepared);
        }
    }
}

TEST_F(Dispatcher, InstanceActionsCallTheirOperationOnceAndAnswerWhatItSays) {
    start();
    const std::vector<std::string> operations = {
        "onRender",
        "onBeginSequenceRender",
        "onEndSequenceRender",
        "onIsIdentity",
        "onGetRegionOfDefinition",
        "onGetRegionsOfInterest",
        "onGetFramesNeeded",
        "onGetClipPreferences",
        "onPurgeCaches",
        "onSyncPrivateData",
        "onGetTimeDomain",
        "onBeginInstanceChanged",
        "onParamChanged ",  // the host's default object name is empty
        "onEndInstanceChanged",
        "onBeginInstanceEdit",
        "onEndInstanceEdit",
        "onKeyframeUplift",
        "onInvokeHelp",
        "onInvokeAbout",
    };
    ASSERT_EQ(operations.size(), instanceActions.size());
    for (std::size_t index = 0; index < instanceActions.size(); ++index) {
        SCOPED_TRACE(instanceActions[index]);
        script().calls.clear();
        plugin.simpleAction(*instance, instanceActions[index]);
        EXPECT_EQ(script().calls, std::vector<std::string>{operations[index]});
    }
}

TEST_F(Dispatcher, AnsweringOperationsGiveOkAndWriteTheirResults) {
    start();
    zarvel::test::Script& answers = script();
    answers.identity = true;
    answers.identityClip = "Source";
    answers.identityTime = 7.0;
    answers.answersRod = true;
    answers.rod = {-1.5, -2.0, 30.0, 40.25};
    answers.answersTimeDomain = true;
    answers.timeDomain = {3.0, 9.0};
    answers.answersHelp = true;
    answers.answersAbout = true;
    answers.setsClipPreferences = true;

    auto identity = plugin.isIdentity(*instance, {});
    EXPECT_EQ(identity.status, kOfxStatOK);
    EXPECT_EQ(identity.outArgs->getString(kOfxPropName), "Source");
    EXPECT_EQ(identity.outArgs->getDouble(kOfxPropTime), 7.0);

    auto rod = plugin.getRegionOfDefinition(*instance, 0.0);
    EXPECT_EQ(rod.status, kOfxStatOK);
    EXPECT_EQ(rod.outArgs->getDoubles(kOfxImageEffectPropRegionOfDefinition),
              (std::vector<double>{-1.5, -2.0, 30.0, 40.25}));

    auto domain = plugin.getTimeDomain(*instance);
    EXPECT_EQ(domain.status, kOfxStatOK);
    EXPECT_EQ(domain.outArgs->getDoubles(kOfxImageEffectPropFrameRange),
              (std::vector<double>{3.0, 9.0}));

    auto preferences = plugin.getClipPreferences(*instance);
    EXPECT_EQ(preferences.status, kOfxStatOK);
    EXPECT_EQ(preferences.outArgs->getString("OfxImageClipPropComponents_Source"),
              kOfxImageComponentAlpha);

    EXPECT_EQ(plugin.simpleAction(*instance, kOfxImageEffectActionInvokeHelp).status, kOfxStatOK);
    EXPECT_EQ(plugin.simpleAction(*instance, kOfxImageEffectActionInvokeAbout).status, kOfxStatOK);

    // An identity without a clip is no identity the host could use.
    answers.identityClip.clear();
    identity = plugin.isIdentity(*instance, {});
    EXPECT_EQ(identity.status, kOfxStatReplyDefault);
    EXPECT_EQ(identity.outArgs->getString(kOfxPropName), "");
}

TEST_F(Dispatcher, FramesEveryActionInTheLogAtItsNestingDepth) {
    start();
    {
        CaptureLog log;
        CaptureStdout out;
        EXPECT_EQ(
            plugin.callMainEntry(kOfxImageEffectActionRender, instance->handle(), nullptr, nullptr),
            kOfxStatErrBadHandle);
        EXPECT_EQ(log.text(),
                  "****************************************************************************"
                  "****\n"
                  "START mainEntry (OfxImageEffectActionRender)\n"
                  "    ERROR : 'inArgs' handle passed to 'OfxImageEffectActionRender' is null.\n"
                  "STOP mainEntry (OfxImageEffectActionRender)\n"
                  "\n");
        EXPECT_EQ(out.text(), badHandleLines);
    }
    {
        // Inside an outer level every line moves one level deeper; so do the host calls an
        // action makes (the property lines of the instance look-up here).
        CaptureLog log;
        OFX::logIndent();
        plugin.simpleAction(*instance, kOfxActionPurgeCaches);
        OFX::logOutdent();
        const std::string text = log.text();
        const std::string start =
            "    " + std::string(80, '*') + "\n    START mainEntry (OfxActionPurgeCaches)\n";
        const std::string stop = "    STOP mainEntry (OfxActionPurgeCaches)\n\n";
        ASSERT_EQ(text.rfind(start, 0), 0u) << text;
        ASSERT_GE(text.size(), start.size() + stop.size());
        EXPECT_EQ(text.substr(text.size() - stop.size()), stop);
        const std::string inner =
            text.substr(start.size(), text.size() - start.size() - stop.size());
        EXPECT_FALSE(inner.empty());
        std::size_t lineStart = 0;
        while (lineStart < inner.size()) {
            EXPECT_EQ(inner.compare(lineStart, 8, "        "), 0) << inner;
            lineStart = inner.find('\n', lineStart) + 1;
        }
    }
    EXPECT_EQ(OFX::logDepth(), 0);
}

TEST_F(Dispatcher, ANullActionIsAnsweredWithoutReadingIt) {
    CaptureLog log;
    EXPECT_EQ(plugin.callMainEntry(nullptr, nullptr, nullptr, nullptr), kOfxStatReplyDefault);
    EXPECT_EQ(log.text(), std::string(80, '*') +
                              "\nSTART mainEntry ((null))\n"
                              "    ERROR : Requested action was a null pointer.\n"
                              "STOP mainEntry ((null))\n\n");
}

TEST_F(Dispatcher, OnlyAWholeActionNameMatches) {
    for (const char* name :
         {"OfxActionLoa", "OfxActionLoad ", "OfxActionLoadX", "", "oFXACTIONLOAD"}) {
        SCOPED_TRACE(name);
        CaptureLog log;
        EXPECT_EQ(plugin.callMainEntry(name, nullptr, nullptr, nullptr), kOfxStatReplyDefault);
        EXPECT_TRUE(
            contains(log.text(), std::string("    ERROR : Unknown action '") + name + "'."));
        EXPECT_EQ(OFX::loadCount, 0);
    }
}

TEST_F(Dispatcher, AKeyNotInTheRegistryFails) {
    const char* const keys[] = {"org.zarvel.test.unknown10", "org.zarvel.test.scripted1", nullptr};
    for (const char* key : keys) {
        SCOPED_TRACE(key ? key : "(null)");
        CaptureStdout out;
        EXPECT_EQ(OFX::mainEntryDispatch(kOfxActionLoad, nullptr, nullptr, nullptr, key),
                  kOfxStatFailed);
        EXPECT_EQ(out.text(), "Threw suite exception!\nCaught OFX::Exception::Suite\n");
    }
    EXPECT_EQ(OFX::loadCount, 0);
}

TEST_F(Dispatcher, AHandleWithoutInstanceIsABadHandleExceptToDestroy) {
    start();
    // A host instance the plug-in never saw: its instance data is null.
    auto stranger = ZarvelHost::Effect::makeInstance(
        host, *plugin.contextDescriptor(kOfxImageEffectContextFilter));
    for (const std::string& action : instanceActions) {
        SCOPED_TRACE(action);
        script().calls.clear();
        CaptureLog log;
        CaptureStdout out;
        EXPECT_EQ(plugin.simpleAction(*stranger, action).status, kOfxStatErrBadHandle);
        EXPECT_TRUE(script().calls.empty());
        EXPECT_TRUE(contains(log.text(),
                             "    ERROR : Instance data handle in effect instance properties is "
                             "NULL!\n"));
        EXPECT_EQ(out.text(), badHandleLines);
    }
    CaptureStdout out;
    EXPECT_EQ(plugin.simpleAction(*stranger, kOfxActionDestroyInstance).status, kOfxStatOK);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(script().destroyed, 0);
}

TEST_F(Dispatcher, PerClipActionsFailWithoutADescriptorForTheInstancesContext) {
    start();
    {
        std::lock_guard<std::mutex> lock(OFX::frameMutex);
        OFX::descriptorRegistry[key()].erase(OFX::contextFilter);
    }
    for (const char* action :
         {kOfxImageEffectActionGetClipPreferences, kOfxImageEffectActionGetRegionsOfInterest,
          kOfxImageEffectActionGetFramesNeeded}) {
        SCOPED_TRACE(action);
        CaptureLog log;
        CaptureStdout out;
        EXPECT_EQ(plugin.simpleAction(*instance, action).status, kOfxStatFailed);
        EXPECT_TRUE(contains(log.text(), "    ERROR : No descriptor of plug-in "
                                         "'org.zarvel.test.scripted10' for the context "
                                         "'OfxImageEffectContextFilter'.\n"))
            << log.text();
        EXPECT_EQ(out.text(), "Threw suite exception!\nCaught OFX::Exception::Suite\n");
    }
}

TEST_F(Dispatcher, EveryExceptionBecomesItsStatusWithItsLine) {
    start();
    struct Case {
        const char* what;
        std::function<void()> raise;
        OfxStatus status;
        const char* line;
    };
    const Case cases[] = {
        {"Suite", [] { throw OFX::Exception::Suite(kOfxStatErrFatal); }, kOfxStatErrFatal,
         "Caught OFX::Exception::Suite\n"},
        {"HostInadequate", [] { throw OFX::Exception::HostInadequate("OfxParameterSuite"); },
         kOfxStatErrMissingHostFeature, "Caught OFX::Exception::HostInadequate\n"},
        {"PropertyUnknownToHost", [] { throw OFX::Exception::PropertyUnknownToHost("Source"); },
         kOfxStatErrMissingHostFeature, "Caught OFX::Exception::PropertyUnknownToHost\n"},
        {"PropertyValueIllegalToHost",
         [] { throw OFX::Exception::PropertyValueIllegalToHost("OfxPropTime"); }, kOfxStatFailed,
         "Caught Unknown exception\n"},
        {"TypeRequest", [] { throw OFX::Exception::TypeRequest("wrong type"); }, kOfxStatFailed,
         "Caught Unknown exception\n"},
        {"bad_alloc", [] { throw std::bad_alloc(); }, kOfxStatErrMemory, ""},
        {"invalid_argument", [] { throw std::invalid_argument("x"); }, kOfxStatFailed,
         "Caught Unknown exception\n"},
        {"int", [] { throw 42; }, kOfxStatFailed, "Caught Unknown exception\n"},
    };
    for (const Case& thrown : cases) {
        SCOPED_TRACE(thrown.what);
        script().hook = [&](const std::string&) { thrown.raise(); };
        CaptureStdout out;
        EXPECT_EQ(plugin.render(*instance, {}).status, thrown.status);
        EXPECT_EQ(out.text(), thrown.line);
    }
    EXPECT_EQ(OFX::logDepth(), 0);
}

TEST_F(Dispatcher, HostFailuresOfAnActionBecomeItsStatus) {
    start();
    {
        // A property the action must read and the host does not know.
        host.calls().failNthCall("propGetDouble", 1, kOfxStatErrUnknown, kOfxPropTime);
        CaptureStdout out;
        EXPECT_EQ(plugin.render(*instance, {}).status, kOfxStatErrMissingHostFeature);
        EXPECT_EQ(out.text(), "Caught OFX::Exception::PropertyUnknownToHost\n");
    }
    {
        // A host out of memory: no line.
        host.calls().failNthCall("getPropertySet", 1, kOfxStatErrMemory);
        CaptureStdout out;
        EXPECT_EQ(plugin.render(*instance, {}).status, kOfxStatErrMemory);
        EXPECT_EQ(out.text(), "");
    }
    EXPECT_EQ(plugin.render(*instance, {}).status, kOfxStatOK);
}

TEST_F(Dispatcher, DescribeInContextKeepsTheDescriptorUnderItsContext) {
    ASSERT_EQ(plugin.load(), kOfxStatOK);
    ASSERT_EQ(plugin.describe(), kOfxStatOK);
    EXPECT_NE(keptDescriptor(OFX::contextNone), nullptr);
    EXPECT_EQ(plugin.describeInContext(kOfxImageEffectContextGeneral).status, kOfxStatOK);
    EXPECT_EQ(plugin.describeInContext(kOfxImageEffectContextFilter).status, kOfxStatOK);
    EXPECT_EQ(script().describedContexts,
              (std::vector<OFX::EffectContext>{OFX::contextGeneral, OFX::contextFilter}));
    const auto filter = keptDescriptor(OFX::contextFilter);
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->getEffectHandle(),
              plugin.contextDescriptor(kOfxImageEffectContextFilter)->handle());
    EXPECT_EQ(filter->getRoiPropNames().count("Source"), 1u);

    CaptureStdout out;
    EXPECT_EQ(plugin.describeInContext("OfxImageEffectContextBogus").status, kOfxStatFailed);
    EXPECT_EQ(out.text(), "Caught Unknown exception\n");
    EXPECT_EQ(script().describedContexts.size(), 2u);
}

TEST_F(Dispatcher, ADescriptorThatIsReplacedIsFreedOnceNoActionHoldsIt) {
    ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    std::weak_ptr<const OFX::ImageEffectDescriptor> first = keptDescriptor(OFX::contextNone);
    std::weak_ptr<const OFX::ImageEffectDescriptor> firstFilter =
        keptDescriptor(OFX::contextFilter);
    auto held = OFX::Private::requireDescriptor(key().c_str(), OFX::contextFilter);

    ASSERT_EQ(plugin.describe(), kOfxStatOK);
    ASSERT_EQ(plugin.describeInContext(kOfxImageEffectContextFilter).status, kOfxStatOK);
    EXPECT_TRUE(first.expired());
    EXPECT_FALSE(firstFilter.expired());  // still read by an action
    EXPECT_NE(keptDescriptor(OFX::contextFilter), held);
    held.reset();
    EXPECT_TRUE(firstFilter.expired());
}

// Describe actions of one thread replace what instance actions of others read. The test host
// serialises its own calls, which would hide a race from the sanitizer, so the frame's calls
// run here without host calls in between.
TEST_F(Dispatcher, DescriptorsAreReplacedWhileOtherThreadsReadThem) {
    ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    const OfxImageEffectHandle handle =
        plugin.contextDescriptor(kOfxImageEffectContextFilter)->handle();
    std::vector<std::shared_ptr<const OFX::ImageEffectDescriptor>> pool;
    for (int index = 0; index < 4; ++index) {
        pool.push_back(std::make_shared<OFX::ImageEffectDescriptor>(handle));
    }
    std::weak_ptr<const OFX::ImageEffectDescriptor> first = pool[0];
    std::atomic<bool> writing{true};
    std::atomic<int> missing{0};
    std::vector<std::thread> readers;
    for (int index = 0; index < 3; ++index) {
        readers.emplace_back([&] {
            while (writing.load()) {
                auto descriptor =
                    OFX::Private::requireDescriptor(key().c_str(), OFX::contextFilter);
                if (!descriptor || descriptor->getEffectHandle() != handle) {
                    missing.fetch_add(1);
                }
            }
        });
    }
    for (int round = 0; round < 2000; ++round) {
        OFX::Private::storeDescriptor(key(), OFX::contextFilter, pool[round % pool.size()]);
    }
    writing.store(false);
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(missing.load(), 0);
    pool.clear();
    OFX::Private::unloadCleanup(key().c_str());
    EXPECT_TRUE(first.expired());
}

TEST_F(Dispatcher, UnloadDropsTheDescriptorsAndTheLastOneClearsTheSuites) {
    ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    ASSERT_EQ(plugin.load(), kOfxStatOK);
    const OFX::HostSuites& suites = OFX::hostSuites;
    const auto* progress = suites.progressSuite.load();
    ASSERT_NE(progress, nullptr);

    EXPECT_EQ(plugin.unload(), kOfxStatOK);
    EXPECT_EQ(OFX::loadCount, 1);
    EXPECT_NE(suites.propertySuite.load(), nullptr);
    EXPECT_EQ(keptDescriptor(OFX::contextFilter), nullptr);
    EXPECT_EQ(OFX::descriptorRegistry.count(key()), 1u);

    EXPECT_EQ(plugin.unload(), kOfxStatOK);
    EXPECT_EQ(OFX::loadCount, 0);
    EXPECT_EQ(suites.imageEffectSuite.load(), nullptr);
    EXPECT_EQ(suites.propertySuite.load(), nullptr);
    EXPECT_EQ(suites.parameterSuite.load(), nullptr);
    EXPECT_EQ(suites.memorySuite.load(), nullptr);
    EXPECT_EQ(suites.multiThreadSuite.load(), nullptr);
    EXPECT_EQ(suites.messageSuite.load(), nullptr);
    EXPECT_EQ(suites.messageSuiteV2.load(), nullptr);
    EXPECT_EQ(suites.vegasStereoscopicSuite.load(), nullptr);
    EXPECT_EQ(suites.hwndInteractSuite.load(), nullptr);
    EXPECT_EQ(suites.progressSuite.load(), progress);
    EXPECT_NE(suites.vegasProgressSuite.load(), nullptr);
    EXPECT_NE(suites.timeLineSuite.load(), nullptr);
    EXPECT_NE(suites.vegasKeyframeSuite.load(), nullptr);

    // The host keeps calling the record it holds: a new load fetches everything again.
    EXPECT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    EXPECT_NE(suites.propertySuite.load(), nullptr);
    EXPECT_NE(keptDescriptor(OFX::contextFilter), nullptr);
}

TEST_F(Dispatcher, ALoadWithoutHostOrMandatorySuiteFails) {
    OFX::hostPointer = nullptr;
    {
        CaptureStdout out;
        EXPECT_EQ(plugin.load(), kOfxStatErrBadHandle);
        EXPECT_EQ(out.text(), badHandleLines);
    }
    zarvel::test::resetSupportLayer();
    OFX::setHost(host.ofxHost());
    host.setSuiteEnabled(kOfxParameterSuite, 1, false);
    CaptureStdout out;
    EXPECT_EQ(plugin.load(), kOfxStatErrMissingHostFeature);
    EXPECT_EQ(out.text(), "Caught OFX::Exception::HostInadequate\n");
}

TEST_F(Dispatcher, TimeDomainOutsideTheGeneralContextIsReportedAndStillAsked) {
    start();
    CaptureLog log;
    plugin.getTimeDomain(*instance);
    EXPECT_TRUE(contains(log.text(), "    ERROR : Calling kOfxImageEffectActionGetTimeDomain on an "
                                     "effect that is not a general context effect.\n"));
    EXPECT_EQ(script().calls.back(), "onGetTimeDomain");

    ASSERT_EQ(plugin.destroyInstance(std::move(instance)), kOfxStatOK);
    auto general = plugin.loadAndDescribe(kOfxImageEffectContextGeneral);
    ASSERT_EQ(general, kOfxStatOK);
    auto created = plugin.createInstance(kOfxImageEffectContextGeneral);
    ASSERT_EQ(created.status, kOfxStatOK);
    CaptureLog quiet;
    plugin.getTimeDomain(*created.instance);
    EXPECT_FALSE(contains(quiet.text(), "general context effect"));
    EXPECT_EQ(plugin.destroyInstance(std::move(created.instance)), kOfxStatOK);
}

TEST_F(Dispatcher, ACreateInstanceThatFailsLeavesNoInstanceBehind) {
    ASSERT_EQ(plugin.loadAndDescribe(kOfxImageEffectContextFilter), kOfxStatOK);
    // The third property-set fetch is the one after the instance was made.
    host.calls().failNthCall("getPropertySet", 3, kOfxStatErrBadHandle);
    auto effect = ZarvelHost::Effect::makeInstance(
        host, *plugin.contextDescriptor(kOfxImageEffectContextFilter));
    CaptureStdout out;
    EXPECT_EQ(plugin.callMainEntry(kOfxActionCreateInstance, effect->handle(), nullptr, nullptr),
              kOfxStatErrBadHandle);
    EXPECT_EQ(script().constructed, 1);
    EXPECT_EQ(script().destroyed, 1);
    EXPECT_EQ(effect->instanceData(), nullptr);
}

}  // namespace
