#pragma once

#include "app/infobox.h"
#include "app/seams.h"
#include "app/send_operation.h"
#include "links/serial_link.h"
#include "links/udp_link.h"
#include "settings/settings_codec.h"
#include "supervision/reply_watchdog.h"

#include <QMainWindow>
#include <QPointer>

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
struct OptionButton;

// The main window. It owns the state, the controls, both links and the watchdog; its handlers
// read controls, call the logic and write controls back.
class MainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit MainForm(MainFormSeams seams = {}, QWidget* parent = nullptr);
    ~MainForm() override;

    // Start-up before the window is shown: creates the settings file if missing, reads it and
    // applies it. False when the missing file could not be created: the program must end.
    bool loadSettings();
    // Collects the controls into the settings and writes the file afresh.
    void saveSettings();
    // After show: the first stop of the tab chain gets the focus.
    void focusFirstTabStop();

    // Selectors written by the option buttons; comFormat is also the stored format.
    float portSelect() const { return portSelect_; }
    float baudSelect() const { return baudSelect_; }
    float comFormat() const { return settings_.comFormat; }
    const Settings& settings() const { return settings_; }
    const ExchangeState& exchange() const { return exchange_; }
    const SerialLink& serialLink() const { return serialLink_; }
    const UdpLink& udpLink() const { return udpLink_; }
    const ReplyWatchdog& watchdog() const { return watchdog_; }
    MessageWindow& messageWindow() { return *messageWindow_; }
    Infobox* infobox() const { return infobox_; }

public slots:
    // The receive events of the two links; both feed the one reply collection.
    void serialReceived(const QByteArray& chunk);
    void datagramReceived(const QByteArray& payload);

protected:
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void wireControls();
    void optionChosen(const OptionButton& button);
    void send();
    void handleAnswer(const QByteArray& chunk);
    void showAbout();
    void exitWithSave();
    // The watchdog stops and receive events are no longer taken: the run is ending.
    void stopExchange();
    void endRun();
    void showMessage(const QString& text);
    QRadioButton* optionButton(const char* objectName) const;

    MainFormSeams seams_;

    // State kept for the whole run.
    float portSelect_ = 0;
    float baudSelect_ = 0;
    Settings settings_;
    ExchangeState exchange_;
    bool ending_ = false;

    SerialLink serialLink_;
    UdpLink udpLink_;
    ReplyWatchdog watchdog_;

    // Controls, by their names.
    QGroupBox* frame1_ = nullptr;
    QGroupBox* frame2_ = nullptr;
    QGroupBox* frame3_ = nullptr;
    std::vector<QRadioButton*> options_; // Option1 .. Option11, by number
    QPushButton* command1_ = nullptr;    // SEND
    QPushButton* command2_ = nullptr;    // CLEAR MESSAGE WINDOW
    QPushButton* exitgomb_ = nullptr;    // EXIT
    QLineEdit* xxx_ = nullptr;           // command
    QLineEdit* text1_ = nullptr;         // address
    QPlainTextEdit* text2_ = nullptr;    // message window
    QLineEdit* text3_ = nullptr;         // IP address
    QLineEdit* text4_ = nullptr;         // IP port
    QLineEdit* outmessage_ = nullptr;    // echo of the last frame
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* label3_ = nullptr;
    QLabel* label4_ = nullptr;
    QLabel* label5_ = nullptr;
    QMenu* help_ = nullptr;
    QAction* helpAbout_ = nullptr;
    std::vector<QWidget*> tabOrder_; // every control that can take the focus, by tab index

    MessageWindow* messageWindow_ = nullptr;
    QPointer<Infobox> infobox_;
};

} // namespace vmx
