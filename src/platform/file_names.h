// File names as the system has them: bytes. A name from an old collection is
// often Latin-1 or cp1251, not UTF-8; Qt turns the bytes it cannot read as
// UTF-8 into U+FFFD, so such a file could be neither opened nor listed
// (a folder listing leaves it out). Here a name keeps every byte:
//
//     const QString path = PathFromLocal(argv[1]);   // "caf\xE9.ay" -> "caf" U+DCE9 ".ay"
//     open(LocalPath(path).constData(), O_RDONLY);   // the same bytes again
//     label->setText(ReadableName(path));            // "café.ay"
//
// A byte that is not part of valid UTF-8 becomes the lone surrogate U+DC00 +
// byte (as Python's "surrogateescape" does), and goes back to that byte; a
// valid UTF-8 name is the QString Qt makes of it. Such a path must reach the
// file system through LocalPath (or the helpers below), never through Qt's
// own file classes, which would lose those bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QUrl;

// The path for a name's bytes, and the bytes of a path.
QString PathFromLocal(const QByteArray& bytes);
QByteArray LocalPath(const QString& path);
// Whether a path holds bytes that are not UTF-8.
bool HasForeignBytes(const QString& path);
// A path to show: bytes that are not UTF-8 read as cp1251 where they look
// like Cyrillic words (runs of letters from its upper half), else as Latin-1.
QString ReadableName(const QString& path);

// The path of a local file's URL (a drop, the media-player interface), its
// percent-encoded bytes kept; empty for another URL.
QString PathOfUrl(const QUrl& url);
// The file URL of a path, its bytes percent-encoded.
QString UrlOfPath(const QString& path);
// The last part of a path, and the folder before it ("" for none); the
// name without its last extension ("a.b.ay": "a.b").
QString FileNameOf(const QString& path);
QString BaseNameOf(const QString& path);
QString FolderOf(const QString& path);
// What the system says of a path (stat, following links).
bool PathExists(const QString& path);
bool IsFolder(const QString& path);
bool IsRegularFile(const QString& path);
// An absolute path: as it is, or against `base` (the current folder when empty).
QString AbsolutePathOf(const QString& path, const QString& base = QString());
// The folder's entries (without "." and ".."), as paths; empty when it
// cannot be read.
QStringList FolderEntries(const QString& folder);
