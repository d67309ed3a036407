// Parameter instances: fetching by name with their kind checked, and reading values.
#include "ofx/Parameters.h"

#include "ofx/Core.h"

namespace OFX {
namespace {

const OfxParameterSuiteV1* parameterSuite() {
    return requireSuite(hostSuites.parameterSuite, kOfxParameterSuite);
}

}  // namespace

Param::Param(std::string paramName, ParamTypeEnum paramType, OfxParamHandle handle,
             PropertySet paramProps, ParamSet* owner)
    : name(std::move(paramName))
    , type(paramType)
    , props(paramProps)
    , paramHandle(handle)
    , paramSet(owner) {}

Param::~Param() = default;

void DoubleParam::getValueAtTime(double time, double& value) const {
    checkSuiteStatus(parameterSuite()->paramGetValueAtTime(getParamHandle(), time, &value));
}

void RGBAParam::getValueAtTime(double time, double& r, double& g, double& b, double& a) const {
    checkSuiteStatus(parameterSuite()->paramGetValueAtTime(getParamHandle(), time, &r, &g, &b, &a));
}

void ChoiceParam::getValueAtTime(double time, int& optionIndex) const {
    checkSuiteStatus(parameterSuite()->paramGetValueAtTime(getParamHandle(), time, &optionIndex));
}

// ---------------------------------------------------------------------------------------------

ParamSet::ParamSet() = default;

ParamSet::~ParamSet() {
    for (auto& entry : fetchedParams) {
        entry.second.reset();
    }
}

void ParamSet::setParamSetHandle(OfxParamSetHandle handle) {
    paramSetHandle = handle;
    if (!handle) {
        paramSetProps.propSetHandle(nullptr);
        return;
    }
    Private::fetchParamSetProps(handle, paramSetProps);
}

OfxParamHandle ParamSet::getParamHandle(const std::string& name, ParamTypeEnum type) const {
    OfxParamHandle handle = nullptr;
    OfxPropertySetHandle propHandle = nullptr;
    checkSuiteStatus(
        parameterSuite()->paramGetHandle(paramSetHandle, name.c_str(), &handle, &propHandle));
    std::string hostType = PropertySet(propHandle).propGetString(kOfxParamPropType, 0, true);
    if (hostType != paramTypeToString(type)) {
        throw Exception::TypeRequest("Parameter exists but is of the wrong type");
    }
    return handle;
}

template <class PARAM>
PARAM* ParamSet::fetchParam(const std::string& name, ParamTypeEnum type) {
    auto found = fetchedParams.find(name);
    if (found != fetchedParams.end()) {
        Param* existing = found->second.get();
        if (existing->getType() != type) {
            throw Exception::TypeRequest("Fetching param and attempting to return the wrong type");
        }
        return static_cast<PARAM*>(existing);
    }
    OfxParamHandle handle = getParamHandle(name, type);
    OfxPropertySetHandle propHandle = nullptr;
    checkSuiteStatus(parameterSuite()->paramGetPropertySet(handle, &propHandle));
    auto param = std::make_unique<PARAM>(name, type, handle, PropertySet(propHandle), this);
    PARAM* result = param.get();
    fetchedParams.emplace(name, std::move(param));
    return result;
}

DoubleParam* ParamSet::fetchDoubleParam(const std::string& name) {
    return fetchParam<DoubleParam>(name, eParamTypeDouble);
}

RGBAParam* ParamSet::fetchRGBAParam(const std::string& name) {
    return fetchParam<RGBAParam>(name, eParamTypeRGBA);
}

ChoiceParam* ParamSet::fetchChoiceParam(const std::string& name) {
    return fetchParam<ChoiceParam>(name, eParamTypeChoice);
}

}  // namespace OFX
