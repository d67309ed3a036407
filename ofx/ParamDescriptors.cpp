// Parameter descriptors: defining parameters on the host and describing them.
#include "ofx/Parameters.h"

#include "ofx/Core.h"

namespace OFX {
namespace {

const OfxParameterSuiteV1* parameterSuite() {
    return requireSuite(hostSuites.parameterSuite, kOfxParameterSuite);
}

// Appends `text` after the values the host already holds for a list property.
void appendString(PropertySet& props, const char* property, const std::string& text) {
    int next = props.propGetDimension(property, true);
    props.propSetString(property, text, next, true);
}

}  // namespace

const char* paramTypeToString(ParamTypeEnum type) {
    switch (type) {
    case eParamTypeString:
        return kOfxParamTypeString;
    case eParamTypeInteger:
        return kOfxParamTypeInteger;
    case eParamTypeInteger2D:
        return kOfxParamTypeInteger2D;
    case eParamTypeInteger3D:
        return kOfxParamTypeInteger3D;
    case eParamTypeDouble:
        return kOfxParamTypeDouble;
    case eParamTypeDouble2D:
        return kOfxParamTypeDouble2D;
    case eParamTypeDouble3D:
        return kOfxParamTypeDouble3D;
    case eParamTypeRGB:
        return kOfxParamTypeRGB;
    case eParamTypeRGBA:
        return kOfxParamTypeRGBA;
    case eParamTypeBoolean:
        return kOfxParamTypeBoolean;
    case eParamTypeChoice:
        return kOfxParamTypeChoice;
    case eParamTypeCustom:
        return kOfxParamTypeCustom;
    case eParamTypeGroup:
        return kOfxParamTypeGroup;
    case eParamTypePage:
        return kOfxParamTypePage;
    case eParamTypePushButton:
        return kOfxParamTypePushButton;
    case eParamTypeDummy:
        break;
    }
    // The dummy kind and values from outside the enumeration.
    return kOfxParamTypeInteger;
}

const DummyParamDescriptor pageSkipRow(kOfxParamPageSkipRow);
const DummyParamDescriptor pageSkipColumn(kOfxParamPageSkipColumn);

namespace Private {

void fetchParamSetProps(OfxParamSetHandle handle, PropertySet& props) {
    OfxPropertySetHandle propHandle = nullptr;
    OfxStatus status = parameterSuite()->paramSetGetPropertySet(handle, &propHandle);
    props.propSetHandle(propHandle);
    checkSuiteStatus(status);
}

}  // namespace Private

// ---------------------------------------------------------------------------------------------

ParamDescriptor::ParamDescriptor(std::string descriptorName, ParamTypeEnum descriptorType,
                                 PropertySet descriptorProps)
    : name(std::move(descriptorName))
    , type(descriptorType)
    , props(descriptorProps) {}

ParamDescriptor::~ParamDescriptor() = default;

void ParamDescriptor::setLabels(const std::string& label, const std::string& shortLabel,
                                const std::string& longLabel) {
    props.propSetString(kOfxPropLabel, label, 0, true);
    props.propSetString(kOfxPropShortLabel, shortLabel, 0, false);
    props.propSetString(kOfxPropLongLabel, longLabel, 0, false);
}

void ParamDescriptor::setHint(const std::string& hint) {
    props.propSetString(kOfxParamPropHint, hint, 0, false);
}

ParamAttachment::~ParamAttachment() = default;

ValueParamDescriptor::~ValueParamDescriptor() = default;

void ValueParamDescriptor::setAnimates(bool animates) {
    mutableProps().propSetInt(kOfxParamPropAnimates, animates ? 1 : 0, 0, true);
}

void BaseDoubleParamDescriptor::setIncrement(double increment) {
    mutableProps().propSetDouble(kOfxParamPropIncrement, increment, 0, true);
}

void BaseDoubleParamDescriptor::setDigits(int digits) {
    mutableProps().propSetInt(kOfxParamPropDigits, digits, 0, true);
}

void DoubleParamDescriptor::setDefault(double value) {
    mutableProps().propSetDouble(kOfxParamPropDefault, value, 0, true);
}

void DoubleParamDescriptor::setRange(double minimum, double maximum) {
    mutableProps().propSetDouble(kOfxParamPropMin, minimum, 0, true);
    mutableProps().propSetDouble(kOfxParamPropMax, maximum, 0, true);
}

void DoubleParamDescriptor::setDisplayRange(double minimum, double maximum) {
    mutableProps().propSetDouble(kOfxParamPropDisplayMin, minimum, 0, true);
    mutableProps().propSetDouble(kOfxParamPropDisplayMax, maximum, 0, true);
}

void RGBAParamDescriptor::setDefault(double r, double g, double b, double a) {
    PropertySet& defaults = mutableProps();
    defaults.propSetDouble(kOfxParamPropDefault, r, 0, true);
    defaults.propSetDouble(kOfxParamPropDefault, g, 1, true);
    defaults.propSetDouble(kOfxParamPropDefault, b, 2, true);
    defaults.propSetDouble(kOfxParamPropDefault, a, 3, true);
}

void ChoiceParamDescriptor::setDefault(int optionIndex) {
    mutableProps().propSetInt(kOfxParamPropDefault, optionIndex, 0, true);
}

void ChoiceParamDescriptor::appendOption(const std::string& label) {
    appendString(mutableProps(), kOfxParamPropChoiceOption, label);
}

void PageParamDescriptor::addChild(const ParamDescriptor& child) {
    appendString(mutableProps(), kOfxParamPropPageChild, child.getName());
}

DummyParamDescriptor::DummyParamDescriptor(std::string descriptorName)
    : ParamDescriptor(std::move(descriptorName), eParamTypeDummy, PropertySet()) {}

// ---------------------------------------------------------------------------------------------

ParamSetDescriptor::ParamSetDescriptor() = default;

ParamSetDescriptor::~ParamSetDescriptor() {
    for (auto& entry : definedParams) {
        entry.second.reset();
    }
}

void ParamSetDescriptor::setParamSetHandle(OfxParamSetHandle handle) {
    paramSetHandle = handle;
    if (!handle) {
        paramSetProps.propSetHandle(nullptr);
        return;
    }
    Private::fetchParamSetProps(handle, paramSetProps);
}

template <class DESCRIPTOR>
DESCRIPTOR* ParamSetDescriptor::defineParam(const std::string& name, ParamTypeEnum type) {
    auto found = definedParams.find(name);
    if (found != definedParams.end()) {
        ParamDescriptor* existing = found->second.get();
        return existing->getType() == type ? static_cast<DESCRIPTOR*>(existing) : nullptr;
    }
    OfxPropertySetHandle props = nullptr;
    checkSuiteStatus(parameterSuite()->paramDefine(paramSetHandle, paramTypeToString(type),
                                                   name.c_str(), &props));
    auto descriptor = std::make_unique<DESCRIPTOR>(name, type, PropertySet(props));
    DESCRIPTOR* result = descriptor.get();
    definedParams.emplace(name, std::move(descriptor));
    return result;
}

DoubleParamDescriptor* ParamSetDescriptor::defineDoubleParam(const std::string& name) {
    return defineParam<DoubleParamDescriptor>(name, eParamTypeDouble);
}

RGBAParamDescriptor* ParamSetDescriptor::defineRGBAParam(const std::string& name) {
    return defineParam<RGBAParamDescriptor>(name, eParamTypeRGBA);
}

ChoiceParamDescriptor* ParamSetDescriptor::defineChoiceParam(const std::string& name) {
    return defineParam<ChoiceParamDescriptor>(name, eParamTypeChoice);
}

PageParamDescriptor* ParamSetDescriptor::definePageParam(const std::string& name) {
    return defineParam<PageParamDescriptor>(name, eParamTypePage);
}

}  // namespace OFX
