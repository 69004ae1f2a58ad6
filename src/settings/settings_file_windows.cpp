// The settings writer's file operations on Windows, which has none of them: no unnamed files and
// no locks. An open file cannot be removed on Windows, so a live writer's temporary file stays.
#include "settings/settings_file_platform.h"

#include <QFileInfo>

namespace vmx::platform {

int openUnnamedFile(const QString&) {
    return -1;
}

std::optional<QString> nameUnnamedFile(int, const QString&, const QString&) {
    return QStringLiteral("unnamed files are not supported here");
}

void markInUse(int) {}

bool isAbandonedTemporary(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

} // namespace vmx::platform
