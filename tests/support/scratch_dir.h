#pragma once

#include <QString>
#include <QTemporaryDir>

namespace vmx::test {

// A fresh temporary directory made the current directory for the lifetime of the object; the
// previous current directory comes back afterwards. The tool reads velmarixon.ini and COMn
// from the current directory, so each test gets its own.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool isValid() const { return dir_.isValid(); }
    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }

private:
    QString previous_;
    QTemporaryDir dir_;
};

} // namespace vmx::test
