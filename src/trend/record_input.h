#pragma once

#include "trend/trend_model.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace vmx::trend {

// Cuts bytes arriving in any pieces into lines and adds each line's record to the model. A line
// longer than kMaxLineBytes is no record: it is skipped without being held, so memory stays
// bounded whatever comes in.
class RecordInput {
public:
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;

    explicit RecordInput(TrendModel& model) : model_(model) {}

    void feed(QByteArrayView bytes);
    // The end of the input: a last line without its line end is cut short, skipped and counted.
    void finish();

private:
    void takeLine(QByteArrayView line);

    TrendModel& model_;
    QByteArray partial_;
    bool overlong_ = false;
    TrendRecord record_;
};

// Reads a whole file of records into the model; an empty text, or why it could not be read.
QString loadRecordsFile(const QString& path, TrendModel& model);

} // namespace vmx::trend
