#include "platform/disk_sync.h"

#include <io.h>

namespace vmx {

bool forceToDisk(int handle) {
    return ::_commit(handle) == 0;
}

} // namespace vmx
