#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

// File names as the file system holds them. Linux names are bytes; names unpacked from old
// Japanese archives are CP932 bytes that are no UTF-8, and QFile::decodeName turns each such
// byte into U+FFFD, after which the file can no longer be named. Here a byte that is not part
// of well-formed UTF-8 travels as the lone surrogate U+DC80..U+DCFF (one per byte), so that
// the bytes come back exactly; only the displayed name shows U+FFFD.
namespace tonelark {

// The name of the bytes: UTF-8 where well-formed, one U+DC80+byte unit per other byte.
QString decodeFileName(QByteArrayView bytes);
// The bytes of a name made by decodeFileName (or any other text, as UTF-8).
QByteArray encodeFileName(QStringView name);
// The name as shown to the user: each escaped byte as U+FFFD.
QString displayFileName(QStringView name);

// True when something exists at the path (any kind of file, folders too).
bool pathExists(const QString &path);
// True when a folder exists at the path.
bool isFolder(const QString &path);
// True when a regular file (no folder, FIFO, device or socket) exists at the path.
bool isRegularFile(const QString &path);

// The local path a "file:" URI names (its percent-encoded bytes taken as they are), or an
// empty string when the text is no such URI, names another host, or holds a NUL byte (the
// system would name the file that ends before it).
QString localPathFromFileUri(QStringView uri);

// The "file://" URI of a path: each byte of the name that is not a plain URI character
// percent-encoded, so that localPathFromFileUri gives back exactly the same bytes (a CP932
// name too). A relative path is taken from the current folder.
QString fileUriFromLocalPath(const QString &path);

// A command-line argument or handed-over text as a path: a "file:" URI becomes its local
// path, anything else stays as it is.
QString pathFromArgument(const QString &argument);

// The program's arguments after argv[0], each by its bytes, "file:" URIs as their paths.
QStringList commandLineArguments(int argc, const char *const *argv);

// The path the open dialog returned. Dialogs name files through QFile::decodeName, so a
// name with non-UTF-8 bytes comes back with U+FFFD and names nothing; each such part is
// matched against the folder's real entries and replaced when exactly one entry fits.
QString resolveDialogPath(const QString &path);

} // namespace tonelark
