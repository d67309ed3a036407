// The property suite: each function finds the live property set behind its handle and hands
// the call to HostPropertySet's suite side.
#include "host/Properties.h"
#include "host/SuiteCall.h"
#include "host/Suites.h"

namespace ZarvelHost {

namespace {

using Detail::hostCall;

template <class Body>
OfxStatus onSet(const char* function, OfxPropertySetHandle handle, const char* property,
                Body&& body) noexcept {
    return hostCall(function, property, [&](Host& host) {
        HostPropertySet* set = host.findPropertySet(handle);
        return set ? body(*set) : kOfxStatErrBadHandle;
    });
}

OfxStatus propSetPointer(OfxPropertySetHandle handle, const char* property, int index,
                         void* value) {
    return onSet("propSetPointer", handle, property,
                 [&](HostPropertySet& set) { return set.suiteSetPointer(property, index, value); });
}

OfxStatus propSetString(OfxPropertySetHandle handle, const char* property, int index,
                        const char* value) {
    return onSet("propSetString", handle, property,
                 [&](HostPropertySet& set) { return set.suiteSetString(property, index, value); });
}

OfxStatus propSetDouble(OfxPropertySetHandle handle, const char* property, int index,
                        double value) {
    return onSet("propSetDouble", handle, property,
                 [&](HostPropertySet& set) { return set.suiteSetDouble(property, index, value); });
}

OfxStatus propSetInt(OfxPropertySetHandle handle, const char* property, int index, int value) {
    return onSet("propSetInt", handle, property,
                 [&](HostPropertySet& set) { return set.suiteSetInt(property, index, value); });
}

OfxStatus propSetPointerN(OfxPropertySetHandle handle, const char* property, int count,
                          void* const* values) {
    return onSet("propSetPointerN", handle, property, [&](HostPropertySet& set) {
        return set.suiteSetPointerN(property, count, values);
    });
}

OfxStatus propSetStringN(OfxPropertySetHandle handle, const char* property, int count,
                         const char* const* values) {
    return onSet("propSetStringN", handle, property, [&](HostPropertySet& set) {
        return set.suiteSetStringN(property, count, values);
    });
}

OfxStatus propSetDoubleN(OfxPropertySetHandle handle, const char* property, int count,
                         const double* values) {
    return onSet("propSetDoubleN", handle, property, [&](HostPropertySet& set) {
        return set.suiteSetDoubleN(property, count, values);
    });
}

OfxStatus propSetIntN(OfxPropertySetHandle handle, const char* property, int count,
                      const int* values) {
    return onSet("propSetIntN", handle, property,
                 [&](HostPropertySet& set) { return set.suiteSetIntN(property, count, values); });
}

OfxStatus propGetPointer(OfxPropertySetHandle handle, const char* property, int index,
                         void** value) {
    return onSet("propGetPointer", handle, property,
                 [&](HostPropertySet& set) { return set.suiteGetPointer(property, index, value); });
}

OfxStatus propGetString(OfxPropertySetHandle handle, const char* property, int index,
                        char** value) {
    return onSet("propGetString", handle, property,
                 [&](HostPropertySet& set) { return set.suiteGetString(property, index, value); });
}

OfxStatus propGetDouble(OfxPropertySetHandle handle, const char* property, int index,
                        double* value) {
    return onSet("propGetDouble", handle, property,
                 [&](HostPropertySet& set) { return set.suiteGetDouble(property, index, value); });
}

OfxStatus propGetInt(OfxPropertySetHandle handle, const char* property, int index, int* value) {
    return onSet("propGetInt", handle, property,
                 [&](HostPropertySet& set) { return set.suiteGetInt(property, index, value); });
}

OfxStatus propGetPointerN(OfxPropertySetHandle handle, const char* property, int count,
                          void** values) {
    return onSet("propGetPointerN", handle, property, [&](HostPropertySet& set) {
        return set.suiteGetPointerN(property, count, values);
    });
}

OfxStatus propGetStringN(OfxPropertySetHandle handle, const char* property, int count,
                         char** values) {
    return onSet("propGetStringN", handle, property, [&](HostPropertySet& set) {
        return set.suiteGetStringN(property, count, values);
    });
}

OfxStatus propGetDoubleN(OfxPropertySetHandle handle, const char* property, int count,
                         double* values) {
    return onSet("propGetDoubleN", handle, property, [&](HostPropertySet& set) {
        return set.suiteGetDoubleN(property, count, values);
    });
}

OfxStatus propGetIntN(OfxPropertySetHandle handle, const char* property, int count, int* values) {
    return onSet("propGetIntN", handle, property,
                 [&](HostPropertySet& set) { return set.suiteGetIntN(property, count, values); });
}

OfxStatus propReset(OfxPropertySetHandle handle, const char* property) {
    return onSet("propReset", handle, property,
                 [&](HostPropertySet& set) { return set.suiteReset(property); });
}

OfxStatus propGetDimension(OfxPropertySetHandle handle, const char* property, int* count) {
    return onSet("propGetDimension", handle, property,
                 [&](HostPropertySet& set) { return set.suiteGetDimension(property, count); });
}

const OfxPropertySuiteV1 kPropertySuite = {
    propSetPointer, propSetString,  propSetDouble,    propSetInt,     propSetPointerN,
    propSetStringN, propSetDoubleN, propSetIntN,      propGetPointer, propGetString,
    propGetDouble,  propGetInt,     propGetPointerN,  propGetStringN, propGetDoubleN,
    propGetIntN,    propReset,      propGetDimension,
};

}  // namespace

const OfxPropertySuiteV1* propertySuite() {
    return &kPropertySuite;
}

}  // namespace ZarvelHost
