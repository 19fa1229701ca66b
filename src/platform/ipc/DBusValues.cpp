#include "platform/ipc/DBusValues.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <limits>

QVariant DBusValues::toVariant(const PlistPtr& value)
{
    if (!value)
        return {};
    switch (value->type()) {
    case PlistValue::Type::String:
        return QString::fromStdString(*value->asString());
    case PlistValue::Type::Integer:
        return QVariant::fromValue<qlonglong>(*value->asInteger());
    case PlistValue::Type::Real:
        return *value->asReal();
    case PlistValue::Type::Boolean:
        return *value->asBoolean();
    case PlistValue::Type::Date:
        return *value->asDateSeconds();
    case PlistValue::Type::Data:
        return *value->asData();
    case PlistValue::Type::Array: {
        QVariantList list;
        for (const auto& element : *value->asArray()) {
            QVariant converted = toVariant(element);
            if (converted.isValid())
                list.push_back(converted);
        }
        return list;
    }
    case PlistValue::Type::Dictionary:
        return toVariantMap(*value->asDictionary());
    }
    return {};
}

QVariantMap DBusValues::toVariantMap(const PlistDictionary& dictionary)
{
    QVariantMap map;
    for (const auto& [key, value] : dictionary) {
        QVariant converted = toVariant(value);
        if (converted.isValid())
            map.insert(QString::fromStdString(key), converted);
    }
    return map;
}

PlistPtr DBusValues::fromVariant(const QVariant& value, int depth)
{
    if (depth > maximumDepth)
        return nullptr;
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return fromVariant(value.value<QDBusVariant>().variant(), depth + 1);
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        switch (argument.currentType()) {
        case QDBusArgument::MapType:
            return PlistValue::dictionary(dictionaryFromVariant(value, depth));
        case QDBusArgument::ArrayType: {
            PlistArray array;
            argument.beginArray();
            while (!argument.atEnd()) {
                if (PlistPtr element = fromVariant(argument.asVariant(), depth + 1))
                    array.push_back(std::move(element));
            }
            argument.endArray();
            return PlistValue::array(std::move(array));
        }
        default:
            return nullptr;
        }
    }
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return PlistValue::string(value.toString().toStdString());
    case QMetaType::Bool:
        return PlistValue::boolean(value.toBool());
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return PlistValue::integer(value.toLongLong());
    case QMetaType::ULongLong: {
        const qulonglong unsignedValue = value.toULongLong();
        if (unsignedValue > static_cast<qulonglong>(std::numeric_limits<int64_t>::max()))
            return nullptr;
        return PlistValue::integer(static_cast<int64_t>(unsignedValue));
    }
    case QMetaType::Double:
        return PlistValue::real(value.toDouble());
    case QMetaType::QByteArray:
        return PlistValue::data(value.toByteArray());
    case QMetaType::QVariantList: {
        PlistArray array;
        for (const QVariant& element : value.toList()) {
            if (PlistPtr converted = fromVariant(element, depth + 1))
                array.push_back(std::move(converted));
        }
        return PlistValue::array(std::move(array));
    }
    case QMetaType::QVariantMap:
        return PlistValue::dictionary(dictionaryFromVariant(value, depth));
    case QMetaType::QStringList: {
        PlistArray array;
        for (const QString& element : value.toStringList())
            array.push_back(PlistValue::string(element.toStdString()));
        return PlistValue::array(std::move(array));
    }
    default:
        return nullptr;
    }
}

PlistDictionary DBusValues::dictionaryFromVariant(const QVariant& value, int depth)
{
    PlistDictionary dictionary;
    if (depth > maximumDepth)
        return dictionary;
    if (value.metaType() == QMetaType::fromType<QVariantMap>()) {
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (PlistPtr converted = fromVariant(it.value(), depth + 1))
                dictionary.insert_or_assign(it.key().toStdString(), std::move(converted));
        }
        return dictionary;
    }
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return dictionary;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::MapType)
        return dictionary;
    argument.beginMap();
    while (!argument.atEnd()) {
        argument.beginMapEntry();
        const QVariant key = argument.asVariant();
        const QVariant element = argument.asVariant();
        argument.endMapEntry();
        // Keys are strings in every dictionary this program reads.
        if (key.metaType().id() != QMetaType::QString)
            continue;
        if (PlistPtr converted = fromVariant(element, depth + 1))
            dictionary.insert_or_assign(key.toString().toStdString(), std::move(converted));
    }
    argument.endMap();
    return dictionary;
}
