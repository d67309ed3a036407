// Parameters: the descriptors an effect defines while it is described, and the parameter
// instances it reads while it lives.
//
// Host calls go through the parameter suite; every status passes through the general status rule
// `checkSuiteStatus` (Core.h), and every property read or write through `PropertySet`
// (Properties.h) and the property status rule. Objects found by name live in ordered maps owned
// by the set that made them; asking twice for one name gives the same object and calls the host
// once. Callers hold plain pointers, valid for the life of the owning set.
//
// Thread-safety: defining and fetching change the owning set's map and run on the thread of the
// host action only (describe-in-context, instance construction). Value reads keep no state and
// may run on any thread on which the host calls the plug-in.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "ofx/Properties.h"
#include "openfx/openfx.h"

namespace OFX {

/// The kind of a parameter.
enum ParamTypeEnum : int {
    eParamTypeDummy = 0,  ///< no host parameter behind it (the page skip markers)
    eParamTypeString = 1,
    eParamTypeInteger = 2,
    eParamTypeInteger2D = 3,
    eParamTypeInteger3D = 4,
    eParamTypeDouble = 5,
    eParamTypeDouble2D = 6,
    eParamTypeDouble3D = 7,
    eParamTypeRGB = 8,
    eParamTypeRGBA = 9,
    eParamTypeBoolean = 10,
    eParamTypeChoice = 11,
    eParamTypeCustom = 12,
    eParamTypeGroup = 13,
    eParamTypePage = 14,
    eParamTypePushButton = 15,
};

/// The host's type string of a kind ("OfxParamTypeDouble" ...). Every value without a string of
/// its own (eParamTypeDummy and anything outside 1 to 15) gives "OfxParamTypeInteger". Static
/// characters; thread-safe.
const char* paramTypeToString(ParamTypeEnum type);

// ---------------------------------------------------------------------------------------------
// Descriptors (describe-in-context)
// ---------------------------------------------------------------------------------------------

/// A parameter as it is being described: its name, its kind and the host's property set for it.
/// Made by `ParamSetDescriptor`, which owns it.
class ParamDescriptor {
public:
    /// Wraps `props`; makes no host call.
    ParamDescriptor(std::string name, ParamTypeEnum type, PropertySet props);
    virtual ~ParamDescriptor();
    ParamDescriptor(const ParamDescriptor&) = delete;
    ParamDescriptor& operator=(const ParamDescriptor&) = delete;

    const std::string& getName() const { return name; }
    ParamTypeEnum getType() const { return type; }
    /// The host's property set of the parameter (empty for the dummy descriptors).
    const PropertySet& getProps() const { return props; }

    /// Writes "OfxPropLabel" (a refusal throws), then "OfxPropShortLabel" and "OfxPropLongLabel"
    /// (refusals are only logged).
    void setLabels(const std::string& label, const std::string& shortLabel,
                   const std::string& longLabel);
    /// Writes "OfxParamPropHint"; a refusal is only logged.
    void setHint(const std::string& hint);

protected:
    PropertySet& mutableProps() { return props; }

private:
    std::string name;
    ParamTypeEnum type;
    PropertySet props;
};

/// Whatever a value descriptor may carry along; deleted with its descriptor.
class ParamAttachment {
public:
    virtual ~ParamAttachment();
};

/// A parameter that holds a value.
class ValueParamDescriptor : public ParamDescriptor {
public:
    using ParamDescriptor::ParamDescriptor;
    ~ValueParamDescriptor() override;

    /// Writes "OfxParamPropAnimates" as the int 1 or 0; a refusal throws.
    void setAnimates(bool animates);

    /// The attached object, or null (nothing in the plug-in attaches one).
    ParamAttachment* getAttachment() const { return attachment.get(); }
    /// Takes ownership of `object`, deleting any object attached before.
    void setAttachment(std::unique_ptr<ParamAttachment> object) { attachment = std::move(object); }

private:
    std::unique_ptr<ParamAttachment> attachment;
};

/// Common part of the double-valued descriptors.
class BaseDoubleParamDescriptor : public ValueParamDescriptor {
public:
    using ValueParamDescriptor::ValueParamDescriptor;

