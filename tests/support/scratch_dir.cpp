#include "support/scratch_dir.h"

#include <QDir>

namespace vmx::test {

ScratchDir::ScratchDir() : previous_(QDir::currentPath()) {
    if (dir_.isValid())
        QDir::setCurrent(dir_.path());
}

ScratchDir::~ScratchDir() {
    QDir::setCurrent(previous_);
}

} // namespace vmx::test
