// Effects, clips and images of the test host.
//
// An `Effect` is what an OfxImageEffectHandle stands for. It comes in three forms, as in a real
// host:
//  - the plug-in's descriptor, given to "OfxActionDescribe" (`makeDescriptor`);
//  - a descriptor per context, given to "OfxImageEffectActionDescribeInContext"
//    (`makeContextDescriptor`): it starts as a copy of the descriptor's properties plus the
//    context, and receives the plug-in's clip and parameter definitions;
//  - an instance (`makeInstance`), built from a context descriptor: one clip per clip the
//    plug-in defined (with that clip's properties), one parameter per parameter defined (with its
//    properties; the value starts as its default), the context, and "OfxPropInstanceData".
//
// A `Clip` of an instance serves images: a test or tool sets a host-owned `Image` per time (or
// one for every time); clipGetImage then hands the plug-in an image property set over those
// pixels, or answers kOfxStatFailed when the clip has no image for the time. Each fetch is a new
// property set, owned by the host until the plug-in releases it. Clip-wide image property
// overrides let a test give every fetched image any property value at all.
//
// Thread-safety: the member functions may be called concurrently; the plug-in may fetch images
// and read properties from several threads at once. Clips and parameters are only added while
// describing (or by the host side before the plug-in sees the effect). Effects and their clips
// must be destroyed before their host.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/Handles.h"
#include "host/Image.h"
#include "host/Parameters.h"
#include "host/Properties.h"
#include "host/SharedMutex.h"
#include "openfx/openfx.h"

namespace ZarvelHost {

class Effect;
class Host;

/// One image handed to the plug-in: its property set (whose handle the plug-in holds) and the
/// pixels it points into, kept alive until the release. Owned by the host.
struct FetchedImage {
    FetchedImage(Host& host, const std::string& clipName, std::shared_ptr<Image> pixels);

    HostPropertySet properties;
    std::shared_ptr<Image> pixels;
};

enum class EffectKind { Descriptor, ContextDescriptor, Instance };

class Clip {
public:
    static constexpr HandleKind handleKind = HandleKind::Clip;

    /// A clip descriptor named `name`, with the standard's clip descriptor properties.
    Clip(Effect& effect, std::string name);
    /// A clip instance built from a clip descriptor: the descriptor's properties plus the
    /// instance ones (depth, components, premultiplication, pixel aspect ratio, connected ...),
    /// all read-only to the plug-in.
    Clip(Effect& effect, const Clip& descriptor);
    ~Clip();
    Clip(const Clip&) = delete;
    Clip& operator=(const Clip&) = delete;

    OfxImageClipHandle handle() const;
    const std::string& name() const { return name_; }
    Effect& effect() const { return effect_; }
    /// The clip's properties; tests may change anything.
    HostPropertySet& properties() { return *properties_; }
    const HostPropertySet& properties() const { return *properties_; }

    // -- Images (instance clips) ----------------------------------------------------------------

    /// Serves `image` at every time without an image of its own. Sets the clip's pixel depth and
    /// components (and their unmapped forms) from the image, and marks it connected. Null
    /// removes the every-time image.
    void setImage(std::shared_ptr<Image> image);
    /// Allocates a zeroed host-owned image (see Image), serves it at every time as setImage
    /// does, and returns it for the caller to fill or read.
    std::shared_ptr<Image> allocateImage(const OfxRectI& bounds, PixelDepth depth,
                                         PixelComponents components, RowLayout layout = {});
    /// Serves `image` at exactly `time` (and sets depth, components, connected as above).
    void setImageAt(double time, std::shared_ptr<Image> image);
    /// Removes every image; fetches then fail.
    void clearImages();
    /// The image served at `time`, or null.
    std::shared_ptr<Image> imageAt(double time) const;

    /// Properties copied onto every image fetched from this clip, after the ones the host works
    /// out (so they win): any name, type, dimension and value, for giving the plug-in images no
    /// honest host would ("OfxImagePropData" null, rowBytes smaller than a row, an unknown
    /// depth string ...). On the image they are read-only, like the rest. To make a property
    /// missing, use `removeImageProperty`.
    HostPropertySet& imageOverrides() { return *imageOverrides_; }
    /// Every image fetched from this clip lacks this property.
    void removeImageProperty(const std::string& name);

    /// "OfxImageClipPropConnected" (1 or 0). Unconnected clips serve no images.
    void setConnected(bool connected);
    bool isConnected() const;

