#pragma once

#include <QLineEdit>

namespace tonelark {

// The program's one-line edit box: every one-line box (author, title, the seek dialog's
// rows, the skip seconds of the settings) is one of these. Text is centred; Ctrl+A with no
// other modifier selects all, whatever the platform's key bindings say.
class TEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit TEdit(QWidget *parent = nullptr);
    explicit TEdit(const QString &text, QWidget *parent = nullptr);

    // Digits-only typing: keys that would type anything but 0-9 are swallowed. Pasted
    // text is not filtered here; a validator or the owning spin box judges it.
    void setDigitsOnly(bool digitsOnly) { m_digitsOnly = digitsOnly; }
    bool digitsOnly() const { return m_digitsOnly; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_digitsOnly = false;
};

} // namespace tonelark
