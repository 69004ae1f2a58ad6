#include "support/window_fixture.h"

#include "settings/settings_file.h"
#include "support/object_tree.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTest>

namespace vmx::test {

MainFormWaysOut recordingWaysOut(WaysOutRecord& record, std::chrono::milliseconds replyTimeout,
                                 MessageBoxes boxes) {
    MainFormWaysOut waysOut;
    if (boxes == MessageBoxes::Recorded)
        waysOut.showMessage = [&record](QWidget*, const QString& text) { record.messages << text; };
    waysOut.endProgram = [&record] { ++record.endCount; };
    waysOut.replyTimeout = replyTimeout;
    waysOut.resolveHost = [](const QString&) { return QList<QHostAddress>(); };
    return waysOut;
}

WindowFixture::WindowFixture(std::chrono::milliseconds replyTimeout, MessageBoxes boxes,
                             HostResolver resolveHost)
    : waysOut_(recordingWaysOut(record_, replyTimeout, boxes)) {
    if (resolveHost)
        waysOut_.resolveHost = std::move(resolveHost);
    for (int n = 1; n <= 4; ++n)
        QFile::link(dir_.filePath(QStringLiteral("no-such-device-%1").arg(n)),
                    dir_.filePath(QStringLiteral("COM%1").arg(n)));
    form_ = std::make_unique<MainForm>(waysOut_);
}

WindowFixture::~WindowFixture() = default;

bool WindowFixture::start() {
    const bool loaded = form_->loadSettings();
    if (!loaded)
        return false;
    form_->show();
    if (!QTest::qWaitForWindowExposed(form_.get()))
        return false;
    form_->focusFirstTabStop();
    return true;
}

bool WindowFixture::start(const Settings& settings) {
    return writeSettingsFile(QString::fromLatin1(kSettingsFileName), settings) && start();
}

void WindowFixture::nextRun() {
    form_.reset();
    record_ = {};
    form_ = std::make_unique<MainForm>(waysOut_);
}

QLineEdit* WindowFixture::box(const char* objectName) const {
    return control<QLineEdit>(objectName);
}

void WindowFixture::click(const char* objectName) const {
    control<QAbstractButton>(objectName)->click();
}

QString WindowFixture::messageText() const {
    return messageWindow(*form_).text();
}

const QByteArray& WindowFixture::rxBuffer() const {
    return form_->exchange().state().reply.rxBuffer();
}

float portSelect(const MainForm& form) {
    const LinkChoices choices = form.linkChoices();
    return choices.link == LinkKind::Udp ? 99.0f : float(choices.serialPort - 1);
}

float baudSelect(const MainForm& form) {
    const LinkChoices choices = form.linkChoices();
    return choices.format ? float(choices.baud) : -1.0f;
}

float comFormat(const MainForm& form) {
    const LinkChoices choices = form.linkChoices();
    return choices.format ? float(*choices.format) : -1.0f;
}

const SerialLink& serialLink(const MainForm& form) {
    return partOf<SerialLink>(form);
}

const UdpLink& udpLink(const MainForm& form) {
    return partOf<UdpLink>(form);
}

const ReplyWatchdog& watchdog(const MainForm& form) {
    return partOf<ReplyWatchdog>(form);
}

MessageWindow& messageWindow(const MainForm& form) {
    return partOf<MessageWindow>(form);
}

Infobox* infobox() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<Infobox*>(window))
            return box;
    return nullptr;
}

} // namespace vmx::test
