#include "support/option_buttons.h"

#include <QAbstractButton>
#include <QWidget>

namespace vmx::test {

Settings optionCodes(float port, float baud, float format) {
    Settings settings;
    settings.iniPort = port;
    settings.iniBaud = baud;
    settings.iniAddress = 2;
    settings.iniCommand = QStringLiteral("RD");
    settings.ipAddress = QStringLiteral("127.0.0.1");
    settings.ipPort = QStringLiteral("no port");
    settings.comFormat = format;
    return settings;
}

QStringList chosenOptions(const QWidget& window) {
    QStringList names;
    for (int n = 1; n <= 11; ++n) {
        const QString name = QStringLiteral("Option%1").arg(n);
        if (window.findChild<QAbstractButton*>(name)->isChecked())
            names << name;
    }
    return names;
}

int ipFieldsShown(const QWidget& window) {
    int shown = 0;
    for (const char* name : kIpFields)
        shown += window.findChild<QWidget*>(QLatin1String(name))->isVisible() ? 1 : 0;
    return shown;
}

} // namespace vmx::test
