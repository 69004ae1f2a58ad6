#pragma once

#include <QString>

#include <optional>

// The few file operations of the settings writer that only some systems have. Linux has all of
// them; other POSIX systems lack the unnamed file; elsewhere each one says it is not there, and
// the writer keeps to portable ways.
namespace vmx::platform {

// A new file in `folder` that has no name yet (Linux's O_TMPFILE), open for writing, or -1 where
// the system or the file system makes none. A process killed while writing it leaves nothing:
// the file goes with its last descriptor.
int openUnnamedFile(const QString& folder);

// Gives the unnamed file open as `fd` the name `target`: at once when there is no such file yet,
// otherwise under `freshName` first (a name no file has) and then renamed over the old file, so
// `target` is the old file or the new one at every moment. The reason of a failure, or nothing.
std::optional<QString> nameUnnamedFile(int fd, const QString& target, const QString& freshName);

// Marks a temporary file being written as in use, so that another process that starts meanwhile
// does not take it for a leftover of a writer that was killed.
void markInUse(int fd);

// Whether the file at `path` is a regular file of this user that no live writer marks as in use;
// where that cannot be told, whether it is a regular file.
bool isAbandonedTemporary(const QString& path);

} // namespace vmx::platform
