#pragma once

#include "SmfTempo.h"
#include "SmfTexts.h"
#include "SongException.h"
#include "TextEncoding.h"

#include <QtGlobal>

#include <QByteArrayView>
#include <QStringView>

#include <memory>
#include <vector>

namespace tonelark {

struct SmfCursor;

// The SMF header chunk as read (host byte order).
#pragma pack(push, 1)
struct TSmfMthd {
    quint32 Length = 0;     // header chunk length; must be 6
    quint16 Format = 0;     // 0 or 1
    quint16 TrackCount = 0; // track chunks to read
    quint16 TimeBase = 0;   // ticks per quarter note; 0 and time-code divisions are refused
};
#pragma pack(pop)
static_assert(sizeof(TSmfMthd) == 10, "TSmfMthd is the 10-byte header record");

// Reads a Standard MIDI File lying whole in memory and extracts what the player shows beside
// the engine: copyright, title and comment texts, lyric lines with their ticks and times, and
// the tempo map. One parser serves one Execute; it never repairs data. Any byte string either
// parses or raises ESmfParserException; reads never leave the buffer.
//
// The song's texts share one encoding: CP932, UTF-8 or Windows-1252, chosen from the song's
// language tag and bytes by the table of docs/ENCODINGS.md, or the user's choice (XF chunks
// follow their declared language unless the user chose). A karaoke song
// (the "@K" marker, a .kar file, or one track of Text events that reads as karaoke words;
// and no Lyric event with text) keeps its words in Text events; they become the lyric lines
// instead.
class TSmfParser {
public:
    TSmfParser();
    ~TSmfParser();
    TSmfParser(const TSmfParser &) = delete;
    TSmfParser &operator=(const TSmfParser &) = delete;

    // Parses Size bytes at Buffer (not kept after the call). Throws ESmfParserException.
    void Execute(const void *Buffer, quint32 Size);
    // The header chunk's checks alone, on the first kHeaderBytes of a file (or all of a
    // shorter one): throws exactly as Execute on the whole file would for its header, so a
    // file that is no song is refused before the rest of it is read.
    static constexpr quint32 kHeaderBytes = 14;
    static void CheckHeader(const void *Buffer, quint32 Size);

    // A variable-length quantity at the read position; bits beyond 32 are lost.
    quint32 ExtractVariableLength();
    // ByteSize bytes big-endian; 0 or less reads nothing, more than 4 keeps the last 4.
    quint32 ExtractFixedLength(int ByteSize);
    // The read position as an offset from the start of the data; may lie past the end
    // after a skip, in which case the next read raises.
    quint64 GetPosition() const { return FPosition; }
    TSmfMthd GetSmfHeader() const { return FSmfMthd; }

    // Hands the tempo map over to the caller; afterwards the parser holds none (nullptr).
    std::unique_ptr<TSmfEventTempoList> ExtractTempoList();
    // The tempo map while the parser still holds it, else nullptr.
    const TSmfEventTempoList *TempoList() const { return FTempoList.get(); }

    const TSmfMetaEventString &Copyright() const { return FCopyright; }
    const TSmfMetaEventString &Title() const { return FTitle; }
    const TSmfMetaEventString &Comment() const { return FComment; }
    const TSmfMetaEventString &Lyric() const { return FLyric; }
    // Hands the lyric lines with their TSmfLyricInfo over; the parser's list is left empty.
    TSmfMetaEventString ExtractLyric();

    TLyricLoadOptions LyricLoadOptions() const { return FLyricLoadOptions; }
    void SetLyricLoadOptions(TLyricLoadOptions options) { FLyricLoadOptions = options; }

