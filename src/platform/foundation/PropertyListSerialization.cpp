#include "platform/foundation/PropertyListSerialization.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyListLimits.h"
#include "platform/foundation/RegularFile.h"
#include "platform/foundation/XmlPlistBuilder.h"
#include "platform/foundation/XmlPlistWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <plist/plist.h>

namespace {
// Property-list errors, in the platform's numbering.
constexpr int propertyListWriteInvalidError = 3851;

struct PlistDeleter {
    void operator()(void* node) const { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

Error readError(std::string description)
{
    return Error(Error::cocoaDomain, Error::fileReadCorruptFileError, std::move(description));
}

Error writeError(std::string description)
{
    return Error(Error::cocoaDomain, propertyListWriteInvalidError, std::move(description));
}

PlistPtr convert(plist_t node, int depth, Error* error);

PlistPtr convertArray(plist_t node, int depth, Error* error)
{
    const uint32_t count = plist_array_get_size(node);
    PlistArray items;
    items.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto item = convert(plist_array_get_item(node, i), depth + 1, error);
        if (!item)
            return nullptr;
        items.push_back(std::move(item));
    }
    return PlistValue::array(std::move(items));
}

PlistPtr convertDictionary(plist_t node, int depth, Error* error)
{
    std::vector<PlistDictionary::value_type> entries;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(node, &iterator);
    if (!iterator) {
        qmSetError(error, readError("The property list could not be read (out of memory)."));
        return nullptr;
    }
    std::unique_ptr<void, decltype(&std::free)> iteratorGuard(iterator, &std::free);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, iterator, &key, &value);
        std::unique_ptr<char, decltype(&std::free)> keyGuard(key, &std::free);
        if (!value)
            break;
        auto converted = convert(value, depth + 1, error);
        if (!converted)
            return nullptr;
        entries.emplace_back(key ? std::string(key) : std::string(), std::move(converted));
    }
    return PlistValue::dictionary(PlistDictionary::fromEntries(std::move(entries)));
}

PlistPtr convertScalar(plist_t node, Error* error)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return PlistValue::boolean(value != 0);
    }
    case PLIST_UINT: {
        // Signed values are stored in their two's-complement bits.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return PlistValue::integer(static_cast<int64_t>(value));
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return PlistValue::integer(static_cast<int64_t>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return PlistValue::real(value);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return PlistValue::string(text ? std::string(text, length) : std::string());
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        if (length > static_cast<uint64_t>(std::numeric_limits<qsizetype>::max()))
            break;
        return PlistValue::data(bytes ? QByteArray(bytes, static_cast<qsizetype>(length)) : QByteArray());
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        // The binary reader splits a date into whole seconds truncated towards zero and the size of
        // the fraction, so before the reference date the fraction counts backwards.
        // FIXME: a date less than a second before the reference date comes back positive; the
        // library's interface keeps no sign for it.
        const double fraction = std::abs(static_cast<double>(microseconds)) / 1e6;
        return PlistValue::date(seconds < 0 ? seconds - fraction : seconds + fraction);
    }
    default:
        break;
    }
    qmSetError(error, readError("The property list holds a value of an unknown type."));
    return nullptr;
}

PlistPtr convert(plist_t node, int depth, Error* error)
{
    if (!node) {
        qmSetError(error, readError("The property list is incomplete."));
        return nullptr;
    }
    if (depth > PropertyListSerialization::maximumDepth) {
        qmSetError(error, readError("The property list is nested too deeply."));
        return nullptr;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_ARRAY:
        return convertArray(node, depth, error);
    case PLIST_DICT:
        return convertDictionary(node, depth, error);
    default:
        return convertScalar(node, error);
    }
}

PlistHandle build(const PlistPtr& value, int depth, Error* error);

