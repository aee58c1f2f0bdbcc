#include "dSakura.h"

#include "Cp932Codec.h"
#include "MmlCompiler.h"
#include "MmlLimits.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace {

constexpr int32_t kDefaultMessageLength = 1024;
constexpr size_t kVersionBufferSize = 16;

// Set by the caller before each compile; one process-wide value is all the contract has.
int32_t g_messageLength = kDefaultMessageLength;
std::atomic<unsigned> g_tempCounter{0};

// Copies a CP932 text into the caller's buffer: cut at a character boundary so the last
// character is never half a double-byte pair, and always zero-terminated.
void writeMessage(char *buffer, const std::string &cp932)
{
    if (!buffer || g_messageLength <= 0)
        return;
    const size_t room = static_cast<size_t>(g_messageLength) - 1;
    size_t length = 0;
    while (length < cp932.size()) {
        const size_t next = length + static_cast<size_t>(sakura::cp932CharLength(static_cast<unsigned char>(cp932[length])));
        if (next > room || next > cp932.size())
            break;
        length = next;
    }
    std::memcpy(buffer, cp932.data(), length);
    buffer[length] = '\0';
}

bool writeAll(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes next to the target and renames over it, so a reader never sees a half-written file
// and a failed compile or write leaves the old file as it was: the bytes are written, synced
// and the close checked before the rename (a write-back that fails on a full disk would
// otherwise surface only after the rename, leaving a short file), and the folder is synced
// after it. The library links nothing of the program's, so this is the program's atomic
// save sequence in its own words. Returns 0 or an errno value.
int replaceFile(const std::string &path, const std::string &bytes)
{
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;
    int error = 0;
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return 0;
}

// The reason in the player's words for the cases a user meets; others keep the system's text.
std::string reasonText(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "ディスクの空き容量が足りません";
    case EACCES:
    case EPERM:
        return "アクセスが拒否されました";
    case EROFS:
        return "読み取り専用の場所です";
    default:
        return std::strerror(error);
    }
}

} // namespace

extern "C" uint8_t MMLtoMIDI(const char *mml, const char *midiPath, char *errMsg)
{
    try {
        sakura::Cp932Codec codec;
        if (!mml) {
            writeMessage(errMsg, codec.utf8ToCp932("MMLのテキストが渡されていません。"));
            return 0;
        }
        if (!midiPath || !*midiPath) {
            writeMessage(errMsg, codec.utf8ToCp932("書き出すMIDIファイルの名前が渡されていません。"));
            return 0;
        }
        // Read only up to the limit: the text need not end soon after it.
        const size_t length = ::strnlen(mml, static_cast<size_t>(sakura::kMaxSourceBytes) + 1);
        if (length > static_cast<size_t>(sakura::kMaxSourceBytes)) {
            writeMessage(errMsg, codec.utf8ToCp932("MMLのテキストが長すぎます（最大" +
                                                   std::to_string(sakura::kMaxSourceBytes) + "バイト）。"));
            return 0;
        }
        sakura::CompileResult result = sakura::compileMml(std::string_view(mml, length));
        if (!result.ok) {
            writeMessage(errMsg, result.messages);
            return 0;
        }
        // The path is in the file system's encoding (the bridge passes it so), not CP932 like
        // the texts: a folder name outside CP932 must still work, and UTF-8 bytes of a
        // Japanese name may happen to be valid CP932 and would be misread.
        const std::string path = midiPath;
        if (const int error = replaceFile(path, result.smf)) {
            const std::string message = "MIDIファイル「" + path + "」を書き込めませんでした（" + reasonText(error) + "）。";
            writeMessage(errMsg, codec.utf8ToCp932(message));
            return 0;
        }
        writeMessage(errMsg, result.messages);
        return 1;
    } catch (...) {
        writeMessage(errMsg, "internal error");
        return 0;
    }
}

extern "C" void SetErrMsgLen(int32_t length)
{
    g_messageLength = length;
}

extern "C" void GetVerInfo(char *buffer)
{
    if (!buffer)
        return;
    const char *version = DSAKURA_VERSION;
    const size_t length = std::min(std::strlen(version), kVersionBufferSize - 1);
    std::memcpy(buffer, version, length);
    buffer[length] = '\0';
}
