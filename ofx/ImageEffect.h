// The image-effect layer: enumerations with their string forms, the host description, effect
// and clip descriptors, the action argument records and result setters, and the effect instance
// with its clips and images.
//
// Host calls go through the image-effect suite. Every status a host call returns passes through
// the general status rule `checkSuiteStatus` (Core.h) unless a function says otherwise, and
// property reads and writes go through `PropertySet` with `throwOnFailure` on unless said
// otherwise. Pixel coordinates are integers with x2 and y2 exclusive; canonical coordinates are
// doubles.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ofx/Parameters.h"
#include "ofx/Properties.h"
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

// ---------------------------------------------------------------------------------------------
// Host description
// ---------------------------------------------------------------------------------------------

/// What the host says about itself, read once from the host record's property set on the first
/// load. The plug-in consults `supportsOverlays` and `supportsCustomInteract`; the rest is there
/// for the effect.
struct HostDescription {
    std::string hostName;                     ///< "OfxPropName"
    bool hostIsBackground = false;            ///< "OfxImageEffectHostPropIsBackground"
    bool supportsOverlays = false;            ///< "OfxImageEffectPropSupportsOverlays"
    bool supportsMultiResolution = false;     ///< "OfxImageEffectPropSupportsMultiResolution"
    bool supportsTiles = false;               ///< "OfxImageEffectPropSupportsTiles"
    bool temporalClipAccess = false;          ///< "OfxImageEffectPropTemporalClipAccess"
    bool supportsMultipleClipDepths = false;  ///< "OfxImageEffectPropMultipleClipDepths"
    bool supportsMultipleClipPARs = false;    ///< "OfxImageEffectPropSupportsMultipleClipPARs"
    bool supportsSetableFrameRate = false;    ///< "OfxImageEffectPropSetableFrameRate"
    bool supportsSetableFielding = false;     ///< "OfxImageEffectPropSetableFielding"
    bool supportsStringAnimation = false;     ///< "OfxParamHostPropSupportsStringAnimation"
    bool supportsCustomInteract = false;      ///< "OfxParamHostPropSupportsCustomInteract"
    bool supportsChoiceAnimation = false;     ///< "OfxParamHostPropSupportsChoiceAnimation"
    bool supportsBooleanAnimation = false;    ///< "OfxParamHostPropSupportsBooleanAnimation"
    bool supportsCustomAnimation = false;     ///< "OfxParamHostPropSupportsCustomAnimation"
    int maxParameters = 0;                    ///< "OfxParamHostPropMaxParameters"
    int maxPages = 0;                         ///< "OfxParamHostPropMaxPages"
    int pageRowCount = 0;                     ///< "OfxParamHostPropPageRowColumnCount" [0]
    int pageColumnCount = 0;                  ///< "OfxParamHostPropPageRowColumnCount" [1]
    std::vector<PixelComponents> supportedComponents;  ///< "OfxImageEffectPropSupportedComponents"
    std::vector<EffectContext> supportedContexts;      ///< "OfxImageEffectPropSupportedContexts"
    std::vector<BitDepth> supportedPixelDepths;        ///< "OfxImageEffectPropSupportedPixelDepths"
    bool supportsProgressSuite = false;   ///< the progress or the Vegas progress suite was given
    bool supportsTimeLineSuite = false;   ///< the timeline suite was given
    bool supportsMessageSuiteV2 = false;  ///< the message suite version 2 was given
    bool exists = false;                  ///< set when building starts; never cleared
};

/// The process-wide host description. Written only by the load action, which must not overlap
/// any other action; read freely afterwards.
const HostDescription& hostDescription();

/// Reads the description from `host`'s property set, field by field in declaration order (lists:
/// dimension first, then each value through its string mapping), each read with
/// `throwOnFailure` on. When the description already exists it only writes the error line
/// "Tried to create host description when we already have one.". `exists` is set before the
/// first read, so a failure leaves it partly filled and it is never read again. Called by
/// `fetchHostSuites`; throws what the reads and mappings throw.
void buildHostDescription(OfxHost* host);

namespace Private {

/// Writable access to the process-wide description, for the load path and for tests.
HostDescription& mutableHostDescription();

}  // namespace Private

