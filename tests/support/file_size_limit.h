#pragma once

#include <sys/resource.h>

namespace vmx::test {

// Limits the size of the files this process may write, as a full disk would, for as long as it
// lives; the limit and the SIGXFSZ handling before it come back afterwards.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // False where the limit could not be set.
    bool isActive() const { return active_; }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
    bool active_ = false;
};

} // namespace vmx::test
