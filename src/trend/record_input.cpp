#include "trend/record_input.h"

#include <QFile>

namespace vmx::trend {

void RecordInput::takeLine(QByteArrayView line) {
    switch (parseRecordLine(line, record_)) {
    case LineKind::Record:
        model_.add(record_);
        break;
    case LineKind::Ignored:
        break;
    case LineKind::Skipped:
        model_.countSkipped();
        break;
    }
}

void RecordInput::feed(QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        const QByteArrayView piece = end < 0 ? bytes : bytes.first(end);
        if (!overlong_ && partial_.size() + piece.size() > kMaxLineBytes) {
            overlong_ = true;
            partial_.clear();
            partial_.squeeze();
        }
        if (end < 0) {
            if (!overlong_)
                partial_.append(piece);
            return;
        }
        if (overlong_) {
            model_.countSkipped();
            overlong_ = false;
        } else if (partial_.isEmpty()) {
            takeLine(piece); // the whole line is in this piece: no copy
        } else {
            partial_.append(piece);
            takeLine(partial_);
            partial_.clear();
        }
        bytes = bytes.sliced(end + 1);
    }
}

void RecordInput::finish() {
    if (overlong_ || !partial_.trimmed().isEmpty())
        model_.countSkipped();
    partial_.clear();
    overlong_ = false;
}

QString loadRecordsFile(const QString& path, TrendModel& model) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
    RecordInput input(model);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    while (true) {
        const qint64 got = file.read(chunk.data(), chunk.size());
        if (got < 0)
            return QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        if (got == 0)
            break;
        input.feed(QByteArrayView(chunk.constData(), got));
    }
    input.finish();
    return {};
}

} // namespace vmx::trend
