#pragma once

#include <QWidget>

class QLineEdit;
class QPushButton;

namespace vmx {

// The about box: the program's name with its version and the device's type number. Modeless,
// a top-level window of its own; OK hides it, its close box destroys it.
class Infobox : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLeft = 5460 / 15;
    static constexpr int kTop = 2385 / 15;

    explicit Infobox(QWidget* parent = nullptr);

    QLineEdit* nameText() const { return nameText_; }
    QLineEdit* typeText() const { return typeText_; }
    QPushButton* okButton() const { return okButton_; }
    // Closed by its close box: the box is gone, even while its deletion is still pending.
    bool isClosed() const { return closed_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool closed_ = false;
    QLineEdit* nameText_;
    QLineEdit* typeText_;
    QPushButton* okButton_;
};

} // namespace vmx
