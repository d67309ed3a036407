// Standard property names and values the test host offers beyond those in openfx/openfx.h.
// The plug-in never reads them; a real host has them, so the host's property sets carry them
// too, which keeps tests honest about what a plug-in meets in the wild.
#pragma once

namespace ZarvelHost::Names {

// Parameters.
inline constexpr const char* paramScriptName = "OfxParamPropScriptName";
inline constexpr const char* paramParent = "OfxParamPropParent";
inline constexpr const char* paramSecret = "OfxParamPropSecret";
inline constexpr const char* paramEnabled = "OfxParamPropEnabled";
inline constexpr const char* paramDataPtr = "OfxParamPropDataPtr";
inline constexpr const char* paramPersistant = "OfxParamPropPersistant";
inline constexpr const char* paramEvaluateOnChange = "OfxParamPropEvaluateOnChange";
inline constexpr const char* paramCacheInvalidation = "OfxParamPropCacheInvalidation";
inline constexpr const char* paramInvalidateValueChange = "OfxParamInvalidateValueChange";
inline constexpr const char* paramDoubleType = "OfxParamPropDoubleType";
inline constexpr const char* paramDoubleTypePlain = "OfxParamDoubleTypePlain";
inline constexpr const char* paramStringMode = "OfxParamPropStringMode";
inline constexpr const char* paramStringIsSingleLine = "OfxParamStringIsSingleLine";
inline constexpr const char* paramGroupOpen = "OfxParamPropGroupOpen";

// Effects and instances.
inline constexpr const char* renderThreadSafety = "OfxImageEffectPluginRenderThreadSafety";
inline constexpr const char* renderInstanceSafe = "OfxImageEffectRenderInstanceSafe";
inline constexpr const char* projectSize = "OfxImageEffectPropProjectSize";
inline constexpr const char* projectOffset = "OfxImageEffectPropProjectOffset";
inline constexpr const char* projectExtent = "OfxImageEffectPropProjectExtent";
inline constexpr const char* projectPixelAspectRatio = "OfxImageEffectPropProjectPixelAspectRatio";
inline constexpr const char* effectDuration = "OfxImageEffectInstancePropEffectDuration";
inline constexpr const char* frameRate = "OfxImageEffectPropFrameRate";
inline constexpr const char* sequentialRenderStatus = "OfxImageEffectPropSequentialRenderStatus";
inline constexpr const char* interactiveRenderStatus = "OfxImageEffectPropInteractiveRenderStatus";
inline constexpr const char* frameVarying = "OfxImageEffectFrameVarying";

// Clips.
inline constexpr const char* clipFieldOrder = "OfxImageClipPropFieldOrder";
inline constexpr const char* clipFieldExtraction = "OfxImageClipPropFieldExtraction";
inline constexpr const char* fieldDoubled = "OfxImageFieldDoubled";
inline constexpr const char* unmappedPixelDepth = "OfxImageClipPropUnmappedPixelDepth";
inline constexpr const char* unmappedComponents = "OfxImageClipPropUnmappedComponents";
inline constexpr const char* continuousSamples = "OfxImageClipPropContinuousSamples";
inline constexpr const char* unmappedFrameRange = "OfxImageEffectPropUnmappedFrameRange";
inline constexpr const char* unmappedFrameRate = "OfxImageEffectPropUnmappedFrameRate";

// Messages.
inline constexpr const char* messageQuestion = "OfxMessageQuestion";

}  // namespace ZarvelHost::Names
