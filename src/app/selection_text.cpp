#include "app/selection_text.h"

#include <QStringList>
#include <QThreadPool>
#include <QVariant>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <algorithm>
#include <utility>

namespace vmx {

namespace {

const QString kPlainText = QStringLiteral("text/plain");

// A received byte as UTF-8 of the character the window shows for it: Latin-1, and a control
// character (no line break is left inside a line) as its control picture, U+2400 + code, or
// U+2421 for DEL. Returns the end of what it wrote.
char* putShown(char* out, unsigned char byte) {
    if (byte < 0x20 || byte == 0x7F) {
        *out++ = char(0xE2);
        *out++ = char(0x90);
        *out++ = char(byte == 0x7F ? 0xA1 : 0x80 + byte);
    } else if (byte < 0x80) {
        *out++ = char(byte);
    } else {
        *out++ = char(0xC0 | (byte >> 6));
        *out++ = char(0x80 | (byte & 0x3F));
    }
    return out;
}

qsizetype shownSize(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F ? 3 : byte < 0x80 ? 1 : 2;
}

// The texts are made one after another in a thread of their own. Qt's painting hands parts of
// large fills to the application's shared thread pool and waits for them: texts made there
// (Ctrl+A and Ctrl+C make two of a whole window at once) took every thread of it on a 2-core
// machine and held the window's paint (figures in docs/benchmarks.md).
QThreadPool& makers() {
    static QThreadPool pool;
    pool.setMaxThreadCount(1);
    return pool;
}

} // namespace

// What the worker and the selection share: the lines, and the text once made.
struct SelectionText::Making {
    std::vector<QByteArray> lines;
    qsizetype firstFrom = 0;
    qsizetype lastTo = 0;
    // Set when the selection is gone before its text is made: the worker stops.
    std::atomic<bool> abandoned{false};
    std::mutex mutex;
    std::condition_variable madeSignal;
    bool made = false;
    QByteArray utf8;

    void make();
};

SelectionText::SelectionText(std::vector<QByteArray> lines, qsizetype firstFrom, qsizetype lastTo)
    : making_(std::make_shared<Making>()) {
    making_->lines = std::move(lines);
    making_->firstFrom = firstFrom;
    making_->lastTo = lastTo;
    makers().start([making = making_] { making->make(); });
}

SelectionText::~SelectionText() {
    making_->abandoned = true;
}

QStringList SelectionText::formats() const {
    return {kPlainText};
}

bool SelectionText::hasFormat(const QString& mimeType) const {
    return mimeType == kPlainText;
}

QVariant SelectionText::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType != kPlainText)
        return {};
    if (type.id() == QMetaType::QString)
        return QString::fromUtf8(utf8());
    return utf8();
}

const QByteArray& SelectionText::utf8() const {
    std::unique_lock lock(making_->mutex);
    making_->madeSignal.wait(lock, [this] { return making_->made; });
    return making_->utf8;
}

void SelectionText::Making::make() {
    // Two passes over the bytes, measuring and then writing, so the text is allocated once.
    // The lines are shared with the window, which never changes a line it holds.
    const auto range = [this](size_t i) {
        const QByteArray& line = lines[i];
        const qsizetype from = i == 0 ? std::min(firstFrom, line.size()) : 0;
        const qsizetype to = i + 1 == lines.size() ? std::min(lastTo, line.size()) : line.size();
        return std::pair(from, std::max(from, to));
    };
    qsizetype size = 0;
    for (size_t i = 0; i < lines.size() && !abandoned; ++i) {
        const auto [from, to] = range(i);
        const auto* bytes = reinterpret_cast<const unsigned char*>(lines[i].constData());
        size += i > 0 ? 1 : 0;
        for (qsizetype at = from; at < to; ++at)
            size += shownSize(bytes[at]);
    }
    QByteArray text;
    if (!abandoned) {
        text.resize(size);
        char* out = text.data();
        for (size_t i = 0; i < lines.size() && !abandoned; ++i) {
            const auto [from, to] = range(i);
            const auto* bytes = reinterpret_cast<const unsigned char*>(lines[i].constData());
            if (i > 0)
                *out++ = '\n';
            for (qsizetype at = from; at < to; ++at)
                out = putShown(out, bytes[at]);
        }
    }
    {
        const std::lock_guard lock(mutex);
        utf8 = std::move(text);
        made = true;
        // The received lines are not needed any more.
        lines = {};
    }
    madeSignal.notify_all();
}

} // namespace vmx
