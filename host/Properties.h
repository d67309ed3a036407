// Property sets of the test host: the named, typed, indexed values behind every
// OfxPropertySetHandle the host gives out (host description, descriptors, instances, clips,
// images, parameters, action arguments).
//
// Two ways in:
//  - the suite side (`suiteGet*`, `suiteSet*` ...), which the C property suite calls on behalf
//    of the plug-in. It follows the standard's rules: an unknown name answers
//    kOfxStatErrUnknown, an index outside the values kOfxStatErrBadIndex, a value of the wrong
//    type or a write to a read-only property kOfxStatErrValue. It does not count or record:
//    the C functions in front of it do that.
//  - the host side (`define*`, `set*`, `get*`, `remove`), which tests, the driver and the schema
//    builders use. It bypasses every rule: any property can be given any type, dimension and
//    value, so that a test can hand the plug-in values no honest host would.
//
// Thread-safety: every member function is safe to call concurrently with any other on the same
// set (readers share a lock, writers take it alone), as a real host's sets are while worker
// threads read image and instance properties. A string pointer handed out by `suiteGetString`
// points into the set's own storage and stays valid until that property is written, removed or
// reset, or the set is destroyed.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/Handles.h"
#include "host/SharedMutex.h"
#include "openfx/openfx.h"

namespace ZarvelHost {

class Host;

/// The four value types of the standard's property sets.
enum class PropertyType { Int, Double, String, Pointer };

/// "int", "double", "string" or "pointer".
const char* propertyTypeName(PropertyType type);

/// What the plug-in may do with a property through the suite. The host side may always write.
enum class Access { ReadOnly, ReadWrite };

/// Fixed: the number of values is set when the property is defined; suite writes cannot change
/// it. Variable: a suite write at index == dimension appends, and the N setters replace the
/// whole list.
enum class Dimension { Fixed, Variable };

/// One property: its values, the values `propReset` restores, and its rules.
struct Property {
    using Ints = std::vector<int>;
    using Doubles = std::vector<double>;
    /// A deque, so that appending keeps the characters of the earlier values where they are.
    using Strings = std::deque<std::string>;
    using Pointers = std::vector<void*>;
    using Values = std::variant<Ints, Doubles, Strings, Pointers>;

    Values values;
    Values defaults;
    Access access = Access::ReadWrite;
    Dimension dimension = Dimension::Fixed;

    PropertyType type() const { return static_cast<PropertyType>(values.index()); }
    int size() const;
};

/// A property set with a handle the plug-in can use. Registers itself with its host on
/// construction (so the suite can tell live handles from stale ones) and unregisters on
/// destruction; the host must outlive it. Not copyable or movable: the handle is its address.
class HostPropertySet {
public:
    static constexpr HandleKind handleKind = HandleKind::PropertySet;

    /// `kind` is a free label shown in diagnostics ("image", "inArgs:OfxImageEffectActionRender").
    explicit HostPropertySet(Host& host, std::string kind = {});
    ~HostPropertySet();
    HostPropertySet(const HostPropertySet&) = delete;
    HostPropertySet& operator=(const HostPropertySet&) = delete;

    /// The handle to give the plug-in (this object's address).
    OfxPropertySetHandle handle() const;

    /// The set behind `handle`, without any check. Use Host::findPropertySet for a checked look-up.
    static HostPropertySet* fromHandle(OfxPropertySetHandle handle);

    Host& host() const { return host_; }
    const std::string& kind() const { return kind_; }

    // -- Definition (host side) ---------------------------------------------------------------
    // Each define replaces any property of that name. For a Fixed property the dimension is the
    // number of values given; those values are also what `propReset` restores.

    void defineInt(const std::string& name, std::vector<int> values,
                   Access access = Access::ReadWrite, Dimension dimension = Dimension::Fixed);
    void defineDouble(const std::string& name, std::vector<double> values,
                      Access access = Access::ReadWrite, Dimension dimension = Dimension::Fixed);
    void defineString(const std::string& name, std::vector<std::string> values,
                      Access access = Access::ReadWrite, Dimension dimension = Dimension::Fixed);
    void definePointer(const std::string& name, std::vector<void*> values,
                       Access access = Access::ReadWrite, Dimension dimension = Dimension::Fixed);

    /// Removes a property; the suite then answers kOfxStatErrUnknown for it. No-op if absent.
    void remove(std::string_view name);

    /// Makes every property of `other` (definition, values, defaults) a property of this set,
    /// replacing those of the same name. `other` may not be this set.
    void copyFrom(const HostPropertySet& other);

    /// Changes who may write `name` through the suite. Throws std::out_of_range if absent.
    void setAccess(std::string_view name, Access access);

    // -- Host-side reads ------------------------------------------------------------------------
    // Throw std::out_of_range (naming the property) when the property or index does not exist,
    // std::invalid_argument when the property has another type.

