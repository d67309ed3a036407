// What a host reads about the outline effect after Describe and DescribeInContext: every
// property the effect writes, checked by value and order, and every other property of the
// descriptors, clips and parameters left as the host made it. Shared by the factory's unit test
// (the effect linked in) and the end-to-end test (the built library).
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Parameters.h"
#include "host/Plugin.h"
#include "host/Properties.h"
#include "openfx/openfx.h"

namespace zarvel::test {

/// A property's type and values as text, for comparing whole properties.
inline std::string propertyText(const ZarvelHost::HostPropertySet& props, const std::string& name) {
    if (!props.has(name)) {
        return "(absent)";
    }
    std::ostringstream text;
    switch (props.type(name)) {
    case ZarvelHost::PropertyType::Int:
        text << "int";
        for (int value : props.getInts(name)) {
            text << ' ' << value;
        }
        break;
    case ZarvelHost::PropertyType::Double:
        text << "double";
        for (double value : props.getDoubles(name)) {
            text << ' ' << value;
        }
        break;
    case ZarvelHost::PropertyType::String:
        text << "string";
        for (const std::string& value : props.getStrings(name)) {
            text << " '" << value << "'";
        }
        break;
    case ZarvelHost::PropertyType::Pointer:
        text << "pointer";
        for (void* value : props.getPointers(name)) {
            text << ' ' << value;
        }
        break;
    }
    return text.str();
}

/// Every property of `fresh` not named in `written` has the same type and values in `props`,
/// and `props` has no property `fresh` lacks.
inline void expectOnlyWritten(const ZarvelHost::HostPropertySet& props,
                              const ZarvelHost::HostPropertySet& fresh,
                              const std::vector<std::string>& written) {
    for (const std::string& name : props.names()) {
        EXPECT_TRUE(fresh.has(name)) << name << " was added";
    }
    for (const std::string& name : fresh.names()) {
        bool isWritten = false;
        for (const std::string& property : written) {
            isWritten = isWritten || property == name;
        }
        if (!isWritten) {
            EXPECT_EQ(propertyText(props, name), propertyText(fresh, name)) << name;
        }
    }
}

inline void expectLabels(const ZarvelHost::HostPropertySet& props, const std::string& label) {
    EXPECT_EQ(props.getStrings(kOfxPropLabel), std::vector<std::string>{label});
    EXPECT_EQ(props.getStrings(kOfxPropShortLabel), std::vector<std::string>{label});
    EXPECT_EQ(props.getStrings(kOfxPropLongLabel), std::vector<std::string>{label});
}

/// Runs Describe on `plugin` (loaded) and checks the effect descriptor.
inline void expectOutlineDescribed(ZarvelHost::Host& host, ZarvelHost::Plugin& plugin) {
    ASSERT_EQ(plugin.describe(), kOfxStatOK);
    const ZarvelHost::HostPropertySet& props = plugin.descriptor().properties();
    expectLabels(props, "Zarvel");
    EXPECT_EQ(props.getStrings(kOfxImageEffectPluginPropGrouping),
              std::vector<std::string>{"Filter"});
    EXPECT_EQ(props.getStrings(kOfxPropPluginDescription),
              std::vector<std::string>{"Fast high-quality outline effect"});
    EXPECT_EQ(props.getStrings(kOfxImageEffectPropSupportedContexts),
              std::vector<std::string>{kOfxImageEffectContextFilter});
    EXPECT_EQ(props.getStrings(kOfxImageEffectPropSupportedPixelDepths),
              (std::vector<std::string>{kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat}));
    const std::pair<const char*, int> flags[] = {
        {kOfxImageEffectPluginPropSingleInstance, 0},
        {kOfxImageEffectPluginPropHostFrameThreading, 0},
        {kOfxImageEffectPropSupportsMultiResolution, 1},
        {kOfxImageEffectPropSupportsTiles, 1},
        {kOfxImageEffectPropTemporalClipAccess, 0},
        {kOfxImageEffectPluginPropFieldRenderTwiceAlways, 0},
        {kOfxImageEffectPropSupportsMultipleClipPARs, 0},
        {kOfxImageEffectPropMultipleClipDepths, 0},
    };
    std::vector<std::string> written = {kOfxPropLabel,
                                        kOfxPropShortLabel,
                                        kOfxPropLongLabel,
                                        kOfxImageEffectPluginPropGrouping,
                                        kOfxPropPluginDescription,
                                        kOfxImageEffectPropSupportedContexts,
                                        kOfxImageEffectPropSupportedPixelDepths};
    for (const auto& [flag, value] : flags) {
        EXPECT_EQ(props.getInts(flag), std::vector<int>{value}) << flag;
        written.push_back(flag);
    }
    auto fresh = ZarvelHost::Effect::makeDescriptor(host);
    expectOnlyWritten(props, fresh->properties(), written);
}

/// Runs DescribeInContext(`context`) on `plugin` (described) and checks the clips and the
/// parameters.
inline void expectOutlineDescribedInContext(ZarvelHost::Host& host, ZarvelHost::Plugin& plugin,
                                            const std::string& context) {
    ASSERT_EQ(plugin.describeInContext(context).status, kOfxStatOK);
    ZarvelHost::Effect& described = *plugin.contextDescriptor(context);

    // Clips, in the order they were defined, against clips the host made and nobody touched.
    auto blank = ZarvelHost::Effect::makeContextDescriptor(host, plugin.descriptor(), context);
    std::vector<std::string> clipNames;
    for (ZarvelHost::Clip* clip : described.clips()) {
        clipNames.push_back(clip->name());
    }
    ASSERT_EQ(clipNames, (std::vector<std::string>{"Source", "Output"}));
    const std::vector<std::string> components = {kOfxImageComponentRGBA, kOfxImageComponentAlpha};
    const ZarvelHost::HostPropertySet& source = described.clip("Source").properties();
    EXPECT_EQ(source.getStrings(kOfxImageEffectPropSupportedComponents), components);
    EXPECT_EQ(source.getInts(kOfxImageEffectPropTemporalClipAccess), std::vector<int>{0});
    EXPECT_EQ(source.getInts(kOfxImageEffectPropSupportsTiles), std::vector<int>{1});
    EXPECT_EQ(source.getInts(kOfxImageClipPropIsMask), std::vector<int>{0});
    EXPECT_EQ(source.getInts(kOfxImageClipPropOptional), std::vector<int>{0});
    expectOnlyWritten(source, blank->defineClip("Source").properties(),
                      {kOfxImageEffectPropSupportedComponents,
                       kOfxImageEffectPropTemporalClipAccess, kOfxImageEffectPropSupportsTiles,
                       kOfxImageClipPropIsMask, kOfxImageClipPropOptional});
    const ZarvelHost::HostPropertySet& output = described.clip("Output").properties();
    EXPECT_EQ(output.getStrings(kOfxImageEffectPropSupportedComponents), components);
    EXPECT_EQ(output.getInts(kOfxImageEffectPropSupportsTiles), std::vector<int>{1});
    expectOnlyWritten(output, blank->defineClip("Output").properties(),
                      {kOfxImageEffectPropSupportedComponents, kOfxImageEffectPropSupportsTiles});

    // Parameters, in definition order, against fresh ones of their types.
    std::vector<std::string> paramNames;
    for (ZarvelHost::HostParam* param : described.params().params()) {
        paramNames.push_back(param->name() + ":" + param->type());
    }
    ASSERT_EQ(paramNames, (std::vector<std::string>{"Controls:" kOfxParamTypePage,
                                                    "outlineColor:" kOfxParamTypeRGBA,
                                                    "outlineWidth:" kOfxParamTypeDouble,
                                                    "quality:" kOfxParamTypeChoice}));
    auto fresh = [&](const char* type, const char* name) {
        return std::make_unique<ZarvelHost::HostParam>(host, *ZarvelHost::paramTypeInfo(type),
                                                       name);
    };
    const std::vector<std::string> labelled = {kOfxPropLabel, kOfxPropShortLabel, kOfxPropLongLabel,
                                               kOfxParamPropHint};

    const ZarvelHost::HostPropertySet& page = described.param("Controls").properties();
    EXPECT_EQ(page.getStrings(kOfxParamPropPageChild),
              (std::vector<std::string>{"outlineColor", "outlineWidth", "quality"}));
    expectOnlyWritten(page, fresh(kOfxParamTypePage, "Controls")->properties(),
                      {kOfxParamPropPageChild});

    const ZarvelHost::HostPropertySet& color = described.param("outlineColor").properties();
    expectLabels(color, "Outline Color");
    EXPECT_EQ(color.getStrings(kOfxParamPropHint),
              std::vector<std::string>{"Color of the outline"});
    EXPECT_EQ(color.getDoubles(kOfxParamPropDefault), (std::vector<double>{1.0, 1.0, 1.0, 1.0}));
    EXPECT_EQ(color.getInts(kOfxParamPropAnimates), std::vector<int>{1});
    std::vector<std::string> written = labelled;
    written.insert(written.end(), {kOfxParamPropDefault, kOfxParamPropAnimates});
    expectOnlyWritten(color, fresh(kOfxParamTypeRGBA, "outlineColor")->properties(), written);

    const ZarvelHost::HostPropertySet& width = described.param("outlineWidth").properties();
    expectLabels(width, "Outline Width");
    EXPECT_EQ(width.getStrings(kOfxParamPropHint),
              std::vector<std::string>{"Width of the outline in pixels"});
    EXPECT_EQ(width.getDoubles(kOfxParamPropDefault), std::vector<double>{15.0});
    EXPECT_EQ(width.getDoubles(kOfxParamPropMin), std::vector<double>{0.1});
    EXPECT_EQ(width.getDoubles(kOfxParamPropMax), std::vector<double>{20.0});
    EXPECT_EQ(width.getDoubles(kOfxParamPropDisplayMin), std::vector<double>{0.1});
    EXPECT_EQ(width.getDoubles(kOfxParamPropDisplayMax), std::vector<double>{20.0});
    EXPECT_EQ(width.getDoubles(kOfxParamPropIncrement), std::vector<double>{0.1});
    EXPECT_EQ(width.getInts(kOfxParamPropDigits), std::vector<int>{1});
    EXPECT_EQ(width.getInts(kOfxParamPropAnimates), std::vector<int>{1});
    written = labelled;
    written.insert(written.end(),
                   {kOfxParamPropDefault, kOfxParamPropMin, kOfxParamPropMax,
                    kOfxParamPropDisplayMin, kOfxParamPropDisplayMax, kOfxParamPropIncrement,
                    kOfxParamPropDigits, kOfxParamPropAnimates});
    expectOnlyWritten(width, fresh(kOfxParamTypeDouble, "outlineWidth")->properties(), written);

    const ZarvelHost::HostPropertySet& quality = described.param("quality").properties();
    expectLabels(quality, "Quality");
    EXPECT_EQ(quality.getStrings(kOfxParamPropHint),
              std::vector<std::string>{"Draft=Fastest, Good=Balanced, Best=Highest quality"});
    EXPECT_EQ(
        quality.getStrings(kOfxParamPropChoiceOption),
        (std::vector<std::string>{"Draft (Fastest)", "Good (Balanced)", "Best (Highest Quality)"}));
    EXPECT_EQ(quality.getInts(kOfxParamPropDefault), std::vector<int>{1});
    EXPECT_EQ(quality.getInts(kOfxParamPropAnimates), std::vector<int>{0});
    written = labelled;
    written.insert(written.end(),
                   {kOfxParamPropChoiceOption, kOfxParamPropDefault, kOfxParamPropAnimates});
    expectOnlyWritten(quality, fresh(kOfxParamTypeChoice, "quality")->properties(), written);
}

}  // namespace zarvel::test
