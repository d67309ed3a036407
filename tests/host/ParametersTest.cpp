// Parameter definition and values per time through the parameter suite.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Parameters.h"
#include "host/Suites.h"

namespace {

using ZarvelHost::Effect;
using ZarvelHost::Host;
using ZarvelHost::HostParam;
using ZarvelHost::HostParamSet;
using ZarvelHost::HostPropertySet;
using ZarvelHost::Interpolation;

class TestHostParameters : public ::testing::Test {
protected:
    Host host;
    HostParamSet descriptor{host, true};
    const OfxParameterSuiteV1& params = *ZarvelHost::parameterSuite();
    const OfxPropertySuiteV1& props = *ZarvelHost::propertySuite();
};

TEST_F(TestHostParameters, DefinesDescriptorsByTypeWithTheStandardStatuses) {
    OfxPropertySetHandle width = nullptr;
    ASSERT_EQ(params.paramDefine(descriptor.handle(), kOfxParamTypeDouble, "width", &width),
              kOfxStatOK);
    char* type = nullptr;
    EXPECT_EQ(props.propGetString(width, kOfxParamPropType, 0, &type), kOfxStatOK);
    EXPECT_STREQ(type, kOfxParamTypeDouble);
    int digits = 0;
    EXPECT_EQ(props.propGetInt(width, kOfxParamPropDigits, 0, &digits), kOfxStatOK);

    OfxPropertySetHandle again = nullptr;
    EXPECT_EQ(params.paramDefine(descriptor.handle(), kOfxParamTypeChoice, "width", &again),
              kOfxStatErrExists);
    EXPECT_EQ(params.paramDefine(descriptor.handle(), "OfxParamTypeNoSuch", "x", &again),
              kOfxStatErrUnknown);
    EXPECT_EQ(params.paramDefine(nullptr, kOfxParamTypeDouble, "y", &again), kOfxStatErrBadHandle);
    EXPECT_EQ(again, nullptr);

    HostParamSet instanceSet(host, false);
    EXPECT_EQ(params.paramDefine(instanceSet.handle(), kOfxParamTypeDouble, "z", &again),
              kOfxStatErrUnsupported);
}

TEST_F(TestHostParameters, GivesEachTypeItsDefaultDimension) {
    OfxPropertySetHandle colour = nullptr;
    OfxPropertySetHandle choice = nullptr;
    OfxPropertySetHandle page = nullptr;
    ASSERT_EQ(params.paramDefine(descriptor.handle(), kOfxParamTypeRGBA, "colour", &colour),
              kOfxStatOK);
    ASSERT_EQ(params.paramDefine(descriptor.handle(), kOfxParamTypeChoice, "choice", &choice),
              kOfxStatOK);
    ASSERT_EQ(params.paramDefine(descriptor.handle(), kOfxParamTypePage, "page", &page),
              kOfxStatOK);
    int dimension = 0;
    EXPECT_EQ(props.propGetDimension(colour, kOfxParamPropDefault, &dimension), kOfxStatOK);
    EXPECT_EQ(dimension, 4);
    EXPECT_EQ(props.propSetDouble(colour, kOfxParamPropDefault, 3, 0.5), kOfxStatOK);
    EXPECT_EQ(props.propSetDouble(colour, kOfxParamPropDefault, 4, 0.5), kOfxStatErrBadIndex);
    EXPECT_EQ(props.propGetDimension(choice, kOfxParamPropChoiceOption, &dimension), kOfxStatOK);
    EXPECT_EQ(dimension, 0);
    int defaultIndex = -1;
    EXPECT_EQ(props.propGetInt(choice, kOfxParamPropDefault, 0, &defaultIndex), kOfxStatOK);
    EXPECT_EQ(props.propGetDimension(page, kOfxParamPropPageChild, &dimension), kOfxStatOK);
    EXPECT_EQ(props.propGetDimension(page, kOfxParamPropDefault, &dimension), kOfxStatErrUnknown);
}

TEST_F(TestHostParameters, HandsOutHandlesWhoseTypeTheGetterCanCheck) {
    descriptor.define(kOfxParamTypeChoice, "quality");
    OfxParamHandle handle = nullptr;
    OfxPropertySetHandle set = nullptr;
    ASSERT_EQ(params.paramGetHandle(descriptor.handle(), "quality", &handle, &set), kOfxStatOK);
    char* type = nullptr;
    EXPECT_EQ(props.propGetString(set, kOfxParamPropType, 0, &type), kOfxStatOK);
    EXPECT_STREQ(type, kOfxParamTypeChoice);
    OfxPropertySetHandle viaParam = nullptr;
    EXPECT_EQ(params.paramGetPropertySet(handle, &viaParam), kOfxStatOK);
    EXPECT_EQ(viaParam, set);
    EXPECT_EQ(params.paramGetHandle(descriptor.handle(), "missing", &handle, &set),
              kOfxStatErrUnknown);
    OfxPropertySetHandle setProps = nullptr;
    EXPECT_EQ(params.paramSetGetPropertySet(descriptor.handle(), &setProps), kOfxStatOK);
    EXPECT_NE(setProps, nullptr);
}

TEST_F(TestHostParameters, InstancesStartAtTheDefaultsTheDescriptorWasGiven) {
    HostParam& width = descriptor.define(kOfxParamTypeDouble, "width");
    HostParam& colour = descriptor.define(kOfxParamTypeRGBA, "colour");
    HostParam& quality = descriptor.define(kOfxParamTypeChoice, "quality");
    width.properties().setDouble(kOfxParamPropDefault, 15.0);
    colour.properties().setDoubles(kOfxParamPropDefault, {1.0, 0.5, 0.25, 1.0});
    quality.properties().setInt(kOfxParamPropDefault, 1);

    HostParamSet instance(host, false);
    instance.instantiateFrom(descriptor);
    OfxParamHandle handle = nullptr;
    ASSERT_EQ(params.paramGetHandle(instance.handle(), "width", &handle, nullptr), kOfxStatOK);
    double value = 0;
    EXPECT_EQ(params.paramGetValueAtTime(handle, 3.0, &value), kOfxStatOK);
    EXPECT_EQ(value, 15.0);

    ASSERT_EQ(params.paramGetHandle(instance.handle(), "colour", &handle, nullptr), kOfxStatOK);
    double r = 0, g = 0, b = 0, a = 0;
    EXPECT_EQ(params.paramGetValueAtTime(handle, 0.0, &r, &g, &b, &a), kOfxStatOK);
    EXPECT_EQ(std::vector<double>({r, g, b, a}), std::vector<double>({1.0, 0.5, 0.25, 1.0}));

    ASSERT_EQ(params.paramGetHandle(instance.handle(), "quality", &handle, nullptr), kOfxStatOK);
    int option = -1;
    EXPECT_EQ(params.paramGetValueAtTime(handle, 0.0, &option), kOfxStatOK);
    EXPECT_EQ(option, 1);
}

TEST_F(TestHostParameters, InterpolatesKeyframesLinearlyOrInSteps) {
    HostParam& width = descriptor.define(kOfxParamTypeDouble, "width");
    width.setValueAtTime(0.0, {10.0});
    width.setValueAtTime(10.0, {20.0});
    EXPECT_EQ(width.valueAt(-5.0), std::vector<double>{10.0});
    EXPECT_EQ(width.valueAt(2.5), std::vector<double>{12.5});
    EXPECT_EQ(width.valueAt(99.0), std::vector<double>{20.0});
    width.setInterpolation(Interpolation::Step);
    EXPECT_EQ(width.valueAt(9.9), std::vector<double>{10.0});
    EXPECT_EQ(width.valueAt(10.0), std::vector<double>{20.0});

    HostParam& quality = descriptor.define(kOfxParamTypeChoice, "quality");
    quality.setValueAtTime(0.0, {0.0});
    quality.setValueAtTime(10.0, {2.0});
    EXPECT_EQ(quality.valueAt(9.0), std::vector<double>{0.0}) << "choices always step";
}

TEST_F(TestHostParameters, PassesOddValuesThroughUnchanged) {
    HostParam& width = descriptor.define(kOfxParamTypeDouble, "width");
    const double odd[] = {std::numeric_limits<double>::quiet_NaN(), INFINITY, -INFINITY, -7.5};
    for (double expected : odd) {
        width.setValue({expected});
        double value = 0;
        ASSERT_EQ(params.paramGetValueAtTime(width.handle(), 0.0, &value), kOfxStatOK);
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(value));
        } else {
            EXPECT_EQ(value, expected);
        }
    }
    EXPECT_THROW(width.setValue({1.0, 2.0}), std::invalid_argument);

    HostParam& count = descriptor.define(kOfxParamTypeInteger, "count");
    int value = 7;
    count.setValue({std::numeric_limits<double>::quiet_NaN()});
    EXPECT_EQ(params.paramGetValueAtTime(count.handle(), 0.0, &value), kOfxStatOK);
    EXPECT_EQ(value, 0);
    count.setValue({-1e300});
    EXPECT_EQ(params.paramGetValueAtTime(count.handle(), 0.0, &value), kOfxStatOK);
    EXPECT_EQ(value, std::numeric_limits<int>::min());
}