    /// The region clipGetRegionOfDefinition answers (canonical coordinates). Without one, the
    /// clip answers the bounds of its image at that time divided by the instance's render scale
    /// (x also multiplied by the pixel aspect ratio), or kOfxStatFailed without an image.
    void setRegionOfDefinition(const OfxRectD& rod);
    void clearRegionOfDefinition();

    /// What clipGetImage does, from the host side: no call is counted or recorded and no fault
    /// rule applies, but the fetch is counted and the image stays outstanding until released
    /// (through the suite's clipReleaseImage or Host::releaseImage). Returns the image's handle,
    /// or null when the clip has no image for `time`. For tests that need an image handle
    /// without a plug-in.
    OfxPropertySetHandle fetchImage(double time);

    // -- Suite side -----------------------------------------------------------------------------

    /// clipGetImage. The region is accepted and ignored: the whole image is given.
    /// kOfxStatFailed when the clip is unconnected or has no image for `time`.
    OfxStatus suiteGetImage(double time, const OfxRectD* region, OfxPropertySetHandle* image);
    /// clipGetRegionOfDefinition.
    OfxStatus suiteGetRegionOfDefinition(double time, OfxRectD* rod) const;

private:
    Effect& effect_;
    std::string name_;
    std::unique_ptr<HostPropertySet> properties_;
    std::unique_ptr<HostPropertySet> imageOverrides_;

    mutable std::mutex mutex_;
    std::shared_ptr<Image> anyTimeImage_;
    std::map<double, std::shared_ptr<Image>> images_;
    std::vector<std::string> removedImageProperties_;
    bool hasRod_ = false;
    OfxRectD rod_{0, 0, 0, 0};
};

class Effect {
public:
    static constexpr HandleKind handleKind = HandleKind::Effect;

    /// The descriptor for "OfxActionDescribe", with the standard's descriptor properties and an
    /// empty parameter set that accepts definitions.
    static std::unique_ptr<Effect> makeDescriptor(Host& host);
    /// A descriptor for one context: a copy of `descriptor`'s properties plus
    /// "OfxImageEffectPropContext" (read-only); no clips; an empty parameter set.
    static std::unique_ptr<Effect> makeContextDescriptor(Host& host, const Effect& descriptor,
                                                         const std::string& context);
    /// An instance of `contextDescriptor` in its context, built as described at the top.
    static std::unique_ptr<Effect> makeInstance(Host& host, const Effect& contextDescriptor);

    ~Effect();
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    OfxImageEffectHandle handle() const;
    EffectKind kind() const { return kind_; }
    bool isInstance() const { return kind_ == EffectKind::Instance; }
    Host& host() const { return host_; }
    /// The context; empty for the main descriptor.
    const std::string& context() const { return context_; }

    HostPropertySet& properties() { return *properties_; }
    const HostPropertySet& properties() const { return *properties_; }
    HostParamSet& params() { return *params_; }
    const HostParamSet& params() const { return *params_; }
    /// Shorthand for params().param(name).
    HostParam& param(std::string_view name) const { return params_->param(name); }

    /// Adds a clip (descriptor clip on descriptors, instance clip on instances; host side).
    /// Throws std::logic_error when the name exists.
    Clip& defineClip(const std::string& name);
    /// The clip of that name, or null.
    Clip* findClip(std::string_view name) const;
    /// The clip of that name; throws std::out_of_range when there is none.
    Clip& clip(std::string_view name) const;
    /// Every clip, in definition order.
    std::vector<Clip*> clips() const;

    /// "OfxPropInstanceData" as the plug-in last wrote it (null when absent).
    void* instanceData() const;

    /// The render scale and field that fetched images carry ("OfxImageEffectPropRenderScale",
    /// "OfxImagePropField"). The driver sets them from each render; default (1, 1) and
    /// "OfxFieldNone".
    void setRenderScale(const OfxPointD& scale);
    OfxPointD renderScale() const;
    void setRenderField(const std::string& field);
    std::string renderField() const;

    /// clipDefine: on descriptors only (kOfxStatErrUnsupported on instances); kOfxStatErrExists
    /// for a name already defined; kOfxStatErrValue for a null name.
    OfxStatus suiteDefineClip(const char* name, Clip** clip);

private:
    Effect(Host& host, EffectKind kind, std::string context);

    Host& host_;
    EffectKind kind_;
    std::string context_;
    std::unique_ptr<HostPropertySet> properties_;
    std::unique_ptr<HostParamSet> params_;

    mutable SharedMutex clipsMutex_;
    std::vector<std::unique_ptr<Clip>> clips_;

    mutable std::mutex renderMutex_;
    OfxPointD renderScale_{1.0, 1.0};
    std::string renderField_ = kOfxImageFieldNone;
};

}  // namespace ZarvelHost
