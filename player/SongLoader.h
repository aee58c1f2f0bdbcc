#pragma once

#include "Brisola.h"
#include "ModalLoop.h"
#include "SakuraDll.h"
#include "Settings.h"
#include "SmfTempo.h"
#include "SmfTexts.h"
#include "SungLines.h"
#include "TextEncoding.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

// BRSLoad: the one way a song enters the player. The loader stops the engine, compiles MML,
// reads and parses the MIDI bytes, registers them and starts playback; the window shows
// what it is told through SongLoaderView. Load errors are shown in the window, a missing
// or unreadable file in a message box.
namespace tonelark {

class Engine;
class Ui;

// The pages of pagesInfo, in their order.
enum class InfoPage { Info = 0, Comments = 1, Lyrics = 2, Queue = 3, CompileMsg = 4, About = 5 };

// The window as the loader drives it; calls come in the order of the load.
class SongLoaderView {
public:
    virtual ~SongLoaderView() = default;
    virtual void setMonitorEnabled(bool enabled) = 0;   // timerUpdating
    virtual void runMonitorStep() = 0;                  // one tick, run directly
    // Seek bar to 0 of 0, the four transport buttons disabled, both text boxes and the
    // four memos emptied.
    virtual void clearSongDisplay() = 0;
    virtual void setCaption(const QString &caption) = 0;
    virtual void setApplicationTitle(const QString &title) = 0;
    virtual void setSaveFileName(const QString &fileName) = 0;  // dialogSaveFile's name
    virtual void setTabVisible(InfoPage page, bool visible) = 0;
    virtual void setActivePage(InfoPage page) = 0;
    // A failed load: the info area opens when it is hidden (for this failure only; the
    // stored ShowInfo stays) and `page`, which holds the message, comes to the front.
    virtual void showFailure(InfoPage page) = 0;
    // InModalLoop and the song generation the window's modal loops check.
    virtual ModalLoopState &modalLoop() = 0;
    virtual void appendCompileMessage(const QString &line) = 0;  // memoCompileMsg
    virtual void setCommentsText(const QStringList &lines) = 0;   // memoComments
    virtual void appendComments(const QStringList &lines) = 0;
    virtual void appendMetaComments(const QStringList &lines) = 0; // memoMetaComments
    virtual void setMetaCommentsText(const QStringList &lines) = 0;
    // editCopyright, editTitle and the hidden memoLyrics.
    virtual void setSongTexts(const QString &copyright, const QString &title,
                              const QString &lyricsText) = 0;
    virtual void setLyricCount(int count) = 0;                    // lvLyrics' item count
    virtual void invokePlay() = 0;                                // toolButtonOfPlay's click
    // No selection, no focused item, item index -1, the first item scrolled into view.
    virtual void resetLyricsList() = 0;
    // Carets to the start with nothing selected in the memos; lvLyrics repainted.
    virtual void resetCarets() = 0;
};

// The rows the hidden lyric memo holds at most (a real song has a few thousand).
inline constexpr int kMaxHiddenMemoRows = 20000;

// How a call of load() ended. EngineError: the engine refused a song the parser accepted.
// Deferred: another load (or its message box) was running; the request waits for it.
enum class LoadOutcome { MissingFile, ReadError, CompileError, ParseError, EngineError, Success, Deferred };

// What load() refuses before it touches the current song (a missing file, a FIFO or a
// device): the outcome and the text of its box.
struct LoadRefusal {
    LoadOutcome outcome;
    QString message;
};
std::optional<LoadRefusal> refusalBeforeLoad(const QString &fileName);

// The MML compiler: MML source and output path (file system encoding), the 1024-byte
// zero-filled message buffer. Returns 0..3 as SakuraMMLtoMIDI does.
using MmlCompiler =
    std::function<TMmlCompileResult(const QByteArray &mml, const QByteArray &midiPath, char *errMsg)>;

// The song data a successful load leaves for the rest of the window.
struct LoadedSong {
    QByteArray MemoryStream;                              // bytes the engine plays from
    TBrs4SmfInformation BrsSmfInfo{};                     // the engine's view of the song
    std::unique_ptr<TSmfEventTempoList> CurrentTempoList; // absent until the first parse
    TSmfMetaEventString SmfLyrics;                        // lyric lines with their timing
    SungLines Sung; // the sung lines SmfLyrics shows, one row per line (same order)
    bool HasSong = false;                                 // a song is registered and shown
    TextEncoding Encoding = TextEncoding::Auto;           // the choice its texts were read by
    TextEncoding UsedEncoding = TextEncoding::Cp932;      // what that choice gave
    bool Karaoke = false;                                 // read as a .kar (by its name)
};

class SongLoader {
public:
    // `settings`, `infoFontPitch` and `appTitle` are read at every load.
    SongLoader(Engine &engine, SongLoaderView &view, Ui &ui, const Settings &settings,
               const int &infoFontPitch, const QString &appTitle);

