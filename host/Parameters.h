// Parameters of the test host: parameter sets, parameter descriptors and parameter instances.
//
// A descriptor parameter set is where the plug-in defines its parameters while it is described
// in a context (paramDefine). A real host then builds each instance's parameter set from those
// definitions; `HostParamSet::instantiateFrom` does the same: every parameter is copied with its
// properties, and its value starts as its "OfxParamPropDefault".
//
// Values. A parameter has a value list of its type's dimension (double, int, boolean and choice
// 1; 2D 2; 3D and RGB 3; RGBA 4), held as doubles (ints and booleans exactly), or a string for
// string and custom parameters; group, page and push-button parameters have none. The value at
// a time is:
//  - with no keyframes, the constant value;
//  - with keyframes, the key's value at a key time; before the first key the first, after the
//    last the last; between two keys the earlier key's value (Step interpolation) or the
//    straight line between them (Linear; each component on its own).
// Integer-valued and string parameters always step. Tests set values from C++ (NaN, infinities
// and negative values included; nothing is clamped) and the plug-in reads them through
// paramGetValue / paramGetValueAtTime; int-valued parameters hand out the value truncated
// toward zero, NaN as 0 and values beyond the int range saturated.
//
// Thread-safety: all member functions may be called concurrently (a reader/writer lock per
// parameter and per set). Parameters are never removed from a set, so a HostParam reference
// stays valid for the life of its set.
#pragma once

#include <cstdarg>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "host/Handles.h"
#include "host/Properties.h"
#include "host/SharedMutex.h"
#include "openfx/openfx.h"

namespace ZarvelHost {

class Host;

/// How a parameter's value moves between keyframes.
enum class Interpolation { Step, Linear };

/// What a parameter type holds.
struct ParamTypeInfo {
    /// The "OfxParamType..." string.
    const char* type;
    /// Number of value components; 0 for types without a value (group, page, push button).
    int components;
    /// Components are ints (integer, boolean, choice, integer 2D/3D).
    bool integer;
    /// The value is a string (string, custom).
    bool text;
};

/// The description of a parameter type, or null for a string the standard does not define.
const ParamTypeInfo* paramTypeInfo(std::string_view type);

class HostParam {
public:
    static constexpr HandleKind handleKind = HandleKind::Param;

    /// A parameter of type `info` named `name`, with the descriptor properties of its type and
    /// the default value. Registers its handle with `host`.
    HostParam(Host& host, const ParamTypeInfo& info, std::string name);
    ~HostParam();
    HostParam(const HostParam&) = delete;
    HostParam& operator=(const HostParam&) = delete;

    OfxParamHandle handle() const;
    const std::string& name() const { return name_; }
    /// The "OfxParamType..." string.
    const std::string& type() const { return type_; }
    const ParamTypeInfo& typeInfo() const { return info_; }

    /// The parameter's properties (its descriptor properties; on an instance, copied from the
    /// descriptor). Tests may change anything.
    HostPropertySet& properties() { return *properties_; }
    const HostPropertySet& properties() const { return *properties_; }

    // -- Values (host side; bypass every rule) -------------------------------------------------
    // Numeric setters take the type's number of components; throw std::invalid_argument for a
    // wrong count or a type without that kind of value.

    /// Sets a constant value and removes every keyframe.
    void setValue(const std::vector<double>& value);
    /// Adds or replaces the keyframe at `time`.
    void setValueAtTime(double time, const std::vector<double>& value);
    void setString(const std::string& value);
    void setStringAtTime(double time, const std::string& value);
    /// Default: Linear for double-valued types, Step for the others (always Step for those).
    void setInterpolation(Interpolation interpolation);
    /// Resets the constant value to "OfxParamPropDefault" and removes every keyframe.
    void resetToDefault();
    void removeKeys();

    std::vector<double> valueAt(double time) const;
    std::string stringAt(double time) const;
    std::vector<double> keyTimes() const;

    // -- Suite side -----------------------------------------------------------------------------

    /// paramGetValueAtTime: writes the value at `time` through the type's out pointers taken
    /// from `args` (double: one double*; RGBA four, RGB three, 2D two, 3D three double* or
    /// int*; integer, boolean, choice one int*; string and custom one const char**, pointing at
    /// the stored value and valid until that value changes). kOfxStatErrUnsupported for types without a value,
    /// kOfxStatErrValue for a null out pointer (nothing written).
    OfxStatus suiteGetValue(double time, va_list args);
    /// paramSetValue(AtTime): reads the new value from `args` (doubles for double types, ints
    /// for int types, one const char* for strings) and sets the constant value (no time) or a
    /// keyframe.
    OfxStatus suiteSetValue(std::optional<double> time, va_list args);
    OfxStatus suiteGetNumKeys(unsigned int* count) const;
    OfxStatus suiteGetKeyTime(unsigned int nth, OfxTime* time) const;
    OfxStatus suiteGetKeyIndex(double time, int direction, int* index) const;
    OfxStatus suiteDeleteKey(double time);
    OfxStatus suiteDeleteAllKeys();

    /// Makes this parameter a copy of `other` (properties, values, keys, interpolation).
    void copyFrom(const HostParam& other);

private:
    struct Value {
        std::vector<double> numbers;
        std::string text;
    };

    Value valueAtLocked(double time) const;
    void checkCount(std::size_t count) const;
    std::vector<double> defaultNumbers() const;

    Host& host_;
    const ParamTypeInfo& info_;
    std::string name_;
    std::string type_;
    std::unique_ptr<HostPropertySet> properties_;

    mutable SharedMutex mutex_;
    Value constant_;
    std::map<double, Value> keys_;
    Interpolation interpolation_;
};

class HostParamSet {
public:
    static constexpr HandleKind handleKind = HandleKind::ParamSet;

    /// An empty set. `descriptor` sets accept paramDefine; instance sets answer it with
    /// kOfxStatErrUnsupported, as parameters are defined only while describing.
    HostParamSet(Host& host, bool descriptor);
    ~HostParamSet();
    HostParamSet(const HostParamSet&) = delete;
    HostParamSet& operator=(const HostParamSet&) = delete;

    OfxParamSetHandle handle() const;
    bool isDescriptor() const { return descriptor_; }
    /// The set's own property set (empty by default).
    HostPropertySet& properties() { return *properties_; }

    /// Defines a parameter (host side). Throws std::invalid_argument for an unknown type,
    /// std::logic_error for a name already defined.
    HostParam& define(const std::string& type, const std::string& name);
    /// The parameter of that name, or null.
    HostParam* find(std::string_view name) const;
    /// The parameter of that name; throws std::out_of_range when there is none.
    HostParam& param(std::string_view name) const;
    /// Every parameter, in definition order.
    std::vector<HostParam*> params() const;

    /// Adds a copy of every parameter of `descriptor`, each starting at its default value.
    void instantiateFrom(const HostParamSet& descriptor);

    /// paramDefine: kOfxStatErrUnsupported on an instance set, kOfxStatErrUnknown for a type the
    /// standard does not define, kOfxStatErrExists for a name already defined, kOfxStatErrValue
    /// for a null type or name.
    OfxStatus suiteDefine(const char* type, const char* name, HostParam** param);

private:
    Host& host_;
    bool descriptor_;
    std::unique_ptr<HostPropertySet> properties_;
    mutable SharedMutex mutex_;
    std::vector<std::unique_ptr<HostParam>> params_;
    std::map<std::string, HostParam*, std::less<>> byName_;
};

}  // namespace ZarvelHost
