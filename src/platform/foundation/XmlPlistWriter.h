#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"

#include <QByteArray>

// Writes a value tree as an XML property list, exactly as the tree holds it: every key and value
// as it is (dictionaries in the tree's key order), only the characters XML requires escaped, dates
// of any year from 1 to 9999, integers over their whole 64-bit range, reals in the shortest form
// that reads back to the same number. What XmlPlistBuilder reads back is the tree written, except
// that dates keep whole seconds only, as the format does (a fraction is dropped, rounding down).
//
// Any thread: no shared state.
class XmlPlistWriter {
public:
    // Empty, with the error (Error::cocoaDomain 3851), when the tree holds what the format
    // cannot: an absent value, a NUL character in a string or key, a date outside the years
    // 1 to 9999, nesting deeper than the readers accept.
    static QByteArray write(const PlistPtr& value, Error* error = nullptr);

    // The error code of a value the format cannot hold.
    static constexpr int propertyListWriteInvalidError = 3851;
};