// ---------------------------------------------------------------------------------------------
// Effect and clip descriptors
// ---------------------------------------------------------------------------------------------

/// The per-clip property names of one kind, keyed by clip name.
using ClipPropertyNames = std::map<std::string, std::string>;

/// An interact (overlay or window) as an effect descriptor holds it.
class InteractDescriptor {
public:
    virtual ~InteractDescriptor();
    /// The interact's main entry point, or null when it has none.
    virtual OfxPluginEntryPoint* mainEntry() const = 0;
};

/// A clip as it is being described. Made only by `ImageEffectDescriptor::declareClip` and owned
/// by that descriptor. Each declaration writes to the host at once; a refusal throws.
class ClipDescriptor {
public:
    ClipDescriptor(const ClipDescriptor&) = delete;
    ClipDescriptor& operator=(const ClipDescriptor&) = delete;

    const std::string& getName() const { return name; }
    const PropertySet& getClipProps() const { return clipProps; }

    /// Appends the layout's string to "OfxImageEffectPropSupportedComponents" (after reading its
    /// dimension); componentsNone and componentsCustom write nothing.
    void declareComponents(PixelComponents components);
    /// Each writes its flag as the int 0 or 1.
    void declareTemporalClipAccess(bool flag);  ///< "OfxImageEffectPropTemporalClipAccess"
    void declareTiles(bool flag);               ///< "OfxImageEffectPropSupportsTiles"
    void declareIsMask(bool flag);              ///< "OfxImageClipPropIsMask"
    void declareOptional(bool flag);            ///< "OfxImageClipPropOptional"

private:
    friend class ImageEffectDescriptor;
    ClipDescriptor(std::string clipName, PropertySet props);

    std::string name;
    PropertySet clipProps;
};

/// The effect as the host's describe and describe-in-context actions see it: labels, contexts,
/// depths, flags, clips, and (through the base) parameters. Every declaration writes to the host
/// at once; only the clips are kept. It also keeps, per declared clip, the names of the per-clip
/// properties later actions write. Used on the thread of the describe actions only.
class ImageEffectDescriptor : public ParamSetDescriptor {
public:
    /// Binds to the host's descriptor handle: `getPropertySet` and `getParamSet` for it, each
    /// through the general status rule.
    explicit ImageEffectDescriptor(OfxImageEffectHandle handle);
    /// Deletes the clip descriptors and attached interacts (no host call).
    ~ImageEffectDescriptor() override;

    /// Takes ownership of `interact` (null allowed), deleting the one attached before unless it is
    /// the same object. Writes its main entry into "OfxImageEffectPluginPropOverlayInteractV1"
    /// only when the host supports overlays and the entry is not null.
    virtual void attachOverlayInteract(InteractDescriptor* interact);
    /// As `attachOverlayInteract`, into "OfxImageEffectPluginPropHWndInteractV1", whenever the
    /// entry is not null.
    virtual void attachWindowInteract(InteractDescriptor* interact);

    /// "OfxPropLabel" (a refusal throws), "OfxPropShortLabel" and "OfxPropLongLabel" (refusals
    /// only logged).
    void declareLabels(const std::string& label, const std::string& shortLabel,
                       const std::string& longLabel);
    void declareDescription(const std::string& description);  ///< "OfxPropPluginDescription"
    void declareGrouping(const std::string& grouping);  ///< "OfxImageEffectPluginPropGrouping"
    /// Appends the context's string to "OfxImageEffectPropSupportedContexts"; contextNone writes
    /// nothing (the dimension is read all the same).
    void declareContext(EffectContext context);
    /// Appends the depth's string to "OfxImageEffectPropSupportedPixelDepths"; depthNone and
    /// depthCustom write nothing (the dimension is read all the same).
    void declareBitDepth(BitDepth depth);
    /// Each writes its flag as the int 0 or 1 into the property named.
    void declareSingleInstance(bool flag);      ///< "OfxImageEffectPluginPropSingleInstance"
    void declareHostFrameThreading(bool flag);  ///< "OfxImageEffectPluginPropHostFrameThreading"
    void declareMultiResolution(bool flag);     ///< "OfxImageEffectPropSupportsMultiResolution"
    void declareTiles(bool flag);               ///< "OfxImageEffectPropSupportsTiles"
    void declareTemporalClipAccess(bool flag);  ///< "OfxImageEffectPropTemporalClipAccess"
    void declareRenderTwiceAlways(bool flag);  ///< "OfxImageEffectPluginPropFieldRenderTwiceAlways"
    void declareMultipleClipPARs(bool flag);   ///< "OfxImageEffectPropSupportsMultipleClipPARs"
    void declareMultipleClipDepths(bool flag);  ///< "OfxImageEffectPropMultipleClipDepths"

