#include "tools/library/LibraryTool.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // From the raw bytes: QCoreApplication::arguments() would turn a name that is no UTF-8 into
    // another name, and the tool would then work on a different folder.
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        const QString text = QString::fromUtf8(raw);
        if (text.toUtf8() != raw) {
            std::fputs("zuzire-library: the argument ", stderr);
            for (const char c : raw) {
                if (uchar(c) >= 0x20 && uchar(c) < 0x7F)
                    std::fputc(c, stderr);
                else
                    std::fprintf(stderr, "\\x%02x", uint(uchar(c)));
            }
            std::fputs(" is not UTF-8, which the album data file cannot record; rename it\n", stderr);
            return 1;
        }
        arguments << text;
    }
    return LibraryTool::run(arguments, stdout, stderr);
}
