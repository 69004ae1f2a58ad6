#include "settings/settings_file.h"
#include "support/scratch_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

using vmx::Settings;

namespace {

const QString kFile = QString::fromLatin1(vmx::kSettingsFileName);

Settings udpSettings() {
    Settings s = vmx::defaultSettings(1);
    s.iniPort = 99;
    s.iniBaud = 2;
    s.iniAddress = 2.5f;
    s.iniCommand = QStringLiteral("RD,\"x");
    s.ipAddress = QStringLiteral("127.0.0.1");
    s.ipPort = QStringLiteral("5001");
    return s;
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

bool putBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

// Makes a directory refuse new entries even for root (the immutable attribute), and lifts that
// again when it goes away. Unavailable where the file system or the process lacks support.
class ImmutableDir {
public:
    explicit ImmutableDir(const QString& path) : path_(path) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return;
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            active_ = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
    }
    ~ImmutableDir() {
        if (!active_)
            return;
        const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return;
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        ::close(fd);
    }
    ImmutableDir(const ImmutableDir&) = delete;
    ImmutableDir& operator=(const ImmutableDir&) = delete;
    bool active() const { return active_; }

private:
    QString path_;
    bool active_ = false;
};

// Limits the size of files this process may write, as a full disk would; restored afterwards.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        if (::getrlimit(RLIMIT_FSIZE, &old_) != 0)
            return;
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        active_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        if (active_)
            ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return active_; }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
    bool active_ = false;
};

} // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void writeThenRead() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QString error;
        QVERIFY2(vmx::writeSettingsFile(kFile, vmx::defaultSettings(0), &error), qPrintable(error));
        QCOMPARE(entries(scratch.path()), QStringList{kFile});
        QVERIFY(QFileInfo::exists(scratch.filePath(kFile))); // in the current directory

        const auto bytes = vmx::readSettingsBytes(kFile, &error);
        QVERIFY2(bytes.has_value(), qPrintable(error));
        QCOMPARE(*bytes, vmx::encodeSettings(vmx::defaultSettings(0)));
        QCOMPARE(bytes->size(), 101 + 18 + vmx::defaultIpAddress().size());
        Settings back;
        QVERIFY(vmx::decodeSettings(*bytes, back));
        QCOMPARE(back.ipAddress, vmx::defaultIpAddress());
    }

    // The old file is replaced whole: nothing of a longer old file is left at the end.
    void writeReplacesLongerFile() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QVERIFY(putBytes(kFile, QByteArray(5000, 'z')));
        QVERIFY(vmx::writeSettingsFile(kFile, udpSettings()));
        QCOMPARE(fileBytes(kFile), vmx::encodeSettings(udpSettings()));
        QCOMPARE(entries(scratch.path()), QStringList{kFile});

        Settings back;
        QVERIFY(vmx::decodeSettings(*vmx::readSettingsBytes(kFile), back));
        QCOMPARE(back.iniPort, 99.0f);
        QCOMPARE(back.iniCommand, QStringLiteral("RD,\"x"));
        QVERIFY(back.iniAddress == 2.5f);
    }

    void readFailures_data() {
        QTest::addColumn<QString>("setup");
        QTest::newRow("missing") << "missing";
        QTest::newRow("directory") << "directory";
        QTest::newRow("below a regular file") << "below-file";
        QTest::newRow("dangling link") << "dangling";
    }

    void readFailures() {
        QFETCH(QString, setup);
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QString path = kFile;
        if (setup == "directory") {
            QVERIFY(QDir().mkdir(kFile));
        } else if (setup == "below-file") {
            QVERIFY(putBytes(QStringLiteral("plain"), "x"));
            path = QStringLiteral("plain/") + kFile;
        } else if (setup == "dangling") {
            QVERIFY(QFile::link(QStringLiteral("nowhere"), kFile));
        }
        QString error;
        QVERIFY(!vmx::readSettingsBytes(path, &error).has_value());
        QVERIFY2(error.contains(path), qPrintable(error));
        QVERIFY(!vmx::readSettingsBytes(path).has_value()); // no reason wanted: no crash
    }

    // Only the head of a huge file is read; a valid file sits well inside it.
    void readsOnlyTheHead() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        const QByteArray valid = vmx::encodeSettings(udpSettings());
        {
            QFile file(kFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(valid), valid.size());
            QVERIFY(file.resize(qint64(80) * 1024 * 1024)); // the rest reads as NUL bytes
        }
        const auto bytes = vmx::readSettingsBytes(kFile);
        QVERIFY(bytes.has_value());
        QCOMPARE(bytes->size(), qsizetype(64) * 1024 * 1024);
        QVERIFY(bytes->startsWith(valid));
        Settings back;
        QVERIFY(vmx::decodeSettings(*bytes, back));
        QCOMPARE(back.ipPort, QStringLiteral("5001"));
    }

    void tenMegabyteLineFile() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QVERIFY(putBytes(kFile, "\"Serial port=\",\"" + QByteArray(10 * 1024 * 1024, 'q')));
        const auto bytes = vmx::readSettingsBytes(kFile);
        QVERIFY(bytes.has_value());
        QCOMPARE(bytes->size(), 10 * 1024 * 1024 + 16);
        Settings s;
        s.iniPort = -5;
        QVERIFY(!vmx::decodeSettings(*bytes, s));
        QCOMPARE(s.iniPort, 0.0f); // read before the end and kept: a text that is no number
    }

    void writeToDirectoryPath() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QVERIFY(QDir().mkdir(kFile));
        QVERIFY(putBytes(kFile + QStringLiteral("/inside"), "keep"));
        QString error;
        QVERIFY(!vmx::writeSettingsFile(kFile, vmx::defaultSettings(0), &error));
        QVERIFY2(error.contains(kFile), qPrintable(error));
        QVERIFY(QFileInfo(kFile).isDir());
        QCOMPARE(fileBytes(kFile + QStringLiteral("/inside")), QByteArray("keep"));
        QCOMPARE(entries(scratch.path()), QStringList{kFile});
    }

    void writeBelowRegularFile() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QVERIFY(putBytes(QStringLiteral("plain"), "keep"));
        const QString path = QStringLiteral("plain/") + kFile;
        QString error;
        QVERIFY(!vmx::writeSettingsFile(path, vmx::defaultSettings(0), &error));
        QVERIFY2(!error.isEmpty(), "no reason given");
        QCOMPARE(fileBytes(QStringLiteral("plain")), QByteArray("keep"));
        QCOMPARE(entries(scratch.path()), QStringList{QStringLiteral("plain")});
    }

    // A directory that takes no new entries: the write fails and the old file stays as it was.
    void readOnlyDirectoryKeepsOldFile() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QVERIFY(vmx::writeSettingsFile(kFile, vmx::defaultSettings(0)));
        const QByteArray good = fileBytes(kFile);

        // Root ignores permission bits, so a plain read-only mode is backed by the immutable
        // attribute when the mode alone does not stop this process.
        QVERIFY(
            QFile::setPermissions(scratch.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const bool modeStops = ::access(".", W_OK) != 0;
        std::optional<ImmutableDir> immutable;
        if (!modeStops) {
            immutable.emplace(scratch.path());
            if (!immutable->active()) {
                QFile::setPermissions(scratch.path(), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner);
                QSKIP("cannot make a directory read-only for this process here");
            }
        }

        QString error;
        const bool written = vmx::writeSettingsFile(kFile, udpSettings(), &error);
        const QStringList left = entries(scratch.path());
        immutable.reset();
        QVERIFY(QFile::setPermissions(scratch.path(), QFileDevice::ReadOwner |
                                                          QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner));

        QVERIFY(!written);
        QVERIFY2(error.contains(kFile), qPrintable(error));
        QCOMPARE(fileBytes(kFile), good);
        QCOMPARE(left, QStringList{kFile});
    }

    // The write itself fails half way (as on a full disk): the old file stays as it was and no
    // temporary file is left behind.
    void failedWriteKeepsOldFile() {
        vmx::test::ScratchDir scratch;
        QVERIFY(scratch.isValid());
        QVERIFY(vmx::writeSettingsFile(kFile, vmx::defaultSettings(0)));
        const QByteArray good = fileBytes(kFile);

        QString error;
        bool written = true;
        {
            FileSizeLimit limit(16);
            if (!limit.active())
                QSKIP("cannot limit the file size here");
            written = vmx::writeSettingsFile(kFile, udpSettings(), &error);
        }
        QVERIFY(!written);
        QVERIFY2(error.contains(kFile), qPrintable(error));
        QCOMPARE(fileBytes(kFile), good);
        QCOMPARE(entries(scratch.path()), QStringList{kFile});

        // With room again the same write goes through.
        QVERIFY(vmx::writeSettingsFile(kFile, udpSettings(), &error));
        QCOMPARE(fileBytes(kFile), vmx::encodeSettings(udpSettings()));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
