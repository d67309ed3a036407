#include <stdexcept>

#include <gtest/gtest.h>

#include "ofx/ImageEffect.h"
#include "tests/support/CaptureStdout.h"

namespace {

using namespace OFX;

TEST(Enumerations, BitDepthStringsRoundTripAndAnythingElseIsCustom) {
    for (BitDepth depth :
         {depthByte, depthShort, depthFloat, depthByteBGR, depthShortBGR, depthFloatBGR}) {
        ASSERT_NE(bitDepthString(depth), nullptr);
        EXPECT_EQ(bitDepthFromString(bitDepthString(depth)), depth);
    }
    EXPECT_EQ(bitDepthFromString("OfxBitDepthNone"), depthNone);
    EXPECT_EQ(bitDepthFromString("OfxBitDepthFloat"), depthFloat);
    EXPECT_STREQ(bitDepthString(depthShortBGR), "OfxBitDepthShortBGR");
    zarvel::test::CaptureLog log;
    for (const char* other : {"ofxbitdepthfloat", "OfxBitDepthFloatX", "OfxBitDepthHalf", ""}) {
        EXPECT_EQ(bitDepthFromString(other), depthCustom) << other;
    }
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(bitDepthString(depthNone), nullptr);
    EXPECT_EQ(bitDepthString(depthCustom), nullptr);
}

TEST(Enumerations, ComponentStringsRoundTripAndAnythingElseIsCustom) {
    EXPECT_EQ(pixelComponentsFromString("OfxImageComponentRGBA"), componentsRGBA);
    EXPECT_EQ(pixelComponentsFromString("OfxImageComponentAlpha"), componentsAlpha);
    EXPECT_EQ(pixelComponentsFromString("OfxImageComponentNone"), componentsNone);
    EXPECT_EQ(pixelComponentsFromString("OfxImageComponentRGB"), componentsCustom);
    EXPECT_EQ(pixelComponentsFromString(""), componentsCustom);
    EXPECT_STREQ(pixelComponentsString(componentsAlpha), "OfxImageComponentAlpha");
    EXPECT_STREQ(pixelComponentsString(componentsRGBA), "OfxImageComponentRGBA");
    EXPECT_EQ(pixelComponentsString(componentsNone), nullptr);
    EXPECT_EQ(pixelComponentsString(componentsCustom), nullptr);
}

TEST(Enumerations, ContextsMapBothWaysAndUnknownOnesLogAndThrowTheString) {
    const std::pair<const char*, EffectContext> table[] = {
        {"OfxImageEffectContextGenerator", contextGenerator},
        {"OfxImageEffectContextFilter", contextFilter},
        {"OfxImageEffectContextTransition", contextTransition},
        {"OfxImageEffectContextPaint", contextPaint},
        {"OfxImageEffectContextGeneral", contextGeneral},
        {"OfxImageEffectContextRetimer", contextRetimer},
    };
    for (const auto& [text, context] : table) {
        EXPECT_EQ(effectContextFromString(text), context);
        EXPECT_STREQ(effectContextString(context), text);
    }
    EXPECT_EQ(effectContextString(contextNone), nullptr);

    for (const char* unknown : {"", "OfxImageEffectContextFilter "}) {
        zarvel::test::CaptureLog log;
        try {
            effectContextFromString(unknown);
            ADD_FAILURE() << "no exception for '" << unknown << "'";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), unknown);
        }
        EXPECT_EQ(log.text(),
                  std::string("ERROR : Unknown image effect context '") + unknown + "'\n");
    }
}

TEST(Enumerations, ChangeReasonsMapAndUnknownOnesLogAndThrow) {
    EXPECT_EQ(changeReasonFromString("OfxChangeTime"), changeTime);
    EXPECT_EQ(changeReasonFromString("OfxChangeUserEdited"), changeUserEdited);
    EXPECT_EQ(changeReasonFromString("OfxChangePluginEdited"), changePluginEdited);
    zarvel::test::CaptureLog log;
    EXPECT_THROW(changeReasonFromString("OfxChangeSomething"), std::invalid_argument);
    EXPECT_EQ(log.text(), "ERROR : Unknown instance changed reason 'OfxChangeSomething'\n");
}

TEST(Enumerations, FieldOrderHasAThrowingFormAndALoggingImageForm) {
    EXPECT_EQ(fieldOrderFromString("OfxFieldNone"), fieldNone);
    EXPECT_EQ(fieldOrderFromString("OfxFieldBoth"), fieldBoth);
    EXPECT_EQ(fieldOrderFromString("OfxFieldLower"), fieldLower);
    EXPECT_EQ(fieldOrderFromString("OfxFieldUpper"), fieldUpper);
    zarvel::test::CaptureLog log;
    try {
        fieldOrderFromString("OfxFieldSideways");
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "");
    }
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(imageFieldOrderFromString("OfxFieldUpper"), fieldUpper);
    EXPECT_EQ(imageFieldOrderFromString("OfxFieldSideways"), fieldNone);
    EXPECT_EQ(log.text(), "ERROR : Unknown field state 'OfxFieldSideways' reported on an image\n");
}

TEST(Enumerations, PremultiplicationOutsideTheTableThrowsAnEmptyMessage) {
    EXPECT_EQ(premultiplicationFromString("OfxImageOpaque"), premultOpaque);
    EXPECT_EQ(premultiplicationFromString("OfxImageAlphaPremultiplied"), premultPremultiplied);
    EXPECT_EQ(premultiplicationFromString("OfxImageAlphaUnPremultiplied"), premultUnPremultiplied);
    for (const char* other : {"", "OfxImageAlphaPremultiplied\n"}) {
        try {
            premultiplicationFromString(other);
            ADD_FAILURE();
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "");
        }
    }
}

}  // namespace
