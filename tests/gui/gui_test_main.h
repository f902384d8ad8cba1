#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

// Qt Test main for the window tests: offscreen unless a platform is chosen,
// and a settings folder of the test's own so no run touches the user's.
#define KELVORA_GUI_TEST_MAIN(TestClass)                                           \
    int main(int argc, char *argv[])                                               \
    {                                                                              \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                               \
        QTemporaryDir configHome;                                                  \
        if (!configHome.isValid()) {                                               \
            std::fprintf(stderr, "cannot create a settings folder\n");             \
            return 1;                                                              \
        }                                                                          \
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());               \
        QApplication app(argc, argv);                                              \
        QApplication::setApplicationName(QStringLiteral("Kelvora"));               \
        TestClass test;                                                            \
        return QTest::qExec(&test, argc, argv);                                    \
    }
