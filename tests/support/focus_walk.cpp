#include "support/focus_walk.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

namespace vmx::test {

QString focusName() {
    QWidget* focused = QApplication::focusWidget();
    return focused ? focused->objectName() : QStringLiteral("<none>");
}

QStringList tabWalk(int presses, bool forward) {
    QStringList reached;
    for (int i = 0; i < presses; ++i) {
        QWidget* focused = QApplication::focusWidget();
        if (!focused)
            break;
        if (forward)
            QTest::keyClick(focused, Qt::Key_Tab);
        else
            QTest::keyClick(focused, Qt::Key_Backtab, Qt::ShiftModifier);
        reached << focusName();
    }
    return reached;
}

bool focusOn(QWidget* widget) {
    widget->setFocus(Qt::OtherFocusReason);
    return QTest::qWaitFor([&] { return QApplication::focusWidget() == widget; }, 2000);
}

} // namespace vmx::test
