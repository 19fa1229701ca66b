#include "platform/foundation/PlistValueBatch.h"

#include <algorithm>

PlistValueBatch::PlistValueBatch(size_t capacity)
    : m_capacity(std::max<size_t>(capacity, 1))
{}

template <typename T> PlistPtr PlistValueBatch::add(PlistValue::Type type, T&& value)
{
    if (!m_values || m_used == m_capacity) {
        m_values = std::make_shared<std::optional<PlistValue>[]>(m_capacity);
        m_used = 0;
    }
    std::optional<PlistValue>& slot = m_values[m_used++];
    slot.emplace(PlistValue::BatchKey(), type, std::forward<T>(value));
    // Shares the batch's ownership and points at the one value.
    return PlistPtr(m_values, &*slot);
}

PlistPtr PlistValueBatch::string(std::string value)
{
    return add(PlistValue::Type::String, std::move(value));
}

PlistPtr PlistValueBatch::integer(int64_t value)
{
    return add(PlistValue::Type::Integer, value);
}

PlistPtr PlistValueBatch::real(double value)
{
    return add(PlistValue::Type::Real, value);
}

PlistPtr PlistValueBatch::boolean(bool value)
{
    return add(PlistValue::Type::Boolean, value);
}

PlistPtr PlistValueBatch::date(double secondsSinceReferenceDate)
{
    return add(PlistValue::Type::Date, secondsSinceReferenceDate);
}

PlistPtr PlistValueBatch::data(QByteArray value)
{
    return add(PlistValue::Type::Data, std::move(value));
}
