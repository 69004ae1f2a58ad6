// The main window's controls: names, captions, places, fonts and tab order.
#include "app/fonts.h"
#include "app/main_form.h"
#include "app/message_view.h"
#include "app/twips.h"

#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace vmx {

namespace {

QFont arialBold() {
    return sansFont(QStringLiteral("Arial"), 8.25, true);
}

QFont windowFontBold() {
    QFont font = windowFont();
    font.setBold(true);
    return font;
}

template <typename Widget> Widget* named(Widget* widget, const char* name, const QRect& where) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(where);
    // Set on each control: platform themes give some classes (option buttons) fonts of their
    // own that would not follow the window's.
    widget->setFont(windowFont());
    return widget;
}

// A frame whose caption sits on its top line, so the buttons keep their places inside it.
class CaptionFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const int lineY = metrics.height() / 2;
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(QRect(0, lineY, width() - 1, height() - lineY - 1));
        const QRect caption(7, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
        painter.fillRect(caption, palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(caption, Qt::AlignCenter, title());
    }
};

QGroupBox* frame(QWidget* parent, const char* name, const char* caption, const QRect& where) {
    auto* box = named(new CaptionFrame(QLatin1String(caption), parent), name, where);
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}

QRadioButton* option(QGroupBox* frame, const char* name, const char* caption, const QRect& where) {
    return named(new QRadioButton(QLatin1String(caption), frame), name, where);
}

QLabel* label(QWidget* parent, const char* name, const char* caption, const QRect& where) {
    auto* text = named(new QLabel(QLatin1String(caption), parent), name, where);
    text->setAlignment(Qt::AlignRight | Qt::AlignTop);
    return text;
}

QLineEdit* lineBox(QWidget* parent, const char* name, const char* text, const QRect& where) {
    auto* box = named(new QLineEdit(QLatin1String(text), parent), name, where);
    // Far beyond the default of 32767 characters: any text the settings file may hold is shown
    // and saved whole.
    box->setMaxLength(int(kMaxSettingsTextLength));
    return box;
}

QLineEdit* centredBox(QWidget* parent, const char* name, const char* text, const QRect& where,
                      const QFont& font) {
    QLineEdit* box = lineBox(parent, name, text, where);
    box->setAlignment(Qt::AlignCenter);
    box->setFont(font);
    return box;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption, const QRect& where) {
    auto* push = named(new QPushButton(QLatin1String(caption), parent), name, where);
    // Enter on a focused push button presses it, as Space does.
    push->setAutoDefault(true);
    return push;
}

} // namespace

void MainForm::buildControls() {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(kApplicationTitle);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFont(windowFont());

    help_ = menuBar()->addMenu(QStringLiteral("Info"));
    help_->setObjectName(QStringLiteral("help"));
    helpAbout_ = help_->addAction(QStringLiteral("About"));
    helpAbout_->setObjectName(QStringLiteral("help_about"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twips(11655), twips(5325));
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    frame1_ = frame(client, "Frame1", "Port number", twipRect(4800, 360, 1455, 2535));
    frame2_ = frame(client, "Frame2", "Baud rate", twipRect(6480, 360, 1335, 2535));
    frame3_ = frame(client, "Frame3", "Format", twipRect(4800, 3120, 3015, 615));

    options_ = {
        option(frame1_, "Option1", "Com1", twipRect(360, 600, 855, 375)),
        option(frame1_, "Option2", "Com2", twipRect(360, 960, 855, 375)),
        option(frame1_, "Option3", "Com3", twipRect(360, 1320, 855, 375)),
        option(frame1_, "Option4", "Com4", twipRect(360, 1680, 855, 375)),
        option(frame2_, "Option5", "1200", twipRect(240, 600, 735, 255)),
        option(frame2_, "Option6", "2400", twipRect(240, 960, 855, 255)),
        option(frame2_, "Option7", "9600", twipRect(240, 1320, 735, 255)),
        option(frame2_, "Option8", "19200", twipRect(240, 1680, 855, 255)),
        option(frame1_, "Option9", "Udp", twipRect(360, 2040, 855, 315)),
        option(frame3_, "Option10", "E71", twipRect(360, 240, 855, 195)),
        option(frame3_, "Option11", "N81", twipRect(1920, 240, 735, 255)),
    };

    command1_ = button(client, "Command1", "SEND", twipRect(9840, 2520, 1335, 495));
    // Drawn and announced as the default button; the window itself presses it on Enter.
    command1_->setDefault(true);
    xxx_ = lineBox(client, "xxx", "RD", twipRect(9240, 1920, 1935, 285));
    xxx_->setFont(arialBold());
    label1_ = label(client, "Label1", "COMMAND:", twipRect(7920, 1920, 1095, 255));
    exitgomb_ = button(client, "exitgomb", "EXIT", twipRect(9720, 4560, 1575, 495));
    label2_ = label(client, "Label2", "ADDRESS:", twipRect(8040, 1440, 975, 255));
    text1_ = centredBox(client, "Text1", "02", twipRect(9960, 1440, 495, 285), arialBold());

    text2_ = named(new MessageView(client), "Text2", twipRect(360, 240, 4215, 4215));
    text2_->setReadOnly(true);
    // Appended answers are never undone; an undo history would only grow with every line.
    text2_->setUndoRedoEnabled(false);
    // Read-only for the operator, but the text can be selected and copied with mouse and keys.
    text2_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text2_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text2_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text2_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text2_->setTabChangesFocus(true);
    text2_->setAccessibleName(QStringLiteral("Message window"));

    outmessage_ = lineBox(client, "outmessage", "", twipRect(6360, 3960, 4815, 285));
    outmessage_->setReadOnly(true);
    label3_ = label(client, "Label3", "MESSAGE", twipRect(4920, 3960, 1215, 255));
    command2_ = button(client, "Command2", "CLEAR MESSAGE WINDOW", twipRect(960, 4680, 2775, 375));

    label4_ = label(client, "Label4", "IP ADDRESS", twipRect(7920, 480, 1095, 255));
    text3_ = centredBox(client, "Text3", "", twipRect(9240, 480, 1935, 285), windowFontBold());
    label5_ = label(client, "Label5", "PORT", twipRect(8040, 960, 975, 255));
    text4_ = centredBox(client, "Text4", "", twipRect(9720, 960, 975, 285), windowFontBold());
    for (QWidget* ipField : {static_cast<QWidget*>(label4_), static_cast<QWidget*>(text3_),
                             static_cast<QWidget*>(label5_), static_cast<QWidget*>(text4_)})
        ipField->hide();

    // Screen readers name each box after the label beside it.
    label1_->setBuddy(xxx_);
    label2_->setBuddy(text1_);
    label3_->setBuddy(outmessage_);
    label4_->setBuddy(text3_);
    label5_->setBuddy(text4_);

    // Every control that can hold the focus, by tab index; labels and frames take none.
    tabOrder_ = {options_[0], options_[1], options_[2], options_[3], options_[4],
                 options_[5], options_[6], options_[7], command1_,   xxx_,
                 exitgomb_,   text1_,      text2_,      outmessage_, command2_,
                 options_[8], text3_,      text4_,      options_[9], options_[10]};
}

} // namespace vmx
