#pragma once

// Builds SMF byte images for tests: header, chunks, variable-length numbers and events, so
// that every test file reads as what it contains.

#include "CstmUtils.h"

#include <QByteArray>
#include <QString>

#include <initializer_list>

namespace tonelark::test {

inline QByteArray varLen(quint32 value)
{
    QByteArray bytes(1, static_cast<char>(value & 0x7F));
    while (value >>= 7)
        bytes.prepend(static_cast<char>(0x80 | (value & 0x7F)));
    return bytes;
}

inline QByteArray bigEndian(quint32 value, int byteCount)
{
    QByteArray bytes;
    for (int i = byteCount - 1; i >= 0; --i)
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}

inline QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        bytes.append(static_cast<char>(v));
    return bytes;
}

inline QByteArray chunk(const char (&type)[5], const QByteArray &body)
{
    return QByteArray(type, 4) + bigEndian(static_cast<quint32>(body.size()), 4) + body;
}

inline QByteArray header(quint16 format, quint16 trackCount, quint16 timeBase, quint32 length = 6)
{
    return QByteArray("MThd") + bigEndian(length, 4) + bigEndian(format, 2) + bigEndian(trackCount, 2)
        + bigEndian(timeBase, 2);
}

// The events of one track chunk; each call appends a delta time and an event.
class TrackBuilder {
public:
    TrackBuilder &event(quint32 delta, std::initializer_list<int> bytes)
    {
        m_bytes += varLen(delta) + bytesOf(bytes);
        return *this;
    }
    TrackBuilder &meta(quint32 delta, int type, const QByteArray &data)
    {
        m_bytes += varLen(delta) + bytesOf({0xFF, type}) + varLen(static_cast<quint32>(data.size())) + data;
        return *this;
    }
    // A text meta event in the song code page (CP932).
    TrackBuilder &text(quint32 delta, int type, const QString &text)
    {
        return meta(delta, type, unicodeToAnsi(text));
    }
    TrackBuilder &lyric(quint32 delta, const QString &text) { return this->text(delta, 0x05, text); }
    TrackBuilder &tempo(quint32 delta, quint32 microseconds)
    {
        return meta(delta, 0x51, bigEndian(microseconds, 3));
    }
    TrackBuilder &endOfTrack(quint32 delta = 0) { return meta(delta, 0x2F, {}); }
    TrackBuilder &raw(const QByteArray &bytes)
    {
        m_bytes += bytes;
        return *this;
    }

    const QByteArray &bytes() const { return m_bytes; }
    QByteArray chunk() const { return test::chunk("MTrk", m_bytes); }

private:
    QByteArray m_bytes;
};

// A whole file: header plus one MTrk chunk per track.
inline QByteArray smf(quint16 format, quint16 timeBase, std::initializer_list<TrackBuilder> tracks)
{
    QByteArray bytes = header(format, static_cast<quint16>(tracks.size()), timeBase);
    for (const TrackBuilder &track : tracks)
        bytes += track.chunk();
    return bytes;
}

} // namespace tonelark::test
