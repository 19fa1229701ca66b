#pragma once

#include <QString>
#include <QtGlobal>

// A piece of the program loaded on first use rather than with it (the sound output, the metadata
// library for RAW previews), or a helper program of its own: it lies in the modules' folder, whose
// place relative to the program's own folder is the same in the build tree and after installation.
// Any thread.
class ProgramModule {
public:
    // The modules' folder, from the running program's own folder; that folder itself for a helper
    // program that lies in the modules' folder.
    static QString directory();

    // The file `fileName` in directory(), or the value of `environmentVariable` when that is set.
    static QString path(const char* environmentVariable, const char* fileName);

    // The function `name` that the module at `path` exports, loading the module for the rest of
    // the process; nullptr, with the reason in `why`, when it cannot be loaded or has no such
    // function.
    static QFunctionPointer entryPoint(const QString& path, const char* name, QString* why);
};
