#include "cli/port_listing.h"

#include "links/device_server_file.h"
#include "links/link_kinds.h"
#include "links/serial_link.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

namespace vmx {

namespace {

// The stable names of the ports (/dev/serial/by-id/...), by the device each one leads to. The
// kernel's ttyUSB0 may be another adapter after the next plug-in; the by-id name stays.
QHash<QString, QString> stableNames() {
    QHash<QString, QString> names;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& entry : byId.entryInfoList(QDir::System | QDir::Files))
        names.insert(entry.canonicalFilePath(), entry.absoluteFilePath());
    return names;
}

QString hex4(quint16 value) {
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

QString portLine(const QSerialPortInfo& port, const QHash<QString, QString>& stable) {
    QStringList parts{port.systemLocation()};
    const QString device = QFileInfo(port.systemLocation()).canonicalFilePath();
    if (const auto name = stable.constFind(device); name != stable.cend())
        parts.append(*name);
    if (!port.description().isEmpty())
        parts.append(port.description());
    if (!port.manufacturer().isEmpty())
        parts.append(port.manufacturer());
    if (port.hasVendorIdentifier() && port.hasProductIdentifier())
        parts.append(QStringLiteral("USB %1:%2")
                         .arg(hex4(port.vendorIdentifier()), hex4(port.productIdentifier())));
    if (!port.serialNumber().isEmpty())
        parts.append(QStringLiteral("serial number %1").arg(port.serialNumber()));
    return parts.join(QStringLiteral("  "));
}

// Where COMn leads, as the window would open it.
QString comLine(int portNumber) {
    const QString name = QStringLiteral("COM%1").arg(portNumber);
    const QFileInfo local(QDir::current().filePath(name));
    if (const auto server = deviceServerFile(portNumber, std::nullopt))
        return QStringLiteral("%1 -> %2 (device server)").arg(name, endpointText(*server));
    const QString path = serialPortPath(portNumber);
    if (local.isSymLink() && !local.exists())
        return QStringLiteral("%1 -> %2 (missing)").arg(name, local.symLinkTarget());
    if (local.exists())
        return QStringLiteral("%1 -> %2").arg(name, path);
    return QStringLiteral("%1: no %1 in this folder, the port is %2").arg(name, path);
}

} // namespace

QStringList portListing() {
    QStringList lines;
    const QHash<QString, QString> stable = stableNames();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        lines.append(QStringLiteral("No serial ports found."));
    for (const QSerialPortInfo& port : ports)
        lines.append(portLine(port, stable));
    lines.append(QStringLiteral("In %1:").arg(QDir::currentPath()));
    for (int n = 1; n <= 4; ++n)
        lines.append(QStringLiteral("  ") + comLine(n));
    return lines;
}

} // namespace vmx
