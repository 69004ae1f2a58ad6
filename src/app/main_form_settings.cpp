// Start-up and EXIT: the settings file between runs.
#include "app/main_form.h"

#include "settings/option_codes.h"
#include "settings/settings_file.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>

namespace vmx {

namespace {

const QString kIniLoadError = QStringLiteral("ini file load error");

QString settingsPath() {
    return QString::fromLatin1(kSettingsFileName);
}

// A text longer than the boxes take would be cut on the way in and written back cut at EXIT.
bool textsFitTheBoxes(const Settings& settings) {
    return settings.iniCommand.size() <= kMaxSettingsTextLength &&
           settings.ipAddress.size() <= kMaxSettingsTextLength &&
           settings.ipPort.size() <= kMaxSettingsTextLength;
}

} // namespace

bool MainForm::loadSettings() {
    const QString path = settingsPath();
    if (!QFileInfo::exists(path)) {
        settings_ = defaultSettings(settings_.comFormat);
        QString error;
        if (!writeSettingsFile(path, settings_, &error)) {
            showMessage(QStringLiteral("The settings file %1 could not be created in %2: %3")
                            .arg(path, QFileInfo(path).absolutePath(), error));
            return false;
        }
    }

    const std::optional<QByteArray> bytes = readSettingsBytes(path);
    if (!bytes || !decodeSettings(*bytes, settings_) || !textsFitTheBoxes(settings_)) {
        // Values read before the failure stay read; no control is touched.
        showMessage(kIniLoadError);
        return true;
    }

    // Choosing a button runs its handling, so the selectors and the IP fields follow the file.
    const std::pair<OptionGroup, float> choices[] = {{OptionGroup::Port, settings_.iniPort},
                                                     {OptionGroup::Baud, settings_.iniBaud},
                                                     {OptionGroup::Format, settings_.comFormat}};
    for (const auto& [group, code] : choices)
        if (const OptionButton* button = buttonForFileCode(group, code))
            optionButton(button->objectName)->setChecked(true);

    xxx_->setText(settings_.iniCommand);
    text1_->setText(formatSettingsNumber(settings_.iniAddress));
    text3_->setText(settings_.ipAddress);
    text4_->setText(settings_.ipPort);
    return true;
}

void MainForm::saveSettings() {
    // The codes come from the chosen buttons; a frame with none chosen keeps its stored code.
    for (QRadioButton* radio : options_) {
        if (!radio->isChecked())
            continue;
        const OptionButton* button = buttonNamed(radio->objectName().toLatin1().constData());
        switch (button->group) {
        case OptionGroup::Port:
            settings_.iniPort = button->fileCode;
            break;
        case OptionGroup::Baud:
            settings_.iniBaud = button->fileCode;
            break;
        case OptionGroup::Format:
            settings_.comFormat = button->fileCode;
            break;
        }
    }
    settings_.iniAddress = numericValue(text1_->text());
    settings_.iniCommand = xxx_->text();
    settings_.ipAddress = text3_->text();
    settings_.ipPort = text4_->text();

    QString error;
    if (!writeSettingsFile(settingsPath(), settings_, &error))
        showMessage(QStringLiteral("The settings could not be saved to %1: %2")
                        .arg(QFileInfo(settingsPath()).absoluteFilePath(), error));
}

} // namespace vmx
