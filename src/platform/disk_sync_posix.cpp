#include "platform/disk_sync.h"

#include <unistd.h>

namespace vmx {

bool forceToDisk(int handle) {
    return ::fsync(handle) == 0;
}

} // namespace vmx
