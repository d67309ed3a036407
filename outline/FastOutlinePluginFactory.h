// The factory of the outline effect: its identity, its description, and its instances.
#pragma once

#include <string>

#include "ofx/Core.h"
#include "ofx/ImageEffect.h"
#include "openfx/openfx.h"

/// The effect's reverse-domain identifier; the unique key is it followed by "20".
inline constexpr const char* fastOutlineIdentifier = "org.zarvel.outline";
inline constexpr unsigned int fastOutlineVersionMajor = 2;
inline constexpr unsigned int fastOutlineVersionMinor = 0;

/// Describes the outline filter to the host and makes its instances. One exists per process
/// (see `OFX::appendEffectFactories`); `describe` and `describeInContext` only write into the
/// descriptor they are given and keep nothing, so they may run on any thread. Failures of the
/// host calls are raised by the descriptor classes and reported by the dispatcher.
class FastOutlinePluginFactory : public OFX::PluginFactoryHelper<FastOutlinePluginFactory> {
public:
    /// Version `major`.`minor` under `pluginIdentifier` (the library's one factory uses
    /// `fastOutlineIdentifier`, 2, 0).
    FastOutlinePluginFactory(const std::string& pluginIdentifier, unsigned int major,
                             unsigned int minor);

    /// Labels "Zarvel", grouping "Filter", the description, the filter context, the byte,
    /// short and float depths, and the eight effect flags.
    void describe(OFX::ImageEffectDescriptor& descriptor) override;
    /// The same for every context: the clips "Source" and "Output", the page "Controls" and the
    /// parameters "outlineColor", "outlineWidth" and "quality", each added to the page.
    void describeInContext(OFX::ImageEffectDescriptor& descriptor,
                           OFX::EffectContext context) override;
    /// A new FastOutlinePlugin bound to `handle`; the context is not used.
    OFX::ImageEffect* createInstance(OfxImageEffectHandle handle,
                                     OFX::EffectContext context) override;
};
