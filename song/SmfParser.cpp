#include "SmfParser.h"

#include "CstmUtils.h"
#include "SungLines.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace tonelark {

namespace {

constexpr qint32 kDefaultMicroseconds = 500000; // 120 beats per minute

[[noreturn]] Q_DECL_COLD_FUNCTION Q_NEVER_INLINE void throwUnexpectedEnd()
{
    throw ESmfParserException(QStringLiteral(
        "MIDIデータの解析中に予期しないファイルの終端へ到達しました。\r\nデータが壊れている可能性があります。"));
}

[[noreturn]] Q_DECL_COLD_FUNCTION Q_NEVER_INLINE void throwRefused(const QString &message)
{
    throw ESmfParserException(message);
}

// Keeps bytes 0x21 and above at both ends, like the loader's trimming of meta texts.
QByteArrayView trimMetaBytes(QByteArrayView bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && static_cast<unsigned char>(bytes[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(bytes[end - 1]) <= 0x20)
        --end;
    return bytes.sliced(begin, end - begin);
}

// Karaoke header lines ("@K", "@T", ...) as opposed to the words.
bool isKaraokeHeader(QByteArrayView bytes)
{
    return trimMetaBytes(bytes).startsWith('@');
}

} // namespace

// The read position as a 64-bit offset: a skip may leave it past the end (even by 4 GiB
// with a huge length), and only the next read or skip raises. Offsets never overflow and the
// data is never addressed outside [0, size).
struct SmfCursor {
    const unsigned char *data;
    quint64 size;
    quint64 pos;

    unsigned char readByte()
    {
        if (pos >= size) [[unlikely]]
            throwUnexpectedEnd();
        return data[pos++];
    }

    // Only the position before the move is checked.
    void skip(quint64 count)
    {
        if (pos >= size) [[unlikely]]
            throwUnexpectedEnd();
        pos += count;
    }

    quint32 readVariableLength()
    {
        quint32 value = 0;
        unsigned char byte;
        do {
            byte = readByte();
            value = (value << 7) | (byte & 0x7Fu);
        } while (byte & 0x80u);
        return value;
    }

    quint32 readFixedLength(quint64 byteSize)
    {
        quint32 value = 0;
        for (quint64 i = 0; i < byteSize; ++i)
            value = (value << 8) | readByte();
        return value;
    }

