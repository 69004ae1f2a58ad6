#include "settings/settings_file.h"
#include "support/file_size_limit.h"
#include "support/scratch_dir.h"
#include "support/settings_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using vmx::Settings;
using vmx::test::entries;
using vmx::test::FileSizeLimit;
using vmx::test::readFile;
using vmx::test::writeFile;

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

// Sets or clears the immutable attribute of a directory; false where the file system or the
// process lacks support.
bool setImmutable(const QString& path, bool immutable) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = false;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

// Makes a directory refuse new entries even for root (the immutable attribute), and lifts that
// again when it goes away. Unavailable where the file system or the process lacks support.
class ImmutableDir {
public:
    explicit ImmutableDir(const QString& path) : path_(path), active_(setImmutable(path, true)) {}
    ~ImmutableDir() {
        if (active_)
            setImmutable(path_, false);
    }
    ImmutableDir(const ImmutableDir&) = delete;
    ImmutableDir& operator=(const ImmutableDir&) = delete;
    bool active() const { return active_; }

private:
    QString path_;
    bool active_ = false;
};

} // namespace

// Each test runs in a scratch current directory of its own.
class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void init() {
        scratch_.emplace();
        QVERIFY(scratch_->isValid());
    }
    void cleanup() { scratch_.reset(); }

    void writeThenRead() {
        QString error;
        QVERIFY2(vmx::writeSettingsFile(kFile, vmx::defaultSettings(0), &error), qPrintable(error));
        QCOMPARE(entries(scratch_->path()), QStringList{kFile});
        QVERIFY(QFileInfo::exists(scratch_->filePath(kFile))); // in the current directory

        const auto bytes = vmx::readSettingsBytes(kFile, &error);
        QVERIFY2(bytes.has_value(), qPrintable(error));
        QCOMPARE(*bytes, vmx::encodeSettings(vmx::defaultSettings(0)));
        QCOMPARE(bytes->size(), 101 + 18 + vmx::defaultIpAddress().size());
        Settings back;
        QVERIFY(vmx::decodeSettings(*bytes, back));
        QCOMPARE(back.ipAddress, vmx::defaultIpAddress());
    }

    // The old file is replaced whole: nothing of a longer old file is left at the end.
    void writeReplacesLongerFile_data() {
        QTest::addColumn<bool>("unnamed");
        QTest::newRow("unnamed temporary file") << true;
        QTest::newRow("named temporary file") << false;
    }
    void writeReplacesLongerFile() {
        QFETCH(bool, unnamed);
        QVERIFY(writeFile(kFile, QByteArray(5000, 'z')));
        QVERIFY(QFile::setPermissions(kFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ReadGroup));
        struct stat before {};
        QVERIFY(::stat(QFile::encodeName(kFile).constData(), &before) == 0);
        QString error;
        const vmx::TemporaryFileMaker maker =
            unnamed ? vmx::makeUnnamedBeside : vmx::makeNamedBeside;
        QVERIFY2(vmx::writeSettingsFile(kFile, udpSettings(), &error, {maker, {}}),
                 qPrintable(error));
        QCOMPARE(readFile(kFile), vmx::encodeSettings(udpSettings()));
        QCOMPARE(entries(scratch_->path()), QStringList{kFile});
        struct stat after {};
        QVERIFY(::stat(QFile::encodeName(kFile).constData(), &after) == 0);
        QVERIFY(after.st_ino != before.st_ino); // a new file took the name
        QCOMPARE(after.st_mode, before.st_mode);

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
        QString path = kFile;
        if (setup == "directory") {
            QVERIFY(QDir().mkdir(kFile));
        } else if (setup == "below-file") {
            QVERIFY(writeFile(QStringLiteral("plain"), "x"));
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
        QVERIFY(writeFile(kFile, "\"Serial port=\",\"" + QByteArray(10 * 1024 * 1024, 'q')));
        const auto bytes = vmx::readSettingsBytes(kFile);
        QVERIFY(bytes.has_value());
        QCOMPARE(bytes->size(), 10 * 1024 * 1024 + 16);
        Settings s;
        s.iniPort = -5;
        QVERIFY(!vmx::decodeSettings(*bytes, s));
        QCOMPARE(s.iniPort, 0.0f); // read before the end and kept: a text that is no number
    }

    void writeToDirectoryPath() {
        QVERIFY(QDir().mkdir(kFile));
        QVERIFY(writeFile(kFile + QStringLiteral("/inside"), "keep"));
        QString error;
        QVERIFY(!vmx::writeSettingsFile(kFile, vmx::defaultSettings(0), &error));
        QVERIFY2(error.contains(kFile), qPrintable(error));
        QVERIFY(QFileInfo(kFile).isDir());
        QCOMPARE(readFile(kFile + QStringLiteral("/inside")), QByteArray("keep"));
        QCOMPARE(entries(scratch_->path()), QStringList{kFile});
    }

    void writeBelowRegularFile() {
        QVERIFY(writeFile(QStringLiteral("plain"), "keep"));
        const QString path = QStringLiteral("plain/") + kFile;
        QString error;
        QVERIFY(!vmx::writeSettingsFile(path, vmx::defaultSettings(0), &error));
        QVERIFY2(!error.isEmpty(), "no reason given");
        QCOMPARE(readFile(QStringLiteral("plain")), QByteArray("keep"));
        QCOMPARE(entries(scratch_->path()), QStringList{QStringLiteral("plain")});
    }

    // A directory that takes no new entries: no temporary file can be made there, so the file
    // is written in place, whole, and nothing else appears beside it.
    void readOnlyDirectoryIsWrittenInPlace() {
        QVERIFY(writeFile(kFile, QByteArray(5000, 'z')));

        // Root ignores permission bits, so a plain read-only mode is backed by the immutable
        // attribute when the mode alone does not stop this process.
        QVERIFY(QFile::setPermissions(scratch_->path(),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const bool modeStops = ::access(".", W_OK) != 0;
        std::optional<ImmutableDir> immutable;
        if (!modeStops) {
            immutable.emplace(scratch_->path());
            if (!immutable->active()) {
                QFile::setPermissions(scratch_->path(), QFileDevice::ReadOwner |
                                                            QFileDevice::WriteOwner |
                                                            QFileDevice::ExeOwner);
                QSKIP("cannot make a directory read-only for this process here");
            }
        }

        QString error;
        const bool written = vmx::writeSettingsFile(kFile, udpSettings(), &error);
        const QStringList left = entries(scratch_->path());
        immutable.reset();
        QVERIFY(QFile::setPermissions(scratch_->path(), QFileDevice::ReadOwner |
                                                            QFileDevice::WriteOwner |
                                                            QFileDevice::ExeOwner));

        QVERIFY2(written, qPrintable(error));
        QCOMPARE(readFile(kFile), vmx::encodeSettings(udpSettings()));
        QCOMPARE(left, QStringList{kFile});
    }

    // The same fall-back made certain through the writer's steps (no temporary file can be made):
    // the real in-place path runs over a longer old file, keeps the file itself (its inode and
    // mode) and checks its writes.
    void noTemporaryFileWritesInPlaceAndReportsFailure() {
        QVERIFY(writeFile(kFile, QByteArray(5000, 'z')));
        QVERIFY(QFile::setPermissions(kFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ReadGroup));
        struct stat before {};
        QVERIFY(::stat(QFile::encodeName(kFile).constData(), &before) == 0);
        int attempts = 0;
        const vmx::TemporaryFileMaker noNewFiles = [&](const QString& target, QString* reason) {
            ++attempts;
            *reason = QStringLiteral("no new file in the folder of ") + target;
            return std::unique_ptr<QFile>();
        };

        QString error;
        QVERIFY2(vmx::writeSettingsFile(kFile, udpSettings(), &error, {noNewFiles, {}}),
                 qPrintable(error));
        QCOMPARE(attempts, 1);
        QCOMPARE(readFile(kFile), vmx::encodeSettings(udpSettings()));
        struct stat after {};
        QVERIFY(::stat(QFile::encodeName(kFile).constData(), &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(entries(scratch_->path()), QStringList{kFile});

        // A write that fails half way in place is reported like any other.
        {
            FileSizeLimit limit(16);
            if (!limit.isActive())
                QSKIP("cannot limit the file size here");
            QVERIFY(
                !vmx::writeSettingsFile(kFile, vmx::defaultSettings(0), &error, {noNewFiles, {}}));
        }
        QVERIFY2(error.contains(kFile), qPrintable(error));
        QVERIFY2(error.contains(QLatin1String("disk may be full")), qPrintable(error));
        QCOMPARE(entries(scratch_->path()), QStringList{kFile});
    }

    // The write itself fails half way (as on a full disk): the old file stays as it was and no
    // temporary file is left behind.
    void failedWriteKeepsOldFile() {
        QVERIFY(vmx::writeSettingsFile(kFile, vmx::defaultSettings(0)));
        const QByteArray good = readFile(kFile);

        QString error;
        bool written = true;
        {
            FileSizeLimit limit(16);
            if (!limit.isActive())
                QSKIP("cannot limit the file size here");
            written = vmx::writeSettingsFile(kFile, udpSettings(), &error);
        }
        QVERIFY(!written);
        QVERIFY2(error.contains(kFile), qPrintable(error));
        // A short write sets no error of its own; the reason must still say what happened.
        QVERIFY2(error.contains(QLatin1String("disk may be full")), qPrintable(error));
        // A short write sets no error of its own; the reason must still say what happened.
        QVERIFY2(error.contains(QLatin1String("disk may be full")), qPrintable(error));
        QCOMPARE(readFile(kFile), good);
        QCOMPARE(entries(scratch_->path()), QStringList{kFile});

        // With room again the same write goes through.
        QVERIFY(vmx::writeSettingsFile(kFile, udpSettings(), &error));
        QCOMPARE(readFile(kFile), vmx::encodeSettings(udpSettings()));
    }

    // A link to the file stays a link: the file it leads to is replaced, in its own folder.
    void writeThroughLinkKeepsTheLink() {
        QVERIFY(QDir().mkdir(QStringLiteral("real")));
        QVERIFY(writeFile(QStringLiteral("real/settings"), QByteArray(5000, 'z')));
        QVERIFY(QFile::link(QStringLiteral("real/settings"), kFile));
        QString error;
        QVERIFY2(vmx::writeSettingsFile(kFile, udpSettings(), &error), qPrintable(error));
        QVERIFY(QFileInfo(kFile).isSymLink());
        QCOMPARE(readFile(QStringLiteral("real/settings")), vmx::encodeSettings(udpSettings()));
        QCOMPARE(entries(QStringLiteral("real")), QStringList{QStringLiteral("settings")});
    }

    // A first file written while forcing is deferred is there whole at once; forcing it later
    // keeps it, and afterwards nothing is deferred any more.
    void deferredFirstFileIsCompleteAtOnce() {
        vmx::deferForcingNewFiles();
        QString error;
        QVERIFY2(vmx::writeSettingsFile(kFile, udpSettings(), &error), qPrintable(error));
        QCOMPARE(readFile(kFile), vmx::encodeSettings(udpSettings()));
        vmx::forceDeferredWrites();
        QCOMPARE(readFile(kFile), vmx::encodeSettings(udpSettings()));
        QCOMPARE(entries(scratch_->path()), QStringList{kFile});
    }

private:
    std::optional<vmx::test::ScratchDir> scratch_;
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settings_file.moc"
