#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/Preferences.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace {
PlistPtr parseArgumentValue(const QString& text)
{
    if (text == QLatin1String("YES") || text == QLatin1String("true"))
        return PlistValue::boolean(true);
    if (text == QLatin1String("NO") || text == QLatin1String("false"))
        return PlistValue::boolean(false);
    static const QRegularExpression integerPattern(QStringLiteral("^[+-]?[0-9]+$"));
    static const QRegularExpression realPattern(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    bool ok = false;
    if (integerPattern.match(text).hasMatch()) {
        const qlonglong value = text.toLongLong(&ok);
        if (ok)
            return PlistValue::integer(value);
    }
    if (realPattern.match(text).hasMatch()) {
        const double value = text.toDouble(&ok);
        if (ok && std::isfinite(value))
            return PlistValue::real(value);
    }
    return PlistValue::string(text.toStdString());
}

// The leading integer of a string, as a person would read it: optional spaces and sign, digits;
// saturates instead of overflowing.
int64_t leadingInteger(const std::string& text)
{
    size_t at = text.find_first_not_of(" \t\n");
    if (at == std::string::npos)
        return 0;
    const bool negative = text[at] == '-';
    if (text[at] == '-' || text[at] == '+')
        ++at;
    int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const int digit = text[at] - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10)
            return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

int64_t truncatedReal(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775807.0)
        return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}
} // namespace

UserDefaults::UserDefaults()
{
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    m_argumentDomain = parseArguments(arguments);
}

UserDefaults& UserDefaults::standard()
{
    QM_CASSERT(isMainThread(), "UserDefaults", "Main thread only!");
    static UserDefaults defaults;
    return defaults;
}

void UserDefaults::setArgumentsForTesting(const QStringList& arguments)
{
    standard().m_argumentDomain = parseArguments(arguments);
}

PlistDictionary UserDefaults::parseArguments(const QStringList& arguments)
{
    PlistDictionary domain;
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.size() < 2 || !argument.startsWith(QLatin1Char('-')) ||
            argument.startsWith(QLatin1String("--")))
            continue;
        domain[argument.mid(1).toStdString()] = parseArgumentValue(arguments[i + 1]);
        ++i;
    }
    return domain;
}

PlistPtr UserDefaults::objectForKey(const std::string& key) const
{
    QM_ASSERT(isMainThread(), "Main thread only!");
    const auto argument = m_argumentDomain.find(key);
    if (argument != m_argumentDomain.end())
        return argument->second;
    return Preferences::copyValue(key, Preferences::applicationDomain);
}

bool UserDefaults::boolForKey(const std::string& key) const
{
    const auto value = objectForKey(key);
    if (!value)
        return false;
    if (const auto flag = value->asBoolean())
        return *flag;
    if (const auto number = value->asReal())
        return *number != 0.0;
    if (const auto* text = value->asString()) {
        const QString word = QString::fromStdString(*text).trimmed();
        if (word.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0 ||
            word.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        return leadingInteger(*text) != 0;
    }
    return false;
}

int64_t UserDefaults::integerForKey(const std::string& key) const
{
    const auto value = objectForKey(key);
    if (!value)
        return 0;
    if (value->isInteger())
        return *value->asInteger();
    if (const auto number = value->asReal())
        return truncatedReal(*number);
    if (const auto flag = value->asBoolean())
        return *flag ? 1 : 0;
    if (const auto* text = value->asString())
        return leadingInteger(*text);
    return 0;
}

bool UserDefaults::setObject(const std::string& key, const PlistPtr& value, Error* error)
{
    QM_ASSERT(isMainThread(), "Main thread only!");
    return Preferences::setValue(key, value, Preferences::applicationDomain, error);
}
