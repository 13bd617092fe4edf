#pragma once

// Test support: the one QApplication of a test program, on Qt's offscreen platform unless the
// environment names another.

#include <QApplication>

#include <cstdlib>

namespace hv::menu::testing {

inline QApplication& application() {
    static int argc = 1;
    static char name[] = "menubar_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        auto* created = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return created;
    }();
    return *app;
}

}  // namespace hv::menu::testing
