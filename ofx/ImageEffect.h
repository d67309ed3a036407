// The image-effect layer: enumerations with their string forms (more to come: descriptors,
// instance, clips, images).
#pragma once

#include <string>

#include "openfx/openfx.h"

namespace OFX {

// ---------------------------------------------------------------------------------------------
// Enumerations and their string forms
// ---------------------------------------------------------------------------------------------
//
// String-to-value mappings compare the whole string, byte for byte and case-sensitively.
// Value-to-string mappings return null for a value that has no string; callers then write nothing.

/// Pixel depth of a clip or image.
enum BitDepth : int {
    depthNone = 0,
    depthByte = 1,
    depthShort = 2,
    depthFloat = 3,
    depthCustom = 4,  ///< any string not in the table
    depthByteBGR = 5,
    depthShortBGR = 6,
    depthFloatBGR = 7,
};

/// Component layout of a clip or image.
enum PixelComponents : int {
    componentsNone = 0,
    componentsRGBA = 1,
    componentsAlpha = 2,
    componentsCustom = 3,  ///< any string not in the table
};

/// Context of a descriptor or instance.
enum EffectContext : int {
    contextNone = 0,  ///< an instance before its context is read; has no string
    contextGenerator = 1,
    contextFilter = 2,
    contextTransition = 3,
    contextPaint = 4,
    contextGeneral = 5,
    contextRetimer = 6,
};

/// Alpha state of an image.
enum Premultiplication : int {
    premultOpaque = 0,
    premultPremultiplied = 1,
    premultUnPremultiplied = 2,
};

/// Video field of an image or of a render.
enum FieldOrder : int {
    fieldNone = 0,
    fieldBoth = 1,
    fieldLower = 2,
    fieldUpper = 3,
};

/// Why an instance changed.
enum ChangeReason : int {
    changeUserEdited = 0,
    changePluginEdited = 1,
    changeTime = 2,
};

/// The host's render quality; `renderQualityUnset` stands for a host that sent none we know.
enum RenderQuality : int {
    renderQualityUnset = 0,
    renderQualityDraft = 1,
    renderQualityPreview = 2,
    renderQualityGood = 3,
    renderQualityBest = 4,
};

/// "OfxBitDepthByte" ... ; any other string (the empty one included) gives depthCustom. Never
/// throws, logs nothing.
BitDepth bitDepthFromString(const std::string& text);
/// The string of a depth; null for depthNone and depthCustom.
const char* bitDepthString(BitDepth depth);

/// "OfxImageComponentRGBA" ... ; any other string gives componentsCustom. Never throws.
PixelComponents pixelComponentsFromString(const std::string& text);
/// The string of a layout; null for componentsNone and componentsCustom.
const char* pixelComponentsString(PixelComponents components);

/// "OfxImageEffectContextFilter" ... ; any other string writes the error line
/// "Unknown image effect context '%s'" and throws std::invalid_argument whose message is the string.
EffectContext effectContextFromString(const std::string& text);
/// The string of a context; null for contextNone.
const char* effectContextString(EffectContext context);

/// "OfxChangeUserEdited" ... ; any other string writes the error line
/// "Unknown instance changed reason '%s'" and throws std::invalid_argument whose message is the
/// string.
ChangeReason changeReasonFromString(const std::string& text);

/// "OfxFieldNone" ... ; any other string throws std::invalid_argument with an empty message and
/// logs nothing.
FieldOrder fieldOrderFromString(const std::string& text);
/// The form used for images: any other string writes the error line
/// "Unknown field state '%s' reported on an image" and gives fieldNone. Never throws.
FieldOrder imageFieldOrderFromString(const std::string& text);

/// "OfxImageOpaque" ... ; any other string throws std::invalid_argument with an empty message.
Premultiplication premultiplicationFromString(const std::string& text);

}  // namespace OFX
