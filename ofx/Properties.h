// Typed, logged access to host property sets.
//
// `PropertySet` is the only class in the plug-in that calls the host's property suite. Every
// operation makes exactly one suite call, then:
//   1. on a status other than kOfxStatOK, writes its error line to the diagnostic log;
//   2. when the caller passed `throwOnFailure`, applies `checkPropertyStatus` (which may throw);
//   3. when `PropertySet::propertyLoggingLevel` is above 0, writes its report line.
// Getters start from a defined value (0, 0.0, null, "") so a failure that throws nothing returns
// that value unless the host wrote into it. Indices are 0-based; note that setters take the value
// before the index, as the rest of the layer calls them.
//
// Thread-safety: a PropertySet holds only its handle and may be used on any thread on which the
// host calls the plug-in; the class-wide settings are only read.
#pragma once

#include <string>

#include "openfx/openfx.h"

namespace OFX {

/// The property status rule, for property calls: kOfxStatOK and the reply codes pass;
/// kOfxStatErrUnknown and kOfxStatErrUnsupported throw Exception::PropertyUnknownToHost carrying
/// `propertyName` (only while `PropertySet::throwOnUnsupported` is on); kOfxStatErrMemory throws
/// std::bad_alloc; kOfxStatErrValue throws Exception::PropertyValueIllegalToHost carrying
/// `propertyName`; any other status falls to the general rule `checkSuiteStatus`.
void checkPropertyStatus(int status, const std::string& propertyName);

/// A value wrapper around a host property set handle (which may be null: an empty set). Copies
/// share the handle; the host owns it and it is never released here.
class PropertySet {
public:
    /// Report lines are written while this is above 0 (initially 1).
    static int propertyLoggingLevel;
    /// Whether kOfxStatErrUnknown / kOfxStatErrUnsupported throw (initially on).
    static bool throwOnUnsupported;

    PropertySet() = default;
    explicit PropertySet(OfxPropertySetHandle handle)
        : propHandle(handle) {}
    PropertySet(const PropertySet&) = default;
    PropertySet& operator=(const PropertySet&) = default;
    virtual ~PropertySet() = default;

    /// The wrapped handle (may be null).
    OfxPropertySetHandle propSetHandle() const { return propHandle; }
    /// Rewraps another handle.
    void propSetHandle(OfxPropertySetHandle handle) { propHandle = handle; }

    /// Number of values of `property`; 0 when a failure throws nothing.
    int propGetDimension(const char* property, bool throwOnFailure) const;

    void* propGetPointer(const char* property, int index, bool throwOnFailure) const;
    /// Copies the host's characters at once; never null (a failure gives "").
    std::string propGetString(const char* property, int index, bool throwOnFailure) const;
    double propGetDouble(const char* property, int index, bool throwOnFailure) const;
    int propGetInt(const char* property, int index, bool throwOnFailure) const;

    void propSetPointer(const char* property, void* value, int index, bool throwOnFailure);
    void propSetString(const char* property, const std::string& value, int index,
                       bool throwOnFailure);
    void propSetDouble(const char* property, double value, int index, bool throwOnFailure);
    void propSetInt(const char* property, int value, int index, bool throwOnFailure);

private:
    OfxPropertySetHandle propHandle = nullptr;
};

}  // namespace OFX