    /// Writes "OfxParamPropIncrement"; a refusal throws.
    void setIncrement(double increment);
    /// Writes "OfxParamPropDigits"; a refusal throws.
    void setDigits(int digits);
};

/// A one-dimensional double ("OfxParamTypeDouble").
class DoubleParamDescriptor : public BaseDoubleParamDescriptor {
public:
    using BaseDoubleParamDescriptor::BaseDoubleParamDescriptor;

    /// Writes "OfxParamPropDefault"; a refusal throws.
    void setDefault(double value);
    /// Writes "OfxParamPropMin", then "OfxParamPropMax"; a refusal throws.
    void setRange(double minimum, double maximum);
    /// Writes "OfxParamPropDisplayMin", then "OfxParamPropDisplayMax"; a refusal throws.
    void setDisplayRange(double minimum, double maximum);
};

/// A colour with alpha ("OfxParamTypeRGBA").
class RGBAParamDescriptor : public ValueParamDescriptor {
public:
    using ValueParamDescriptor::ValueParamDescriptor;

    /// Writes "OfxParamPropDefault" at indices 0 to 3, one write each, in that order; a refusal
    /// throws and leaves the earlier indices written.
    void setDefault(double r, double g, double b, double a);
};

/// A choice among labelled options ("OfxParamTypeChoice").
class ChoiceParamDescriptor : public ValueParamDescriptor {
public:
    using ValueParamDescriptor::ValueParamDescriptor;

    /// Writes "OfxParamPropDefault" (the option index); a refusal throws.
    void setDefault(int optionIndex);
    /// Appends `label` to "OfxParamPropChoiceOption", after the options the host already holds;
    /// a refusal of the dimension query or of the write throws.
    void appendOption(const std::string& label);
};

/// A page of the host's parameter user interface ("OfxParamTypePage").
class PageParamDescriptor : public ParamDescriptor {
public:
    using ParamDescriptor::ParamDescriptor;

    /// Appends the child's name to "OfxParamPropPageChild", after the children the host already
    /// holds; a refusal throws. Takes `pageSkipRow` and `pageSkipColumn` like any descriptor.
    void addChild(const ParamDescriptor& child);
};

/// A descriptor with no host parameter behind it (empty props), for the page skip markers.
class DummyParamDescriptor : public ParamDescriptor {
public:
    explicit DummyParamDescriptor(std::string name);
};

/// The page children that skip a row ("OfxParamPageSkipRow") and a column
/// ("OfxParamPageSkipColumn"); they live as long as the library.
extern const DummyParamDescriptor pageSkipRow;
extern const DummyParamDescriptor pageSkipColumn;

/// Defines parameters on the host while an effect is described, and owns their descriptors.
/// The base of the effect descriptor.
class ParamSetDescriptor {
public:
    /// Empty: no parameter set, no descriptors.
    ParamSetDescriptor();
    /// Deletes every descriptor it defined (no host call).
    virtual ~ParamSetDescriptor();
    ParamSetDescriptor(const ParamSetDescriptor&) = delete;
    ParamSetDescriptor& operator=(const ParamSetDescriptor&) = delete;

    /// Stores the host parameter set; for a non-null handle also fetches its property set
    /// (`paramSetGetPropertySet`, general status rule). Null empties the property set.
    void setParamSetHandle(OfxParamSetHandle handle);

    /// Each define operation returns the descriptor of `name`: the one defined before when its
    /// kind matches (no host call), null when the name was defined as another kind (silently),
    /// else a new one from the host's `paramDefine`. A refused `paramDefine` throws by the
    /// general status rule and records nothing.
    DoubleParamDescriptor* defineDoubleParam(const std::string& name);
    RGBAParamDescriptor* defineRGBAParam(const std::string& name);
    ChoiceParamDescriptor* defineChoiceParam(const std::string& name);
    PageParamDescriptor* definePageParam(const std::string& name);

    OfxParamSetHandle getParamSetHandle() const { return paramSetHandle; }
    const PropertySet& getParamSetProps() const { return paramSetProps; }

private:
    template <class DESCRIPTOR>
    DESCRIPTOR* defineParam(const std::string& name, ParamTypeEnum type);

