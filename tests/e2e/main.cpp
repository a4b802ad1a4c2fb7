// Entry point of the end-to-end tests: one QApplication for all of them. Under
// the test bed it runs on the bed's X server; without a display (test listing
// at build time, a machine without the bed) it falls back to offscreen, and the
// tests that need the bed skip themselves.
#include "e2e_util.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    e2e::RegisterChildTests();
    const int result = RUN_ALL_TESTS();
    // The verdicts are out: leave without tearing down what the tests left
    // behind (the players' own exit is tested on the real program).
    std::fflush(nullptr);
    std::_Exit(result);
}
