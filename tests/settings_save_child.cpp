// A settings save that stops half way, for tst_interrupted_save: writes new settings to the
// settings file in the current folder through an unnamed or a named temporary file, says "half"
// on its standard output when half the bytes are written, and goes on only when its standard
// input closes (the test kills it before that, or lets it finish).
//
//   settings_save_child unnamed|named
#include "settings/settings_file.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char* argv[]) {
    if (argc != 2)
        return 2;
    vmx::SettingsWriteSteps steps;
    steps.makeTemporary =
        std::strcmp(argv[1], "named") == 0 ? vmx::makeNamedBeside : vmx::makeUnnamedBeside;
    steps.afterHalfWritten = [] {
        static const char said[] = "half\n";
        if (::write(STDOUT_FILENO, said, sizeof said - 1) < 0)
            std::_Exit(3);
        char ignored;
        while (::read(STDIN_FILENO, &ignored, 1) > 0) {
        }
    };
    vmx::Settings settings = vmx::defaultSettings(1);
    settings.iniCommand = QStringLiteral("NEW");
    QString error;
    if (!vmx::writeSettingsFile(QString::fromLatin1(vmx::kSettingsFileName), settings, &error,
                                steps)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
