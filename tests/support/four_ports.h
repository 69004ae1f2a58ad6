#pragma once

#include "support/pty_pair.h"
#include "support/scratch_dir.h"

#include <array>
#include <memory>

namespace vmx::test {

// A scratch current directory in which COM1..COM4 each lead to a pseudo-terminal of their own;
// the test plays the device on each master side.
class FourPorts {
public:
    FourPorts();

    bool isValid() const { return valid_; }
    PtyPair& pty(int portNumber) const { return *ptys_[size_t(portNumber - 1)]; }
    const ScratchDir& dir() const { return dir_; }

    // Makes COMn a link to a device that does not exist.
    bool unplug(int portNumber) const;

    // True when no port but `except` has anything to read.
    bool othersSilent(int except) const;
    bool allSilent() const { return othersSilent(0); }

private:
    ScratchDir dir_;
    std::array<std::unique_ptr<PtyPair>, 4> ptys_;
    bool valid_ = false;
};

} // namespace vmx::test
