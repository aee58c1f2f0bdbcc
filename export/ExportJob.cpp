#include "ExportJob.h"

#include "DynamicLibrary.h"

#include <QMetaObject>
#include <QStringList>

#include <cmath>
#include <mutex>

namespace tonelark {

namespace {

using ExportEntry = void(const ExportRequest &, const std::atomic<bool> &, const std::function<void(double)> &,
                         ExportOutcome &);

// The renderer and the encoders come with the synthesizer's and libsndfile's libraries: the
// program starts without them and opens them at the first save, for the rest of its life.
ExportEntry *exportEntry(QString &error)
{
    static std::mutex mutex;
    static DynamicLibrary *library = new DynamicLibrary;   // never closed: a render may end at exit
    static ExportEntry *entry = nullptr;
    const std::lock_guard lock(mutex);
    if (entry)
        return entry;
    QStringList errors;
    if (!openFirst(*library, besideProgramFirst(QString::fromLatin1(kExportLibraryName)), &errors)) {
        error = errors.join(QStringLiteral("; "));
        return nullptr;
    }
    entry = library->function<ExportEntry>(kExportEntryName);
    if (!entry)
        error = library->errorString();
    return entry;
}

} // namespace

ExportJob::ExportJob(ExportRequest request, QObject *parent) : QObject(parent), m_request(std::move(request))
{
    qRegisterMetaType<tonelark::ExportOutcome>();
}

ExportJob::~ExportJob()
{
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
}

void ExportJob::start()
{
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this] { run(); });
}

void ExportJob::run()
{
    QString error;
    ExportEntry *entry = exportEntry(error);
    if (!entry) {
        ExportOutcome outcome;
        outcome.message = QStringLiteral("ファイル \"%1\" に保存できません。\r\n音声の書き出しに必要なライブラリを読み込めません: %2")
                              .arg(m_request.path, error);
        end(outcome);
        return;
    }
    ExportOutcome outcome;
    entry(m_request, m_cancel, [this](double share) { report(int(std::floor(share * 100.0))); }, outcome);
    end(outcome);
}

void ExportJob::report(int percent)
{
    if (m_percent.exchange(percent) == percent)
        return;
    // Queued to the job's thread; dropped with the job if it is destroyed first.
    QMetaObject::invokeMethod(this, [this, percent] { emit progressChanged(percent); }, Qt::QueuedConnection);
}

void ExportJob::end(const ExportOutcome &outcome)
{
    if (outcome.kind == ExportOutcome::Saved)
        m_percent = 100;
    QMetaObject::invokeMethod(this, [this, outcome] {
        m_ended = true;
        if (m_thread.joinable())
            m_thread.join();
        emit finished(outcome);
    }, Qt::QueuedConnection);
}

} // namespace tonelark