    // The text bytes of an event of length bytes: never past the end of the data, and
    // ending before the first zero byte.
    QByteArrayView textBytes(quint32 length) const
    {
        if (pos >= size)
            return {};
        const quint64 available = std::min<quint64>(length, size - pos);
        const void *zero = std::memchr(data + pos, 0, available);
        const quint64 count = zero ? static_cast<quint64>(static_cast<const unsigned char *>(zero) - (data + pos))
                                   : available;
        return QByteArrayView(data + pos, static_cast<qsizetype>(count));
    }
};

namespace {

// Writes the cursor's position back to the parser however the walk ends.
class PositionKeeper {
public:
    PositionKeeper(const SmfCursor &cursor, quint64 &target) : m_cursor(cursor), m_target(target) {}
    ~PositionKeeper() { m_target = m_cursor.pos; }
    PositionKeeper(const PositionKeeper &) = delete;
    PositionKeeper &operator=(const PositionKeeper &) = delete;

private:
    const SmfCursor &m_cursor;
    quint64 &m_target;
};

} // namespace

TSmfParser::TSmfParser() = default;
TSmfParser::~TSmfParser() = default;

quint32 TSmfParser::ExtractVariableLength()
{
    SmfCursor cursor{FBuffer, FSize, FPosition};
    PositionKeeper keeper(cursor, FPosition);
    return cursor.readVariableLength();
}

quint32 TSmfParser::ExtractFixedLength(int ByteSize)
{
    if (ByteSize <= 0)
        return 0;
    SmfCursor cursor{FBuffer, FSize, FPosition};
    PositionKeeper keeper(cursor, FPosition);
    return cursor.readFixedLength(static_cast<quint64>(ByteSize));
}

std::unique_ptr<TSmfEventTempoList> TSmfParser::ExtractTempoList()
{
    return std::move(FTempoList);
}

TSmfMetaEventString TSmfParser::ExtractLyric()
{
    TSmfMetaEventString lyric;
    lyric.Assign(std::move(FLyric));
    return lyric;
}

void TSmfParser::Execute(const void *Buffer, quint32 Size)
{
    FBuffer = static_cast<const unsigned char *>(Buffer);
    FSize = Buffer ? Size : 0;
    FPosition = 0;
    FSmfMthd = TSmfMthd();
    FTimeLength = 0;
    FCC111LoopPoint = false;
    FCopyright.Clear();
    FTitle.Clear();
    FComment.Clear();
    FLyric.Clear();
    FKaraokeTitles.Clear();
    FKaraoke = false;
    FUsedEncoding = TextEncoding::Cp932;
    FEncodingSignals = EncodingSignals();
    FWordsTrack = -1;
    FXfMark = false;
    FXfKaraokeChunk = false;
    FTexts.clear();
    FEvents.clear();
    FTempoList.reset();

    // However Execute ends, the caller's buffer is no longer referred to afterwards.
    struct BufferRelease {
        TSmfParser &parser;
        ~BufferRelease()
        {
            parser.FTexts.clear();
            parser.forgetBuffer();
        }
    } release{*this};

    SmfCursor cursor{FBuffer, FSize, 0};
    try {
        PositionKeeper keeper(cursor, FPosition);
        readHeader(cursor);
        FTempoList = std::make_unique<TSmfEventTempoList>(FSmfMthd.TimeBase);
        for (quint32 track = 0; track < FSmfMthd.TrackCount; ++track) {
            FTrackIndex = static_cast<quint16>(track);
            readTrack(cursor);
        }
        FTrackIndex = FSmfMthd.TrackCount;
        readXfChunks(cursor.pos);
    } catch (const ESmfParserException &) {
        // The texts read before the damage stay readable.
        buildTexts();
        throw;
    }
    buildTexts();
    finishTempoAndLyrics();
    FTimeLength = 0;
}

// The data belongs to the caller and may go away after Execute; later reads then raise
// instead of touching it.
void TSmfParser::forgetBuffer()
{
    FBuffer = nullptr;
    FSize = 0;
}

void TSmfParser::CheckHeader(const void *Buffer, quint32 Size)
{
    TSmfParser parser;
    SmfCursor cursor{static_cast<const unsigned char *>(Buffer), std::min(Size, kHeaderBytes), 0};
    parser.readHeader(cursor);
}

void TSmfParser::readHeader(SmfCursor &cursor)
{
    if (cursor.size < 4 || std::memcmp(cursor.data, "MThd", 4) != 0)
        throwRefused(QStringLiteral("これはMIDIデータではありません。"));
    cursor.skip(4);
    FSmfMthd.Length = cursor.readFixedLength(4);
    if (FSmfMthd.Length != 6)
        throwRefused(QStringLiteral("ヘッダサイズが6バイトではありません。対応していないMIDIデータです。"));
    FSmfMthd.Format = static_cast<quint16>(cursor.readFixedLength(2));
    if (FSmfMthd.Format >= 2)
        throwRefused(QStringLiteral("フォーマット%1は対応していません。").arg(FSmfMthd.Format));
    FSmfMthd.TrackCount = static_cast<quint16>(cursor.readFixedLength(2));
    FSmfMthd.TimeBase = static_cast<quint16>(cursor.readFixedLength(2));
    // A time base of 0 would make every tick/time conversion divide by zero.
    if (FSmfMthd.TimeBase >= 0x8000 || FSmfMthd.TimeBase == 0)
        throwRefused(QStringLiteral("この分解能には対応していません。"));
}

void TSmfParser::readTrack(SmfCursor &cursor)
{
    // Unknown chunks and stray bytes are passed over byte by byte; the search stops 4 bytes
    // before the end, and the skip and length read below then raise on a missing chunk.
    while (cursor.pos + 4 < cursor.size && std::memcmp(cursor.data + cursor.pos, "MTrk", 4) != 0)
        ++cursor.pos;
    cursor.skip(4);
    const quint32 length = cursor.readFixedLength(4);
    readEvents(cursor, cursor.pos + length, SongTextOrigin::Track);
}

// The events of one chunk laid out like a track. XF chunks count only for their texts:
// their tempo and controller events are passed over.
void TSmfParser::readEvents(SmfCursor &cursor, quint64 chunkEnd, SongTextOrigin origin)
{
    const bool track = origin == SongTextOrigin::Track;
    unsigned char runningStatus = 0;
    // Ticks wrap at 32 bits like the Integer they are stored in.
    quint32 tick = 0;
    while (cursor.pos < chunkEnd) {
        tick += cursor.readVariableLength();
        unsigned char status = cursor.readByte();
        if (status < 0x80) {
            // A data byte: read it again as the first data byte of a running-status event.
            status = runningStatus;
            --cursor.pos;
        }
        switch (status >> 4) {
        case 0x8:
        case 0x9:
        case 0xA:
        case 0xE:
            cursor.skip(2);
            break;
        case 0xB:
            if (cursor.readByte() == 111 && track)
                FCC111LoopPoint = true;
            cursor.skip(1);
            break;
        case 0xC:
        case 0xD:
            cursor.skip(1);
            break;
        case 0xF:
            if (status == 0xFF) {
                bool endOfTrack = false;
                readMeta(cursor, tick, chunkEnd, origin, endOfTrack);
                if (endOfTrack)
                    return;
            } else {
                // System exclusive and every other system status: a length, then the data.
                cursor.skip(cursor.readVariableLength());
            }
            // Neither sets nor clears the running status.
            continue;
        default:
            // A data byte with no running status at the start of a track: the next delta
            // time starts at the byte stepped back over.
            break;
        }
        runningStatus = status;
    }
}

void TSmfParser::readMeta(SmfCursor &cursor, quint32 tick, quint64 chunkEnd, SongTextOrigin origin,
                          bool &endOfTrack)
{
    const unsigned char type = cursor.readByte();
    const quint32 length = cursor.readVariableLength();
    switch (type) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x05:
    case 0x07:
        // Decoded once the whole song is read: the encoding depends on all its texts.
        FTexts.push_back(RawText{origin, type, FTrackIndex, tick, cursor.textBytes(length)});
        cursor.skip(length);
        break;
    case 0x2F:
        cursor.pos = chunkEnd;
        endOfTrack = true;
        break;
    case 0x51:
        if (origin != SongTextOrigin::Track) {
            cursor.skip(length);
            break;
        }
        // Normally 3 bytes; the length is taken as given (0 gives a tempo of 0).
        FTempoList->Add(TSmfEventTempo(static_cast<qint32>(tick),
                                       static_cast<qint32>(cursor.readFixedLength(length))));
        break;
    case 0x7F: {
        // The XF version mark: Yamaha's manufacturer id 43 7B 00, then "XF0" and the version.
        static constexpr char kXfMark[] = "\x43\x7B\x00XF0";
        const quint64 available = cursor.pos < cursor.size ? cursor.size - cursor.pos : 0;
        if (length >= 6 && available >= 6 && std::memcmp(cursor.data + cursor.pos, kXfMark, 6) == 0)
            FXfMark = true;
        cursor.skip(length);
        break;
    }
    default:
        cursor.skip(length);
        break;
    }
}

