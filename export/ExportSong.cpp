#include "AudioFileWriter.h"
#include "ExportJob.h"

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

} // namespace tonelark
