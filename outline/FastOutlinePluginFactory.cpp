// The description of the outline filter, and its registration with the frame.
#include "outline/FastOutlinePluginFactory.h"

#include "ofx/Parameters.h"
#include "outline/FastOutlinePlugin.h"

FastOutlinePluginFactory::FastOutlinePluginFactory(const std::string& pluginIdentifier,
                                                   unsigned int major, unsigned int minor)
    : OFX::PluginFactoryHelper<FastOutlinePluginFactory>(pluginIdentifier, major, minor) {}

void FastOutlinePluginFactory::describe(OFX::ImageEffectDescriptor& descriptor) {
    descriptor.declareLabels("Zarvel", "Zarvel", "Zarvel");
    descriptor.declareGrouping("Filter");
    descriptor.declareDescription("Fast high-quality outline effect");
    descriptor.declareContext(OFX::contextFilter);
    descriptor.declareBitDepth(OFX::depthByte);
    descriptor.declareBitDepth(OFX::depthShort);
    descriptor.declareBitDepth(OFX::depthFloat);
    descriptor.declareSingleInstance(false);
    descriptor.declareHostFrameThreading(false);
    descriptor.declareMultiResolution(true);
    descriptor.declareTiles(true);
    descriptor.declareTemporalClipAccess(false);
    descriptor.declareRenderTwiceAlways(false);
    descriptor.declareMultipleClipPARs(false);
    descriptor.declareMultipleClipDepths(false);
}

void FastOutlinePluginFactory::describeInContext(OFX::ImageEffectDescriptor& descriptor,
                                                 OFX::EffectContext) {
    OFX::ClipDescriptor* source = descriptor.declareClip("Source");
    source->declareComponents(OFX::componentsRGBA);
    source->declareComponents(OFX::componentsAlpha);
    source->declareTemporalClipAccess(false);
    source->declareTiles(true);
    source->declareIsMask(false);
    source->declareOptional(false);

    OFX::ClipDescriptor* output = descriptor.declareClip("Output");
    output->declareComponents(OFX::componentsRGBA);
    output->declareComponents(OFX::componentsAlpha);
    output->declareTiles(true);

    OFX::PageParamDescriptor* page = descriptor.definePageParam("Controls");

    OFX::RGBAParamDescriptor* color = descriptor.defineRGBAParam("outlineColor");
    color->setLabels("Outline Color", "Outline Color", "Outline Color");
    color->setHint("Color of the outline");
    color->setDefault(1.0, 1.0, 1.0, 1.0);
    color->setAnimates(true);
    page->addChild(*color);

    OFX::DoubleParamDescriptor* width = descriptor.defineDoubleParam("outlineWidth");
    width->setLabels("Outline Width", "Outline Width", "Outline Width");
    width->setHint("Width of the outline in pixels");
    width->setDefault(15.0);
    width->setRange(0.1, 20.0);
    width->setDisplayRange(0.1, 20.0);
    width->setIncrement(0.1);
    width->setDigits(1);
    width->setAnimates(true);
    page->addChild(*width);

    OFX::ChoiceParamDescriptor* quality = descriptor.defineChoiceParam("quality");
    quality->setLabels("Quality", "Quality", "Quality");
    quality->setHint("Draft=Fastest, Good=Balanced, Best=Highest quality");
    quality->appendOption("Draft (Fastest)");
    quality->appendOption("Good (Balanced)");
    quality->appendOption("Best (Highest Quality)");
    quality->setDefault(1);
    quality->setAnimates(false);
    page->addChild(*quality);
}

OFX::ImageEffect* FastOutlinePluginFactory::createInstance(OfxImageEffectHandle handle,
                                                           OFX::EffectContext) {
    return new FastOutlinePlugin(handle);
}

void OFX::appendEffectFactories(std::vector<PluginFactory*>& factories) {
    // Built on first use (thread-safe) and destroyed when the library is unloaded.
    static FastOutlinePluginFactory factory(fastOutlineIdentifier, fastOutlineVersionMajor,
                                            fastOutlineVersionMinor);
    factories.push_back(&factory);
}