// Whether `text` is well-formed UTF-8. The binary writer re-encodes text and would mangle or cut
// short anything else, so such text is refused there rather than written damaged.
bool isUtf8(const std::string& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    for (size_t at = 0; at < size;) {
        const unsigned char lead = bytes[at];
        size_t length = lead < 0x80           ? 1
                        : (lead >> 5) == 0x6  ? 2
                        : (lead >> 4) == 0xE  ? 3
                        : (lead >> 3) == 0x1E ? 4
                                              : 0;
        if (length == 0 || (length == 2 && lead < 0xC2) || (length == 4 && lead > 0xF4) || size - at < length)
            return false;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t next = 1; next < length; ++next) {
            if ((bytes[at + next] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (bytes[at + next] & 0x3F);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        at += length;
    }
    return true;
}

PlistHandle buildDate(double seconds, Error* error)
{
    const double whole = std::floor(seconds);
    if (!std::isfinite(seconds) || whole < std::numeric_limits<int32_t>::min() ||
        whole > std::numeric_limits<int32_t>::max()) {
        qmSetError(error, writeError("The date lies outside the range a property list can store."));
        return nullptr;
    }
    const auto microseconds = static_cast<int32_t>(std::lround((seconds - whole) * 1e6));
    return PlistHandle(plist_new_date(static_cast<int32_t>(whole), std::min(microseconds, 999999)));
}

PlistHandle buildContainer(const PlistValue& value, int depth, Error* error)
{
    if (const auto* items = value.asArray()) {
        PlistHandle array(plist_new_array());
        for (const auto& item : *items) {
            auto child = build(item, depth + 1, error);
            if (!child)
                return nullptr;
            plist_array_append_item(array.get(), child.release());
        }
        return array;
    }
    PlistHandle dictionary(plist_new_dict());
    for (const auto& [key, item] : *value.asDictionary()) {
        if (key.find('\0') != std::string::npos) {
            qmSetError(error, writeError("A dictionary key holds a NUL character."));
            return nullptr;
        }
        if (!isUtf8(key)) {
            qmSetError(error, writeError("A dictionary key is no valid UTF-8 text."));
            return nullptr;
        }
        auto child = build(item, depth + 1, error);
        if (!child)
            return nullptr;
        plist_dict_set_item(dictionary.get(), key.c_str(), child.release());
    }
    return dictionary;
}

PlistHandle build(const PlistPtr& value, int depth, Error* error)
{
    if (!value) {
        qmSetError(error, writeError("A property list cannot hold an absent value."));
        return nullptr;
    }
    if (depth > PropertyListSerialization::maximumDepth) {
        qmSetError(error, writeError("The property list is nested too deeply."));
        return nullptr;
    }
    switch (value->type()) {
    case PlistValue::Type::Dictionary:
    case PlistValue::Type::Array:
        return buildContainer(*value, depth, error);
    case PlistValue::Type::String:
        if (value->asString()->find('\0') != std::string::npos) {
            qmSetError(error, writeError("A string holds a NUL character."));
            return nullptr;
        }
        if (!isUtf8(*value->asString())) {
            qmSetError(error, writeError("A string is no valid UTF-8 text."));
            return nullptr;
        }
        return PlistHandle(plist_new_string(value->asString()->c_str()));
    case PlistValue::Type::Integer:
        return PlistHandle(plist_new_uint(static_cast<uint64_t>(*value->asInteger())));
    case PlistValue::Type::Real:
        return PlistHandle(plist_new_real(*value->asReal()));
    case PlistValue::Type::Boolean:
        return PlistHandle(plist_new_bool(*value->asBoolean() ? 1 : 0));
    case PlistValue::Type::Date:
        return buildDate(*value->asDateSeconds(), error);
    case PlistValue::Type::Data:
        return PlistHandle(plist_new_data(value->asData()->constData(), value->asData()->size()));
    }
    return nullptr;
}

// XML goes through the same reader as album data, so every reader gives the same verdict.
PlistPtr parseXml(const char* bytes, qsizetype size, Error* error)
{
    // Parsed in place, so in a copy of its own.
    std::string buffer(bytes, size_t(size));
    pugi::xml_document document;
    std::string problem;
    const pugi::xml_node root =
        XmlPlistBuilder::parseInPlace(document, buffer.data(), buffer.size(), &problem);
    if (!root) {
        qmSetError(error, readError(std::move(problem)));
        return nullptr;
    }
    XmlPlistBuilder::Builder builder;
    PlistPtr value = builder.value(root, 1);
    if (!value)
        qmSetError(error, readError(std::move(builder.error)));
    return value;
}

PlistPtr parse(const char* bytes, qsizetype size, Error* error)
{
    if (size <= 0) {
        qmSetError(error, readError("The property list is empty."));
        return nullptr;
    }
    if (static_cast<uint64_t>(size) > std::numeric_limits<uint32_t>::max()) {
        qmSetError(error, readError("The property list is too large."));
        return nullptr;
    }
    const auto length = static_cast<uint32_t>(size);
    if (plist_is_binary(bytes, length) == 0)
        return parseXml(bytes, size, error);
    if (std::string problem = PropertyListLimits::checkBinary(bytes, size); !problem.empty()) {
        qmSetError(error, readError(std::move(problem)));
        return nullptr;
    }
    plist_t root = nullptr;
    plist_from_bin(bytes, length, &root);
    PlistHandle guard(root);
    if (!root) {
        qmSetError(error, readError("The data is no valid binary property list."));
        return nullptr;
    }
    return convert(root, 1, error);
}

} // namespace

PlistPtr PropertyListSerialization::fromData(const QByteArray& data, Error* error)
{
    return parse(data.constData(), data.size(), error);
}

PlistPtr PropertyListSerialization::readFile(const QString& path, Error* error)
{
    // Read, not mapped: a mapped file cut short by another program kills the reader with SIGBUS.
    const auto contents = RegularFile::read(path, error);
    if (!contents)
        return nullptr;
    Error parseError;
    auto value = parse(contents->constData(), contents->size(), &parseError);
    if (!value) {
        parseError.setUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
        qmSetError(error, std::move(parseError));
    }
    return value;
}

QByteArray PropertyListSerialization::toData(const PlistPtr& value, Format format, Error* error)
{
    if (format == Format::Xml)
        return XmlPlistWriter::write(value, error);
    auto root = build(value, 1, error);
    if (!root)
        return {};
    char* bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    QByteArray result = bytes ? QByteArray(bytes, length) : QByteArray();
    plist_to_bin_free(bytes);
    if (result.isEmpty())
        qmSetError(error, writeError("The property list could not be encoded."));
    return result;
}

bool PropertyListSerialization::writeFile(const QString& path, const PlistPtr& value, Format format,
                                          Error* error)
{
    const QByteArray bytes = toData(value, format, error);
    return !bytes.isEmpty() && AtomicFile::write(path, bytes, error);
}
