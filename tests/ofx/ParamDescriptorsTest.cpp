#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Parameters.h"
#include "ofx/Parameters.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::thrownBy;

// A parameter set being described, bound to a host descriptor parameter set.
class ParamDescriptors : public zarvel::test::LoadedHost {
protected:
    void SetUp() override {
        LoadedHost::SetUp();
        descriptor.setParamSetHandle(hostSet.handle());
        host.calls().resetCounts();
    }

    ZarvelHost::HostPropertySet& propsOf(const std::string& name) {
        return hostSet.param(name).properties();
    }

    ZarvelHost::HostParamSet hostSet{host, true};
    OFX::ParamSetDescriptor descriptor;
};

TEST(ParamTypeToString, GivesTheHostStringOrIntegerForAnythingWithoutOne) {
    const char* expected[] = {kOfxParamTypeInteger,   kOfxParamTypeString,    kOfxParamTypeInteger,
                              kOfxParamTypeInteger2D, kOfxParamTypeInteger3D, kOfxParamTypeDouble,
                              kOfxParamTypeDouble2D,  kOfxParamTypeDouble3D,  kOfxParamTypeRGB,
                              kOfxParamTypeRGBA,      kOfxParamTypeBoolean,   kOfxParamTypeChoice,
                              kOfxParamTypeCustom,    kOfxParamTypeGroup,     kOfxParamTypePage,
                              kOfxParamTypePushButton};
    for (int value = 0; value < 16; ++value) {
        EXPECT_STREQ(OFX::paramTypeToString(OFX::ParamTypeEnum(value)), expected[value]) << value;
    }
    EXPECT_STREQ(OFX::paramTypeToString(OFX::ParamTypeEnum(16)), kOfxParamTypeInteger);
    EXPECT_STREQ(OFX::paramTypeToString(OFX::ParamTypeEnum(-1)), kOfxParamTypeInteger);
}

TEST_F(ParamDescriptors, ANameIsDefinedOnceAndAnotherKindUnderItGivesNull) {
    OFX::DoubleParamDescriptor* width = descriptor.defineDoubleParam("width");
    ASSERT_NE(width, nullptr);
    EXPECT_EQ(width->getName(), "width");
    EXPECT_EQ(width->getType(), OFX::eParamTypeDouble);
    EXPECT_EQ(width->getProps().propSetHandle(), propsOf("width").handle());
    EXPECT_EQ(hostSet.param("width").type(), kOfxParamTypeDouble);

    EXPECT_EQ(descriptor.defineDoubleParam("width"), width);
    EXPECT_EQ(descriptor.defineChoiceParam("width"), nullptr);
    EXPECT_EQ(descriptor.defineRGBAParam("width"), nullptr);
    EXPECT_EQ(host.calls().callCount("paramDefine"), 1u);

    OFX::PageParamDescriptor* page = descriptor.definePageParam("page");
    EXPECT_EQ(descriptor.definePageParam("page"), page);
    EXPECT_EQ(page->getType(), OFX::eParamTypePage);
    EXPECT_EQ(descriptor.defineRGBAParam("colour")->getType(), OFX::eParamTypeRGBA);
    EXPECT_EQ(descriptor.defineChoiceParam("quality")->getType(), OFX::eParamTypeChoice);
    EXPECT_EQ(hostSet.params().size(), 4u);
}

TEST_F(ParamDescriptors, ARefusedDefinitionThrowsAndRecordsNothing) {
    zarvel::test::CaptureStdout out;
    host.calls().failNthCall("paramDefine", 1, kOfxStatErrExists);
    EXPECT_EQ(thrownBy([&] { descriptor.defineDoubleParam("width"); }), "Suite: kOfxStatErrExists");
    host.calls().failNthCall("paramDefine", 1, kOfxStatErrMemory);
    EXPECT_EQ(thrownBy([&] { descriptor.defineChoiceParam("width"); }), "bad_alloc");
    // Nothing was kept, so the name can still be defined, and as any kind.
    EXPECT_NE(descriptor.defineRGBAParam("width"), nullptr);
    EXPECT_EQ(host.calls().callCount("paramDefine"), 3u);
}

