// File names as bytes (see file_names.h).
#include "platform/file_names.h"

#include <QDir>
#include <QUrl>

#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char16_t EscapeBase = 0xDC00; // + the byte, for bytes 0x80..0xFF

bool IsEscapedByte(QChar c) { return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF; }

// The length of the valid UTF-8 sequence at `p` (of `left` bytes), or 0.
int Utf8Length(const unsigned char* p, qsizetype left) {
    const unsigned char b = p[0];
    int n;
    uint32_t code;
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        code = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        code = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        code = b & 0x07;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = code << 6 | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond U+10FFFF are not UTF-8.
    if ((n == 3 && code < 0x800) || (n == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

// Windows code page 1251, bytes 0x80..0xBF (0xC0..0xFF are U+0410..U+044F in
// order), from the code page's Unicode mapping table (0x98 has no character).
constexpr char16_t Cp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

char16_t FromCp1251(unsigned char b) {
    if (b >= 0xC0) return static_cast<char16_t>(0x0410 + (b - 0xC0));
    return Cp1251High[b - 0x80];
}

QByteArray StatPath(const QString& path) { return LocalPath(path); }

} // namespace

QString PathFromLocal(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    QString out;
    out.reserve(size);
    for (qsizetype i = 0; i < size;) {
        const int n = Utf8Length(p + i, size - i);
        if (n == 0) {
            out += QChar(static_cast<char16_t>(EscapeBase + p[i]));
            ++i;
            continue;
        }
        out += QString::fromUtf8(bytes.constData() + i, n);
        i += n;
    }
    return out;
}

QByteArray LocalPath(const QString& path) {
    QByteArray out;
    out.reserve(path.size());
    qsizetype from = 0; // start of the text not yet encoded
    for (qsizetype i = 0; i < path.size(); ++i) {
        // A low surrogate that follows a high one is half of a character.
        if (!IsEscapedByte(path[i]) || (i > 0 && path[i - 1].isHighSurrogate())) continue;
        out += QStringView(path).mid(from, i - from).toUtf8();
        out += static_cast<char>(path[i].unicode() - EscapeBase);
        from = i + 1;
    }
    out += QStringView(path).mid(from).toUtf8();
    return out;
}

bool HasForeignBytes(const QString& path) {
    for (qsizetype i = 0; i < path.size(); ++i)
        if (IsEscapedByte(path[i]) && !(i > 0 && path[i - 1].isHighSurrogate())) return true;
    return false;
}

QString ReadableName(const QString& path) {
    if (!HasForeignBytes(path)) return path;
    // Cyrillic words in cp1251 are runs of upper-half bytes; a Latin-1 name
    // has an accented letter here and there between plain ones.
    bool cyrillic = false;
    int run = 0;
    for (qsizetype i = 0; i < path.size() && !cyrillic; ++i) {
        run = IsEscapedByte(path[i]) && path[i].unicode() - EscapeBase >= 0xC0 ? run + 1 : 0;
        cyrillic = run >= 3;
    }
    QString out = path;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (!IsEscapedByte(out[i]) || (i > 0 && out[i - 1].isHighSurrogate())) continue;
        const auto b = static_cast<unsigned char>(out[i].unicode() - EscapeBase);
        out[i] = QChar(cyrillic ? FromCp1251(b) : static_cast<char16_t>(b));
    }
    return out;
}

QString PathOfUrl(const QUrl& url) {
    if (!url.isLocalFile()) return QString();
    return PathFromLocal(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QString UrlOfPath(const QString& path) {
    if (!HasForeignBytes(path)) return QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
    return QStringLiteral("file://") +
           QString::fromLatin1(LocalPath(AbsolutePathOf(path)).toPercentEncoding("/"));
}

QString BaseNameOf(const QString& path) {
    const QString name = FileNameOf(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString FileNameOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

bool PathExists(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(StatPath(path).constData(), &st) == 0;
}

bool IsFolder(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(StatPath(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(StatPath(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

QString AbsolutePathOf(const QString& path, const QString& base) {
    if (path.startsWith(QLatin1Char('/'))) return QDir::cleanPath(path);
    QString folder = base;
    if (folder.isEmpty()) {
        std::unique_ptr<char, decltype(&::free)> cwd(::getcwd(nullptr, 0), &::free);
        folder = cwd ? PathFromLocal(QByteArray(cwd.get())) : QStringLiteral("/");
    }
    return QDir::cleanPath(folder + QLatin1Char('/') + path);
}

QStringList FolderEntries(const QString& folder) {
    QStringList out;
    DIR* dir = ::opendir(LocalPath(folder).constData());
    if (dir == nullptr) return out;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..") continue;
        out << prefix + PathFromLocal(name);
    }
    ::closedir(dir);
    return out;
}
