#pragma once

#include "TestChildProcess.h"

#include <QApplication>
#include <QTest>

// A test's main() that runs it on the test services' X server, with its window manager's focus
// and stacking, when `variable` says that server is there (offscreen otherwise). The variable
// is named in the test's own text, which is also how CTest gives the test the display's lock.
#define KAVREL_X11_TEST_MAIN(TestClass, variable)                                                  \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return X11TestMain::run<TestClass>(argc, argv, variable);                                  \
    }

// The same for a test that also starts itself again in a child role (TestChildProcess.h).
#define KAVREL_X11_TEST_MAIN_WITH_CHILDREN(TestClass, variable)                                    \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        if (const auto childStatus = TestChildProcess::runIfChild(argc, argv))                     \
            return *childStatus;                                                                   \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return X11TestMain::run<TestClass>(argc, argv, variable);                                  \
    }

namespace X11TestMain {

template<typename TestClass>
int run(int argc, char **argv, const char *variable)
{
    if (qEnvironmentVariableIsSet(variable) && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestClass test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace X11TestMain
