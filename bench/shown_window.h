#pragma once

#include "app/main_form.h"

#include <QApplication>

#include <memory>

namespace vmx::bench {

// A real main window, shown and painted once, whose message boxes are dropped and which never
// ends the program: a benchmark must not block on a box or be ended by the window.
inline std::unique_ptr<MainForm> shownWindow() {
    MainFormWaysOut waysOut;
    waysOut.showMessage = [](QWidget*, const QString&) {};
    waysOut.endProgram = [] {};
    auto form = std::make_unique<MainForm>(waysOut);
    form->show();
    QApplication::processEvents();
    return form;
}

} // namespace vmx::bench