TEST_F(TestHostParameters, RejectsValueReadsItCannotAnswer) {
    HostParam& page = descriptor.define(kOfxParamTypePage, "page");
    HostParam& width = descriptor.define(kOfxParamTypeDouble, "width");
    double value = 0;
    EXPECT_EQ(params.paramGetValueAtTime(page.handle(), 0.0, &value), kOfxStatErrUnsupported);
    EXPECT_EQ(params.paramGetValueAtTime(width.handle(), 0.0, static_cast<double*>(nullptr)),
              kOfxStatErrValue);
    EXPECT_EQ(params.paramGetValueAtTime(nullptr, 0.0, &value), kOfxStatErrBadHandle);
    EXPECT_EQ(params.paramGetDerivative(width.handle(), 0.0, &value), kOfxStatErrUnsupported);
}

TEST_F(TestHostParameters, PluginWrittenValuesAndKeysAreVisible) {
    HostParam& width = descriptor.define(kOfxParamTypeDouble, "width");
    EXPECT_EQ(params.paramSetValueAtTime(width.handle(), 4.0, 8.0), kOfxStatOK);
    EXPECT_EQ(params.paramSetValueAtTime(width.handle(), 2.0, 6.0), kOfxStatOK);
    unsigned int keys = 0;
    EXPECT_EQ(params.paramGetNumKeys(width.handle(), &keys), kOfxStatOK);
    EXPECT_EQ(keys, 2u);
    OfxTime time = 0;
    EXPECT_EQ(params.paramGetKeyTime(width.handle(), 0, &time), kOfxStatOK);
    EXPECT_EQ(time, 2.0);
    EXPECT_EQ(params.paramGetKeyTime(width.handle(), 2, &time), kOfxStatErrBadIndex);
    int index = -1;
    EXPECT_EQ(params.paramGetKeyIndex(width.handle(), 3.0, -1, &index), kOfxStatOK);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(params.paramGetKeyIndex(width.handle(), 3.0, 0, &index), kOfxStatFailed);
    EXPECT_EQ(params.paramDeleteKey(width.handle(), 2.0), kOfxStatOK);
    EXPECT_EQ(width.keyTimes(), std::vector<double>{4.0});
}

