#pragma once

#include <QString>

// Where the program's resources are: $ZUZIRE_RESOURCE_DIR when set, else the share/zuzire folder
// beside the executable's bin folder (the same in the build tree and after installation).
class Resources {
public:
    static QString directory();
    // The full path of one resource file; it may not exist.
    static QString path(const QString& name);
    // The folder of the program's executables (the library tool lives beside the program).
    static QString executableDirectory();
};