    /// The descriptor of clip `name`: the one declared before, or a new one over the property set
    /// of the host's `clipDefine` (general status rule: a refusal throws and records nothing).
    /// A new clip also gets its five per-clip property names. Never null.
    ClipDescriptor* declareClip(const std::string& name);

    OfxImageEffectHandle getEffectHandle() const { return effectHandle; }
    const PropertySet& getEffectProps() const { return effectProps; }
    /// "OfxImageClipPropComponents_<clip>" ...
    const ClipPropertyNames& getComponentsPropNames() const { return componentsPropNames; }
    /// "OfxImageClipPropDepth_<clip>" ...
    const ClipPropertyNames& getDepthPropNames() const { return depthPropNames; }
    /// "OfxImageClipPropPAR_<clip>" ...
    const ClipPropertyNames& getParPropNames() const { return parPropNames; }
    /// "OfxImageClipPropRoI_<clip>" ...
    const ClipPropertyNames& getRoiPropNames() const { return roiPropNames; }
    /// "OfxImageClipPropFrameRange_<clip>" ...
    const ClipPropertyNames& getFrameRangePropNames() const { return frameRangePropNames; }
    InteractDescriptor* getOverlayInteract() const { return overlayInteract.get(); }
    InteractDescriptor* getWindowInteract() const { return windowInteract.get(); }

private:
    void declareFlag(const char* property, bool flag);

    OfxImageEffectHandle effectHandle;
    PropertySet effectProps;
    std::map<std::string, std::unique_ptr<ClipDescriptor>> clipDescriptors;
    ClipPropertyNames componentsPropNames;
    ClipPropertyNames depthPropNames;
    ClipPropertyNames parPropNames;
    ClipPropertyNames roiPropNames;
    ClipPropertyNames frameRangePropNames;
    std::unique_ptr<InteractDescriptor> overlayInteract;
    std::unique_ptr<InteractDescriptor> windowInteract;
};

// ---------------------------------------------------------------------------------------------
// Action arguments and result setters
// ---------------------------------------------------------------------------------------------
//
// Plain records of an action's arguments, copied out of its inArgs; every field starts from a
// defined value, which stays when the host's value is missing or not recognised.

class Clip;

/// Arguments of the render and is-identity actions.
struct RenderArguments {
    double time = 0.0;                     ///< frames
    OfxPointD renderScale = {1.0, 1.0};    ///< x, y
    OfxRectI renderWindow = {0, 0, 0, 0};  ///< pixel coordinates, x2 and y2 exclusive
    FieldOrder fieldToRender = fieldNone;
    int viewsToRender = 0;
    int renderView = 0;
    RenderQuality renderQuality = renderQualityUnset;
};

/// Arguments of the begin-sequence-render action.
struct BeginSequenceRenderArguments {
    OfxRangeD frameRange = {0.0, 0.0};
    double frameStep = 0.0;
    bool isInteractive = false;
    OfxPointD renderScale = {1.0, 1.0};
};

/// Arguments of the end-sequence-render action.
struct EndSequenceRenderArguments {
    bool isInteractive = false;
    OfxPointD renderScale = {1.0, 1.0};
};

/// Arguments of the region-of-definition action.
struct RegionOfDefinitionArguments {
    double time = 0.0;
    OfxPointD renderScale = {1.0, 1.0};
};

