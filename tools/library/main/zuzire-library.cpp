#include "tools/library/LibraryTool.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    return LibraryTool::run(QCoreApplication::arguments().mid(1), stdout, stderr);
}
