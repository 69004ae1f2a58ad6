// Start-up and EXIT: the settings file between runs.
#include "app/main_form.h"

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
    const bool loaded = bytes && decodeSettings(*bytes, settings_) && textsFitTheBoxes(settings_);
    // SEND takes the format from the file itself, even from one that failed to load after it,
    // and even a code no button has (the port then keeps its line settings).
    const int format = optionForFileCode(OptionGroup::Format, settings_.comFormat);
    format_ = format < 0 ? std::nullopt : std::optional(kOptionCodes[size_t(format)].format);
    if (!loaded) {
        // Values read before the failure stay read; no control is touched.
        showMessage(kIniLoadError);
        return true;
    }

    // Choosing a button runs its handling, so the choices and the IP fields follow the file.
    for (const auto& [group, code] : {std::pair{OptionGroup::Port, settings_.iniPort},
                                      std::pair{OptionGroup::Baud, settings_.iniBaud},
                                      std::pair{OptionGroup::Format, settings_.comFormat}})
        if (const int button = optionForFileCode(group, code); button >= 0)
            optionButtons_[size_t(button)]->setChecked(true);

    commandBox_->setText(settings_.iniCommand);
    addressBox_->setText(formatSettingsNumber(settings_.iniAddress));
    ipAddressBox_->setText(settings_.ipAddress);
    ipPortBox_->setText(settings_.ipPort);
    return true;
}

void MainForm::saveSettings() {
    // The codes come from the chosen buttons; a frame with none chosen keeps its stored code.
    float* const codes[] = {&settings_.iniPort, &settings_.iniBaud, &settings_.comFormat};
    for (std::size_t i = 0; i < kOptionButtons.size(); ++i)
        if (optionButtons_[i]->isChecked())
            *codes[int(kOptionCodes[i].group)] = kOptionCodes[i].fileCode;
    settings_.iniAddress = numericValue(addressBox_->text());
    settings_.iniCommand = commandBox_->text();
    settings_.ipAddress = ipAddressBox_->text();
    settings_.ipPort = ipPortBox_->text();

    QString error;
    if (!writeSettingsFile(settingsPath(), settings_, &error))
        showMessage(QStringLiteral("The settings could not be saved to %1: %2")
                        .arg(QFileInfo(settingsPath()).absoluteFilePath(), error));
}

} // namespace vmx
