#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"

#include <QStringList>
#include <cstdint>
#include <string>

// The program's own defaults (domain "com.quillmoss.lumendeck"), looked up in two layers:
// 1. the argument domain: `-Key value` pairs on the command line, for this run only, never
//    written (`zuzire -LaunchFullScreen YES -NumberOfStages 2`);
// 2. the domain file kept by Preferences, read afresh at each look-up.
// Main thread only.
class UserDefaults {
public:
    static UserDefaults& standard();

    // The argument domain's value if present, else the file's; nullptr when neither has one.
    PlistPtr objectForKey(const std::string& key) const;

    // False when absent. True for the boolean true, a non-zero number, and the strings "YES" and
    // "true" (any case) or a string starting with a non-zero integer ("1", "7").
    bool boolForKey(const std::string& key) const;

    // 0 when absent or not numeric. Integers as they are, reals truncated towards zero (clamped to
    // the range), booleans 1 or 0, strings by their leading integer (" 12abc" = 12, "3.9" = 3).
    int64_t integerForKey(const std::string& key) const;

    // Stores the value in the domain file (nullptr removes it). An argument given for the key
    // still wins for this run.
    bool setObject(const std::string& key, const PlistPtr& value, Error* error = nullptr);

    // Replaces the argument domain with one parsed from `arguments` (without the program name).
    static void setArgumentsForTesting(const QStringList& arguments);

    // The values of a `-Key value` list: each value is a literal if it reads as one (YES/NO,
    // true/false, an integer, a real), else the text itself. Arguments that start with "--"
    // are the program's own options and are skipped; a key with no value is ignored.
    static PlistDictionary parseArguments(const QStringList& arguments);

private:
    UserDefaults();

    PlistDictionary m_argumentDomain;
};