    bool has(std::string_view name) const;
    PropertyType type(std::string_view name) const;
    int dimension(std::string_view name) const;
    Access access(std::string_view name) const;
    /// Every property name, in byte-wise order.
    std::vector<std::string> names() const;

    int getInt(std::string_view name, int index = 0) const;
    double getDouble(std::string_view name, int index = 0) const;
    std::string getString(std::string_view name, int index = 0) const;
    void* getPointer(std::string_view name, int index = 0) const;
    std::vector<int> getInts(std::string_view name) const;
    std::vector<double> getDoubles(std::string_view name) const;
    std::vector<std::string> getStrings(std::string_view name) const;
    std::vector<void*> getPointers(std::string_view name) const;

    /// Four doubles x1, y1, x2, y2.
    OfxRectD getRectD(std::string_view name) const;
    /// Four ints x1, y1, x2, y2.
    OfxRectI getRectI(std::string_view name) const;
    /// Two doubles x, y.
    OfxPointD getPointD(std::string_view name) const;

    // -- Host-side writes (bypass every rule) ---------------------------------------------------
    // A missing property is created (ReadWrite, Variable). A property of another type is
    // retyped (its old values dropped). Writing past the end grows the list, filling the gap
    // with zeros, null pointers or empty strings. Access and Fixed/Variable are kept.

    void setInt(const std::string& name, int value, int index = 0);
    void setDouble(const std::string& name, double value, int index = 0);
    void setString(const std::string& name, const std::string& value, int index = 0);
    void setPointer(const std::string& name, void* value, int index = 0);
    /// Replace all values (the dimension becomes the number given).
    void setInts(const std::string& name, std::vector<int> values);
    void setDoubles(const std::string& name, std::vector<double> values);
    void setStrings(const std::string& name, std::vector<std::string> values);
    void setPointers(const std::string& name, std::vector<void*> values);
    void setRect(const std::string& name, const OfxRectD& rect);
    void setRect(const std::string& name, const OfxRectI& rect);
    void setPoint(const std::string& name, const OfxPointD& point);

    // -- Suite side (the plug-in's view) --------------------------------------------------------
    // Statuses: kOfxStatOK; kOfxStatErrUnknown for a null or unknown name; kOfxStatErrValue for
    // a type mismatch, a write to a read-only property, a null out pointer or a null string
    // value; kOfxStatErrBadIndex for an index or count outside the values (a write at index ==
    // dimension appends on a Variable property). On failure nothing is written, out values
    // included.

    OfxStatus suiteSetInt(const char* name, int index, int value);
    OfxStatus suiteSetDouble(const char* name, int index, double value);
    OfxStatus suiteSetString(const char* name, int index, const char* value);
    OfxStatus suiteSetPointer(const char* name, int index, void* value);
    /// Fixed: sets the first `count` values (count up to the dimension). Variable: the list
    /// becomes exactly these `count` values.
    OfxStatus suiteSetIntN(const char* name, int count, const int* values);
    OfxStatus suiteSetDoubleN(const char* name, int count, const double* values);
    OfxStatus suiteSetStringN(const char* name, int count, const char* const* values);
    OfxStatus suiteSetPointerN(const char* name, int count, void* const* values);

    OfxStatus suiteGetInt(const char* name, int index, int* value) const;
    OfxStatus suiteGetDouble(const char* name, int index, double* value) const;
    /// `*value` points into this set's storage (see the lifetime rule at the top).
    OfxStatus suiteGetString(const char* name, int index, char** value);
    OfxStatus suiteGetPointer(const char* name, int index, void** value) const;
    /// Reads the first `count` values; count above the dimension is kOfxStatErrBadIndex.
    OfxStatus suiteGetIntN(const char* name, int count, int* values) const;
    OfxStatus suiteGetDoubleN(const char* name, int count, double* values) const;
    OfxStatus suiteGetStringN(const char* name, int count, char** values);
    OfxStatus suiteGetPointerN(const char* name, int count, void** values) const;

    /// Restores the values given at definition.
    OfxStatus suiteReset(const char* name);
    OfxStatus suiteGetDimension(const char* name, int* count) const;

private:
    template <class Slot>
    OfxStatus setOne(const char* name, int index, typename Slot::In value);
    template <class Slot>
    OfxStatus setMany(const char* name, int count, const typename Slot::In* values);
    template <class Slot>
    OfxStatus getOne(const char* name, int index, typename Slot::Out* value) const;
    template <class Slot>
    OfxStatus getMany(const char* name, int count, typename Slot::Out* values) const;
    template <class Slot>
    void hostSet(const std::string& name, typename Slot::Stored value, int index);
    template <class Slot>
    typename Slot::Stored hostGet(std::string_view name, int index) const;
    template <class Slot>
    std::vector<typename Slot::Stored> hostGetAll(std::string_view name) const;

    const Property& require(std::string_view name) const;

    Host& host_;
    std::string kind_;
    mutable SharedMutex mutex_;
    std::map<std::string, Property, std::less<>> properties_;
};

}  // namespace ZarvelHost
