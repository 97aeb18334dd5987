#pragma once
// Property lists: the value type and the XML property list 1.0 format
// (<?xml version="1.0" encoding="UTF-8"?>, the standard DOCTYPE, <plist
// version="1.0">, tab indentation), as other programs read and write it.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace PPx {

// A date: whole seconds since 1970-01-01 00:00:00 UTC (the format keeps whole
// seconds). Conversion to and from local time is the caller's.
struct PlistDate {
    int64_t seconds = 0;
    bool operator==(const PlistDate&) const = default;
};

class PropertyList;
using PlistArray = std::vector<PropertyList>;
using PlistData = std::vector<uint8_t>;

// A dictionary keeps its keys in the order they were set (or read); the writer
// sorts them by default, as the standard writer does.
class PlistDict {
public:
    using Entry = std::pair<std::string, PropertyList>;

    const PropertyList* Find(std::string_view key) const;
    PropertyList* Find(std::string_view key);
    // Replaces the value of an existing key in place, else appends.
    void Set(std::string key, PropertyList value);
    bool Remove(std::string_view key);

    size_t Size() const;
    bool Empty() const;
    const std::vector<Entry>& Entries() const { return mEntries; }
    std::vector<Entry>::const_iterator begin() const;
    std::vector<Entry>::const_iterator end() const;

    // Order does not matter.
    bool operator==(const PlistDict& other) const;

private:
    std::vector<Entry> mEntries;
};

class PropertyList {
public:
    enum class Type { String, Integer, Real, Boolean, Date, Data, Array, Dictionary };

    PropertyList() : mValue(PlistDict()) {} // an empty dictionary
    static PropertyList String(std::string value) { return PropertyList(Tag(), std::move(value)); }
    static PropertyList Integer(int64_t value) { return PropertyList(Tag(), value); }
    static PropertyList Real(double value) { return PropertyList(Tag(), value); }
    static PropertyList Boolean(bool value) { return PropertyList(Tag(), value); }
    static PropertyList Date(PlistDate value) { return PropertyList(Tag(), value); }
    static PropertyList Data(PlistData value) { return PropertyList(Tag(), std::move(value)); }
    static PropertyList Array(PlistArray value = {}) {
        return PropertyList(Tag(), std::move(value));
    }
    static PropertyList Dictionary(PlistDict value = {}) {
        return PropertyList(Tag(), std::move(value));
    }

    Type GetType() const { return static_cast<Type>(mValue.index()); }

    // The value when it is of that type, else null.
    const std::string* AsString() const { return std::get_if<std::string>(&mValue); }
    const int64_t* AsInteger() const { return std::get_if<int64_t>(&mValue); }
    const double* AsReal() const { return std::get_if<double>(&mValue); }
    const bool* AsBoolean() const { return std::get_if<bool>(&mValue); }
    const PlistDate* AsDate() const { return std::get_if<PlistDate>(&mValue); }
    const PlistData* AsData() const { return std::get_if<PlistData>(&mValue); }
    const PlistArray* AsArray() const { return std::get_if<PlistArray>(&mValue); }
    PlistArray* AsArray() { return std::get_if<PlistArray>(&mValue); }
    const PlistDict* AsDictionary() const { return std::get_if<PlistDict>(&mValue); }
    PlistDict* AsDictionary() { return std::get_if<PlistDict>(&mValue); }

    bool operator==(const PropertyList& other) const { return mValue == other.mValue; }

private:
    struct Tag {};
    template <typename T>
    PropertyList(Tag, T&& value)
        : mValue(std::in_place_type<std::decay_t<T>>, std::forward<T>(value)) {}

    std::variant<std::string, int64_t, double, bool, PlistDate, PlistData, PlistArray, PlistDict>
        mValue;
};

// Defined here, where PropertyList is complete.
inline size_t PlistDict::Size() const {
    return mEntries.size();
}
inline bool PlistDict::Empty() const {
    return mEntries.empty();
}
inline std::vector<PlistDict::Entry>::const_iterator PlistDict::begin() const {
    return mEntries.begin();
}
inline std::vector<PlistDict::Entry>::const_iterator PlistDict::end() const {
    return mEntries.end();
}

// Malformed property-list text.
class PlistError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class PlistKeyOrder { Sorted, AsStored };

// The XML text, ending with a line feed.
std::string WritePropertyList(const PropertyList& value,
                              PlistKeyOrder order = PlistKeyOrder::Sorted);

// Reads XML property-list text; throws PlistError (with the line) when it is
// malformed. NUL bytes after the end are accepted (deciphered files carry them).
PropertyList ReadPropertyList(std::string_view xml);
// The same without exceptions; `error` (optional) gets the reason.
bool TryReadPropertyList(std::string_view xml, PropertyList& out, std::string* error = nullptr);

} // namespace PPx
