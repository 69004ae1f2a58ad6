#pragma once

#include "trend/trend_model.h"

#include <QSize>
#include <QString>

namespace vmx::trend {

// Writes the trend between fromMs and toMs as a PNG or SVG picture, chosen by the file's
// suffix (.png, .svg). An empty text, or why it was not written.
QString saveTrendImage(const QString& path, QSize size, const TrendModel& model, qint64 fromMs,
                       qint64 toMs);

} // namespace vmx::trend
