#pragma once

#include "settings/settings_codec.h"

#include <QFile>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vmx {

// Reads the file's bytes; nullopt with a reason in `error` when it cannot be opened or read.
// Only the head of a huge file is read: the fourteen items a valid file holds sit at its start.
std::optional<QByteArray> readSettingsBytes(const QString& path, QString* error = nullptr);

// Makes a new, empty file beside `target`, open for writing: on Linux a file without a name
// (makeUnnamedBeside), which a killed writer cannot leave behind; otherwise, or where the file
// system has no such files, one under a name no other file has (makeNamedBeside), of the
// pattern `<target's name>.new-` and eight hexadecimal digits, marked as in use while it is
// written. nullptr with a reason when the folder takes no new file (no write permission, a
// sticky or immutable folder, no room for another entry).
using TemporaryFileMaker =
    std::function<std::unique_ptr<QFile>(const QString& target, QString* reason)>;
std::unique_ptr<QFile> makeTemporaryBeside(const QString& target, QString* reason);
std::unique_ptr<QFile> makeUnnamedBeside(const QString& target, QString* reason);
std::unique_ptr<QFile> makeNamedBeside(const QString& target, QString* reason);

// The steps of a write a caller may choose or follow: how the temporary file is made, and what
// runs once the first half of the bytes is written (nothing by default). The latter is how a
// caller sees a write under way: a save held there and then killed is one that stops half way.
struct SettingsWriteSteps {
    TemporaryFileMaker makeTemporary = makeTemporaryBeside;
    // Runs when the first half of the bytes is in the file, before the rest is written.
    std::function<void()> afterHalfWritten;
};

// Replaces the file (the file a symbolic link leads to, the link staying a link). As a rule
// atomically: the new content goes to a temporary file beside it, which takes the old one's
// name only when fully written and forced to the disk, so a failed write never leaves a
// truncated or empty file behind. Where no temporary file can be made, the file is written in
// place instead: every write and the final size are checked, and a failure is reported the same
// way (the file may then be damaged, there being no other place to write to). Returns false with
// a reason in `error`.
bool writeSettingsFile(const QString& path, const Settings& settings, QString* error = nullptr,
                       const SettingsWriteSteps& steps = {});

// While deferred, a file that did not exist before is written and named but not yet forced to
// the disk: the program's start shows its window first (a file replacing another is always
// forced first, so a power cut leaves one of the two). forceDeferredWrites() forces what was
// deferred and ends the deferring; a file that cannot be forced is removed, so that it is
// written afresh rather than read damaged later. Only the program's one thread uses these.
void deferForcingNewFiles();
void forceDeferredWrites();

// Removes the temporary files a writer killed while writing the settings file at `path` left
// beside it (the file a link leads to): only names of the writer's own pattern, only regular
// files of this user that no live writer holds. Returns how many went.
int removeLeftoverTemporaries(const QString& path);

} // namespace vmx
