#include "support/file_size_limit.h"

#include <csignal>

namespace vmx::test {

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    // An oversized write then fails with EFBIG instead of ending the process.
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    if (::getrlimit(RLIMIT_FSIZE, &old_) != 0)
        return;
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    active_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    if (active_)
        ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
}

} // namespace vmx::test
