#pragma once

namespace vmx {

// Forces what was written to the open file `handle` (a C run-time file descriptor, as
// QFile::handle() gives) onto the disk: fsync() on POSIX, _commit() on Windows. False when the
// system says it could not.
bool forceToDisk(int handle);

} // namespace vmx
