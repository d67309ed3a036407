// PropertySet: one host call per operation, with its error line, status rule and report line.
#include "ofx/Properties.h"

#include <new>

#include "ofx/Core.h"

namespace OFX {

int PropertySet::propertyLoggingLevel = 1;
bool PropertySet::throwOnUnsupported = true;

void checkPropertyStatus(int status, const std::string& propertyName) {
    switch (status) {
    case kOfxStatOK:
    case kOfxStatReplyYes:
    case kOfxStatReplyNo:
    case kOfxStatReplyDefault:
        return;
    case kOfxStatErrUnknown:
    case kOfxStatErrUnsupported:
        if (PropertySet::throwOnUnsupported) {
            throw Exception::PropertyUnknownToHost(propertyName);
        }
        return;
    case kOfxStatErrMemory:
        throw std::bad_alloc();
    case kOfxStatErrValue:
        throw Exception::PropertyValueIllegalToHost(propertyName);
    default:
        checkSuiteStatus(status);
    }
}

namespace {

const OfxPropertySuiteV1* propertySuite() {
    return requireSuite(hostSuites.propertySuite, kOfxPropertySuite);
}

void applyRule(int status, const char* property, bool throwOnFailure) {
    if (throwOnFailure) {
        checkPropertyStatus(status, property);
    }
}

bool reporting() {
    return PropertySet::propertyLoggingLevel > 0;
}

}  // namespace

int PropertySet::propGetDimension(const char* property, bool throwOnFailure) const {
    int count = 0;
    OfxStatus status = propertySuite()->propGetDimension(propHandle, property, &count);
    logError(status != kOfxStatOK,
             "Failed on fetching dimension for property %s, host returned status %s.", property,
             statusName(status));
    applyRule(status, property, throwOnFailure);
    if (reporting()) {
        logPrint("Fetched dimension of property %s, returned %d.", property, count);
    }
    return count;
}

void* PropertySet::propGetPointer(const char* property, int index, bool throwOnFailure) const {
    void* value = nullptr;
    OfxStatus status = propertySuite()->propGetPointer(propHandle, property, index, &value);
    logError(status != kOfxStatOK,
             "Failed on getting pointer property %s[%d], host returned status %s;", property, index,
             statusName(status));
    applyRule(status, property, throwOnFailure);
    if (reporting()) {
        logPrint("Retrieved pointer property %s[%d], was given %p.", property, index, value);
    }
    return value;
}

std::string PropertySet::propGetString(const char* property, int index, bool throwOnFailure) const {
    char empty[] = "";
    char* value = empty;
    OfxStatus status = propertySuite()->propGetString(propHandle, property, index, &value);
    logError(status != kOfxStatOK,
             "Failed on getting string property %s[%d], host returned status %s;", property, index,
             statusName(status));
    applyRule(status, property, throwOnFailure);
    // A host that hands back a null pointer gets the same treatment as one that wrote nothing.
    std::string result = value ? value : "";
    if (reporting()) {
        logPrint("Retrieved string property %s[%d], was given %s.", property, index,
                 result.c_str());
    }
    return result;
}

double PropertySet::propGetDouble(const char* property, int index, bool throwOnFailure) const {
    double value = 0.0;
    OfxStatus status = propertySuite()->propGetDouble(propHandle, property, index, &value);
    logError(status != kOfxStatOK,
             "Failed on getting double property %s[%d], host returned status %s;", property, index,
             statusName(status));
    applyRule(status, property, throwOnFailure);
    if (reporting()) {
        logPrint("Retrieved double property %s[%d], was given %lf.", property, index, value);
    }
    return value;
}

int PropertySet::propGetInt(const char* property, int index, bool throwOnFailure) const {
    int value = 0;
    OfxStatus status = propertySuite()->propGetInt(propHandle, property, index, &value);
    logError(status != kOfxStatOK,
             "Failed on getting int property %s[%d], host returned status %s;", property, index,
             statusName(status));
    applyRule(status, property, throwOnFailure);
    if (reporting()) {
        logPrint("Retrieved int property %s[%d], was given %d.", property, index, value);
    }
    return value;
}

void PropertySet::propSetPointer(const char* property, void* value, int index,
                                 bool throwOnFailure) {
    OfxStatus status = propertySuite()->propSetPointer(propHandle, property, index, value);
    logError(status != kOfxStatOK,
             "Failed on setting pointer property %s[%d] to %p, host returned status %s;", property,
             index, value, statusName(status));
    applyRule(status, property, throwOnFailure);
    if (reporting()) {
        logPrint("Set pointer property %s[%d] to be %p.", property, index, value);
    }
}

void PropertySet::propSetString(const char* property, const std::string& value, int index,
                                bool throwOnFailure) {
    OfxStatus status = propertySuite()->propSetString(propHandle, property, index, value.c_str());
    logError(status != kOfxStatOK,
             "Failed on setting string property %s[%d] to %s, host returned status %s;", property,
             index, value.c_str(), statusName(status));
    applyRule(status, property, throwOnFailure);
    if (reporting()) {
        logPrint("Set string property %s[%d] to be %s.", property, index, value.c_str());
    }
}

void PropertySet::propSetDouble(const char* property, double value, int index,
                                bool throwOnFailure) {
    OfxStatus status = propertySuite()->propSetDouble(propHandle, property, index, value);
    logError(status != kOfxStatOK,
             "Failed on setting double property %s[%d] to %lf, host returned status %s;", property,
             index, value, statusName(status));
    applyRule(status, property, throwOnFailure);
    if (reporting()) {
        logPrint("Set double property %s[%d] to be %lf.", property, index, value);
    }
}

void PropertySet::propSetInt(const char* property, int value, int index, bool throwOnFailure) {
    OfxStatus status = propertySuite()->propSetInt(propHandle, property, index, value);
    logError(status != kOfxStatOK,
             "Failed on setting int property %s[%d] to %d, host returned status %s (%d);", property,
             index, value, statusName(status), status);
    applyRule(status, property, throwOnFailure);
    if (reporting()) {
        logPrint("Set int property %s[%d] to be %d.", property, index, value);
    }
}

}  // namespace OFX