    PropertySet paramSetProps;
    OfxParamSetHandle paramSetHandle = nullptr;
    std::map<std::string, std::unique_ptr<ParamDescriptor>> definedParams;
};

// ---------------------------------------------------------------------------------------------
// Parameter instances
// ---------------------------------------------------------------------------------------------

class ParamSet;

/// A parameter of an effect instance. Made by `ParamSet`, which owns it; the host owns the
/// handle and the property set behind it.
class Param {
public:
    Param(std::string name, ParamTypeEnum type, OfxParamHandle paramHandle, PropertySet props,
          ParamSet* paramSet);
    virtual ~Param();
    Param(const Param&) = delete;
    Param& operator=(const Param&) = delete;

    const std::string& getName() const { return name; }
    ParamTypeEnum getType() const { return type; }
    const PropertySet& getProps() const { return props; }
    OfxParamHandle getParamHandle() const { return paramHandle; }
    /// The set that fetched this parameter (not owned).
    ParamSet* getParamSet() const { return paramSet; }

private:
    std::string name;
    ParamTypeEnum type;
    PropertySet props;
    OfxParamHandle paramHandle;
    ParamSet* paramSet;
};

/// A parameter that holds a value.
class ValueParam : public Param {
public:
    using Param::Param;
};

/// Common part of the double-valued parameters.
class BaseDoubleParam : public ValueParam {
public:
    using ValueParam::ValueParam;
};

// The value reads below write what the host gives into the caller's variables; they neither set
// nor check them first. A refused read throws by the general status rule (reply statuses pass,
// leaving whatever the host wrote). No logging.

/// A one-dimensional double.
class DoubleParam : public BaseDoubleParam {
public:
    using BaseDoubleParam::BaseDoubleParam;

    /// The value at `time` (frames).
    void getValueAtTime(double time, double& value) const;
};

/// A colour with alpha.
class RGBAParam : public ValueParam {
public:
    using ValueParam::ValueParam;

    /// The colour at `time` (frames).
    void getValueAtTime(double time, double& r, double& g, double& b, double& a) const;
};

/// A choice among labelled options.
class ChoiceParam : public ValueParam {
public:
    using ValueParam::ValueParam;

    /// The index of the chosen option at `time` (frames).
    void getValueAtTime(double time, int& optionIndex) const;
};

/// Fetches an instance's parameters from the host by name, checks their kind, and owns them.
/// The base of the effect instance.
class ParamSet {
public:
    /// Empty: no parameter set, no parameters.
    ParamSet();
    /// Deletes every parameter it fetched (no host call).
    virtual ~ParamSet();
    ParamSet(const ParamSet&) = delete;
    ParamSet& operator=(const ParamSet&) = delete;

    /// As `ParamSetDescriptor::setParamSetHandle`.
    void setParamSetHandle(OfxParamSetHandle handle);

    /// Each fetch returns the parameter `name` as the kind asked for, never null:
    /// - fetched before as that kind: the same object, no host call;
    /// - fetched before as another kind: throws Exception::TypeRequest("Fetching param and
    ///   attempting to return the wrong type"), no host call;
    /// - otherwise `paramGetHandle` (an unknown name throws by the general status rule), its
    ///   "OfxParamPropType" (property status rule) compared with the kind's type string (a
    ///   mismatch throws Exception::TypeRequest("Parameter exists but is of the wrong type")),
    ///   then `paramGetPropertySet` (general status rule). Nothing is kept after a throw.
    DoubleParam* fetchDoubleParam(const std::string& name);
    RGBAParam* fetchRGBAParam(const std::string& name);
    ChoiceParam* fetchChoiceParam(const std::string& name);

    OfxParamSetHandle getParamSetHandle() const { return paramSetHandle; }
    const PropertySet& getParamSetProps() const { return paramSetProps; }

private:
    template <class PARAM>
    PARAM* fetchParam(const std::string& name, ParamTypeEnum type);
    OfxParamHandle getParamHandle(const std::string& name, ParamTypeEnum type) const;

    PropertySet paramSetProps;
    OfxParamSetHandle paramSetHandle = nullptr;
    std::map<std::string, std::unique_ptr<Param>> fetchedParams;
};

namespace Private {

/// The property set of a host parameter set: `paramSetGetPropertySet`, whose status goes through
/// the general status rule after `props` has been stored. Shared by both set classes.
void fetchParamSetProps(OfxParamSetHandle handle, PropertySet& props);

}  // namespace Private

}  // namespace OFX
