#include "shell/kivrelmain.h"

#include <QApplication>
#include <cstdio>

int KivrelMain(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kivrel"));
    QApplication::setOrganizationName(QStringLiteral("kivrel"));
    std::fputs("kivrel: the control window is not there yet\n", stderr);
    return 0;
}
