#include <QApplication>

#include "platform/ApplicationInfo.h"

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(ApplicationInfo::displayName());
    QApplication::setApplicationVersion(ApplicationInfo::shortVersion());
    QApplication::setDesktopFileName(ApplicationInfo::bundleIdentifier());
    return 0;
}
