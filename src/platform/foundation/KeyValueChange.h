#pragma once

#include <any>

// What an observer is told about one setter call.
//
// The value is a std::any holding exactly the type the property's getter returns (Rect for a
// layer's "bounds", bool for "hidden", int for a controller's status, std::shared_ptr<…> for an
// object, …), read back with std::any_cast of that type. A type-erased value lets properties of
// any library above this one be observed without this library knowing their types, and keeps
// Qt's variant out of the product's logic.
struct KeyValueChange {
    // The value at the end of the key path after the call. Empty unless the observer asked for
    // the new value, or when the path does not lead to a value (an object on the way is absent).
    std::any newValue;
};