TEST_F(TestHostParameters, StringValuesPointAtStoredCharacters) {
    HostParam& label = descriptor.define(kOfxParamTypeString, "label");
    label.setString("hello");
    const char* value = nullptr;
    EXPECT_EQ(params.paramGetValueAtTime(label.handle(), 0.0, &value), kOfxStatOK);
    EXPECT_STREQ(value, "hello");
}

TEST(TestHostEffectParams, InstanceBuildsItsParametersFromTheContextDescriptor) {
    Host host;
    auto descriptor = Effect::makeDescriptor(host);
    auto filter = Effect::makeContextDescriptor(host, *descriptor, kOfxImageEffectContextFilter);
    filter->params()
        .define(kOfxParamTypeDouble, "width")
        .properties()
        .setDouble(kOfxParamPropDefault, 15.0);
    auto instance = Effect::makeInstance(host, *filter);
    auto other = Effect::makeInstance(host, *filter);
    EXPECT_EQ(instance->param("width").valueAt(0.0), std::vector<double>{15.0});
    instance->param("width").setValueAtTime(2.0, {3.0});
    EXPECT_EQ(instance->param("width").valueAt(2.0), std::vector<double>{3.0});
    EXPECT_EQ(other->param("width").valueAt(2.0), std::vector<double>{15.0})
        << "the instance owns its own values";
}

}  // namespace