TEST_F(ParamDescriptors, SettersWriteTheirPropertiesInTheirTypes) {
    OFX::DoubleParamDescriptor* width = descriptor.defineDoubleParam("width");
    width->setLabels("Width", "W", "Outline width");
    width->setHint("How wide");
    width->setDefault(2.5);
    width->setRange(0.0, 100.0);
    width->setDisplayRange(1.0, 50.0);
    width->setIncrement(0.25);
    width->setDigits(3);
    width->setAnimates(false);
    ZarvelHost::HostPropertySet& props = propsOf("width");
    EXPECT_EQ(props.getString(kOfxPropLabel), "Width");
    EXPECT_EQ(props.getString(kOfxPropShortLabel), "W");
    EXPECT_EQ(props.getString(kOfxPropLongLabel), "Outline width");
    EXPECT_EQ(props.getString(kOfxParamPropHint), "How wide");
    EXPECT_EQ(props.getDouble(kOfxParamPropDefault), 2.5);
    EXPECT_EQ(props.getDouble(kOfxParamPropMin), 0.0);
    EXPECT_EQ(props.getDouble(kOfxParamPropMax), 100.0);
    EXPECT_EQ(props.getDouble(kOfxParamPropDisplayMin), 1.0);
    EXPECT_EQ(props.getDouble(kOfxParamPropDisplayMax), 50.0);
    EXPECT_EQ(props.getDouble(kOfxParamPropIncrement), 0.25);
    EXPECT_EQ(props.getInt(kOfxParamPropDigits), 3);
    EXPECT_EQ(props.getInt(kOfxParamPropAnimates), 0);
    width->setAnimates(true);
    EXPECT_EQ(props.getInt(kOfxParamPropAnimates), 1);

    OFX::RGBAParamDescriptor* colour = descriptor.defineRGBAParam("colour");
    colour->setDefault(0.25, 0.5, 0.75, 1.0);
    EXPECT_EQ(propsOf("colour").getDoubles(kOfxParamPropDefault),
              (std::vector<double>{0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(host.calls().callCount("propSetDouble"), 6u + 4u) << "one write per index";

    OFX::ChoiceParamDescriptor* quality = descriptor.defineChoiceParam("quality");
    quality->setDefault(1);
    EXPECT_EQ(propsOf("quality").getInt(kOfxParamPropDefault), 1);
}

TEST_F(ParamDescriptors, OnlyTheLabelOfTheTextsIsRequired) {
    OFX::DoubleParamDescriptor* width = descriptor.defineDoubleParam("width");
    ZarvelHost::HostPropertySet& props = propsOf("width");
    props.remove(kOfxPropShortLabel);
    props.remove(kOfxPropLongLabel);
    props.remove(kOfxParamPropHint);
    zarvel::test::CaptureLog log;
    EXPECT_EQ(thrownBy([&] {
                  width->setLabels("Width", "W", "Outline width");
                  width->setHint("How wide");
              }),
              "nothing");
    EXPECT_NE(log.text().find("ERROR : Failed on setting string property OfxParamPropHint[0] to "
                              "How wide, host returned status kOfxStatErrUnknown;"),
              std::string::npos);
    props.remove(kOfxPropLabel);
    EXPECT_EQ(thrownBy([&] { width->setLabels("Width", "W", "Outline width"); }),
              "PropertyUnknownToHost: OfxPropLabel");
}

TEST_F(ParamDescriptors, OptionsAndChildrenAreAppendedAfterWhatTheHostHolds) {
    OFX::ChoiceParamDescriptor* quality = descriptor.defineChoiceParam("quality");
    quality->appendOption("Draft");
    quality->appendOption("Good");
    quality->appendOption("Best");
    EXPECT_EQ(propsOf("quality").getStrings(kOfxParamPropChoiceOption),
              (std::vector<std::string>{"Draft", "Good", "Best"}));

    OFX::PageParamDescriptor* page = descriptor.definePageParam("page");
    propsOf("page").setStrings(kOfxParamPropPageChild, {"a", "b"});
    page->addChild(*quality);
    page->addChild(OFX::pageSkipRow);
    page->addChild(OFX::pageSkipColumn);
    EXPECT_EQ(propsOf("page").getStrings(kOfxParamPropPageChild),
              (std::vector<std::string>{"a", "b", "quality", "OfxParamPageSkipRow",
                                        "OfxParamPageSkipColumn"}));
    EXPECT_EQ(OFX::pageSkipRow.getType(), OFX::eParamTypeDummy);
    EXPECT_EQ(OFX::pageSkipColumn.getProps().propSetHandle(), nullptr);
}

TEST_F(ParamDescriptors, ARefusedWriteOfAMultiIndexDefaultLeavesTheEarlierIndicesWritten) {
    OFX::RGBAParamDescriptor* colour = descriptor.defineRGBAParam("colour");
    host.calls().failNthCall("propSetDouble", 3, kOfxStatErrValue);
    EXPECT_EQ(thrownBy([&] { colour->setDefault(0.25, 0.5, 0.75, 1.0); }),
              "PropertyValueIllegalToHost: OfxParamPropDefault");
    EXPECT_EQ(propsOf("colour").getDoubles(kOfxParamPropDefault),
              (std::vector<double>{0.25, 0.5, 0.0, 0.0}));
}

// Every checked write of every setter, failed in turn, throws by the property rule.
TEST_F(ParamDescriptors, EveryRefusedCheckedWriteRaisesItsPropertyFailure) {
    OFX::DoubleParamDescriptor* width = descriptor.defineDoubleParam("width");
    OFX::ChoiceParamDescriptor* quality = descriptor.defineChoiceParam("quality");
    OFX::PageParamDescriptor* page = descriptor.definePageParam("page");
    auto describe = [&] {
        width->setDefault(2.0);
        width->setRange(0.0, 10.0);
        width->setDisplayRange(0.0, 5.0);
        width->setIncrement(0.5);
        width->setDigits(1);
        width->setAnimates(true);
        quality->setDefault(0);
        quality->appendOption("Draft");
        page->addChild(*width);
    };
    const std::uint64_t calls = zarvel::test::hostCallsOf(host, describe);
    ASSERT_EQ(calls, 13u);
    for (OfxStatus status : {kOfxStatErrUnsupported, kOfxStatErrValue, kOfxStatErrFatal}) {
        for (std::uint64_t index = 0; index < calls; ++index) {
            auto outcome = zarvel::test::runWithFault(host, index, status, describe);
            SCOPED_TRACE(testing::Message() << "call " << index << " " << outcome.function << " "
                                            << outcome.name << " fails with " << status);
            ASSERT_TRUE(outcome.fired);
            EXPECT_EQ(outcome.thrown, zarvel::test::propertyRuleOutcome(status, outcome.name));
        }
    }
}

TEST_F(ParamDescriptors, TheParameterSetsOwnPropertiesComeFromTheHost) {
    EXPECT_EQ(descriptor.getParamSetHandle(), hostSet.handle());
    EXPECT_EQ(descriptor.getParamSetProps().propSetHandle(), hostSet.properties().handle());
    descriptor.setParamSetHandle(nullptr);
    EXPECT_EQ(descriptor.getParamSetProps().propSetHandle(), nullptr);
    EXPECT_EQ(host.calls().callCount(), 0u);

    host.calls().failNthCall("paramSetGetPropertySet", 1, kOfxStatErrBadHandle);
    zarvel::test::CaptureStdout out;
    EXPECT_EQ(thrownBy([&] { descriptor.setParamSetHandle(hostSet.handle()); }),
              "Suite: kOfxStatErrBadHandle");
    EXPECT_EQ(out.text(), "Threw suite exception!\n");
}

class CountedAttachment : public OFX::ParamAttachment {
public:
    explicit CountedAttachment(int& deleted)
        : deleted_(deleted) {}
    ~CountedAttachment() override { ++deleted_; }

private:
    int& deleted_;
};

TEST_F(ParamDescriptors, DescriptorsAndTheirAttachmentsDieWithTheirSet) {
    int deleted = 0;
    {
        OFX::ParamSetDescriptor set;
        set.setParamSetHandle(hostSet.handle());
        OFX::DoubleParamDescriptor* width = set.defineDoubleParam("width");
        EXPECT_EQ(width->getAttachment(), nullptr);
        width->setAttachment(std::make_unique<CountedAttachment>(deleted));
        width->setAttachment(std::make_unique<CountedAttachment>(deleted));
        EXPECT_EQ(deleted, 1);
    }
    EXPECT_EQ(deleted, 2);
}

}  // namespace
