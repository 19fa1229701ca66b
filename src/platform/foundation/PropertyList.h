#pragma once

#include "platform/foundation/PlistDictionary.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// Values are immutable once built, so one tree is shared read-only between threads without locks
// (PlistPtr is declared beside PlistDictionary).
using PlistArray = std::vector<PlistPtr>;

// One node of a property-list tree: dictionary, array, string (UTF-8), integer, real, boolean,
// date or data. Built through the static factories and never changed afterwards.
class PlistValue {
public:
    enum class Type { Dictionary, Array, String, Integer, Real, Boolean, Date, Data };

    static PlistPtr string(std::string value);
    static PlistPtr integer(int64_t value);
    static PlistPtr real(double value);
    static PlistPtr boolean(bool value);
    // A point in time; an invalid QDateTime gives the reference date.
    static PlistPtr date(const QDateTime& value);
    // Seconds since the property-list reference date, 2001-01-01 00:00:00 UTC.
    static PlistPtr date(double secondsSinceReferenceDate);
    static PlistPtr data(QByteArray value);
    static PlistPtr dictionary(PlistDictionary value);
    static PlistPtr array(PlistArray value);

    Type type() const { return m_type; }
    bool isDictionary() const { return m_type == Type::Dictionary; }
    bool isArray() const { return m_type == Type::Array; }
    bool isString() const { return m_type == Type::String; }
    bool isInteger() const { return m_type == Type::Integer; }
    bool isReal() const { return m_type == Type::Real; }
    bool isBoolean() const { return m_type == Type::Boolean; }
    bool isDate() const { return m_type == Type::Date; }
    bool isData() const { return m_type == Type::Data; }

    // Each accessor gives nullptr or no value when the node is of another type.
    const std::string* asString() const;
    // Integers, and reals with a whole value that fits: files written by other programs sometimes
    // store a count as <real>3</real>. Fractions, booleans and strings give no value.
    std::optional<int64_t> asInteger() const;
    // Reals and integers (converted).
    std::optional<double> asReal() const;
    std::optional<bool> asBoolean() const;
    // Seconds since the reference date (see date()).
    std::optional<double> asDateSeconds() const;
    // In UTC; no value for other types.
    std::optional<QDateTime> asDate() const;
    const QByteArray* asData() const;
    const PlistDictionary* asDictionary() const;
    const PlistArray* asArray() const;

    // nullptr when this is no dictionary or the key is absent.
    PlistPtr objectForKey(const std::string& key) const;

    // Deep comparison of type and value; reals compare exactly, and NaN equals NaN.
    bool operator==(const PlistValue& other) const;
    // Deep comparison of two possibly absent values (two absent values are equal).
    static bool equal(const PlistPtr& a, const PlistPtr& b);

    // Readable, one line, in the old-style text form: { key = value; }, ( a, b ), "text", <0a1b>.
    std::string description() const;

    // The reference date of property-list dates.
    static QDateTime referenceDate();

    // Only PlistValueBatch can make one, so only it builds values outside the factories.
    class BatchKey {
        friend class PlistValueBatch;
        BatchKey() = default;
    };
    template <typename T>
    PlistValue(BatchKey, Type type, T&& value)
        : PlistValue(type, std::forward<T>(value))
    {}

private:
    using Storage = std::variant<std::string, int64_t, double, bool, QByteArray, PlistDictionary, PlistArray>;

    // Built in place: moving a whole variant trips a false uninitialised-value warning in g++ 12.
    template <typename T>
    PlistValue(Type type, T&& value)
        : m_type(type)
        , m_storage(std::in_place_type<std::decay_t<T>>, std::forward<T>(value))
    {}
    // One allocation for the value and its reference count: reloads build millions of these.
    template <typename T> static PlistPtr make(Type type, T&& value)
    {
        struct Shared : PlistValue {
            Shared(Type sharedType, T&& sharedValue)
                : PlistValue(sharedType, std::forward<T>(sharedValue))
            {}
        };
        return std::make_shared<const Shared>(type, std::forward<T>(value));
    }
    void describe(std::string& out) const;

    Type m_type;
    // Dates keep their seconds since the reference date in the double alternative.
    Storage m_storage;
};
