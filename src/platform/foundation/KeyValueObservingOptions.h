#pragma once

// What an observer asks for when it registers. The bit values are the ones callers have always
// passed as plain numbers: 1 asks for the new value, 4 for a call at once, so 5 asks for both.
enum class KeyValueObservingOptions : unsigned {
    None = 0,
    New = 1u << 0,
    Initial = 1u << 2,
};

constexpr KeyValueObservingOptions operator|(KeyValueObservingOptions a, KeyValueObservingOptions b)
{
    return KeyValueObservingOptions(unsigned(a) | unsigned(b));
}

constexpr bool operator&(KeyValueObservingOptions a, KeyValueObservingOptions b)
{
    return (unsigned(a) & unsigned(b)) != 0;
}