    // Set before Execute when the file's name says karaoke (.kar).
    void SetKaraokeFile(bool karaokeFile) { FKaraokeFile = karaokeFile; }
    // True when the lyric lines were built from karaoke words (Text events).
    bool IsKaraoke() const { return FKaraoke; }
    // A karaoke song's "@T" texts without the marker, in file order: title, author, copyright.
    const TSmfMetaEventString &KaraokeTitles() const { return FKaraokeTitles; }
    // Set before Execute: Auto (the table) or the user's encoding for every text.
    void SetTextEncoding(TextEncoding choice) { FEncodingChoice = choice; }
    TextEncoding TextEncodingChoice() const { return FEncodingChoice; }
    // The encoding the song's texts were read in (never Auto).
    TextEncoding UsedTextEncoding() const { return FUsedEncoding; }
    // What the table was given.
    const EncodingSignals &TextEncodingSignals() const { return FEncodingSignals; }
    // True when the song's texts were decoded as UTF-8.
    bool Utf8Texts() const { return FUsedEncoding == TextEncoding::Utf8; }
    // The MTrk track whose Text events are the karaoke words, or -1 (see IsKaraoke).
    int KaraokeWordsTrack() const { return FWordsTrack; }

    // Every text meta event (types 0x01, 0x02, 0x03, 0x05, 0x07) of the tracks and of the XF
    // chunks (XFIH, XFKM, read after the tracks and never played), decoded, in file order.
    // XF chunk texts are decoded by their declared language: "JP" CP932, "L1" Latin-1.
    const std::vector<SongTextEvent> &TextEvents() const { return FEvents; }
    // True when a track holds the XF version mark (FF 7F … 43 7B 00 "XF0").
    bool XfMarked() const { return FXfMark; }
    // True when an XFKM chunk was found.
    bool HasXfKaraokeChunk() const { return FXfKaraokeChunk; }

    // Total length in seconds; Execute sets it to 0 (the engine reports the real length).
    qint32 TimeLength() const { return FTimeLength; }
    // True once any track holds a Control Change for controller 111.
    bool CC111LoopPoint() const { return FCC111LoopPoint; }
    // Not filled by Execute: the loop point the user sees comes from the engine.
    qint32 FirstCC111Tick() const { return FFirstCC111Tick; }
    qint32 LoopStartTime() const { return FLoopStartTime; }

private:
    void readHeader(SmfCursor &cursor);
    void readTrack(SmfCursor &cursor);
    void readEvents(SmfCursor &cursor, quint64 chunkEnd, SongTextOrigin origin);
    void readMeta(SmfCursor &cursor, quint32 tick, quint64 chunkEnd, SongTextOrigin origin,
                  bool &endOfTrack);
    void readXfChunks(quint64 from);
    void finishTempoAndLyrics();
    void buildTexts();
    void forgetBuffer();

    // A text event as found: its bytes stay in the caller's buffer during Execute.
    struct RawText {
        SongTextOrigin origin;
        quint8 type;
        quint16 track;
        quint32 tick;
        QByteArrayView bytes;
    };

    const unsigned char *FBuffer = nullptr;
    quint32 FSize = 0;
    TSmfMthd FSmfMthd;
    quint64 FPosition = 0;
    TSmfMetaEventString FCopyright;
    TSmfMetaEventString FTitle;
    TSmfMetaEventString FComment;
    TSmfMetaEventString FLyric;
    qint32 FTimeLength = 0;
    bool FCC111LoopPoint = false;
    qint32 FFirstCC111Tick = 0;
    qint32 FLoopStartTime = 0;
    std::unique_ptr<TSmfEventTempoList> FTempoList;
    TLyricLoadOptions FLyricLoadOptions;
    bool FKaraokeFile = false;
    bool FKaraoke = false;
    TextEncoding FEncodingChoice = TextEncoding::Auto;
    TextEncoding FUsedEncoding = TextEncoding::Cp932;
    EncodingSignals FEncodingSignals;
    TSmfMetaEventString FKaraokeTitles;
    int FWordsTrack = -1;
    bool FXfMark = false;
    bool FXfKaraokeChunk = false;
    std::vector<RawText> FTexts;
    std::vector<SongTextEvent> FEvents;
    quint16 FTrackIndex = 0;
};

// The file name says karaoke: its extension is ".kar" in any case.
bool isKaraokeFileName(QStringView fileName);

// What the title and author boxes show: the first Sequence/Track Name and the first
// Copyright Notice; for a karaoke song the first and second "@T" texts where it has them;
// for an XF song with an XFln text its song title and xfAuthorText (where not empty).
QString songTitleText(const TSmfParser &parser);
QString songAuthorText(const TSmfParser &parser);

} // namespace tonelark