/// Arguments of the regions-of-interest action.
struct RegionsOfInterestArguments {
    double time = 0.0;
    OfxPointD renderScale = {1.0, 1.0};
    OfxRectD regionOfInterest = {0.0, 0.0, 0.0, 0.0};  ///< canonical coordinates
};

/// Arguments of the frames-needed action.
struct FramesNeededArguments {
    double time = 0.0;
};

/// Arguments of the instance-changed action.
struct InstanceChangedArgs {
    ChangeReason reason = changeUserEdited;
    double time = 0.0;
    OfxPointD renderScale = {1.0, 1.0};
};

/// Arguments of the keyframe-uplift action. `data` points into the host's memory and is valid
/// only during the action.
struct VegasKeyframeUpliftArguments {
    PropertySet props;  ///< the action's inArgs
    std::string guid;
    int keyframeCount = 0;
    void* data = nullptr;
    int dataLength = 0;
};

/// Collects the regions of the clips' images that a render will read.
class RegionOfInterestSetter {
public:
    /// The region of `clip` (canonical coordinates); a second call for one clip replaces the
    /// first. Throws Exception::PropertyUnknownToHost naming a clip the descriptor lacks.
    virtual void setRegionOfInterest(const Clip& clip, const OfxRectD& region) = 0;

protected:
    ~RegionOfInterestSetter() = default;
};

/// Collects the frame ranges of the clips that a render will read.
class FramesNeededSetter {
public:
    /// Adds `range` (frames) to the ranges of `clip`. Throws Exception::PropertyUnknownToHost
    /// naming a clip the descriptor lacks (possibly only when the ranges are written).
    virtual void setFramesNeeded(const Clip& clip, const OfxRangeD& range) = 0;

protected:
    ~FramesNeededSetter() = default;
};

/// Writes an effect's clip preferences into the action's outArgs, under the per-clip property
/// names of the descriptor matching the instance's context. `didSomething` tells whether any
/// preference was written. The tables are referenced, not copied: the descriptor must outlive
/// the setter.
struct ClipPreferencesSetter {
    ClipPreferencesSetter(PropertySet outArgs, const ClipPropertyNames& depthPropNames,
                          const ClipPropertyNames& componentsPropNames,
                          const ClipPropertyNames& parPropNames);
    /// Over the three tables of `descriptor`.
    ClipPreferencesSetter(PropertySet outArgs, const ImageEffectDescriptor& descriptor);

    /// Writes the layout's string into "OfxImageClipPropComponents_<clip>". componentsNone and
    /// componentsCustom have no string and write nothing.
    void setClipComponents(const Clip& clip, PixelComponents components);
    /// Writes the depth's string into "OfxImageClipPropDepth_<clip>". depthNone and depthCustom
    /// have no string and write nothing.
    void setClipBitDepth(const Clip& clip, BitDepth depth);
    /// Writes `ratio` into "OfxImageClipPropPAR_<clip>".
    void setPixelAspectRatio(const Clip& clip, double ratio);
    // Each setter throws Exception::PropertyUnknownToHost naming a clip absent from its table,
    // and what the property write throws; `didSomething` is set only after a write.

    PropertySet outArgs;
    bool didSomething = false;
    const ClipPropertyNames& depthPropNames;
    const ClipPropertyNames& componentsPropNames;
    const ClipPropertyNames& parPropNames;
};

// ---------------------------------------------------------------------------------------------
// Effect instance, clips and images
// ---------------------------------------------------------------------------------------------

class Image;
class ImageEffect;

/// The property set of an effect (descriptor or instance) handle: `getPropertySet` through the
/// general status rule.
PropertySet effectPropertySet(OfxImageEffectHandle handle);

/// One clip of an effect instance. Made only by `ImageEffect::getClip` and owned by that
/// instance. Calls run on the thread of a host action; they keep no state.
class Clip {
public:
    Clip(const Clip&) = delete;
    Clip& operator=(const Clip&) = delete;

    const std::string& getName() const { return name; }
    const PropertySet& getClipProps() const { return clipProps; }
    OfxImageClipHandle getClipHandle() const { return clipHandle; }
    ImageEffect* getEffect() const { return effect; }

