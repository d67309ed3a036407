// The parameter suite: parameter sets and parameters looked up by handle on the current host.
#include <cstdarg>

#include "host/Parameters.h"
#include "host/SuiteCall.h"
#include "host/Suites.h"

namespace ZarvelHost {

namespace {

using Detail::hostCall;

// The name a call about a parameter is recorded under (null for a handle that is not live).
const char* paramName(OfxParamHandle handle) {
    Host* host = Host::current();
    HostParam* param = host ? host->find<HostParam>(handle) : nullptr;
    return param ? param->name().c_str() : nullptr;
}

template <class Body>
OfxStatus onParam(const char* function, OfxParamHandle handle, Body&& body) noexcept {
    return hostCall(function, paramName(handle), [&](Host& host) {
        HostParam* param = host.find<HostParam>(handle);
        return param ? body(*param) : kOfxStatErrBadHandle;
    });
}

template <class Body>
OfxStatus onParamSet(const char* function, OfxParamSetHandle handle, const char* name,
                     Body&& body) noexcept {
    return hostCall(function, name, [&](Host& host) {
        HostParamSet* set = host.find<HostParamSet>(handle);
        return set ? body(*set) : kOfxStatErrBadHandle;
    });
}

OfxStatus paramDefine(OfxParamSetHandle paramSet, const char* paramType, const char* name,
                      OfxPropertySetHandle* propertySet) {
    return onParamSet("paramDefine", paramSet, name, [&](HostParamSet& set) {
        HostParam* param = nullptr;
        const OfxStatus status = set.suiteDefine(paramType, name, &param);
        if (status == kOfxStatOK && propertySet) {
            *propertySet = param->properties().handle();
        }
        return status;
    });
}

OfxStatus paramGetHandle(OfxParamSetHandle paramSet, const char* name, OfxParamHandle* param,
                         OfxPropertySetHandle* propertySet) {
    return onParamSet("paramGetHandle", paramSet, name, [&](HostParamSet& set) {
        if (!name) {
            return kOfxStatErrUnknown;
        }
        HostParam* found = set.find(name);
        if (!found) {
            return kOfxStatErrUnknown;
        }
        if (param) {
            *param = found->handle();
        }
        if (propertySet) {
            *propertySet = found->properties().handle();
        }
        return kOfxStatOK;
    });
}

OfxStatus paramSetGetPropertySet(OfxParamSetHandle paramSet, OfxPropertySetHandle* propHandle) {
    return onParamSet("paramSetGetPropertySet", paramSet, nullptr, [&](HostParamSet& set) {
        if (!propHandle) {
            return kOfxStatErrValue;
        }
        *propHandle = set.properties().handle();
        return kOfxStatOK;
    });
}

OfxStatus paramGetPropertySet(OfxParamHandle param, OfxPropertySetHandle* propHandle) {
    return onParam("paramGetPropertySet", param, [&](HostParam& found) {
        if (!propHandle) {
            return kOfxStatErrValue;
        }
        *propHandle = found.properties().handle();
        return kOfxStatOK;
    });
}

OfxStatus paramGetValue(OfxParamHandle param, ...) {
    va_list args;
    va_start(args, param);
    const OfxStatus status = onParam("paramGetValue", param, [&](HostParam& found) {
        return found.suiteGetValue(found.properties().host().currentTime(), args);
    });
    va_end(args);
    return status;
}

OfxStatus paramGetValueAtTime(OfxParamHandle param, OfxTime time, ...) {
    va_list args;
    va_start(args, time);
    const OfxStatus status = onParam("paramGetValueAtTime", param, [&](HostParam& found) {
        return found.suiteGetValue(time, args);
    });
    va_end(args);
    return status;
}

OfxStatus paramGetDerivative(OfxParamHandle param, OfxTime, ...) {
    return onParam("paramGetDerivative", param, [](HostParam&) { return kOfxStatErrUnsupported; });
}

OfxStatus paramGetIntegral(OfxParamHandle param, OfxTime, OfxTime, ...) {
    return onParam("paramGetIntegral", param, [](HostParam&) { return kOfxStatErrUnsupported; });
}

OfxStatus paramSetValue(OfxParamHandle param, ...) {
    va_list args;
    va_start(args, param);
    const OfxStatus status = onParam("paramSetValue", param, [&](HostParam& found) {
        return found.suiteSetValue(std::nullopt, args);
    });
    va_end(args);
    return status;
}

OfxStatus paramSetValueAtTime(OfxParamHandle param, OfxTime time, ...) {
    va_list args;
    va_start(args, time);
    const OfxStatus status = onParam("paramSetValueAtTime", param, [&](HostParam& found) {
        return found.suiteSetValue(time, args);
    });
    va_end(args);
    return status;
}

OfxStatus paramGetNumKeys(OfxParamHandle param, unsigned int* numberOfKeys) {
    return onParam("paramGetNumKeys", param,
                   [&](HostParam& found) { return found.suiteGetNumKeys(numberOfKeys); });
}

OfxStatus paramGetKeyTime(OfxParamHandle param, unsigned int nthKey, OfxTime* time) {
    return onParam("paramGetKeyTime", param,
                   [&](HostParam& found) { return found.suiteGetKeyTime(nthKey, time); });
}

OfxStatus paramGetKeyIndex(OfxParamHandle param, OfxTime time, int direction, int* index) {
    return onParam("paramGetKeyIndex", param, [&](HostParam& found) {
        return found.suiteGetKeyIndex(time, direction, index);
    });
}

OfxStatus paramDeleteKey(OfxParamHandle param, OfxTime time) {
    return onParam("paramDeleteKey", param,
                   [&](HostParam& found) { return found.suiteDeleteKey(time); });
}

OfxStatus paramDeleteAllKeys(OfxParamHandle param) {
    return onParam("paramDeleteAllKeys", param,
                   [&](HostParam& found) { return found.suiteDeleteAllKeys(); });
}

OfxStatus paramCopy(OfxParamHandle paramTo, OfxParamHandle, OfxTime, const OfxRangeD*) {
    return onParam("paramCopy", paramTo, [](HostParam&) { return kOfxStatErrUnsupported; });
}

OfxStatus paramEditBegin(OfxParamSetHandle paramSet, const char* name) {
    return onParamSet("paramEditBegin", paramSet, name, [](HostParamSet&) { return kOfxStatOK; });
}

OfxStatus paramEditEnd(OfxParamSetHandle paramSet) {
    return onParamSet("paramEditEnd", paramSet, nullptr, [](HostParamSet&) { return kOfxStatOK; });
}

const OfxParameterSuiteV1 kParameterSuite = {
    paramDefine,      paramGetHandle,      paramSetGetPropertySet, paramGetPropertySet,
    paramGetValue,    paramGetValueAtTime, paramGetDerivative,     paramGetIntegral,
    paramSetValue,    paramSetValueAtTime, paramGetNumKeys,        paramGetKeyTime,
    paramGetKeyIndex, paramDeleteKey,      paramDeleteAllKeys,     paramCopy,
    paramEditBegin,   paramEditEnd,
};

}  // namespace

const OfxParameterSuiteV1* parameterSuite() {
    return &kParameterSuite;
}

}  // namespace ZarvelHost
