#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

class QMessageBox;
class QWidget;

// What the window asks of the user or the desktop outside its own widgets: message boxes,
// file dialogs and the clipboard. The window and its headless helpers go through this
// interface so that tests can answer in place of a user.
namespace tonelark {

class ModalLoopState;

// One open-file question. `filters` are Qt name filters ("Text (*.txt *.text)").
struct OpenFileRequest {
    QStringList filters;
    int selectedFilter = 0;      // index into filters
    QString defaultSuffix;       // without the dot
    bool classicDialog = false;  // Qt's own dialog instead of the desktop's
    QString folder;              // where the dialog starts; empty: the dialog's own choice
};

// One save-file question (dialogSaveFile): the overwrite prompt is always on and the
// chosen file's folder must exist.
struct SaveFileRequest {
    QStringList filters;
    QString defaultSuffix;       // without the dot
    QString fileName;            // proposed name, without folder
    bool classicDialog = false;  // Qt's own dialog instead of the desktop's
    QString folder;              // where the dialog starts; empty: the dialog's own choice
};

class Ui {
public:
    virtual ~Ui() = default;
    // A modal error box with the error icon and no title of its own, owned by the window.
    virtual void showError(const QString &text) = 0;
    // A modal box with the warning icon and no title of its own.
    virtual void showWarning(const QString &text) = 0;
    // A modal box with the information icon and `caption` as its title.
    virtual void showInformation(const QString &caption, const QString &text) = 0;
    // A modal question with Yes and No; true for Yes.
    virtual bool askYesNo(const QString &text) = 0;
    // The full path of an existing file the user picked, or an empty string on cancel.
    virtual QString getOpenFileName(const OpenFileRequest &request) = 0;
    // The full paths of the existing files the user picked (one or several), empty on cancel.
    virtual QStringList getOpenFileNames(const OpenFileRequest &request)
    {
        const QString file = getOpenFileName(request);
        return file.isEmpty() ? QStringList() : QStringList{file};
    }
    // The full path the user chose to save to, or an empty string on cancel.
    virtual QString getSaveFileName(const SaveFileRequest &request) = 0;
    virtual void setClipboardText(const QString &text) = 0;
    // Replaces the text of the error box open now (from showError) and returns true; false
    // when none is open or the Ui cannot change an open box.
    virtual bool replaceOpenErrorText(const QString &) { return false; }
};

// Filter text in the "description|patterns|description|patterns" form of the settings and
// the original dialogs ("*.mid;*.midi") as Qt name filters ("description (*.mid *.midi)").
// A trailing description without patterns is dropped.
QStringList qtNameFilters(const QString &pipeFilter);

// The Ui of the running program: real dialogs and the system clipboard.
class WidgetUi : public Ui {
public:
    // `modalLoop` (optional) has InModalLoop set while any box or dialog is open.
    explicit WidgetUi(QWidget *owner, ModalLoopState *modalLoop = nullptr)
        : m_owner(owner), m_modalLoop(modalLoop) {}
    void showError(const QString &text) override;
    void showWarning(const QString &text) override;
    void showInformation(const QString &caption, const QString &text) override;
    bool askYesNo(const QString &text) override;
    QString getOpenFileName(const OpenFileRequest &request) override;
    QStringList getOpenFileNames(const OpenFileRequest &request) override;
    QString getSaveFileName(const SaveFileRequest &request) override;
    void setClipboardText(const QString &text) override;
    bool replaceOpenErrorText(const QString &text) override;

private:
    // QMessageBox::Icon and StandardButtons as plain ints: this header stays free of widgets.
    int showBox(int icon, const QString &title, const QString &text, int buttons);

    QWidget *m_owner;
    ModalLoopState *m_modalLoop;
    // The innermost error box while it is open, and the text it takes next (null: none).
    QPointer<QMessageBox> m_openError;
    QString m_openErrorText;
    static constexpr int kErrorTextDelayMs = 50;
};

} // namespace tonelark
