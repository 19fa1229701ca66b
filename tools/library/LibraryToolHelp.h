#pragma once

#include <QString>
#include <optional>

// zuzire-library's help texts, all made from one table of its commands and one of its options:
// the whole help (--help), one command's (import --help) and the synopsis after a usage error.
class LibraryToolHelp {
public:
    static QString whole();
    // Nothing when `command` is no command of the tool.
    static std::optional<QString> ofCommand(const QString& command);
    static QString synopsis();
};
