#include "links/device_server_file.h"

#include "links/link_kinds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vmx {

namespace {

// Longer than any endpoint line; a bigger file is no endpoint file and is not read whole.
constexpr qint64 kMostBytes = 1024;

} // namespace

std::optional<LinkTarget> deviceServerFile(int portNumber,
                                           const std::optional<LineSettings>& line) {
    const QFileInfo info(QDir::current().filePath(QStringLiteral("COM%1").arg(portNumber)));
    if (info.isSymLink() || !info.isFile() || info.size() > kMostBytes)
        return std::nullopt;
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString text = QString::fromUtf8(file.read(kMostBytes)).trimmed();
    if (text.contains(u'\n'))
        return std::nullopt;
    const auto typed = typedEndpoint(text);
    if (!typed || !typed->valid() || !typed->row->namedByComFile)
        return std::nullopt;
    return typed->row->fromEndpoint(typed->endpoint, line);
}

} // namespace vmx
