#include "ExportJob.h"

#include <QMetaObject>

#include <cmath>
#include <vector>

namespace tonelark {

ExportOutcome exportSong(const ExportRequest &request, const std::atomic<bool> &cancelled,
                         const std::function<void(double)> &progress)
{
    ExportOutcome outcome;
    const auto failed = [&](const QString &reason) {
        outcome.kind = ExportOutcome::Failed;
        outcome.message = QStringLiteral("ファイル \"%1\" に保存できません。\r\n%2").arg(request.path, reason);
        return outcome;
    };
    std::string message;
    const auto render = OfflineRender::create(reinterpret_cast<const std::uint8_t *>(request.smf.constData()),
                                              std::size_t(request.smf.size()), request.render, message);
    if (!render)
        return failed(QStringLiteral("シンセサイザーを用意できません: %1").arg(QString::fromStdString(message)));
    AudioFileWriter writer(request.path, request.format, request.tags, int(OfflineRender::kRate),
                           OfflineRender::kChannels);
    if (writer.failed())
        return failed(writer.errorText());
    std::vector<std::int16_t> pcm(std::size_t(OfflineRender::kBlockFrames * OfflineRender::kChannels));
    while (const int frames = render->next(pcm.data())) {
        if (cancelled) {
            outcome.kind = ExportOutcome::Cancelled;
            return outcome;   // the writer removes its new file
        }
        if (!writer.write(pcm.data(), frames))
            return failed(writer.errorText());
        if (progress)
            progress(render->progress());
    }
    if (cancelled) {
        outcome.kind = ExportOutcome::Cancelled;
        return outcome;
    }
    if (!writer.commit())
        return failed(writer.errorText());
    outcome.kind = ExportOutcome::Saved;
    outcome.seconds = double(render->renderedFrames()) / OfflineRender::kRate;
    return outcome;
}

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
    const ExportOutcome outcome = exportSong(m_request, m_cancel, [this](double share) {
        report(int(std::floor(share * 100.0)));
    });
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
