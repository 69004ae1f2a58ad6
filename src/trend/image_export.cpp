#include "trend/image_export.h"

#include "trend/trend_painter.h"

#include <QBuffer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>

namespace vmx::trend {

namespace {

void paintOn(QPaintDevice& device, QSize size, const TrendModel& model, qint64 fromMs,
             qint64 toMs) {
    QPainter painter(&device);
    const QFont font = QGuiApplication::font();
    painter.setFont(font);
    const TrendFrame frame = layoutTrend(QRect(QPoint(0, 0), size), font, model, fromMs, toMs);
    paintTrend(painter, frame, model);
}

} // namespace

QString saveTrendImage(const QString& path, QSize size, const TrendModel& model, qint64 fromMs,
                       qint64 toMs) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"svg") {
        // Written through a buffer and a save file, so that a failed write leaves no half file.
        QByteArray svg;
        {
            QBuffer buffer(&svg);
            buffer.open(QIODevice::WriteOnly);
            QSvgGenerator generator;
            generator.setOutputDevice(&buffer);
            generator.setSize(size);
            generator.setViewBox(QRect(QPoint(0, 0), size));
            generator.setTitle(QStringLiteral("Velmarixon trend"));
            paintOn(generator, size, model, fromMs, toMs);
        }
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(svg) != svg.size() || !file.commit())
            return QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return {};
    }
    if (suffix != u"png")
        return QStringLiteral("%1: say .png or .svg at the end of the file name.").arg(path);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    paintOn(image, size, model, fromMs, toMs);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
        return QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
    return {};
}

} // namespace vmx::trend
