#pragma once

#include "platform/foundation/PropertyList.h"

#include <QVariant>

// Property-list values to and from what D-Bus carries: strings, integers, reals, booleans,
// data, arrays (av) and dictionaries (a{sv}). QtDBus hands nested containers over as
// QDBusArgument; they are taken apart here, to a bounded depth, and anything that is no
// property-list value is left out rather than guessed at.
class DBusValues {
public:
    static QVariant toVariant(const PlistPtr& value);
    static QVariantMap toVariantMap(const PlistDictionary& dictionary);
    // nullptr for a value that has no property-list form.
    static PlistPtr fromVariant(const QVariant& value, int depth = 0);
    static PlistDictionary dictionaryFromVariant(const QVariant& value, int depth = 0);

    // Deeper nesting than this is dropped: a hostile peer cannot exhaust the stack.
    static constexpr int maximumDepth = 16;
};