    /// The clip's "OfxImageEffectPropPixelDepth"; a string outside the table gives depthCustom.
    /// depthNone on a connected clip writes the error line "Clip %s is connected and has no pixel
    /// depth." and is returned all the same.
    BitDepth pixelDepth() const;
    /// The clip's "OfxImageEffectPropComponents"; a string outside the table gives
    /// componentsCustom. componentsNone on a connected clip writes the error line
    /// "Clip %s is connected and has no pixel component type!" and is returned all the same.
    PixelComponents pixelComponents() const;
    /// The clip's region of definition at `time` (frames), in canonical coordinates. A host
    /// answer of kOfxStatFailed gives (0, 0, 0, 0); other failures throw.
    OfxRectD regionOfDefinition(double time) const;
    /// The clip's whole image at `time` (frames), owned by the caller: destroying it releases it
    /// to the host. Null when the host has none (kOfxStatFailed). Other failures throw; so does
    /// the image's construction, after the host's image has been released.
    std::unique_ptr<Image> imageAt(double time) const;

private:
    friend class ImageEffect;
    Clip(std::string clipName, PropertySet props, OfxImageClipHandle handle, ImageEffect* owner);

    std::string name;
    PropertySet clipProps;
    OfxImageClipHandle clipHandle;
    ImageEffect* effect;
};

/// One image fetched from a clip. It reads all its properties once, when made, and none changes
/// afterwards; destroying it releases the host's image (whose status is ignored). The pixel
/// memory belongs to the host. The accessors and `pixelAt` only read fields and may be called
/// from any number of threads at once.
class Image {
public:
    /// Takes over the host image `imageHandle` and reads its properties (data, row bytes, pixel
    /// aspect, components, depth, premultiplication, region of definition, bounds, field, unique
    /// identifier, render scale). A premultiplication string outside the three throws
    /// std::invalid_argument; a property the host cannot supply throws as the property status rule
    /// says. Either way the host's image is released before the exception leaves.
    explicit Image(OfxPropertySetHandle imageHandle);
    virtual ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    /// The address of pixel (x, y), pixel coordinates; null outside `bounds` (x2, y2 exclusive) or
    /// when the layout and depth give no pixel size. Byte offsets are 64-bit and signed, so a
    /// negative `rowBytes` walks up in memory.
    void* pixelAt(int x, int y) const {
        if (x < bounds.x1 || x >= bounds.x2 || y < bounds.y1 || y >= bounds.y2 || pixelBytes == 0) {
            return nullptr;
        }
        return pixelData + (std::ptrdiff_t(y) - bounds.y1) * rowBytes +
               (std::ptrdiff_t(x) - bounds.x1) * pixelBytes;
    }

    const PropertySet& getImageProps() const { return imageProps; }
    /// The address of the pixel at (bounds.x1, bounds.y1).
    unsigned char* getPixelData() const { return pixelData; }
    PixelComponents getComponents() const { return components; }
    /// Bytes from one row to the next; may be negative.
    int getRowBytes() const { return rowBytes; }
    /// Bytes per pixel: 1, 2 or 4 per component for byte, short and float depths; 0 for every
    /// other depth and for layouts other than RGBA and alpha.
    int getPixelBytes() const { return pixelBytes; }
    BitDepth getBitDepth() const { return bitDepth; }
    Premultiplication getPremultiplication() const { return premultiplication; }
    /// Region of definition, pixel coordinates.
    const OfxRectI& getRod() const { return rod; }
    /// The pixels the data holds, pixel coordinates, x2 and y2 exclusive.
    const OfxRectI& getBounds() const { return bounds; }
    double getPixelAspectRatio() const { return pixelAspectRatio; }
    /// A field string outside the four gives fieldNone (and an error line).
    FieldOrder getFieldOrder() const { return fieldOrder; }
    const std::string& getUniqueId() const { return uniqueId; }
    const OfxPointD& getRenderScale() const { return renderScale; }

private:
    void readProperties();

