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

#include <array>

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

// Where each option button sits inside its frame, in the order of kOptionButtons.
constexpr std::array<std::array<int, 4>, kOptionButtons.size()> kOptionPlaces{{
    {360, 600, 855, 375},  // Com1
    {360, 960, 855, 375},  // Com2
    {360, 1320, 855, 375}, // Com3
    {360, 1680, 855, 375}, // Com4
    {360, 2040, 855, 315}, // Udp
    {240, 600, 735, 255},  // 1200
    {240, 960, 855, 255},  // 2400
    {240, 1320, 735, 255}, // 9600
    {240, 1680, 855, 255}, // 19200
    {360, 240, 855, 195},  // E71
    {1920, 240, 735, 255}, // N81
}};

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

    infoMenu_ = menuBar()->addMenu(QStringLiteral("Info"));
    infoMenu_->setObjectName(QStringLiteral("help"));
    aboutAction_ = infoMenu_->addAction(QStringLiteral("About"));
    aboutAction_->setObjectName(QStringLiteral("help_about"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twips(11655), twips(5325));
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    portFrame_ = frame(client, "Frame1", "Port number", twipRect(4800, 360, 1455, 2535));
    baudFrame_ = frame(client, "Frame2", "Baud rate", twipRect(6480, 360, 1335, 2535));
    formatFrame_ = frame(client, "Frame3", "Format", twipRect(4800, 3120, 3015, 615));

    for (std::size_t i = 0; i < kOptionButtons.size(); ++i) {
        const OptionButton& option = kOptionButtons[i];
        QGroupBox* const frames[] = {portFrame_, baudFrame_, formatFrame_};
        const auto& [left, top, width, height] = kOptionPlaces[i];
        optionButtons_[i] = named(
            new QRadioButton(QLatin1String(option.caption), frames[int(option.meaning.group)]),
            option.objectName, twipRect(left, top, width, height));
    }

    sendButton_ = button(client, "Command1", "SEND", twipRect(9840, 2520, 1335, 495));
    // Drawn and announced as the default button; the window itself presses it on Enter.
    sendButton_->setDefault(true);
    commandBox_ = lineBox(client, "xxx", "RD", twipRect(9240, 1920, 1935, 285));
    commandBox_->setFont(arialBold());
    commandLabel_ = label(client, "Label1", "COMMAND:", twipRect(7920, 1920, 1095, 255));
    exitButton_ = button(client, "exitgomb", "EXIT", twipRect(9720, 4560, 1575, 495));
    addressLabel_ = label(client, "Label2", "ADDRESS:", twipRect(8040, 1440, 975, 255));
    addressBox_ = centredBox(client, "Text1", "02", twipRect(9960, 1440, 495, 285), arialBold());

    messageView_ = named(new MessageView(client), "Text2", twipRect(360, 240, 4215, 4215));
    messageView_->setReadOnly(true);
    // Appended answers are never undone; an undo history would only grow with every line.
    messageView_->setUndoRedoEnabled(false);
    // Read-only for the operator, but the text can be selected and copied with mouse and keys.
    messageView_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    messageView_->setLineWrapMode(QPlainTextEdit::NoWrap);
    messageView_->setTabChangesFocus(true);
    messageView_->setAccessibleName(QStringLiteral("Message window"));

    echoBox_ = lineBox(client, "outmessage", "", twipRect(6360, 3960, 4815, 285));
    echoBox_->setReadOnly(true);
    echoLabel_ = label(client, "Label3", "MESSAGE", twipRect(4920, 3960, 1215, 255));
    clearButton_ =
        button(client, "Command2", "CLEAR MESSAGE WINDOW", twipRect(960, 4680, 2775, 375));

    ipAddressLabel_ = label(client, "Label4", "IP ADDRESS", twipRect(7920, 480, 1095, 255));
    ipAddressBox_ =
        centredBox(client, "Text3", "", twipRect(9240, 480, 1935, 285), windowFontBold());
    ipPortLabel_ = label(client, "Label5", "PORT", twipRect(8040, 960, 975, 255));
    ipPortBox_ = centredBox(client, "Text4", "", twipRect(9720, 960, 975, 285), windowFontBold());
    for (QWidget* ipField :
         {static_cast<QWidget*>(ipAddressLabel_), static_cast<QWidget*>(ipAddressBox_),
          static_cast<QWidget*>(ipPortLabel_), static_cast<QWidget*>(ipPortBox_)})
        ipField->hide();

    // Screen readers name each box after the label beside it.
    commandLabel_->setBuddy(commandBox_);
    addressLabel_->setBuddy(addressBox_);
    echoLabel_->setBuddy(echoBox_);
    ipAddressLabel_->setBuddy(ipAddressBox_);
    ipPortLabel_->setBuddy(ipPortBox_);

    // Every control that can hold the focus, by tab index; labels and frames take none.
    // kOptionButtons: COM1..COM4 0..3, UDP 4, baud rates 5..8, formats 9 and 10.
    const auto& option = optionButtons_;
    tabOrder_ = {option[0],   option[1],     option[2],    option[3],   option[5],
                 option[6],   option[7],     option[8],    sendButton_, commandBox_,
                 exitButton_, addressBox_,   messageView_, echoBox_,    clearButton_,
                 option[4],   ipAddressBox_, ipPortBox_,   option[9],   option[10]};
}

} // namespace vmx