// XF files keep their karaoke words (XFKM) and song information (XFIH) in chunks laid out
// like tracks after the MTrk chunks. They are read only for their texts, by their own
// cursor: a damaged XF chunk ends where the damage starts and never refuses the song the
// engine plays. Other chunks are passed over by their length, stray bytes one by one.
void TSmfParser::readXfChunks(quint64 from)
{
    const quint64 size = FSize;
    quint64 pos = from;
    while (pos + 8 <= size) {
        const unsigned char *at = FBuffer + pos;
        const bool info = std::memcmp(at, "XFIH", 4) == 0;
        const bool karaoke = std::memcmp(at, "XFKM", 4) == 0;
        const bool chunkType = std::all_of(at, at + 4, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
        if (!chunkType) {
            ++pos;
            continue;
        }
        const quint64 length = (quint64(at[4]) << 24) | (quint64(at[5]) << 16) | (quint64(at[6]) << 8) | at[7];
        const quint64 body = pos + 8;
        const quint64 end = body + length;
        if (info || karaoke) {
            if (karaoke)
                FXfKaraokeChunk = true;
            SmfCursor chunk{FBuffer, std::min(end, size), body};
            try {
                readEvents(chunk, chunk.size, karaoke ? SongTextOrigin::XfKaraoke : SongTextOrigin::XfInfo);
            } catch (const ESmfParserException &) {
                // Keeps the events read before the damage.
            }
        }
        pos = end;
    }
}

void TSmfParser::buildTexts()
{
    // XF chunks declare their language, and cue points are markers rather than song texts:
    // neither takes part in the song's encoding.
    const auto songText = [](const RawText &text) {
        return text.origin == SongTextOrigin::Track && text.type != 0x07;
    };

    // An XF chunk's language: XFKM's "$Lyrc:<channels>:<offset>:<language>" cue, XFIH's
    // "XFln:<language>:…".
    const auto chunkLanguage = [this](SongTextOrigin origin, QByteArrayView prefix, int field) {
        for (const RawText &text : FTexts) {
            if (text.origin != origin || !text.bytes.startsWith(prefix))
                continue;
            const QList<QByteArray> fields = text.bytes.toByteArray().split(':');
            return fields.size() > field ? fields.at(field).trimmed() : QByteArray();
        }
        return QByteArray();
    };
    const QByteArray karaokeLanguage = chunkLanguage(SongTextOrigin::XfKaraoke, "$Lyrc:", 3);
    const QByteArray infoLanguage = chunkLanguage(SongTextOrigin::XfInfo, "XFln:", 1);

    // The song's encoding by the table of docs/ENCODINGS.md, unless the user chose one.
    EncodingSignals song;
    for (const RawText &text : FTexts) {
        if (!songText(text))
            continue;
        song.addText(text.bytes);
        const QByteArrayView trimmed = trimMetaBytes(text.bytes);
        if (song.tag == LanguageTag::None && text.type == 0x01 && trimmed.startsWith("@L"))
            song.tag = karaokeLanguageTag(trimmed.sliced(2));
    }
    if (song.tag == LanguageTag::None)
        song.tag = xfLanguageTag(karaokeLanguage.isEmpty() ? infoLanguage : karaokeLanguage);
    FEncodingSignals = song;
    FUsedEncoding = FEncodingChoice == TextEncoding::Auto ? chooseTextEncoding(song) : FEncodingChoice;
    const auto decode = [this](QByteArrayView bytes) { return decodeText(bytes, FUsedEncoding); };

    const auto decodeIn = [&](const RawText &text) {
        if (text.origin == SongTextOrigin::Track || FEncodingChoice != TextEncoding::Auto)
            return decode(text.bytes);
        const QByteArray &language =
            text.origin == SongTextOrigin::XfKaraoke ? karaokeLanguage : infoLanguage;
        if (language == "L1")
            return QString::fromLatin1(text.bytes);
        if (language == "JP")
            return ansiToUnicode(text.bytes);
        return decode(text.bytes);
    };
    FEvents.reserve(FTexts.size());
    for (const RawText &text : FTexts)
        FEvents.push_back(SongTextEvent{text.origin, text.type, text.track, static_cast<qint32>(text.tick),
                                        decodeIn(text)});

    const bool lyricText = std::any_of(FTexts.begin(), FTexts.end(), [](const RawText &text) {
        return text.origin == SongTextOrigin::Track && text.type == 0x05 && !text.bytes.isEmpty();
    });
    const bool marker = std::any_of(FTexts.begin(), FTexts.end(), [](const RawText &text) {
        return text.origin == SongTextOrigin::Track && text.type == 0x01 &&
               trimMetaBytes(text.bytes).startsWith("@K");
    });

    // The words of each track: its Text events that are no "@" headers.
    std::map<quint16, QStringList> trackWords;
    if (!lyricText) {
        for (size_t i = 0; i < FTexts.size(); ++i) {
            const RawText &text = FTexts[i];
            if (text.origin == SongTextOrigin::Track && text.type == 0x01 && !isKaraokeHeader(text.bytes))
                trackWords[text.track] << FEvents[i].text;
        }
    }
    // A .mid without the marker is karaoke by content when one track's Text events read as
    // karaoke words.
    const bool byContent = std::any_of(trackWords.begin(), trackWords.end(), [](const auto &entry) {
        return looksLikeKaraokeWords(entry.second);
    });
    FKaraoke = (marker || FKaraokeFile || byContent) && !lyricText;

    // The words track holds the most non-header Text events; others keep theirs as comments.
    int wordsTrack = -1;
    if (FKaraoke) {
        qsizetype most = 0;
        for (const auto &[track, words] : trackWords) {
            if (words.size() > most) {
                most = words.size();
                wordsTrack = track;
            }
        }
    }
    FWordsTrack = wordsTrack;

    KaraokeLyricBuilder words(FLyric, FLyricLoadOptions);
    for (size_t i = 0; i < FTexts.size(); ++i) {
        const RawText &text = FTexts[i];
        // XF chunks count for the sung lines and the boxes only.
        if (text.origin != SongTextOrigin::Track)
            continue;
        switch (text.type) {
        case 0x01:
            if (text.track == wordsTrack && !isKaraokeHeader(text.bytes)) {
                words.Add(FEvents[i].text, static_cast<qint32>(text.tick));
            } else {
                const QByteArrayView trimmed = trimMetaBytes(text.bytes);
                FComment.Add(decode(trimmed));
                if (FKaraoke && trimmed.startsWith("@T"))
                    FKaraokeTitles.Add(decode(trimMetaBytes(trimmed.sliced(2))));
            }
            break;
        case 0x02:
            FCopyright.Add(decode(trimMetaBytes(text.bytes)));
            break;
        case 0x03:
            FTitle.Add(decode(trimMetaBytes(text.bytes)));
            break;
        case 0x05:
            AddLyricLines(FLyric, FEvents[i].text, static_cast<qint32>(text.tick), FLyricLoadOptions);
            break;
        default:
            break;
        }
    }
    words.Finish();
    // The views point into the caller's buffer.
    FTexts.clear();
}

void TSmfParser::finishTempoAndLyrics()
{
    // Files that keep Set Tempo events in several tracks give them out of tick order; the
    // conversions need ascending positions. Equal ticks keep file order.
    FTempoList->Sort();
    if (FTempoList->isEmpty() || FTempoList->Items(0).FPosition > 0)
        FTempoList->Insert(0, TSmfEventTempo(0, kDefaultMicroseconds));

    for (int i = 0; i < FLyric.Count(); ++i) {
        TSmfLyricInfo *info = FLyric.Objects(i);
        if (!info)
            continue;
        info->Millisecond = FTempoList->TickToSecond(info->Tick, tuMilliseconds);
        info->Second = static_cast<qint32>(info->Millisecond / 1000);
    }
}

bool isKaraokeFileName(QStringView fileName)
{
    return fileName.endsWith(QLatin1String(".kar"), Qt::CaseInsensitive);
}

QString songTitleText(const TSmfParser &parser)
{
    const XfSongInfo xf = readXfSongInfo(parser.TextEvents());
    if (!xf.title.isEmpty())
        return xf.title;
    if (parser.IsKaraoke() && parser.KaraokeTitles().Count() >= 1)
        return parser.KaraokeTitles().Strings(0);
    return parser.Title().isEmpty() ? QString() : parser.Title().Strings(0);
}

QString songAuthorText(const TSmfParser &parser)
{
    const QString xfAuthor = xfAuthorText(readXfSongInfo(parser.TextEvents()));
    if (!xfAuthor.isEmpty())
        return xfAuthor;
    if (parser.IsKaraoke() && parser.KaraokeTitles().Count() >= 2)
        return parser.KaraokeTitles().Strings(1);
    return parser.Copyright().isEmpty() ? QString() : parser.Copyright().Strings(0);
}

} // namespace tonelark
