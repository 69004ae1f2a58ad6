#pragma once

namespace vmx {

// A reader that goes away (`| head -n 1`) makes the next write fail with EPIPE instead of
// killing the program with SIGPIPE: the program then reports the failed write and closes its
// port properly, which a signal would not let it do.
void ignoreBrokenPipe();

} // namespace vmx
