// Every file the program writes, on a real file system that is full: the save must say so and
// leave the old file byte for byte, with no temporary file behind.
#include "Convex.h"
#include "ExportJob.h"
#include "FluidSynthSink.h"
#include "LyricsViewExport.h"
#include "PrivateMounts.h"
#include "SakuraDll.h"

#include <QDir>

#include <functional>
#include <optional>

using namespace tonelark;
using namespace tonelark::test;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

TEST(FullDisk, SavesFailLoudlyAndKeepTheOldFile)
{
    TONELARK_IN_PRIVATE_MOUNTS();
    using Save = std::function<std::optional<QString>(const QString &path)>;
    // Payloads below Qt's 16 KB write buffer: the size of every real settings or lyrics file,
    // whose failed write only showed at commit time.
    const QString payload(12 * 1024, QLatin1Char('n'));
    const struct {
        const char *name;
        Save save;
    } writers[] = {
        {"settings", [&](const QString &path) -> std::optional<QString> {
             Convex ini(path);
             ini.WriteString(u"Tonelark", u"Big", payload);
             const SaveResult result = ini.UpdateFile();
             return result ? std::nullopt : std::optional<QString>(result.errorMessage);
         }},
        {"lyrics", [&](const QString &path) { return replaceFileContents(path, payload.toLatin1()); }},
#ifdef DSAKURA_LIBRARY_PATH
        // Compile.mid, written by the compiler library itself: a song of about 30 KB.
        {"Compile.mid", [&](const QString &path) -> std::optional<QString> {
             const MmlCompileOutcome outcome =
                 compileMml({QStringLiteral(DSAKURA_LIBRARY_PATH)}, QByteArray("l16").append(QByteArray("cdefgab").repeated(1000)), path);
             return outcome.result == mcrSuccess ? std::nullopt : std::optional<QString>(outcome.message);
         }},
#endif
    };
    // An audio file of a song saved from the window: two seconds of WAV, 350 KB.
    const auto saveAudio = [](const QString &path) -> std::optional<QString> {
        ExportRequest request;
        request.smf = QByteArray::fromHex("4d546864000000060000000101e04d54726b0000000d00903c648360803c0000ff2f00");
        request.render.seconds = 2;
        request.path = path;
        request.format = AudioFormat::Wav;
        const std::atomic<bool> cancelled{false};
        const ExportOutcome outcome = exportSong(request, cancelled, {});
        return outcome.kind == ExportOutcome::Saved ? std::nullopt : std::optional<QString>(outcome.message);
    };
    const QByteArray original = "[Tonelark]\nKeep=1\n";
    std::vector<std::pair<const char *, Save>> all;
    for (const auto &writer : writers)
        all.emplace_back(writer.name, writer.save);
    if (!brisola::defaultSoundFont().empty())
        all.emplace_back("audio", saveAudio);
    for (const auto &[name, save] : all) {
        const struct {
            const char *name;
            const Save &save;
        } writer{name, save};
        for (const qint64 leave : {qint64(0), qint64(4096)}) {
            SCOPED_TRACE(std::string(writer.name) + ", free bytes " + std::to_string(leave));
            SmallFileSystem disk(256 * 1024);
            ASSERT_TRUE(disk.mounted());
            const QString target = disk.filePath(QStringLiteral("target"));
            QFile file(target);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(original) == original.size());
            file.close();
            ASSERT_TRUE(disk.fill(leave));

            const std::optional<QString> error = writer.save(target);
            ASSERT_TRUE(error.has_value());
            EXPECT_TRUE(error->contains(QStringLiteral("ディスクの空き容量が足りません"))) << error->toStdString();
            EXPECT_EQ(readAll(target), original);
            EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden),
                      (QStringList{QStringLiteral("filler"), QStringLiteral("target")}));
        }
    }
}
