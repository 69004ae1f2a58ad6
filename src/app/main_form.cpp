#include "app/main_form.h"

#include "app/infobox.h"
#include "app/message_window.h"
#include "app/tab_chain.h"
#include "settings/option_codes.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <cstring>

namespace vmx {

namespace {

bool isEnterKey(const QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

// The stop of the window's tab chain after `from` (before it, going backward), or the first
// (last) stop when `from` is no control of the chain. Option buttons form one group per frame.
QWidget* tabStopAfter(const std::vector<QWidget*>& order, const QWidget* window,
                      const QWidget* from, bool forward) {
    std::vector<TabEntry> entries;
    std::vector<const QWidget*> frames;
    entries.reserve(order.size());
    for (const QWidget* control : order) {
        TabEntry entry;
        entry.focusable = control->isVisibleTo(window) && control->isEnabled();
        if (const auto* radio = qobject_cast<const QRadioButton*>(control)) {
            const QWidget* frame = radio->parentWidget();
            auto known = std::find(frames.begin(), frames.end(), frame);
            if (known == frames.end())
                known = frames.insert(frames.end(), frame);
            entry.optionGroup = static_cast<int>(known - frames.begin());
            entry.checked = radio->isChecked();
        }
        entries.push_back(entry);
    }
    const auto where = std::find(order.begin(), order.end(), from);
    const int current = where == order.end() ? -1 : static_cast<int>(where - order.begin());
    const int target = nextTabStop(entries, current, forward);
    return target < 0 ? nullptr : order[static_cast<std::size_t>(target)];
}

} // namespace

MainForm::MainForm(MainFormSeams seams, QWidget* parent)
    : QMainWindow(parent), seams_(std::move(seams)), udpLink_(seams_.resolveHost),
      watchdog_(seams_.replyTimeout) {
    serialLink_.setObjectName(QStringLiteral("MSComm1"));
    udpLink_.setObjectName(QStringLiteral("Winsock1"));
    buildControls();
    messageWindow_ = new MessageWindow(text2_, this);
    wireControls();
}

MainForm::~MainForm() {
    delete infobox_.data();
}

void MainForm::wireControls() {
    for (QRadioButton* radio : options_) {
        const OptionButton* meaning = buttonNamed(radio->objectName().toLatin1().constData());
        // A button's handling runs whenever it becomes chosen, by mouse, keyboard or program,
        // and never when it is switched off.
        connect(radio, &QRadioButton::toggled, this, [this, meaning](bool chosen) {
            if (chosen)
                optionChosen(*meaning);
        });
        radio->installEventFilter(this);
    }
    for (QWidget* box : {static_cast<QWidget*>(xxx_), static_cast<QWidget*>(text1_),
                         static_cast<QWidget*>(text2_), static_cast<QWidget*>(text3_),
                         static_cast<QWidget*>(text4_), static_cast<QWidget*>(outmessage_)})
        box->installEventFilter(this);
    command2_->installEventFilter(this);
    exitgomb_->installEventFilter(this);

    connect(command1_, &QPushButton::clicked, this, &MainForm::send);
    connect(command2_, &QPushButton::clicked, messageWindow_, &MessageWindow::clear);
    connect(exitgomb_, &QPushButton::clicked, this, &MainForm::exitWithSave);
    connect(helpAbout_, &QAction::triggered, this, &MainForm::showAbout);

    connect(&serialLink_, &SerialLink::received, this, &MainForm::serialReceived);
    connect(&udpLink_, &UdpLink::datagramReceived, this, &MainForm::datagramReceived);
    connect(&watchdog_, &ReplyWatchdog::expired, this, [this] {
        if (!ending_)
            showMessage(kNoAnswerMessage);
    });
    // SEND losing the focus needs nothing: the window hands the focus on to the control that
    // has just received it, which keeps it.
}

QRadioButton* MainForm::optionButton(const char* objectName) const {
    for (QRadioButton* radio : options_)
        if (radio->objectName() == QLatin1String(objectName))
            return radio;
    return nullptr;
}

void MainForm::optionChosen(const OptionButton& button) {
    switch (button.group) {
    case OptionGroup::Port: {
        portSelect_ = button.selectorValue;
        const bool udp = portSelect_ == kUdpPortSelect;
        for (QWidget* ipField : {static_cast<QWidget*>(label4_), static_cast<QWidget*>(label5_),
                                 static_cast<QWidget*>(text3_), static_cast<QWidget*>(text4_)})
            ipField->setVisible(udp);
        break;
    }
    case OptionGroup::Baud:
        baudSelect_ = button.selectorValue;
        break;
    case OptionGroup::Format:
        settings_.comFormat = button.selectorValue;
        break;
    }
}

void MainForm::send() {
    const SendControls controls{
        [this] { return xxx_->text(); },
        [this] { return text1_->text(); },
        [this] { return text3_->text(); },
        [this] { return text4_->text(); },
        [this](const QString& echo) { outmessage_->setText(echo); },
        [this](const QString& message) { showMessage(message); },
        [this] { watchdog_.arm(); },
    };
    runSend({portSelect_, baudSelect_, settings_.comFormat}, {serialLink_, udpLink_}, exchange_,
            settings_.ipAddress, settings_.ipPort, controls);
}

void MainForm::handleAnswer(const QByteArray& chunk) {
    if (const auto line = exchange_.reply.receive(chunk, exchange_.commandLength)) {
        messageWindow_->appendLine(*line);
        watchdog_.disarm();
    }
}

void MainForm::serialReceived(const QByteArray& chunk) {
    if (chunk.isEmpty() || ending_)
        return;
    handleAnswer(chunk);
    messageWindow_->moveCaretToEnd();
}

void MainForm::datagramReceived(const QByteArray& payload) {
    if (payload.isEmpty() || ending_)
        return;
    handleAnswer(payload);
}

void MainForm::showAbout() {
    // A box closed by its close box is gone: "About" loads a new one from the initial layout,
    // even when the closed one has not been deleted yet.
    if (infobox_ && infobox_->isClosed())
        delete infobox_.data();
    if (!infobox_)
        infobox_ = new Infobox();
    if (infobox_->isVisible())
        return;
    infobox_->show();
    infobox_->activateWindow();
}

void MainForm::exitWithSave() {
    // A click first gives EXIT the focus, which already ends the run: act once.
    if (ending_)
        return;
    // Quiet first: a failed save shows its message in a box of its own, during which neither
    // an armed watchdog nor an arriving answer may act any more.
    stopExchange();
    saveSettings();
    endRun();
}

void MainForm::stopExchange() {
    ending_ = true;
    watchdog_.disarm();
}

void MainForm::endRun() {
    stopExchange();
    if (infobox_)
        infobox_->close();
    seams_.endProgram();
}

void MainForm::closeEvent(QCloseEvent* event) {
    // The close box ends the program without saving, also while the about box is open.
    event->accept();
    if (!ending_)
        endRun();
}

void MainForm::showMessage(const QString& text) {
    seams_.showMessage(this, text);
}

void MainForm::focusFirstTabStop() {
    activateWindow();
    // The first stop from the start of the chain, wherever the window system has put the focus
    // on showing the window.
    if (QWidget* first = tabStopAfter(tabOrder_, this, nullptr, true))
        first->setFocus(Qt::TabFocusReason);
}

bool MainForm::focusNextPrevChild(bool next) {
    QWidget* target = tabStopAfter(tabOrder_, this, QApplication::focusWidget(), next);
    if (!target)
        return false;
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        // Only a move of the focus onto the control counts. The focus that comes back to it when
        // the window is active again after a message box or another window, or when the menu
        // closes, is the focus it already had.
        const Qt::FocusReason reason = static_cast<const QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason ||
            reason == Qt::MenuBarFocusReason)
            return false;
        if (watched == command2_)
            messageWindow_->clear();
        else if (watched == exitgomb_)
            exitWithSave();
        return false;
    }
    // SEND is the default button: Enter in a text box or on an option button presses it once.
    if (isEnterKey(event) && watched != command2_ && watched != exitgomb_) {
        command1_->click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace vmx
