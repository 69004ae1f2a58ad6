#include "app/ways_out.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace vmx {

void showModalMessage(QWidget* owner, const QString& text) {
    QPointer<QWidget> hadFocus = QApplication::focusWidget();
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, owner);
    box.exec();
    // Without a window manager Qt leaves no window active after the box; give the focus back
    // to where the operator was.
    if (owner) {
        owner->window()->activateWindow();
        if (hadFocus && hadFocus->window() == owner->window())
            hadFocus->setFocus(Qt::OtherFocusReason);
    }
}

} // namespace vmx
