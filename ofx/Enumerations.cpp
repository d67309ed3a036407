// The enumerations' string tables. Each mapping tests its table in a fixed order; the strings
// are distinct, so the order only decides speed.
#include <stdexcept>

#include "ofx/Core.h"
#include "ofx/ImageEffect.h"

namespace OFX {
namespace {

template <class ENUM>
struct Entry {
    const char* text;
    ENUM value;
};

// Sets `found` to the value of the first entry whose text equals `text`; false when none does.
template <class ENUM, size_t N>
bool lookUp(const Entry<ENUM> (&table)[N], const std::string& text, ENUM& found) {
    for (const Entry<ENUM>& entry : table) {
        if (text == entry.text) {
            found = entry.value;
            return true;
        }
    }
    return false;
}

template <class ENUM, size_t N>
const char* textOf(const Entry<ENUM> (&table)[N], ENUM value) {
    for (const Entry<ENUM>& entry : table) {
        if (entry.value == value) {
            return entry.text;
        }
    }
    return nullptr;
}

const Entry<BitDepth> bitDepths[] = {
    {kOfxBitDepthByte, depthByte},         {kOfxBitDepthShort, depthShort},
    {kOfxBitDepthFloat, depthFloat},       {kOfxBitDepthByteBGR, depthByteBGR},
    {kOfxBitDepthShortBGR, depthShortBGR}, {kOfxBitDepthFloatBGR, depthFloatBGR},
    {kOfxBitDepthNone, depthNone},
};

const Entry<PixelComponents> pixelComponents[] = {
    {kOfxImageComponentRGBA, componentsRGBA},
    {kOfxImageComponentAlpha, componentsAlpha},
    {kOfxImageComponentNone, componentsNone},
};

const Entry<EffectContext> contexts[] = {
    {kOfxImageEffectContextGenerator, contextGenerator},
    {kOfxImageEffectContextFilter, contextFilter},
    {kOfxImageEffectContextTransition, contextTransition},
    {kOfxImageEffectContextPaint, contextPaint},
    {kOfxImageEffectContextGeneral, contextGeneral},
    {kOfxImageEffectContextRetimer, contextRetimer},
};

const Entry<ChangeReason> changeReasons[] = {
    {kOfxChangePluginEdited, changePluginEdited},
    {kOfxChangeUserEdited, changeUserEdited},
    {kOfxChangeTime, changeTime},
};

const Entry<FieldOrder> fieldOrders[] = {
    {kOfxImageFieldNone, fieldNone},
    {kOfxImageFieldBoth, fieldBoth},
    {kOfxImageFieldLower, fieldLower},
    {kOfxImageFieldUpper, fieldUpper},
};

const Entry<Premultiplication> premultiplications[] = {
    {kOfxImageOpaque, premultOpaque},
    {kOfxImagePreMultiplied, premultPremultiplied},
    {kOfxImageUnPreMultiplied, premultUnPremultiplied},
};

}  // namespace

BitDepth bitDepthFromString(const std::string& text) {
    BitDepth depth = depthCustom;
    lookUp(bitDepths, text, depth);
    return depth;
}

const char* bitDepthString(BitDepth depth) {
    return depth == depthNone ? nullptr : textOf(bitDepths, depth);
}

PixelComponents pixelComponentsFromString(const std::string& text) {
    PixelComponents components = componentsCustom;
    lookUp(pixelComponents, text, components);
    return components;
}

const char* pixelComponentsString(PixelComponents components) {
    return components == componentsNone ? nullptr : textOf(pixelComponents, components);
}

EffectContext effectContextFromString(const std::string& text) {
    EffectContext context = contextNone;
    if (!lookUp(contexts, text, context)) {
        logError(true, "Unknown image effect context '%s'", text.c_str());
        throw std::invalid_argument(text);
    }
    return context;
}

const char* effectContextString(EffectContext context) {
    return textOf(contexts, context);
}

ChangeReason changeReasonFromString(const std::string& text) {
    ChangeReason reason = changeUserEdited;
    if (!lookUp(changeReasons, text, reason)) {
        logError(true, "Unknown instance changed reason '%s'", text.c_str());
        throw std::invalid_argument(text);
    }
    return reason;
}

FieldOrder fieldOrderFromString(const std::string& text) {
    FieldOrder order = fieldNone;
    if (!lookUp(fieldOrders, text, order)) {
        throw std::invalid_argument("");
    }
    return order;
}

FieldOrder imageFieldOrderFromString(const std::string& text) {
    FieldOrder order = fieldNone;
    if (!lookUp(fieldOrders, text, order)) {
        logError(true, "Unknown field state '%s' reported on an image", text.c_str());
    }
    return order;
}

Premultiplication premultiplicationFromString(const std::string& text) {
    Premultiplication premultiplication = premultOpaque;
    if (!lookUp(premultiplications, text, premultiplication)) {
        throw std::invalid_argument("");
    }
    return premultiplication;
}

}  // namespace OFX
