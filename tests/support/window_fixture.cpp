#include "support/window_fixture.h"

#include <QFile>
#include <QTest>

namespace vmx::test {

MainFormSeams recordingSeams(SeamRecord& record, std::chrono::milliseconds replyTimeout) {
    MainFormSeams seams;
    seams.showMessage = [&record](QWidget*, const QString& text) { record.messages << text; };
    seams.endProgram = [&record] { ++record.endCount; };
    seams.replyTimeout = replyTimeout;
    return seams;
}

WindowFixture::WindowFixture(std::chrono::milliseconds replyTimeout) {
    for (int n = 1; n <= 4; ++n)
        QFile::link(dir_.filePath(QStringLiteral("no-such-device-%1").arg(n)),
                    dir_.filePath(QStringLiteral("COM%1").arg(n)));
    form_ = std::make_unique<MainForm>(recordingSeams(record_, replyTimeout));
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

} // namespace vmx::test