    // BRSLoad: loads the song at `fileName`. Returns how it ended; everything the user sees
    // has been shown by then.
    LoadOutcome load(const QString &fileName);

    const LoadedSong &song() const { return m_song; }
    LoadedSong &song() { return m_song; }

    // Re-reads the current song's texts and lyric lines in `choice` and shows them, without a
    // call to the engine: playback, position and the list's selection go on. False when no
    // song is loaded.
    bool reread(TextEncoding choice);

    // The encoding a file is read by at its load (the user's remembered choice); Auto without.
    void setEncodingLookup(std::function<TextEncoding(const QString &fileName)> lookup)
    {
        m_encodingLookup = std::move(lookup);
    }

    void setCompiler(MmlCompiler compiler) { m_compiler = std::move(compiler); }
    // Where an MML compile writes its MIDI file; by default compiledMidiPath().
    void setCompiledMidiPath(const QString &path) { m_compiledMidiPath = path; }
    QString compiledMidiPathInUse() const;

private:
    bool readWholeFile(const QString &fileName, QByteArray &bytes);
    // Empties the lyric list and shows the failure; returns `outcome`.
    LoadOutcome failed(LoadOutcome outcome, InfoPage page);
    LoadOutcome compile(const QString &mmlFileName, QString &midiFileName, QByteArray &message);
    // Builds the sung lines from the parser and shows the boxes, the lyric rows and the
    // comments; the tempo map is taken over only at a load.
    void showTexts(TSmfParser &parser, bool load);
    TLyricLoadOptions lyricLoadOptions() const;
    void parse(TSmfParser &parser, TextEncoding choice) const;

    Engine &m_engine;
    SongLoaderView &m_view;
    Ui &m_ui;
    const Settings &m_settings;
    const int &m_infoFontPitch;
    const QString &m_appTitle;
    MmlCompiler m_compiler;
    std::function<TextEncoding(const QString &)> m_encodingLookup;
    QString m_compiledMidiPath;
    LoadedSong m_song;
};

// "Compile.mid" in the program's folder when that folder is writable, otherwise in the
// user's cache folder ($XDG_CACHE_HOME/Tonelark, by default ~/.cache/Tonelark).
QString compiledMidiPath(const QString &programDir, bool programDirWritable,
                         const QString &cacheDir);
// The same for this process, checking the program folder now.
QString compiledMidiPath();
// $XDG_CACHE_HOME/Tonelark or ~/.cache/Tonelark.
QString userCacheFolder();

// A file's last-write time in nanoseconds since the epoch, or `fallback` when the file
// cannot be opened for reading.
qint64 fileLastWriteTime(const QString &fileName, qint64 fallback);

// Decodes MML source bytes: a byte-order mark selects UTF-8 or UTF-16 (LE or BE); without
// one, well-formed UTF-8 with non-ASCII characters is UTF-8 (what Linux editors write), and
// anything else CP932. Returns the lines; CR LF, LF and CR each end a line, and a final line
// break does not start another line.
QStringList decodeTextLines(const QByteArray &bytes);

// One message line for each source line the compiler cannot be given: one holding a NUL (the
// compiler's text would end there) or a character CP932 cannot hold (the bridge hands the
// compiler CP932), naming the line number and the first such character.
QStringList nonAnsiLineMessages(const QStringList &lines);

// The engine's error code by name ("BRSERROR_BADSMF").
QString engineErrorName(std::int32_t code);

// dialogSaveFile's name for a song: the file name without folder, its extension replaced
// by "-Lyrics.txt".
QString lyricsFileNameFor(const QString &songFileName);

// The lines of the song information block after "[Song Info]" for an InfoFontPitch value.
QStringList songInfoLines(const TBrs4SmfInformation &info, int infoFontPitch);

// The XF song's facts for the information block: "[XF Info]" and one line per known field
// (names, XFhd, language, melody channels, display offset); empty for other songs.
QStringList xfInfoLines(const SungLines &lines);

// The setting LineMode as a mode; values out of range act as 自動.
SungLineMode lineModeOf(qint32 setting);

// Message box texts of the loader.
QString missingFileMessage(const QString &fileName);
QString unreadableFileMessage(const QString &fileName, const QString &reason);

} // namespace tonelark
