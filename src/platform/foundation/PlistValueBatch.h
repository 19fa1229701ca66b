#pragma once

#include "platform/foundation/PropertyList.h"

#include <memory>
#include <optional>

// Scalar values (strings, numbers, booleans, dates, data) built side by side in one allocation
// with one reference count: each value keeps its whole batch alive. For readers that build many
// small values at once, such as the fields of a record, where an allocation per value is most of
// the cost of building them. Containers are never batched: a batched container holding values of
// its own batch would keep the batch alive forever.
//
// One builder per thread; the values it hands out are as shareable as any other.
class PlistValueBatch {
public:
    // Room for `capacity` values per allocation; more values start another allocation.
    explicit PlistValueBatch(size_t capacity);

    PlistPtr string(std::string value);
    PlistPtr integer(int64_t value);
    PlistPtr real(double value);
    PlistPtr boolean(bool value);
    // Seconds since the property-list reference date (see PlistValue::date()).
    PlistPtr date(double secondsSinceReferenceDate);
    PlistPtr data(QByteArray value);

private:
    template <typename T> PlistPtr add(PlistValue::Type type, T&& value);

    size_t m_capacity;
    // One allocation of m_capacity slots, the first m_used of them filled; it never grows, so
    // the values never move.
    std::shared_ptr<std::optional<PlistValue>[]> m_values;
    size_t m_used = 0;
};
