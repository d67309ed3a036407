#include "host/Parameters.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "host/Host.h"
#include "host/Names.h"

namespace ZarvelHost {

namespace {

constexpr ParamTypeInfo kParamTypes[] = {
    {kOfxParamTypeInteger, 1, true, false},     {kOfxParamTypeDouble, 1, false, false},
    {kOfxParamTypeBoolean, 1, true, false},     {kOfxParamTypeChoice, 1, true, false},
    {kOfxParamTypeRGBA, 4, false, false},       {kOfxParamTypeRGB, 3, false, false},
    {kOfxParamTypeDouble2D, 2, false, false},   {kOfxParamTypeInteger2D, 2, true, false},
    {kOfxParamTypeDouble3D, 3, false, false},   {kOfxParamTypeInteger3D, 3, true, false},
    {kOfxParamTypeString, 1, false, true},      {kOfxParamTypeCustom, 1, false, true},
    {kOfxParamTypeGroup, 0, false, false},      {kOfxParamTypePage, 0, false, false},
    {kOfxParamTypePushButton, 0, false, false},
};

bool isNumericRange(std::string_view type) {
    return type == kOfxParamTypeInteger || type == kOfxParamTypeDouble ||
           type == kOfxParamTypeDouble2D || type == kOfxParamTypeInteger2D ||
           type == kOfxParamTypeDouble3D || type == kOfxParamTypeInteger3D;
}

// An int component from its stored double: NaN gives 0 and values beyond the int range
// saturate, as a cast would be undefined for them.
int toInt(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    if (value >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    return static_cast<int>(value);
}

bool isDoubleType(std::string_view type) {
    return type == kOfxParamTypeDouble || type == kOfxParamTypeDouble2D ||
           type == kOfxParamTypeDouble3D;
}

// The descriptor properties of one parameter type, with the standard's defaults.
void defineParamProperties(HostPropertySet& props, const ParamTypeInfo& info,
                           const std::string& name) {
    const auto n = static_cast<std::size_t>(info.components);
    props.defineString(kOfxPropType, {kOfxTypeParameter}, Access::ReadOnly);
    props.defineString(kOfxPropName, {name}, Access::ReadOnly);
    props.defineString(kOfxParamPropType, {info.type}, Access::ReadOnly);
    props.defineString(kOfxPropLabel, {name});
    props.defineString(kOfxPropShortLabel, {name});
    props.defineString(kOfxPropLongLabel, {name});
    props.defineString(kOfxParamPropHint, {""});
    props.defineString(Names::paramScriptName, {name});
    props.defineString(Names::paramParent, {""});
    props.defineInt(Names::paramSecret, {0});
    props.defineInt(Names::paramEnabled, {1});
    props.definePointer(Names::paramDataPtr, {nullptr});

    const std::string_view type = info.type;
    if (info.components > 0) {
        if (info.text) {
            props.defineString(kOfxParamPropDefault, {""});
        } else if (info.integer) {
            props.defineInt(kOfxParamPropDefault, std::vector<int>(n, 0));
        } else {
            props.defineDouble(kOfxParamPropDefault, std::vector<double>(n, 0.0));
        }
        props.defineInt(kOfxParamPropAnimates, {1});
        props.defineInt(Names::paramPersistant, {1});
        props.defineInt(Names::paramEvaluateOnChange, {1});
        props.defineString(Names::paramCacheInvalidation, {Names::paramInvalidateValueChange});
    }
    if (isNumericRange(type)) {
        if (info.integer) {
            props.defineInt(kOfxParamPropMin, std::vector<int>(n, INT_MIN));
            props.defineInt(kOfxParamPropMax, std::vector<int>(n, INT_MAX));
            props.defineInt(kOfxParamPropDisplayMin, std::vector<int>(n, INT_MIN));
            props.defineInt(kOfxParamPropDisplayMax, std::vector<int>(n, INT_MAX));
        } else {
            props.defineDouble(kOfxParamPropMin, std::vector<double>(n, -DBL_MAX));
            props.defineDouble(kOfxParamPropMax, std::vector<double>(n, DBL_MAX));
            props.defineDouble(kOfxParamPropDisplayMin, std::vector<double>(n, -DBL_MAX));
            props.defineDouble(kOfxParamPropDisplayMax, std::vector<double>(n, DBL_MAX));
        }
    }
    if (isDoubleType(type)) {
        props.defineDouble(kOfxParamPropIncrement, {1.0});
        props.defineInt(kOfxParamPropDigits, {2});
        props.defineString(Names::paramDoubleType, {Names::paramDoubleTypePlain});
    }
    if (type == kOfxParamTypeChoice) {
        props.defineString(kOfxParamPropChoiceOption, {}, Access::ReadWrite, Dimension::Variable);
    }
    if (type == kOfxParamTypeString) {
        props.defineString(Names::paramStringMode, {Names::paramStringIsSingleLine});
    }
    if (type == kOfxParamTypePage) {
        props.defineString(kOfxParamPropPageChild, {}, Access::ReadWrite, Dimension::Variable);
    }
    if (type == kOfxParamTypeGroup) {
        props.defineInt(Names::paramGroupOpen, {1});
    }
}

}  // namespace

const ParamTypeInfo* paramTypeInfo(std::string_view type) {
    for (const ParamTypeInfo& info : kParamTypes) {
        if (type == info.type) {
            return &info;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// HostParam
// ---------------------------------------------------------------------------------------------

HostParam::HostParam(Host& host, const ParamTypeInfo& info, std::string name)
    : host_(host)
    , info_(info)
    , name_(std::move(name))
    , type_(info.type)
    , properties_(std::make_unique<HostPropertySet>(host, "param:" + name_))
    , interpolation_(info.integer || info.text ? Interpolation::Step : Interpolation::Linear) {
    defineParamProperties(*properties_, info_, name_);
    constant_.numbers = defaultNumbers();
    host_.registerHandle(this, handleKind);
}

HostParam::~HostParam() {
    host_.unregisterHandle(this);
}

OfxParamHandle HostParam::handle() const {
    return reinterpret_cast<OfxParamHandle>(const_cast<HostParam*>(this));
}

std::vector<double> HostParam::defaultNumbers() const {
    std::vector<double> numbers(static_cast<std::size_t>(info_.components), 0.0);
    if (info_.text || !properties_->has(kOfxParamPropDefault)) {
        return numbers;
    }
    // Tests may retype or shorten the default; take what is there.
    if (properties_->type(kOfxParamPropDefault) == PropertyType::Int) {
        const std::vector<int> values = properties_->getInts(kOfxParamPropDefault);
        for (std::size_t i = 0; i < numbers.size() && i < values.size(); ++i) {
            numbers[i] = values[i];
        }
    } else if (properties_->type(kOfxParamPropDefault) == PropertyType::Double) {
        const std::vector<double> values = properties_->getDoubles(kOfxParamPropDefault);
        for (std::size_t i = 0; i < numbers.size() && i < values.size(); ++i) {
            numbers[i] = values[i];
        }
    }
    return numbers;
}

void HostParam::checkCount(std::size_t count) const {
    if (info_.text || info_.components == 0 ||
        count != static_cast<std::size_t>(info_.components)) {
        throw std::invalid_argument("parameter '" + name_ + "' of type " + type_ + " takes " +
                                    std::to_string(info_.text ? 0 : info_.components) +
                                    " numbers, not " + std::to_string(count));
    }
}

void HostParam::setValue(const std::vector<double>& value) {
    checkCount(value.size());
    std::unique_lock lock(mutex_);
    constant_.numbers = value;
    keys_.clear();
}

void HostParam::setValueAtTime(double time, const std::vector<double>& value) {
    checkCount(value.size());
    std::unique_lock lock(mutex_);
    keys_[time].numbers = value;
}

void HostParam::setString(const std::string& value) {
    if (!info_.text) {
        throw std::invalid_argument("parameter '" + name_ + "' of type " + type_ +
                                    " has no string value");
    }
    std::unique_lock lock(mutex_);
    constant_.text = value;
    keys_.clear();
}

void HostParam::setStringAtTime(double time, const std::string& value) {
    if (!info_.text) {
        throw std::invalid_argument("parameter '" + name_ + "' of type " + type_ +
                                    " has no string value");
    }
    std::unique_lock lock(mutex_);
    keys_[time].text = value;
}

void HostParam::setInterpolation(Interpolation interpolation) {
    std::unique_lock lock(mutex_);
    interpolation_ = interpolation;
}

void HostParam::resetToDefault() {
    std::vector<double> numbers = defaultNumbers();
    std::string text;
    if (info_.text && properties_->has(kOfxParamPropDefault) &&
        properties_->type(kOfxParamPropDefault) == PropertyType::String &&
        properties_->dimension(kOfxParamPropDefault) > 0) {
        text = properties_->getString(kOfxParamPropDefault);
    }
    std::unique_lock lock(mutex_);
    constant_.numbers = std::move(numbers);
    constant_.text = std::move(text);
    keys_.clear();
}

void HostParam::removeKeys() {
    std::unique_lock lock(mutex_);
    keys_.clear();
}

HostParam::Value HostParam::valueAtLocked(double time) const {
    if (keys_.empty()) {
        return constant_;
    }
    auto after = keys_.lower_bound(time);
    if (after == keys_.end()) {
        return std::prev(after)->second;
    }
    if (after->first == time || after == keys_.begin()) {
        return after->second;
    }
    auto before = std::prev(after);
    const bool linear = interpolation_ == Interpolation::Linear && !info_.integer && !info_.text;
    if (!linear) {
        return before->second;
    }
    const double t = (time - before->first) / (after->first - before->first);
    Value value = before->second;
    for (std::size_t i = 0; i < value.numbers.size() && i < after->second.numbers.size(); ++i) {
        value.numbers[i] += (after->second.numbers[i] - before->second.numbers[i]) * t;
    }
    return value;
}

std::vector<double> HostParam::valueAt(double time) const {
    std::shared_lock lock(mutex_);
    return valueAtLocked(time).numbers;
}

std::string HostParam::stringAt(double time) const {
    std::shared_lock lock(mutex_);
    return valueAtLocked(time).text;
}

std::vector<double> HostParam::keyTimes() const {
    std::shared_lock lock(mutex_);
    std::vector<double> times;
    for (const auto& key : keys_) {
        times.push_back(key.first);
    }
    return times;
}

OfxStatus HostParam::suiteGetValue(double time, va_list args) {
    if (info_.components == 0) {
        return kOfxStatErrUnsupported;
    }
    if (info_.text) {
        const char** out = va_arg(args, const char**);
        if (!out) {
            return kOfxStatErrValue;
        }
        std::shared_lock lock(mutex_);
        // Point at the stored characters of the key (or constant) in force: no interpolation
        // applies to strings, so the value is one of those held.
        const std::string* text = &constant_.text;
        if (!keys_.empty()) {
            auto after = keys_.upper_bound(time);
            text = after == keys_.begin() ? &after->second.text : &std::prev(after)->second.text;
        }
        *out = text->c_str();
        return kOfxStatOK;
    }
    const auto n = static_cast<std::size_t>(info_.components);
    std::vector<void*> outs(n);
    for (std::size_t i = 0; i < n; ++i) {
        outs[i] = info_.integer ? static_cast<void*>(va_arg(args, int*))
                                : static_cast<void*>(va_arg(args, double*));
        if (!outs[i]) {
            return kOfxStatErrValue;
        }
    }
    const std::vector<double> value = valueAt(time);
    for (std::size_t i = 0; i < n; ++i) {
        const double component = i < value.size() ? value[i] : 0.0;
        if (info_.integer) {
            *static_cast<int*>(outs[i]) = toInt(component);
        } else {
            *static_cast<double*>(outs[i]) = component;
        }
    }
    return kOfxStatOK;
}

OfxStatus HostParam::suiteSetValue(std::optional<double> time, va_list args) {
    if (info_.components == 0) {
        return kOfxStatErrUnsupported;
    }
    Value value;
    if (info_.text) {
        const char* text = va_arg(args, const char*);
        if (!text) {
            return kOfxStatErrValue;
        }
        value.text = text;
    } else {
        for (int i = 0; i < info_.components; ++i) {
            value.numbers.push_back(info_.integer ? va_arg(args, int) : va_arg(args, double));
        }
    }
    std::unique_lock lock(mutex_);
    if (time) {
        keys_[*time] = std::move(value);
    } else {
        constant_ = std::move(value);
        keys_.clear();
    }
    return kOfxStatOK;
}

OfxStatus HostParam::suiteGetNumKeys(unsigned int* count) const {
    if (!count) {
        return kOfxStatErrValue;
    }
    std::shared_lock lock(mutex_);
    *count = static_cast<unsigned int>(keys_.size());
    return kOfxStatOK;
}

OfxStatus HostParam::suiteGetKeyTime(unsigned int nth, OfxTime* time) const {
    if (!time) {
        return kOfxStatErrValue;
    }
    std::shared_lock lock(mutex_);
    if (nth >= keys_.size()) {
        return kOfxStatErrBadIndex;
    }
    *time = std::next(keys_.begin(), static_cast<std::ptrdiff_t>(nth))->first;
    return kOfxStatOK;
}

OfxStatus HostParam::suiteGetKeyIndex(double time, int direction, int* index) const {
    if (!index) {
        return kOfxStatErrValue;
    }
    std::shared_lock lock(mutex_);
    auto found = keys_.end();
    if (direction == 0) {
        found = keys_.find(time);
    } else if (direction < 0) {
        auto after = keys_.lower_bound(time);
        if (after != keys_.begin()) {
            found = std::prev(after);
        }
    } else {
        found = keys_.upper_bound(time);
    }
    if (found == keys_.end()) {
        return kOfxStatFailed;
    }
    *index = static_cast<int>(std::distance(keys_.begin(), found));
    return kOfxStatOK;
}

OfxStatus HostParam::suiteDeleteKey(double time) {
    std::unique_lock lock(mutex_);
    return keys_.erase(time) == 1 ? kOfxStatOK : kOfxStatErrBadIndex;
}

OfxStatus HostParam::suiteDeleteAllKeys() {
    std::unique_lock lock(mutex_);
    keys_.clear();
    return kOfxStatOK;
}

void HostParam::copyFrom(const HostParam& other) {
    properties_->copyFrom(*other.properties_);
    Value constant;
    std::map<double, Value> keys;
    Interpolation interpolation;
    {
        std::shared_lock lock(other.mutex_);
        constant = other.constant_;
        keys = other.keys_;
        interpolation = other.interpolation_;
    }
    std::unique_lock lock(mutex_);
    constant_ = std::move(constant);
    keys_ = std::move(keys);
    interpolation_ = interpolation;
}

// ---------------------------------------------------------------------------------------------
// HostParamSet
// ---------------------------------------------------------------------------------------------

HostParamSet::HostParamSet(Host& host, bool descriptor)
    : host_(host)
    , descriptor_(descriptor)
    , properties_(std::make_unique<HostPropertySet>(host, "paramSet")) {
    host_.registerHandle(this, handleKind);
}

HostParamSet::~HostParamSet() {
    host_.unregisterHandle(this);
}

OfxParamSetHandle HostParamSet::handle() const {
    return reinterpret_cast<OfxParamSetHandle>(const_cast<HostParamSet*>(this));
}

HostParam& HostParamSet::define(const std::string& type, const std::string& name) {
    const ParamTypeInfo* info = paramTypeInfo(type);
    if (!info) {
        throw std::invalid_argument("unknown parameter type '" + type + "'");
    }
    std::unique_lock lock(mutex_);
    if (byName_.count(name) != 0) {
        throw std::logic_error("parameter '" + name + "' is already defined");
    }
    params_.push_back(std::make_unique<HostParam>(host_, *info, name));
    HostParam& param = *params_.back();
    byName_.emplace(name, &param);
    return param;
}

HostParam* HostParamSet::find(std::string_view name) const {
    std::shared_lock lock(mutex_);
    auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : found->second;
}

HostParam& HostParamSet::param(std::string_view name) const {
    HostParam* found = find(name);
    if (!found) {
        throw std::out_of_range("no parameter '" + std::string(name) + "'");
    }
    return *found;
}

std::vector<HostParam*> HostParamSet::params() const {
    std::shared_lock lock(mutex_);
    std::vector<HostParam*> result;
    for (const auto& param : params_) {
        result.push_back(param.get());
    }
    return result;
}

void HostParamSet::instantiateFrom(const HostParamSet& descriptor) {
    for (HostParam* source : descriptor.params()) {
        HostParam& copy = define(source->type(), source->name());
        copy.copyFrom(*source);
        copy.resetToDefault();
    }
}

OfxStatus HostParamSet::suiteDefine(const char* type, const char* name, HostParam** param) {
    if (!type || !name) {
        return kOfxStatErrValue;
    }
    if (!descriptor_) {
        return kOfxStatErrUnsupported;
    }
    const ParamTypeInfo* info = paramTypeInfo(type);
    if (!info) {
        return kOfxStatErrUnknown;
    }
    std::unique_lock lock(mutex_);
    if (byName_.count(std::string_view(name)) != 0) {
        return kOfxStatErrExists;
    }
    params_.push_back(std::make_unique<HostParam>(host_, *info, name));
    HostParam& defined = *params_.back();
    byName_.emplace(name, &defined);
    if (param) {
        *param = &defined;
    }
    return kOfxStatOK;
}

}  // namespace ZarvelHost
