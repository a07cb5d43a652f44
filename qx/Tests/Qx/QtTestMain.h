#pragma once

#include <gtest/gtest.h>
#include <QApplication>

// A main for test files that need one QApplication for all their cases.
#define QX_QT_TEST_MAIN                                    \
    int main(int argc, char** argv) {                      \
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) \
            qputenv("QT_QPA_PLATFORM", "offscreen");       \
        QApplication app(argc, argv);                      \
        ::testing::InitGoogleTest(&argc, argv);            \
        return RUN_ALL_TESTS();                            \
    }
