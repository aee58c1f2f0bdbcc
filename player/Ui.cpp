#include "Ui.h"

#include "FileNames.h"
#include "ModalLoop.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>

namespace tonelark {

namespace {

// Qt's own dialog shows a name that is no UTF-8 with U+FFFD and then refuses it as missing;
// this one accepts such a pick when it names exactly one real file.
class OpenFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    QString resolvedFile() const { return m_resolved; }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (files.size() == 1 && !QFileInfo::exists(files.first())) {
            const QString resolved = resolveDialogPath(files.first());
            if (resolved != files.first() && pathExists(resolved) && !isFolder(resolved)) {
                m_resolved = resolved;
                QDialog::accept();
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    QString m_resolved;
};

} // namespace

QStringList qtNameFilters(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &pattern : patterns)
            pattern = pattern.trimmed();
        // Qt reads the patterns from the last parenthesised group; a description that already
        // ends with exactly those patterns is shown as it stands instead of naming them twice.
        const QString description = parts.at(i);
        const QString group = QStringLiteral("(%1)").arg(patterns.join(QLatin1Char(' ')));
        filters << (description.endsWith(group) ? description : description + QLatin1Char(' ') + group);
    }
    return filters;
}

namespace {

// Message texts keep the CR LF line ends of the original; a label wants bare LF.
QString labelText(const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

} // namespace

int WidgetUi::showBox(int icon, const QString &title, const QString &text, int buttons)
{
    QMessageBox box(QMessageBox::Icon(icon), title, labelText(text), QMessageBox::StandardButtons(buttons), m_owner);
    box.setTextFormat(Qt::PlainText);
    // Before the window is shown (a missing file named on the command line) the box would
    // open over its not yet placed frame in a corner: the screen's centre instead.
    if (!m_owner || !m_owner->isVisible()) {
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            box.adjustSize();
            QRect frame = box.frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            box.move(frame.topLeft());
        }
    }
    const ModalLoopGuard modal(m_modalLoop);
    const QPointer<QMessageBox> outer = m_openError;
    if (icon == QMessageBox::Critical)
        m_openError = &box;
    const int result = box.exec();
    if (icon == QMessageBox::Critical) {
        m_openError = outer;
        m_openErrorText = QString();
    }
    return result;
}

bool WidgetUi::replaceOpenErrorText(const QString &text)
{
    if (!m_openError)
        return false;
    // A box relays itself out for every new text, milliseconds each: thousands of changes
    // in a burst are shown as one, a moment later.
    const bool scheduled = !m_openErrorText.isNull();
    m_openErrorText = labelText(text);
    if (!scheduled) {
        QTimer::singleShot(kErrorTextDelayMs, m_openError, [this, box = m_openError] {
            if (box == m_openError)
                box->setText(m_openErrorText);
            m_openErrorText = QString();
        });
    }
    return true;
}

// An empty title (" "), as the desktop's own boxes of this program have; Qt would otherwise
// put the application name there.
void WidgetUi::showError(const QString &text)
{
    showBox(QMessageBox::Critical, QStringLiteral(" "), text, QMessageBox::Ok);
}

void WidgetUi::showWarning(const QString &text)
{
    showBox(QMessageBox::Warning, QStringLiteral(" "), text, QMessageBox::Ok);
}

void WidgetUi::showInformation(const QString &caption, const QString &text)
{
    showBox(QMessageBox::Information, caption, text, QMessageBox::Ok);
}

bool WidgetUi::askYesNo(const QString &text)
{
    return showBox(QMessageBox::Question, QStringLiteral(" "), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

namespace {

// The open dialog for one file or several; the names as the user picked them, resolved by
// their bytes.
QStringList runOpenDialog(QWidget *owner, ModalLoopState *modalLoop, const OpenFileRequest &request,
                          QFileDialog::FileMode mode)
{
    OpenFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(mode);
    dialog.setNameFilters(request.filters);
    if (request.selectedFilter >= 0 && request.selectedFilter < request.filters.size())
        dialog.selectNameFilter(request.filters.at(request.selectedFilter));
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontUseNativeDialog, request.classicDialog);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!request.folder.isEmpty())
        dialog.setDirectory(request.folder);
    const ModalLoopGuard modal(modalLoop);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    if (!dialog.resolvedFile().isEmpty())
        return {dialog.resolvedFile()};
    QStringList files;
    for (const QString &file : dialog.selectedFiles())
        files << resolveDialogPath(file);
    return files;
}

} // namespace

QString WidgetUi::getOpenFileName(const OpenFileRequest &request)
{
    const QStringList files = runOpenDialog(m_owner, m_modalLoop, request, QFileDialog::ExistingFile);
    return files.isEmpty() ? QString() : files.first();
}

QStringList WidgetUi::getOpenFileNames(const OpenFileRequest &request)
{
    return runOpenDialog(m_owner, m_modalLoop, request, QFileDialog::ExistingFiles);
}

QString WidgetUi::getSaveFileName(const SaveFileRequest &request)
{
    QFileDialog dialog(m_owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    // A name typed without a suffix gets the chosen filter's (WAV for "WAV (*.wav)"), not
    // the one the dialog started with.
    if (!request.defaultSuffix.isEmpty()) {
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &request](const QString &filter) {
            static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
            const QRegularExpressionMatch m = pattern.match(filter);
            dialog.setDefaultSuffix(m.hasMatch() ? m.captured(1) : request.defaultSuffix);
        });
    }
    dialog.setOption(QFileDialog::DontUseNativeDialog, request.classicDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (!request.folder.isEmpty())
        dialog.setDirectory(request.folder);
    dialog.selectFile(request.fileName);
    const ModalLoopGuard modal(m_modalLoop);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void WidgetUi::setClipboardText(const QString &text)
{
    QApplication::clipboard()->setText(text);
}

} // namespace tonelark
