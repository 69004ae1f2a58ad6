#include "app/main_form.h"

#include "app/infobox.h"
#include "app/message_window.h"
#include "app/tab_chain.h"
#include "exchange/request_choices.h"
#include "links/link_kinds.h"

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

namespace vmx {

namespace {

// Shows a SEND's echo. Setting the text the box already holds would lay it out and announce it
// to assistive technology anew, right before the frame is written; what setting it also does
// (no selection, the caret at the end and the end in view) is done directly instead.
void showEcho(QLineEdit& box, const QString& echo) {
    if (box.text() != echo) {
        box.setText(echo);
        return;
    }
    if (box.hasSelectedText())
        box.deselect();
    if (box.cursorPosition() != echo.size())
        box.setCursorPosition(int(echo.size()));
}

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

MainForm::MainForm(MainFormWaysOut waysOut, QWidget* parent)
    : QMainWindow(parent), waysOut_(std::move(waysOut)),
      exchange_(waysOut_.resolveHost, waysOut_.replyTimeout, this) {
    buildControls();
    messageWindow_ = new MessageWindow(messageView_, this);
    wireControls();
}

MainForm::~MainForm() {
    delete infobox_.data();
}

void MainForm::wireControls() {
    for (std::size_t i = 0; i < kOptionButtons.size(); ++i) {
        // A button's handling runs whenever it becomes chosen, by mouse, keyboard or program,
        // and never when it is switched off.
        connect(optionButtons_[i], &QRadioButton::toggled, this, [this, i](bool chosen) {
            if (chosen)
                optionChosen(kOptionButtons[i].meaning);
        });
        optionButtons_[i]->installEventFilter(this);
    }
    for (QWidget* box : {static_cast<QWidget*>(commandBox_), static_cast<QWidget*>(addressBox_),
                         static_cast<QWidget*>(messageView_), static_cast<QWidget*>(ipAddressBox_),
                         static_cast<QWidget*>(ipPortBox_), static_cast<QWidget*>(echoBox_)})
        box->installEventFilter(this);
    clearButton_->installEventFilter(this);
    exitButton_->installEventFilter(this);

    connect(sendButton_, &QPushButton::clicked, this, &MainForm::send);
    connect(clearButton_, &QPushButton::clicked, messageWindow_, &MessageWindow::clear);
    connect(exitButton_, &QPushButton::clicked, this, &MainForm::exitWithSave);
    connect(aboutAction_, &QAction::triggered, this, &MainForm::showAbout);

    connect(&exchange_, &Exchange::echoed, this,
            [this](const QString& echo) { showEcho(*echoBox_, echo); });
    connect(&exchange_, &Exchange::failed, this,
            [this](const QString& message) { showMessage(message); });
    connect(&exchange_, &Exchange::answered, this,
            [this](Answer, const QByteArray& line) { messageWindow_->appendLine(line); });
    // Every arrival on a stream (a serial line, a device server) brings the end of the list
    // into view, whether or not it completed an answer; datagrams do not.
    connect(&exchange_, &Exchange::received, this, [this](LinkKind from) {
        if (linkKind(from).stream)
            messageWindow_->moveCaretToEnd();
    });
    connect(&exchange_, &Exchange::noAnswer, this, [this] { showMessage(kNoAnswerMessage); });
    // SEND losing the focus needs nothing: the window hands the focus on to the control that
    // has just received it, which keeps it.
}

void MainForm::optionChosen(const OptionCode& choice) {
    switch (choice.group) {
    case OptionGroup::Port: {
        link_ = choice.link;
        serialPort_ = choice.serialPort;
        // The IP address and port show for a link that reads them.
        const bool network = linkKind(link_).readsIpBoxes;
        for (QWidget* ipField :
             {static_cast<QWidget*>(ipAddressLabel_), static_cast<QWidget*>(ipPortLabel_),
              static_cast<QWidget*>(ipAddressBox_), static_cast<QWidget*>(ipPortBox_)})
            ipField->setVisible(network);
        break;
    }
    case OptionGroup::Baud:
        baud_ = choice.baud;
        break;
    case OptionGroup::Format:
        format_ = choice.format;
        break;
    }
}

void MainForm::send() {
    exchange_.send(sendRequest());
}

ExchangeRequest MainForm::sendRequest() const {
    return exchangeRequest(linkChoices());
}

LinkChoices MainForm::linkChoices() const {
    LinkChoices choices;
    choices.link = link_;
    choices.serialPort = serialPort_;
    choices.baud = baud_;
    choices.format = format_;
    choices.ipAddress = ipAddressBox_->text();
    choices.ipPort = ipPortBox_->text();
    choices.commandText = commandBox_->text();
    choices.addressText = addressBox_->text();
    return choices;
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
    exchange_.stop();
}

void MainForm::endRun() {
    stopExchange();
    if (infobox_)
        infobox_->close();
    waysOut_.endProgram();
}

void MainForm::closeEvent(QCloseEvent* event) {
    // The close box ends the program without saving, also while the about box is open.
    event->accept();
    if (!ending_)
        endRun();
}

void MainForm::showMessage(const QString& text) {
    waysOut_.showMessage(this, text);
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
        if (watched == clearButton_)
            messageWindow_->clear();
        else if (watched == exitButton_)
            exitWithSave();
        return false;
    }
    // SEND is the default button: Enter in a text box or on an option button presses it once.
    if (isEnterKey(event) && watched != clearButton_ && watched != exitButton_) {
        sendButton_->click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace vmx