    PropertySet imageProps;
    unsigned char* pixelData = nullptr;
    PixelComponents components = componentsNone;
    int rowBytes = 0;
    int pixelBytes = 0;
    BitDepth bitDepth = depthNone;
    Premultiplication premultiplication = premultOpaque;
    OfxRectI rod = {0, 0, 0, 0};
    OfxRectI bounds = {0, 0, 0, 0};
    double pixelAspectRatio = 1.0;
    FieldOrder fieldOrder = fieldNone;
    std::string uniqueId;
    OfxPointD renderScale = {1.0, 1.0};
};

/// Bytes per pixel of a layout at a depth: 4 or 1 components of 1, 2 or 4 bytes; 0 for any
/// other layout or depth.
int pixelBytesOf(PixelComponents components, BitDepth depth);

/// The base of every effect instance. It binds itself to the host's instance (the instance's
/// "OfxPropInstanceData" points at it while it lives), knows its context, keeps its clips and,
/// through `ParamSet`, its parameters. The dispatcher calls the `on` operations, one per host
/// action; each default does nothing or answers false (the host then does its default).
/// Construction, destruction and `getClip` run on the thread of a host action and are not safe
/// against concurrent calls on one instance; `abortRequested` may be called from any thread.
class ImageEffect : public ParamSet {
public:
    /// Binds to the host instance `handle`: its property set, "OfxPropInstanceData" = this, its
    /// context ("OfxImageEffectPropContext"; a string outside the table throws
    /// std::invalid_argument), its parameter set. Host failures throw by the status rules; on any
    /// throw the instance data written before is cleared again.
    explicit ImageEffect(OfxImageEffectHandle handle);
    /// Clears "OfxPropInstanceData" (a failure is logged, never thrown), then deletes the clips.
    ~ImageEffect() override;

    virtual void onPurgeCaches();
    virtual void onSyncPrivateData();
    virtual void onRender(const RenderArguments& args) = 0;
    virtual void onBeginSequenceRender(const BeginSequenceRenderArguments& args);
    virtual void onEndSequenceRender(const EndSequenceRenderArguments& args);
    /// True when the output is `identityClip` at `identityTime`; `identityClip` comes in null and
    /// `identityTime` at the arguments' time.
    virtual bool onIsIdentity(const RenderArguments& args, Clip*& identityClip,
                              double& identityTime);
    /// True when `rod` (canonical coordinates) holds the region of definition.
    virtual bool onGetRegionOfDefinition(const RegionOfDefinitionArguments& args, OfxRectD& rod);
    virtual void onGetRegionsOfInterest(const RegionsOfInterestArguments& args,
                                        RegionOfInterestSetter& rois);
    virtual void onGetFramesNeeded(const FramesNeededArguments& args, FramesNeededSetter& frames);
    virtual void onGetClipPreferences(ClipPreferencesSetter& clipPreferences);
    virtual void onBeginInstanceEdit();
    virtual void onEndInstanceEdit();
    virtual void onBeginInstanceChanged(ChangeReason reason);
    virtual void onParamChanged(const InstanceChangedArgs& args, const std::string& paramName);
    virtual void onClipChanged(const InstanceChangedArgs& args, const std::string& clipName);
    virtual void onEndInstanceChanged(ChangeReason reason);
    virtual void onKeyframeUplift(const VegasKeyframeUpliftArguments& args);
    virtual bool onInvokeAbout();
    virtual bool onInvokeHelp();
    /// True when `range` (frames) holds the time domain.
    virtual bool onGetTimeDomain(OfxRangeD& range);

    /// The clip `name`: the one fetched before, or a new one from the host's `clipGetHandle`
    /// (general status rule: an unknown name throws and adds nothing). Never null; owned by this
    /// instance.
    Clip* getClip(const std::string& name);
    /// Whether the host asks to abandon the render in progress (its `abort` answers non-zero).
    /// Thread-safe; meant to be asked once per row by the worker threads.
    bool abortRequested() const;

    OfxImageEffectHandle getEffectHandle() const { return effectHandle; }
    const PropertySet& getEffectProps() const { return effectProps; }
    EffectContext getContext() const { return context; }

private:
    OfxImageEffectHandle effectHandle;
    PropertySet effectProps;
    EffectContext context = contextNone;
    std::map<std::string, std::unique_ptr<Clip>> clips;
};

}  // namespace OFX
