#pragma once

#include <gtest/gtest.h>

#include <QApplication>

namespace zk::test {

inline QApplication*& qtApplication() {
    static QApplication* instance = nullptr;
    return instance;
}

/// The tests' one QApplication, made when the first test needs it (not while the tests are
/// only being listed).
inline QApplication& app() {
    if (!qtApplication()) {
        static int argc = 1;
        static char name[] = "zk_qt_test";
        static char* argv[] = {name, nullptr};
        qtApplication() = new QApplication(argc, argv);
    }
    return *qtApplication();
}

/// Deletes the QApplication after the last test, before the program's static objects go, as Qt
/// requires.
class QtApplicationCleanup : public ::testing::Environment {
  public:
    void TearDown() override {
        delete qtApplication();
        qtApplication() = nullptr;
    }
};

inline ::testing::Environment* const kQtApplicationCleanup =
    ::testing::AddGlobalTestEnvironment(new QtApplicationCleanup);

}  // namespace zk::test
