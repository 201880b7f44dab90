#pragma once

#include <QApplication>
#include <QTest>

// A test's main() that runs it on the test services' X server, with its window manager's focus
// and stacking, when `variable` says that server is there (offscreen otherwise). The variable
// is named in the test's own text, which is also how CTest gives the test the display's lock.
#define KAVREL_X11_TEST_MAIN(TestClass, variable)                                                  \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        if (qEnvironmentVariableIsSet(variable) && qEnvironmentVariableIsSet("DISPLAY"))          \
            qputenv("QT_QPA_PLATFORM", "xcb");                                                     \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
