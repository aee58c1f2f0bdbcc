#include "TestSmf.h"

#include <stdexcept>

namespace testsmf {

namespace {

class Reader
{
public:
    Reader(const std::string &bytes, size_t begin, size_t end)
        : m_bytes(bytes), m_pos(begin), m_end(end) {}

    bool atEnd() const { return m_pos >= m_end; }
    uint8_t byte()
    {
        if (m_pos >= m_end)
            throw std::runtime_error("unexpected end of chunk");
        return static_cast<uint8_t>(m_bytes[m_pos++]);
    }
    uint32_t bigEndian(int count)
    {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 8) | byte();
        return value;
    }
    uint32_t varLen()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = byte();
            value = (value << 7) | (b & 0x7F);
            if ((b & 0x80) == 0)
                return value;
        }
        throw std::runtime_error("variable-length number longer than four bytes");
    }
    std::string take(size_t count)
    {
        if (m_end - m_pos < count)
            throw std::runtime_error("data runs past the chunk");
        std::string out = m_bytes.substr(m_pos, count);
        m_pos += count;
        return out;
    }
    size_t pos() const { return m_pos; }

private:
    const std::string &m_bytes;
    size_t m_pos;
    size_t m_end;
};

} // namespace

std::vector<Note> Track::notes() const
{
    std::vector<Note> out;
    std::vector<size_t> open;
    for (const Event &event : events) {
        const uint8_t kind = event.status & 0xF0;
        if (kind != 0x80 && kind != 0x90)
            continue;
        const int key = static_cast<uint8_t>(event.data[0]);
        const int velocity = static_cast<uint8_t>(event.data[1]);
        const int channel = event.status & 0x0F;
        if (kind == 0x90 && velocity > 0) {
            open.push_back(out.size());
            out.push_back({event.tick, channel, key, velocity, 0});
            continue;
        }
        for (auto it = open.begin(); it != open.end(); ++it) {
            Note &note = out[*it];
            if (note.key == key && note.channel == channel) {
                note.length = event.tick - note.tick;
                open.erase(it);
                break;
            }
        }
    }
    if (!open.empty())
        throw std::runtime_error("a note is never released");
    return out;
}

std::vector<Event> Track::metas(uint8_t type) const
{
    std::vector<Event> out;
    for (const Event &event : events) {
        if (event.status == 0xFF && event.metaType == type)
            out.push_back(event);
    }
    return out;
}

std::vector<Event> Track::channelEvents(uint8_t kind) const
{
    std::vector<Event> out;
    for (const Event &event : events) {
        if (event.status < 0xF0 && (event.status & 0xF0) == kind)
            out.push_back(event);
    }
    return out;
}

File parse(const std::string &bytes)
{
    Reader header(bytes, 0, bytes.size());
    if (header.take(4) != "MThd" || header.bigEndian(4) != 6)
        throw std::runtime_error("no MThd header");
    File file;
    file.format = static_cast<int>(header.bigEndian(2));
    const uint32_t trackCount = header.bigEndian(2);
    file.division = static_cast<int>(header.bigEndian(2));
    size_t pos = header.pos();
    for (uint32_t t = 0; t < trackCount; ++t) {
        Reader chunk(bytes, pos, bytes.size());
        if (chunk.take(4) != "MTrk")
            throw std::runtime_error("missing MTrk");
        const uint32_t length = chunk.bigEndian(4);
        if (bytes.size() - chunk.pos() < length)
            throw std::runtime_error("track chunk longer than the file");
        Reader body(bytes, chunk.pos(), chunk.pos() + length);
        pos = chunk.pos() + length;
        Track track;
        uint32_t tick = 0;
        bool ended = false;
        while (!body.atEnd()) {
            if (ended)
                throw std::runtime_error("events after End of Track");
            tick += body.varLen();
            Event event;
            event.tick = tick;
            event.status = body.byte();
            if (event.status < 0x80)
                throw std::runtime_error("running status is not expected from this writer");
            if (event.status == 0xFF) {
                event.metaType = body.byte();
                event.data = body.take(body.varLen());
                ended = event.metaType == 0x2F;
            } else if (event.status == 0xF0 || event.status == 0xF7) {
                event.data = body.take(body.varLen()); // only in the reference demo file
            } else if (event.status >= 0xF0) {
                throw std::runtime_error("unexpected system event");
            } else {
                const uint8_t kind = event.status & 0xF0;
                event.data = body.take(kind == 0xC0 || kind == 0xD0 ? 1 : 2);
                for (char c : event.data) {
                    if (static_cast<uint8_t>(c) > 0x7F)
                        throw std::runtime_error("data byte above 0x7F");
                }
            }
            track.events.push_back(event);
        }
        if (!ended)
            throw std::runtime_error("track without End of Track");
        file.tracks.push_back(std::move(track));
    }
    if (pos != bytes.size())
        throw std::runtime_error("bytes after the last track");
    return file;
}

} // namespace testsmf
