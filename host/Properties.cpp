#include "host/Properties.h"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "host/Host.h"

namespace ZarvelHost {

namespace {

// How each property type is stored, accepted from the suite and handed back to it.
struct IntSlot {
    using Storage = Property::Ints;
    using Stored = int;
    using In = int;
    using Out = int;
    static Stored store(In value) { return value; }
    static Out out(const Stored& value) { return value; }
};

struct DoubleSlot {
    using Storage = Property::Doubles;
    using Stored = double;
    using In = double;
    using Out = double;
    static Stored store(In value) { return value; }
    static Out out(const Stored& value) { return value; }
};

struct StringSlot {
    using Storage = Property::Strings;
    using Stored = std::string;
    using In = const char*;
    using Out = char*;
    static Stored store(In value) { return value; }
    // The standard's getter hands out a non-const pointer; plug-ins must not write through it.
    static Out out(const Stored& value) { return const_cast<char*>(value.c_str()); }
};

struct PointerSlot {
    using Storage = Property::Pointers;
    using Stored = void*;
    using In = void*;
    using Out = void*;
    static Stored store(In value) { return value; }
    static Out out(const Stored& value) { return value; }
};

template <class Slot>
constexpr bool isNullInput(typename Slot::In value) {
    if constexpr (std::is_same_v<Slot, StringSlot>) {
        return value == nullptr;
    } else {
        (void)value;
        return false;
    }
}

template <class Storage, class Source>
Storage makeStorage(Source values) {
    return Storage(std::make_move_iterator(values.begin()), std::make_move_iterator(values.end()));
}

std::string quoted(std::string_view name) {
    return "property '" + std::string(name) + "'";
}

}  // namespace

const char* propertyTypeName(PropertyType type) {
    switch (type) {
    case PropertyType::Int:
        return "int";
    case PropertyType::Double:
        return "double";
    case PropertyType::String:
        return "string";
    case PropertyType::Pointer:
        return "pointer";
    }
    return "unknown";
}

int Property::size() const {
    return std::visit([](const auto& list) { return static_cast<int>(list.size()); }, values);
}

HostPropertySet::HostPropertySet(Host& host, std::string kind)
    : host_(host)
    , kind_(std::move(kind)) {
    host_.registerHandle(this, HandleKind::PropertySet);
}

HostPropertySet::~HostPropertySet() {
    host_.unregisterHandle(this);
}

OfxPropertySetHandle HostPropertySet::handle() const {
    return reinterpret_cast<OfxPropertySetHandle>(const_cast<HostPropertySet*>(this));
}

HostPropertySet* HostPropertySet::fromHandle(OfxPropertySetHandle handle) {
    return reinterpret_cast<HostPropertySet*>(handle);
}

// ---------------------------------------------------------------------------------------------
// Definition
// ---------------------------------------------------------------------------------------------

namespace {

template <class Storage, class Source>
Property makeProperty(Source values, Access access, Dimension dimension) {
    Property property;
    property.values = makeStorage<Storage>(values);
    property.defaults = property.values;
    property.access = access;
    property.dimension = dimension;
    return property;
}

}  // namespace

void HostPropertySet::defineInt(const std::string& name, std::vector<int> values, Access access,
                                Dimension dimension) {
    std::unique_lock lock(mutex_);
    properties_[name] = makeProperty<Property::Ints>(std::move(values), access, dimension);
}

void HostPropertySet::defineDouble(const std::string& name, std::vector<double> values,
                                   Access access, Dimension dimension) {
    std::unique_lock lock(mutex_);
    properties_[name] = makeProperty<Property::Doubles>(std::move(values), access, dimension);
}

void HostPropertySet::defineString(const std::string& name, std::vector<std::string> values,
                                   Access access, Dimension dimension) {
    std::unique_lock lock(mutex_);
    properties_[name] = makeProperty<Property::Strings>(std::move(values), access, dimension);
}

void HostPropertySet::definePointer(const std::string& name, std::vector<void*> values,
                                    Access access, Dimension dimension) {
    std::unique_lock lock(mutex_);
    properties_[name] = makeProperty<Property::Pointers>(std::move(values), access, dimension);
}

void HostPropertySet::remove(std::string_view name) {
    std::unique_lock lock(mutex_);
    auto found = properties_.find(name);
    if (found != properties_.end()) {
        properties_.erase(found);
    }
}

void HostPropertySet::copyFrom(const HostPropertySet& other) {
    if (&other == this) {
        throw std::invalid_argument("HostPropertySet::copyFrom: cannot copy a set into itself");
    }
    std::map<std::string, Property, std::less<>> copied;
    {
        std::shared_lock lock(other.mutex_);
        copied = other.properties_;
    }
    std::unique_lock lock(mutex_);
    for (auto& [name, property] : copied) {
        properties_[name] = std::move(property);
    }
}

void HostPropertySet::setAccess(std::string_view name, Access access) {
    std::unique_lock lock(mutex_);
    auto found = properties_.find(name);
    if (found == properties_.end()) {
        throw std::out_of_range("no " + quoted(name) + " in " + kind_);
    }
    found->second.access = access;
}

// ---------------------------------------------------------------------------------------------
// Host-side reads
// ---------------------------------------------------------------------------------------------

const Property& HostPropertySet::require(std::string_view name) const {
    auto found = properties_.find(name);
    if (found == properties_.end()) {
        throw std::out_of_range("no " + quoted(name) + " in property set '" + kind_ + "'");
    }
    return found->second;
}

bool HostPropertySet::has(std::string_view name) const {
    std::shared_lock lock(mutex_);
    return properties_.find(name) != properties_.end();
}

PropertyType HostPropertySet::type(std::string_view name) const {
    std::shared_lock lock(mutex_);
    return require(name).type();
}

int HostPropertySet::dimension(std::string_view name) const {
    std::shared_lock lock(mutex_);
    return require(name).size();
}

Access HostPropertySet::access(std::string_view name) const {
    std::shared_lock lock(mutex_);
    return require(name).access;
}

std::vector<std::string> HostPropertySet::names() const {
    std::shared_lock lock(mutex_);
    std::vector<std::string> result;
    result.reserve(properties_.size());
    for (const auto& entry : properties_) {
        result.push_back(entry.first);
    }
    return result;
}

template <class Slot>
typename Slot::Stored HostPropertySet::hostGet(std::string_view name, int index) const {
    std::shared_lock lock(mutex_);
    const Property& property = require(name);
    const auto* list = std::get_if<typename Slot::Storage>(&property.values);
    if (!list) {
        throw std::invalid_argument(quoted(name) + " is of type " +
                                    propertyTypeName(property.type()));
    }
    if (index < 0 || index >= static_cast<int>(list->size())) {
        throw std::out_of_range(quoted(name) + " has no index " + std::to_string(index) +
                                " (dimension " + std::to_string(list->size()) + ")");
    }
    return (*list)[static_cast<std::size_t>(index)];
}

template <class Slot>
std::vector<typename Slot::Stored> HostPropertySet::hostGetAll(std::string_view name) const {
    std::shared_lock lock(mutex_);
    const Property& property = require(name);
    const auto* list = std::get_if<typename Slot::Storage>(&property.values);
    if (!list) {
        throw std::invalid_argument(quoted(name) + " is of type " +
                                    propertyTypeName(property.type()));
    }
    return std::vector<typename Slot::Stored>(list->begin(), list->end());
}

int HostPropertySet::getInt(std::string_view name, int index) const {
    return hostGet<IntSlot>(name, index);
}

double HostPropertySet::getDouble(std::string_view name, int index) const {
    return hostGet<DoubleSlot>(name, index);
}

std::string HostPropertySet::getString(std::string_view name, int index) const {
    return hostGet<StringSlot>(name, index);
}

void* HostPropertySet::getPointer(std::string_view name, int index) const {
    return hostGet<PointerSlot>(name, index);
}

std::vector<int> HostPropertySet::getInts(std::string_view name) const {
    return hostGetAll<IntSlot>(name);
}

std::vector<double> HostPropertySet::getDoubles(std::string_view name) const {
    return hostGetAll<DoubleSlot>(name);
}

std::vector<std::string> HostPropertySet::getStrings(std::string_view name) const {
    return hostGetAll<StringSlot>(name);
}

std::vector<void*> HostPropertySet::getPointers(std::string_view name) const {
    return hostGetAll<PointerSlot>(name);
}

OfxRectD HostPropertySet::getRectD(std::string_view name) const {
    return {getDouble(name, 0), getDouble(name, 1), getDouble(name, 2), getDouble(name, 3)};
}

OfxRectI HostPropertySet::getRectI(std::string_view name) const {
    return {getInt(name, 0), getInt(name, 1), getInt(name, 2), getInt(name, 3)};
}

OfxPointD HostPropertySet::getPointD(std::string_view name) const {
    return {getDouble(name, 0), getDouble(name, 1)};
}

// ---------------------------------------------------------------------------------------------
// Host-side writes
// ---------------------------------------------------------------------------------------------

template <class Slot>
void HostPropertySet::hostSet(const std::string& name, typename Slot::Stored value, int index) {
    if (index < 0) {
        throw std::out_of_range(quoted(name) + ": negative index " + std::to_string(index));
    }
    std::unique_lock lock(mutex_);
    auto found = properties_.find(name);
    if (found == properties_.end()) {
        Property property;
        property.values = typename Slot::Storage();
        property.defaults = typename Slot::Storage();
        property.dimension = Dimension::Variable;
        found = properties_.emplace(name, std::move(property)).first;
    }
    Property& property = found->second;
    if (!std::holds_alternative<typename Slot::Storage>(property.values)) {
        property.values = typename Slot::Storage();
        property.defaults = typename Slot::Storage();
    }
    auto& list = std::get<typename Slot::Storage>(property.values);
    const auto position = static_cast<std::size_t>(index);
    if (position >= list.size()) {
        list.resize(position + 1);
    }
    list[position] = std::move(value);
}

void HostPropertySet::setInt(const std::string& name, int value, int index) {
    hostSet<IntSlot>(name, value, index);
}

void HostPropertySet::setDouble(const std::string& name, double value, int index) {
    hostSet<DoubleSlot>(name, value, index);
}

void HostPropertySet::setString(const std::string& name, const std::string& value, int index) {
    hostSet<StringSlot>(name, value, index);
}

void HostPropertySet::setPointer(const std::string& name, void* value, int index) {
    hostSet<PointerSlot>(name, value, index);
}

namespace {

// Replaces the values of `name` (creating or retyping it), keeping its access and dimension kind.
template <class Storage, class Source>
void replaceAll(std::map<std::string, Property, std::less<>>& properties, const std::string& name,
                Source values) {
    auto found = properties.find(name);
    if (found == properties.end()) {
        Property property;
        property.defaults = Storage();
        property.dimension = Dimension::Variable;
        found = properties.emplace(name, std::move(property)).first;
    }
    if (!std::holds_alternative<Storage>(found->second.defaults)) {
        found->second.defaults = Storage();
    }
    found->second.values = makeStorage<Storage>(std::move(values));
}

}  // namespace

void HostPropertySet::setInts(const std::string& name, std::vector<int> values) {
    std::unique_lock lock(mutex_);
    replaceAll<Property::Ints>(properties_, name, std::move(values));
}

void HostPropertySet::setDoubles(const std::string& name, std::vector<double> values) {
    std::unique_lock lock(mutex_);
    replaceAll<Property::Doubles>(properties_, name, std::move(values));
}

void HostPropertySet::setStrings(const std::string& name, std::vector<std::string> values) {
    std::unique_lock lock(mutex_);
    replaceAll<Property::Strings>(properties_, name, std::move(values));
}

void HostPropertySet::setPointers(const std::string& name, std::vector<void*> values) {
    std::unique_lock lock(mutex_);
    replaceAll<Property::Pointers>(properties_, name, std::move(values));
}

void HostPropertySet::setRect(const std::string& name, const OfxRectD& rect) {
    setDoubles(name, {rect.x1, rect.y1, rect.x2, rect.y2});
}

void HostPropertySet::setRect(const std::string& name, const OfxRectI& rect) {
    setInts(name, {rect.x1, rect.y1, rect.x2, rect.y2});
}

void HostPropertySet::setPoint(const std::string& name, const OfxPointD& point) {
    setDoubles(name, {point.x, point.y});
}

// ---------------------------------------------------------------------------------------------
// Suite side
// ---------------------------------------------------------------------------------------------

template <class Slot>
OfxStatus HostPropertySet::setOne(const char* name, int index, typename Slot::In value) {
    if (!name) {
        return kOfxStatErrUnknown;
    }
    std::unique_lock lock(mutex_);
    auto found = properties_.find(std::string_view(name));
    if (found == properties_.end()) {
        return kOfxStatErrUnknown;
    }
    Property& property = found->second;
    auto* list = std::get_if<typename Slot::Storage>(&property.values);
    if (!list || property.access == Access::ReadOnly || isNullInput<Slot>(value)) {
        return kOfxStatErrValue;
    }
    const int size = static_cast<int>(list->size());
    const bool append = property.dimension == Dimension::Variable && index == size;
    if (index < 0 || (index >= size && !append)) {
        return kOfxStatErrBadIndex;
    }
    if (append) {
        list->push_back(Slot::store(value));
    } else {
        (*list)[static_cast<std::size_t>(index)] = Slot::store(value);
    }
    return kOfxStatOK;
}

template <class Slot>
OfxStatus HostPropertySet::setMany(const char* name, int count, const typename Slot::In* values) {
    if (!name) {
        return kOfxStatErrUnknown;
    }
    std::unique_lock lock(mutex_);
    auto found = properties_.find(std::string_view(name));
    if (found == properties_.end()) {
        return kOfxStatErrUnknown;
    }
    Property& property = found->second;
    auto* list = std::get_if<typename Slot::Storage>(&property.values);
    if (!list || property.access == Access::ReadOnly || (count > 0 && !values)) {
        return kOfxStatErrValue;
    }
    if (count < 0 || (property.dimension == Dimension::Fixed && count > property.size())) {
        return kOfxStatErrBadIndex;
    }
    for (int i = 0; i < count; ++i) {
        if (isNullInput<Slot>(values[i])) {
            return kOfxStatErrValue;
        }
    }
    if (property.dimension == Dimension::Variable) {
        list->resize(static_cast<std::size_t>(count));
    }
    for (int i = 0; i < count; ++i) {
        (*list)[static_cast<std::size_t>(i)] = Slot::store(values[i]);
    }
    return kOfxStatOK;
}

template <class Slot>
OfxStatus HostPropertySet::getOne(const char* name, int index, typename Slot::Out* value) const {
    if (!name) {
        return kOfxStatErrUnknown;
    }
    std::shared_lock lock(mutex_);
    auto found = properties_.find(std::string_view(name));
    if (found == properties_.end()) {
        return kOfxStatErrUnknown;
    }
    const auto* list = std::get_if<typename Slot::Storage>(&found->second.values);
    if (!list || !value) {
        return kOfxStatErrValue;
    }
    if (index < 0 || index >= static_cast<int>(list->size())) {
        return kOfxStatErrBadIndex;
    }
    *value = Slot::out((*list)[static_cast<std::size_t>(index)]);
    return kOfxStatOK;
}

template <class Slot>
OfxStatus HostPropertySet::getMany(const char* name, int count, typename Slot::Out* values) const {
    if (!name) {
        return kOfxStatErrUnknown;
    }
    std::shared_lock lock(mutex_);
    auto found = properties_.find(std::string_view(name));
    if (found == properties_.end()) {
        return kOfxStatErrUnknown;
    }
    const auto* list = std::get_if<typename Slot::Storage>(&found->second.values);
    if (!list || (count > 0 && !values)) {
        return kOfxStatErrValue;
    }
    if (count < 0 || count > static_cast<int>(list->size())) {
        return kOfxStatErrBadIndex;
    }
    for (int i = 0; i < count; ++i) {
        values[i] = Slot::out((*list)[static_cast<std::size_t>(i)]);
    }
    return kOfxStatOK;
}

OfxStatus HostPropertySet::suiteSetInt(const char* name, int index, int value) {
    return setOne<IntSlot>(name, index, value);
}

OfxStatus HostPropertySet::suiteSetDouble(const char* name, int index, double value) {
    return setOne<DoubleSlot>(name, index, value);
}

OfxStatus HostPropertySet::suiteSetString(const char* name, int index, const char* value) {
    return setOne<StringSlot>(name, index, value);
}

OfxStatus HostPropertySet::suiteSetPointer(const char* name, int index, void* value) {
    return setOne<PointerSlot>(name, index, value);
}

OfxStatus HostPropertySet::suiteSetIntN(const char* name, int count, const int* values) {
    return setMany<IntSlot>(name, count, values);
}

OfxStatus HostPropertySet::suiteSetDoubleN(const char* name, int count, const double* values) {
    return setMany<DoubleSlot>(name, count, values);
}

OfxStatus HostPropertySet::suiteSetStringN(const char* name, int count, const char* const* values) {
    return setMany<StringSlot>(name, count, values);
}

OfxStatus HostPropertySet::suiteSetPointerN(const char* name, int count, void* const* values) {
    return setMany<PointerSlot>(name, count, values);
}

OfxStatus HostPropertySet::suiteGetInt(const char* name, int index, int* value) const {
    return getOne<IntSlot>(name, index, value);
}

OfxStatus HostPropertySet::suiteGetDouble(const char* name, int index, double* value) const {
    return getOne<DoubleSlot>(name, index, value);
}

OfxStatus HostPropertySet::suiteGetString(const char* name, int index, char** value) {
    return getOne<StringSlot>(name, index, value);
}

OfxStatus HostPropertySet::suiteGetPointer(const char* name, int index, void** value) const {
    return getOne<PointerSlot>(name, index, value);
}

OfxStatus HostPropertySet::suiteGetIntN(const char* name, int count, int* values) const {
    return getMany<IntSlot>(name, count, values);
}

OfxStatus HostPropertySet::suiteGetDoubleN(const char* name, int count, double* values) const {
    return getMany<DoubleSlot>(name, count, values);
}

OfxStatus HostPropertySet::suiteGetStringN(const char* name, int count, char** values) {
    return getMany<StringSlot>(name, count, values);
}

OfxStatus HostPropertySet::suiteGetPointerN(const char* name, int count, void** values) const {
    return getMany<PointerSlot>(name, count, values);
}

OfxStatus HostPropertySet::suiteReset(const char* name) {
    if (!name) {
        return kOfxStatErrUnknown;
    }
    std::unique_lock lock(mutex_);
    auto found = properties_.find(std::string_view(name));
    if (found == properties_.end()) {
        return kOfxStatErrUnknown;
    }
    if (found->second.access == Access::ReadOnly) {
        return kOfxStatErrValue;
    }
    found->second.values = found->second.defaults;
    return kOfxStatOK;
}

OfxStatus HostPropertySet::suiteGetDimension(const char* name, int* count) const {
    if (!name) {
        return kOfxStatErrUnknown;
    }
    std::shared_lock lock(mutex_);
    auto found = properties_.find(std::string_view(name));
    if (found == properties_.end()) {
        return kOfxStatErrUnknown;
    }
    if (!count) {
        return kOfxStatErrValue;
    }
    *count = found->second.size();
    return kOfxStatOK;
}

}  // namespace ZarvelHost
