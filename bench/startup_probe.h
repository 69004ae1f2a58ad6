#pragma once

#include <QApplication>

#include <cstdlib>
#include <unistd.h>

namespace vmx::bench {

// The application object of the start-up programs. It says "painted" on its standard output
// once the first paint of a window has been done completely (the outermost event that led to
// a paint event has returned, so every widget of the window has painted and the window's
// contents have been handed to the platform), and ends the process there: the start-up
// benchmark times from starting the process to that line.
class PaintProbe : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted_ = true;
        ++depth_;
        const bool result = QApplication::notify(receiver, event);
        --depth_;
        if (painted_ && depth_ == 0) {
            static const char line[] = "painted\n";
            if (::write(STDOUT_FILENO, line, sizeof line - 1) < 0)
                std::_Exit(1);
            std::_Exit(0);
        }
        return result;
    }

private:
    int depth_ = 0;
    bool painted_ = false;
};

} // namespace vmx::bench
