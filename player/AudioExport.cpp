#include "AudioExport.h"

#include "ChannelMixer.h"
#include "KeyTempo.h"
#include "ModalLoop.h"
#include "Ui.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>

namespace tonelark {

namespace {

QString filterOf(AudioFormat format)
{
    switch (format) {
    case AudioFormat::Flac: return QStringLiteral("FLAC (*.flac)");
    case AudioFormat::Ogg: return QStringLiteral("Ogg Vorbis (*.ogg *.oga)");
    case AudioFormat::Wav: break;
    }
    return QStringLiteral("WAV (*.wav)");
}

QString lengthText(double seconds)
{
    const int whole = int(seconds);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

RenderSettings backingTrackSettings(const KeyTempo &keyTempo, const ChannelMixer &mixer, qint32 playOption,
                                    int queueLoopCount, const QString &soundFont)
{
    RenderSettings settings;
    settings.soundFont = soundFont.toStdString();
    settings.keyShift = keyTempo.key();
    settings.tempoPercent = keyTempo.tempo();
    settings.playOption = playOption & ~qint32(BRSPLAY_LOOP);
    settings.channels = mixer.channels();
    settings.melodyChannels = mixer.melodyChannels();
    settings.guideMelody = mixer.guideMelody();
    settings.masterVolume = mixer.masterVolume();
    if (playOption & BRSPLAY_LOOP) {
        settings.loops = queueLoopCount > 0 ? queueLoopCount : kBackingTrackDefaultLoops;
        settings.fadeSeconds = kBackingTrackFadeSeconds;
    }
    return settings;
}

QString proposedAudioFileName(const QString &songPath, AudioFormat format)
{
    const QFileInfo song(songPath);
    return QDir(song.path()).filePath(song.completeBaseName() + QLatin1Char('.') + audioSuffix(format));
}

AudioExport::AudioExport(Ui &ui, ModalLoopState &modalLoop, QWidget *window)
    : QObject(window), m_ui(ui), m_modalLoop(modalLoop), m_window(window)
{
    action = new QAction(QStringLiteral("音声ファイルに保存(&O)..."), this);
    action->setObjectName(QStringLiteral("actionSaveAudio"));
    connect(action, &QAction::triggered, this, &AudioExport::save, Qt::QueuedConnection);
    updateAction();
}

AudioExport::~AudioExport()
{
    m_job.reset();
    delete m_progress;
}

QProgressDialog *AudioExport::progressDialog() const
{
    return m_progress;
}

void AudioExport::setSongLoaded(bool loaded)
{
    m_songLoaded = loaded;
    updateAction();
}

void AudioExport::updateAction()
{
    action->setEnabled(m_songLoaded && !m_job);
}

void AudioExport::save()
{
    if (m_job || !m_source)
        return;
    BackingTrackSource source = m_source();
    if (source.songPath.isEmpty() || source.smf.isEmpty())
        return;
    QString path;
    {
        const ModalLoopGuard modal(m_modalLoop);
        SaveFileRequest request;
        const QString proposed = proposedAudioFileName(source.songPath, m_format);
        request.fileName = QFileInfo(proposed).fileName();
        request.folder = QFileInfo(proposed).path();
        request.defaultSuffix = audioSuffix(m_format);
        request.filters << filterOf(m_format);
        for (const AudioFormat other : {AudioFormat::Flac, AudioFormat::Wav, AudioFormat::Ogg}) {
            if (other != m_format)
                request.filters << filterOf(other);
        }
        request.classicDialog = source.classicDialog;
        path = m_ui.getSaveFileName(request);
        // Another song loaded meanwhile: the name and the bytes were the old song's.
        if (path.isEmpty() || modal.songReplaced() || m_job)
            return;
    }
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + audioSuffix(m_format);
    const std::optional<AudioFormat> format = audioFormatOfPath(path);
    if (!format) {
        m_ui.showError(QStringLiteral("ファイル \"%1\" に保存できません。\r\n"
                                      "保存できる形式は WAV (.wav)、FLAC (.flac)、Ogg Vorbis (.ogg) です。")
                           .arg(path));
        return;
    }
    m_format = *format;
    // The key, tempo and mixer as they are now, after the dialog.
    source = m_source();
    if (source.smf.isEmpty())
        return;

    ExportRequest request;
    request.smf = source.smf;
    request.render = source.render;
    request.path = path;
    request.format = *format;
    request.tags = source.tags;
    m_job = std::make_unique<ExportJob>(std::move(request));

    m_progress = new QProgressDialog(m_window);
    m_progress->setObjectName(QStringLiteral("dialogSaveAudio"));
    m_progress->setWindowTitle(QStringLiteral("音声ファイルに保存"));
    m_progress->setLabelText(QStringLiteral("\"%1\" に保存しています…").arg(QFileInfo(path).fileName()));
    m_progress->setCancelButtonText(QStringLiteral("キャンセル"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    // The window stays usable: no modal loop, the dialog sits beside it.
    m_progress->setWindowModality(Qt::NonModal);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setMinimumDuration(0);
    connect(m_progress, &QProgressDialog::canceled, m_job.get(), &ExportJob::cancel);
    connect(m_job.get(), &ExportJob::progressChanged, m_progress, &QProgressDialog::setValue);
    // Queued: the handler shows a box and destroys the job, neither inside the job's signal.
    connect(m_job.get(), &ExportJob::finished, this, &AudioExport::finished, Qt::QueuedConnection);
    m_progress->show();
    m_job->start();
    updateAction();
}

void AudioExport::finished(const ExportOutcome &outcome)
{
    const QString path = m_job ? m_job->path() : QString();
    m_job.reset();
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
    }
    updateAction();
    if (outcome.kind == ExportOutcome::Failed)
        m_ui.showError(outcome.message);
    else if (outcome.kind == ExportOutcome::Saved && m_notice)
        m_notice(QStringLiteral("音声ファイルに保存しました (%1): %2").arg(lengthText(outcome.seconds), path));
    emit saveEnded(outcome.kind);
}

} // namespace tonelark
