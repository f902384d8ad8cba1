#pragma once

#include "resources/resources.h"

#include <QApplication>
#include <QTest>

// Qt Test main for the controls: offscreen unless a platform is chosen, with
// the program's pictures registered.
#define KELVORA_CONTROLS_TEST_MAIN(TestClass)                                      \
    int main(int argc, char **argv)                                                \
    {                                                                              \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                               \
        QApplication app(argc, argv);                                              \
        kelvora::InitResources();                                                  \
        TestClass test;                                                            \
        return QTest::qExec(&test, argc, argv);                                    \
    }
