#include "platform/foundation/XmlPlistWriter.h"

#include "platform/foundation/XmlPlistBuilder.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {
// 0001-01-01 and 9999-12-31 23:59:59 in seconds since the reference date (2001-01-01): the years a
// four-digit date can name.
constexpr double earliestDate = -63113904000.0;
constexpr double latestDate = 252423993599.0;

class Writer {
public:
    QByteArray out;
    Error error;
    bool failed = false;

    void value(const PlistPtr& node, int depth)
    {
        if (failed)
            return;
        if (!node)
            return fail("A property list cannot hold an absent value.");
        if (depth > XmlPlistBuilder::maximumDepth)
            return fail("The property list is nested too deeply.");
        switch (node->type()) {
        case PlistValue::Type::Dictionary:
            return dictionary(*node->asDictionary(), depth);
        case PlistValue::Type::Array:
            return array(*node->asArray(), depth);
        case PlistValue::Type::String:
            return text("string", *node->asString(), depth);
        case PlistValue::Type::Integer: {
            char digits[24];
            const auto result = std::to_chars(digits, digits + sizeof digits, *node->asInteger());
            return element("integer", std::string_view(digits, size_t(result.ptr - digits)), depth);
        }
        case PlistValue::Type::Real:
            return element("real", real(*node->asReal()), depth);
        case PlistValue::Type::Boolean:
            indent(depth);
            out += *node->asBoolean() ? "<true/>\n" : "<false/>\n";
            return;
        case PlistValue::Type::Date:
            return date(*node->asDateSeconds(), depth);
        case PlistValue::Type::Data:
            return element("data", node->asData()->toBase64().toStdString(), depth);
        }
    }

private:
    void fail(const char* description)
    {
        if (!failed)
            error = Error(Error::cocoaDomain, XmlPlistWriter::propertyListWriteInvalidError, description);
        failed = true;
    }

    void indent(int depth)
    {
        for (int level = 1; level < depth; ++level)
            out += '\t';
    }

    void element(const char* name, std::string_view content, int depth)
    {
        indent(depth);
        out += '<';
        out += name;
        out += '>';
        out.append(content.data(), qsizetype(content.size()));
        out += "</";
        out += name;
        out += ">\n";
    }

    // Only what XML requires is escaped; a carriage return too, which a reader would otherwise turn
    // into a line feed.
    void text(const char* name, const std::string& content, int depth)
    {
        if (content.find('\0') != std::string::npos)
            return fail(std::string_view(name) == "key" ? "A dictionary key holds a NUL character."
                                                        : "A string holds a NUL character.");
        std::string escaped;
        escaped.reserve(content.size());
        for (const char c : content) {
            switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '\r':
                escaped += "&#13;";
                break;
            default:
                escaped += c;
            }
        }
        element(name, escaped, depth);
    }

    static std::string real(double number)
    {
        if (std::isnan(number))
            return "nan";
        if (std::isinf(number))
            return number > 0 ? "+infinity" : "-infinity";
        char digits[32];
        const auto result = std::to_chars(digits, digits + sizeof digits, number);
        return std::string(digits, size_t(result.ptr - digits));
    }

    void date(double seconds, int depth)
    {
        if (!std::isfinite(seconds) || seconds < earliestDate || seconds >= latestDate + 1.0)
            return fail("The date lies outside the years an XML property list can store.");
        const auto whole = static_cast<int64_t>(std::floor(seconds));
        constexpr int64_t referenceDays = 11323; // 2001-01-01 after 1970-01-01
        int64_t days = whole / 86400;
        int64_t rest = whole % 86400;
        if (rest < 0) {
            rest += 86400;
            --days;
        }
        days += referenceDays;
        // Civil date from days since 1970-01-01.
        days += 719468;
        const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
        const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
        const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
        const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
        const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
        const int64_t year = int64_t(yearOfEra) + era * 400 + (month <= 2);
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(year), month % 100u,
                      day % 100u, int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
        element("date", text, depth);
    }

    void array(const PlistArray& items, int depth)
    {
        indent(depth);
        if (items.empty()) {
            out += "<array/>\n";
            return;
        }
        out += "<array>\n";
        for (const PlistPtr& item : items)
            value(item, depth + 1);
        indent(depth);
        out += "</array>\n";
    }

    void dictionary(const PlistDictionary& entries, int depth)
    {
        indent(depth);
        if (entries.empty()) {
            out += "<dict/>\n";
            return;
        }
        out += "<dict>\n";
        for (const auto& [key, item] : entries) {
            text("key", key, depth + 1);
            value(item, depth + 1);
        }
        indent(depth);
        out += "</dict>\n";
    }
};
} // namespace

QByteArray XmlPlistWriter::write(const PlistPtr& value, Error* error)
{
    Writer writer;
    writer.out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                 "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                 "<plist version=\"1.0\">\n";
    writer.value(value, 1);
    if (writer.failed) {
        qmSetError(error, writer.error);
        return {};
    }
    writer.out += "</plist>\n";
    return writer.out;
}
