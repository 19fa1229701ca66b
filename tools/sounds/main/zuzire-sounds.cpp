#include "tools/sounds/InterfaceSounds.h"

#include <cstdio>

// zuzire-sounds FOLDER: writes the program's interface sounds into FOLDER (run by the build).
int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: zuzire-sounds FOLDER\n", stderr);
        return 2;
    }
    Error error;
    if (!InterfaceSounds::writeAll(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "zuzire-sounds: %s\n", error.localizedDescription().c_str());
        return 1;
    }
    return 0;
}
