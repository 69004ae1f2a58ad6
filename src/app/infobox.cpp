#include "app/infobox.h"

#include "app/fonts.h"
#include "app/twips.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

namespace vmx {

namespace {

// Read-only and centred; a read-only QLineEdit draws no text cursor, which keeps the fixed
// texts free of a blinking caret when they have the focus.
QLineEdit* fixedText(QWidget* parent, const char* name, const QString& text, const QRect& where) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QLatin1String(name));
    edit->setReadOnly(true);
    edit->setAlignment(Qt::AlignCenter);
    edit->setFont(sansFont(QStringLiteral("Arial"), 9.75, true));
    edit->setGeometry(where);
    edit->setAccessibleName(text);
    return edit;
}

} // namespace

Infobox::Infobox(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("infobox"));
    setWindowTitle(QStringLiteral("info"));
    setFont(windowFont());
    // The client area's top-left corner sits at a fixed place on the screen.
    setGeometry(kLeft, kTop, twips(5085), twips(2955));
    setFixedSize(twips(5085), twips(2955));

    nameText_ = fixedText(this, "Text1", QStringLiteral("Velmarixon V 1.14"),
                          twipRect(1080, 600, 3135, 375));
    typeText_ = fixedText(this, "Text2", QStringLiteral("Type number: KD-472"),
                          twipRect(1080, 1320, 3135, 375));
    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setObjectName(QStringLiteral("Command1"));
    okButton_->setFont(windowFont());
    okButton_->setGeometry(twipRect(1920, 2160, 1575, 375));
    // Enter on OK presses it as Space does.
    okButton_->setAutoDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &QWidget::hide);

    setTabOrder(nameText_, typeText_);
    setTabOrder(typeText_, okButton_);
    setAttribute(Qt::WA_DeleteOnClose);
}

void Infobox::closeEvent(QCloseEvent* event) {
    closed_ = true;
    QWidget::closeEvent(event);
}

void Infobox::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    nameText_->setFocus(Qt::OtherFocusReason);
}

} // namespace vmx
