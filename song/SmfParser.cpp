#include "SmfParser.h"

#include "CstmUtils.h"

#include <algorithm>
#include <cstring>

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
    FTempoList.reset();

    SmfCursor cursor{FBuffer, FSize, 0};
    try {
        PositionKeeper keeper(cursor, FPosition);
        readHeader(cursor);
        FTempoList = std::make_unique<TSmfEventTempoList>(FSmfMthd.TimeBase);
        for (quint32 track = 0; track < FSmfMthd.TrackCount; ++track)
            readTrack(cursor);
    } catch (...) {
        forgetBuffer();
        throw;
    }
    forgetBuffer();
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
    const quint64 chunkEnd = cursor.pos + length;

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
            if (cursor.readByte() == 111)
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
                readMeta(cursor, tick, chunkEnd, endOfTrack);
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

void TSmfParser::readMeta(SmfCursor &cursor, quint32 tick, quint64 chunkEnd, bool &endOfTrack)
{
    const unsigned char type = cursor.readByte();
    const quint32 length = cursor.readVariableLength();
    switch (type) {
    case 0x01:
        FComment.Add(ansiToUnicode(trimMetaBytes(cursor.textBytes(length))));
        cursor.skip(length);
        break;
    case 0x02:
        FCopyright.Add(ansiToUnicode(trimMetaBytes(cursor.textBytes(length))));
        cursor.skip(length);
        break;
    case 0x03:
        FTitle.Add(ansiToUnicode(trimMetaBytes(cursor.textBytes(length))));
        cursor.skip(length);
        break;
    case 0x05:
        AddLyricLines(FLyric, ansiToUnicode(cursor.textBytes(length)), static_cast<qint32>(tick),
                      FLyricLoadOptions);
        cursor.skip(length);
        break;
    case 0x2F:
        cursor.pos = chunkEnd;
        endOfTrack = true;
        break;
    case 0x51:
        // Normally 3 bytes; the length is taken as given (0 gives a tempo of 0).
        FTempoList->Add(TSmfEventTempo(static_cast<qint32>(tick),
                                       static_cast<qint32>(cursor.readFixedLength(length))));
        break;
    default:
        cursor.skip(length);
        break;
    }
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

} // namespace tonelark
