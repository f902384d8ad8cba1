#pragma once

#include "tests/e2e/e2e_harness.h"

#include <QApplication>
#include <QTest>

// Qt Test main for a run of the real windows: the environment, the
// application and the windows, then the slots of TestClass.
#define KELVORA_E2E_TEST_MAIN(TestClass)                                           \
    int main(int argc, char **argv)                                                \
    {                                                                              \
        kelvora::e2e::PrepareEnvironment();                                        \
        QApplication app(argc, argv);                                              \
        const kelvora::e2e::Program program;                                       \
        TestClass test;                                                            \
        return QTest::qExec(&test, argc, argv);                                    \
    }
