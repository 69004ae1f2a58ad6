#pragma once

#include "app/infobox.h"
#include "app/option_buttons.h"
#include "app/ways_out.h"
#include "exchange/exchange.h"
#include "exchange/request_choices.h"
#include "settings/settings_codec.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <optional>
#include <vector>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace vmx {

class MessageWindow;

// The main window. It owns the settings, the controls and the exchange; SEND hands the
// exchange a request made of the boxes and the option buttons, and shows what it reports.
class MainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit MainForm(MainFormWaysOut waysOut = {}, QWidget* parent = nullptr);
    ~MainForm() override;

    // Start-up before the window is shown: creates the settings file if missing, reads it and
    // applies it. False when the missing file could not be created: the program must end.
    bool loadSettings();
    // Collects the controls into the settings and writes the file afresh.
    void saveSettings();
    // After show: the first stop of the tab chain gets the focus.
    void focusFirstTabStop();

    // What SEND hands the exchange now: the boxes and the chosen option buttons, and the
    // choices it is made of.
    ExchangeRequest sendRequest() const;
    LinkChoices linkChoices() const;

    // The exchange, for the event log to follow.
    const Exchange& exchange() const { return exchange_; }

protected:
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void wireControls();
    void optionChosen(const OptionCode& choice);
    void send();
    void showAbout();
    void exitWithSave();
    // The exchange stops and shows nothing more: the run is ending.
    void stopExchange();
    void endRun();
    void showMessage(const QString& text);

    MainFormWaysOut waysOut_;

    // The choices of the option buttons: COM1 and 1200 baud until a button says otherwise. The
    // format is none while the settings file holds a code no button has; the port then keeps
    // the line settings it had.
    LinkKind link_ = LinkKind::Serial;
    int serialPort_ = 1;
    BaudRate baud_ = BaudRate::Baud1200;
    std::optional<LineFormat> format_ = LineFormat::E71;
    Settings settings_;
    bool ending_ = false;

    Exchange exchange_;

    QGroupBox* portFrame_ = nullptr;
    QGroupBox* baudFrame_ = nullptr;
    QGroupBox* formatFrame_ = nullptr;
    std::array<QRadioButton*, kOptionButtons.size()> optionButtons_{}; // as kOptionButtons
    QPushButton* sendButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QLineEdit* commandBox_ = nullptr;
    QLineEdit* addressBox_ = nullptr;
    QPlainTextEdit* messageView_ = nullptr;
    QLineEdit* ipAddressBox_ = nullptr;
    QLineEdit* ipPortBox_ = nullptr;
    QLineEdit* echoBox_ = nullptr;
    QLabel* commandLabel_ = nullptr;
    QLabel* addressLabel_ = nullptr;
    QLabel* echoLabel_ = nullptr;
    QLabel* ipAddressLabel_ = nullptr;
    QLabel* ipPortLabel_ = nullptr;
    QMenu* infoMenu_ = nullptr;
    QAction* aboutAction_ = nullptr;
    std::vector<QWidget*> tabOrder_; // every control that can take the focus, by tab index

    MessageWindow* messageWindow_ = nullptr;
    QPointer<Infobox> infobox_;
};

} // namespace vmx
