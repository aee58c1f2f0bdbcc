#pragma once

#include <QDialog>

class QKeyEvent;
class QPlainTextEdit;
class QPushButton;

namespace tonelark {

// "ショートカットキーの一覧": the main window's keyboard shortcuts as fixed text. Shown modally
// by the main window's Help action; Enter and Esc both close it.
class TfrmTonelark2Shortcuts : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 312;
    static constexpr int kClientHeight = 211;

    // The lines of the list, in order: the eleven of the transport and window, then the
    // singer's key and tempo.
    static QStringList lines();

    // FormCreate: the owner (the main window) gives the font's face and height and the place.
    explicit TfrmTonelark2Shortcuts(QWidget *owner);

    QPlainTextEdit *memoDesc = nullptr;
    QPushButton *buttonOk = nullptr;

protected:
    // Esc presses the OK button, as Enter does: the list has nothing to cancel.
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace tonelark
