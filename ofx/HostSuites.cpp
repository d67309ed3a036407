// The host pointer, the suite pointers fetched from it on the first load, and the host
// description read at the same time.
#include "ofx/Core.h"

#include "ofx/ImageEffect.h"
#include "ofx/Properties.h"

namespace OFX {

std::atomic<OfxHost*> hostPointer{nullptr};
HostSuites hostSuites;
std::atomic<int> loadCount{0};

namespace {

HostDescription description;

enum class Need { mandatory, optional };

// Stores what the host gives for one suite (null when it has none, so no stale table survives).
template <class SUITE>
void fetchSuite(const OfxHost& host, std::atomic<const SUITE*>& member, const char* name,
                int version, Need need) {
    const void* table = host.fetchSuite ? host.fetchSuite(host.host, name, version) : nullptr;
    member.store(static_cast<const SUITE*>(table), std::memory_order_release);
    if (table) {
        return;
    }
    if (need == Need::mandatory) {
        logError(true, "Could not fetch the mandatory suite '%s' version %d.", name, version);
        throw Exception::HostInadequate(name);
    }
    logWarning(true, "Could not fetch the optional suite '%s' version %d.", name, version);
}

// A load after the last unload runs while other threads may read the description: a flag whose
// value stays is not written again.
void setFlag(bool& flag, bool value) {
    if (flag != value) {
        flag = value;
    }
}

bool readFlag(const PropertySet& props, const char* property) {
    return props.propGetInt(property, 0, true) != 0;
}

// Reads every value of a list property through `fromString`.
template <class ENUM, class MAPPING>
std::vector<ENUM> readList(const PropertySet& props, const char* property, MAPPING fromString) {
    std::vector<ENUM> values;
    int count = props.propGetDimension(property, true);
    for (int index = 0; index < count; ++index) {
        values.push_back(fromString(props.propGetString(property, index, true)));
    }
    return values;
}

}  // namespace

const HostDescription& hostDescription() {
    return description;
}

HostDescription& Private::mutableHostDescription() {
    return description;
}

void buildHostDescription(OfxHost* host) {
    if (description.exists) {
        logError(true, "Tried to create host description when we already have one.");
        return;
    }
    description.exists = true;
    PropertySet props(host ? host->host : nullptr);
    HostDescription& d = description;
    d.hostName = props.propGetString(kOfxPropName, 0, true);
    d.hostIsBackground = readFlag(props, kOfxImageEffectHostPropIsBackground);
    d.supportsOverlays = readFlag(props, kOfxImageEffectPropSupportsOverlays);
    d.supportsMultiResolution = readFlag(props, kOfxImageEffectPropSupportsMultiResolution);
    d.supportsTiles = readFlag(props, kOfxImageEffectPropSupportsTiles);
    d.temporalClipAccess = readFlag(props, kOfxImageEffectPropTemporalClipAccess);
    d.supportsMultipleClipDepths = readFlag(props, kOfxImageEffectPropMultipleClipDepths);
    d.supportsMultipleClipPARs = readFlag(props, kOfxImageEffectPropSupportsMultipleClipPARs);
    d.supportsSetableFrameRate = readFlag(props, kOfxImageEffectPropSetableFrameRate);
    d.supportsSetableFielding = readFlag(props, kOfxImageEffectPropSetableFielding);
    d.supportsStringAnimation = readFlag(props, kOfxParamHostPropSupportsStringAnimation);
    d.supportsCustomInteract = readFlag(props, kOfxParamHostPropSupportsCustomInteract);
    d.supportsChoiceAnimation = readFlag(props, kOfxParamHostPropSupportsChoiceAnimation);
    d.supportsBooleanAnimation = readFlag(props, kOfxParamHostPropSupportsBooleanAnimation);
    d.supportsCustomAnimation = readFlag(props, kOfxParamHostPropSupportsCustomAnimation);
    d.maxParameters = props.propGetInt(kOfxParamHostPropMaxParameters, 0, true);
    d.maxPages = props.propGetInt(kOfxParamHostPropMaxPages, 0, true);
    d.pageRowCount = props.propGetInt(kOfxParamHostPropPageRowColumnCount, 0, true);
    d.pageColumnCount = props.propGetInt(kOfxParamHostPropPageRowColumnCount, 1, true);
    d.supportedComponents = readList<PixelComponents>(props, kOfxImageEffectPropSupportedComponents,
                                                      pixelComponentsFromString);
    d.supportedContexts = readList<EffectContext>(props, kOfxImageEffectPropSupportedContexts,
                                                  effectContextFromString);
    d.supportedPixelDepths =
        readList<BitDepth>(props, kOfxImageEffectPropSupportedPixelDepths, bitDepthFromString);
}

void fetchHostSuites() {
    int count = loadCount.fetch_add(1) + 1;
    OfxHost* host = hostPointer.load(std::memory_order_acquire);
    if (!host) {
        logError(true, "Host pointer has not been set.");
        checkSuiteStatus(kOfxStatErrBadHandle);
    }
    if (count != 1) {
        return;
    }
    HostSuites& s = hostSuites;
    fetchSuite(*host, s.imageEffectSuite, kOfxImageEffectSuite, 1, Need::mandatory);
    fetchSuite(*host, s.propertySuite, kOfxPropertySuite, 1, Need::mandatory);
    fetchSuite(*host, s.parameterSuite, kOfxParameterSuite, 1, Need::mandatory);
    fetchSuite(*host, s.memorySuite, kOfxMemorySuite, 1, Need::mandatory);
    fetchSuite(*host, s.multiThreadSuite, kOfxMultiThreadSuite, 1, Need::mandatory);
    fetchSuite(*host, s.messageSuite, kOfxMessageSuite, 1, Need::mandatory);
    fetchSuite(*host, s.messageSuiteV2, kOfxMessageSuite, 2, Need::optional);
    fetchSuite(*host, s.progressSuite, kOfxProgressSuite, 1, Need::optional);
    fetchSuite(*host, s.vegasProgressSuite, kOfxVegasProgressSuite, 1, Need::optional);
    fetchSuite(*host, s.timeLineSuite, kOfxTimeLineSuite, 1, Need::optional);
    fetchSuite(*host, s.vegasStereoscopicSuite, kOfxVegasStereoscopicImageEffectSuite, 1,
               Need::optional);
    fetchSuite(*host, s.vegasKeyframeSuite, kOfxVegasKeyframeSuite, 1, Need::optional);

    buildHostDescription(host);
    setFlag(description.supportsProgressSuite,
            s.progressSuite.load() != nullptr || s.vegasProgressSuite.load() != nullptr);
    setFlag(description.supportsTimeLineSuite, s.timeLineSuite.load() != nullptr);
    setFlag(description.supportsMessageSuiteV2, s.messageSuiteV2.load() != nullptr);

    if (description.supportsOverlays || description.supportsCustomInteract) {
        fetchSuite(*host, s.interactSuite, kOfxInteractSuite, 1, Need::mandatory);
    }
    fetchSuite(*host, s.hwndInteractSuite, kOfxHWndInteractSuite, 1, Need::optional);
}

}  // namespace OFX
