#include "platform/foundation/PropertyList.h"

#include <QTimeZone>
#include <cmath>
#include <cstdio>

namespace {
// 2^63: the first double beyond int64_t's range; every double below it down to -2^63 converts.
constexpr double int64Limit = 9223372036854775808.0;

bool isBareWord(const std::string& text)
{
    if (text.empty())
        return false;
    for (const unsigned char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '.' || c == '/' || c == '-' || c == ':' || c >= 0x80;
        if (!plain)
            return false;
    }
    return true;
}

void appendQuoted(std::string& out, const std::string& text)
{
    if (isBareWord(text)) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    out += '"';
}

std::string formatReal(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}
} // namespace

PlistPtr PlistValue::string(std::string value)
{
    return make(Type::String, std::move(value));
}
PlistPtr PlistValue::integer(int64_t value)
{
    return make(Type::Integer, value);
}
PlistPtr PlistValue::real(double value)
{
    return make(Type::Real, value);
}
PlistPtr PlistValue::boolean(bool value)
{
    return make(Type::Boolean, value);
}
PlistPtr PlistValue::data(QByteArray value)
{
    return make(Type::Data, std::move(value));
}
PlistPtr PlistValue::dictionary(PlistDictionary value)
{
    return make(Type::Dictionary, std::move(value));
}
PlistPtr PlistValue::array(PlistArray value)
{
    return make(Type::Array, std::move(value));
}

PlistPtr PlistValue::date(double secondsSinceReferenceDate)
{
    return make(Type::Date, secondsSinceReferenceDate);
}

PlistPtr PlistValue::date(const QDateTime& value)
{
    if (!value.isValid())
        return date(0.0);
    return date(static_cast<double>(referenceDate().msecsTo(value)) / 1000.0);
}

QDateTime PlistValue::referenceDate()
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());
}

const std::string* PlistValue::asString() const
{
    return m_type == Type::String ? &std::get<std::string>(m_storage) : nullptr;
}

std::optional<int64_t> PlistValue::asInteger() const
{
    if (m_type == Type::Integer)
        return std::get<int64_t>(m_storage);
    if (m_type == Type::Real) {
        const double value = std::get<double>(m_storage);
        if (std::isfinite(value) && std::trunc(value) == value && value >= -int64Limit && value < int64Limit)
            return static_cast<int64_t>(value);
    }
    return std::nullopt;
}

std::optional<double> PlistValue::asReal() const
{
    if (m_type == Type::Real)
        return std::get<double>(m_storage);
    if (m_type == Type::Integer)
        return static_cast<double>(std::get<int64_t>(m_storage));
    return std::nullopt;
}

std::optional<bool> PlistValue::asBoolean() const
{
    if (m_type == Type::Boolean)
        return std::get<bool>(m_storage);
    return std::nullopt;
}

std::optional<double> PlistValue::asDateSeconds() const
{
    if (m_type == Type::Date)
        return std::get<double>(m_storage);
    return std::nullopt;
}

std::optional<QDateTime> PlistValue::asDate() const
{
    const auto seconds = asDateSeconds();
    if (!seconds)
        return std::nullopt;
    return referenceDate().addMSecs(static_cast<qint64>(std::llround(*seconds * 1000.0)));
}

const QByteArray* PlistValue::asData() const
{
    return m_type == Type::Data ? &std::get<QByteArray>(m_storage) : nullptr;
}

const PlistDictionary* PlistValue::asDictionary() const
{
    return m_type == Type::Dictionary ? &std::get<PlistDictionary>(m_storage) : nullptr;
}

const PlistArray* PlistValue::asArray() const
{
    return m_type == Type::Array ? &std::get<PlistArray>(m_storage) : nullptr;
}

PlistPtr PlistValue::objectForKey(const std::string& key) const
{
    const auto* dictionary = asDictionary();
    if (!dictionary)
        return nullptr;
    const auto found = dictionary->find(key);
    return found == dictionary->end() ? nullptr : found->second;
}

bool PlistValue::operator==(const PlistValue& other) const
{
    if (m_type != other.m_type)
        return false;
    if (const auto* mine = asDictionary()) {
        const auto* theirs = other.asDictionary();
        if (mine->size() != theirs->size())
            return false;
        for (auto a = mine->begin(), b = theirs->begin(); a != mine->end(); ++a, ++b) {
            if (a->first != b->first || !equal(a->second, b->second))
                return false;
        }
        return true;
    }
    if (const auto* mine = asArray()) {
        const auto* theirs = other.asArray();
        if (mine->size() != theirs->size())
            return false;
        for (size_t i = 0; i < mine->size(); ++i) {
            if (!equal((*mine)[i], (*theirs)[i]))
                return false;
        }
        return true;
    }
    // A value is the same as itself even when it is no number, so a list read twice compares equal.
    if (const auto* mine = std::get_if<double>(&m_storage); mine && std::isnan(*mine))
        return std::isnan(std::get<double>(other.m_storage));
    return m_storage == other.m_storage;
}

bool PlistValue::equal(const PlistPtr& a, const PlistPtr& b)
{
    if (!a || !b)
        return !a && !b;
    return a == b || *a == *b;
}

std::string PlistValue::description() const
{
    std::string out;
    describe(out);
    return out;
}

void PlistValue::describe(std::string& out) const
{
    switch (m_type) {
    case Type::String:
        appendQuoted(out, std::get<std::string>(m_storage));
        break;
    case Type::Integer:
        out += std::to_string(std::get<int64_t>(m_storage));
        break;
    case Type::Real:
        out += formatReal(std::get<double>(m_storage));
        break;
    case Type::Boolean:
        out += std::get<bool>(m_storage) ? "YES" : "NO";
        break;
    case Type::Date:
        out += asDate()->toString(Qt::ISODateWithMs).toStdString();
        break;
    case Type::Data:
        out += '<' + std::get<QByteArray>(m_storage).toHex().toStdString() + '>';
        break;
    case Type::Array: {
        out += '(';
        const auto& items = std::get<PlistArray>(m_storage);
        for (size_t i = 0; i < items.size(); ++i) {
            out += i ? ", " : "";
            if (items[i])
                items[i]->describe(out);
            else
                out += "nil";
        }
        out += ')';
        break;
    }
    case Type::Dictionary:
        out += '{';
        for (const auto& [key, value] : std::get<PlistDictionary>(m_storage)) {
            out += ' ';
            appendQuoted(out, key);
            out += " = ";
            if (value)
                value->describe(out);
            else
                out += "nil";
            out += ';';
        }
        out += " }";
        break;
    }
}
