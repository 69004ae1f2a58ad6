// The yardstick for startup_velmarixon in bench_startup: what a plain Qt program with the same
// window does to start. A QMainWindow with a menu bar holding one menu and one action, and in
// a client area of the same size the same kinds and numbers of standard widgets at the same
// places: three frames, eleven option buttons, three push buttons, five line boxes, a text view
// and five labels (four of the line boxes and labels hidden, as the IP fields are). It links the
// same Qt modules and makes (without opening) a serial port and a UDP socket, as the program's
// window does; it reads and writes no file. It ends at its first paint.
#include "startup_probe.h"

#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QUdpSocket>

namespace {

template <typename Widget> Widget* at(Widget* widget, int x, int y, int width, int height) {
    widget->setGeometry(x, y, width, height);
    return widget;
}

} // namespace

int main(int argc, char* argv[]) {
    vmx::bench::PaintProbe app(argc, argv);
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("Info"))->addAction(QStringLiteral("About"));
    auto* client = new QWidget(&window);
    client->setFixedSize(777, 355);
    window.setCentralWidget(client);
    window.layout()->setSizeConstraint(QLayout::SetFixedSize);

    auto* ports = at(new QGroupBox(QStringLiteral("Port number"), client), 320, 24, 97, 169);
    auto* bauds = at(new QGroupBox(QStringLiteral("Baud rate"), client), 432, 24, 89, 169);
    auto* formats = at(new QGroupBox(QStringLiteral("Format"), client), 320, 208, 201, 41);
    const char* portNames[] = {"Com1", "Com2", "Com3", "Com4", "Udp"};
    for (int i = 0; i < 5; ++i)
        at(new QRadioButton(QLatin1String(portNames[i]), ports), 24, 40 + 24 * i, 57, 25);
    const char* baudNames[] = {"1200", "2400", "9600", "19200"};
    for (int i = 0; i < 4; ++i)
        at(new QRadioButton(QLatin1String(baudNames[i]), bauds), 16, 40 + 24 * i, 57, 17);
    at(new QRadioButton(QStringLiteral("E71"), formats), 24, 16, 57, 13);
    at(new QRadioButton(QStringLiteral("N81"), formats), 128, 16, 49, 17);

    at(new QPushButton(QStringLiteral("SEND"), client), 656, 168, 89, 33);
    at(new QPushButton(QStringLiteral("EXIT"), client), 648, 304, 105, 33);
    at(new QPushButton(QStringLiteral("CLEAR MESSAGE WINDOW"), client), 64, 312, 185, 25);
    at(new QLineEdit(QStringLiteral("RD"), client), 616, 128, 129, 19);
    at(new QLineEdit(QStringLiteral("02"), client), 664, 96, 33, 19);
    at(new QLineEdit(client), 424, 264, 321, 19)->setReadOnly(true);
    at(new QLineEdit(client), 616, 32, 129, 19)->hide();
    at(new QLineEdit(client), 648, 64, 65, 19)->hide();
    at(new QPlainTextEdit(client), 24, 16, 281, 281)->setReadOnly(true);
    at(new QLabel(QStringLiteral("COMMAND:"), client), 528, 128, 73, 17);
    at(new QLabel(QStringLiteral("ADDRESS:"), client), 536, 96, 65, 17);
    at(new QLabel(QStringLiteral("MESSAGE"), client), 328, 264, 81, 17);
    at(new QLabel(QStringLiteral("IP ADDRESS"), client), 528, 32, 73, 17)->hide();
    at(new QLabel(QStringLiteral("PORT"), client), 536, 64, 65, 17)->hide();

    QSerialPort serial;
    QUdpSocket udp;
    window.show();
    return QApplication::exec();
}
