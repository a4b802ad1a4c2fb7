// The settings store on QSettings (INI) with errno-accurate error reports, and
// the splitting of the stored option string (see settings.h).
#include "platform/settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QByteArray Local(const QString& path) { return QFile::encodeName(path); }

QString StartupKey() {
    return QString::fromLatin1(SettingsStore::Group) + QLatin1Char('/') +
           QString::fromLatin1(SettingsStore::StartupValue);
}

// Makes every folder of an absolute path that is missing. 0, or the errno of
// the step that failed; ENOTDIR when something other than a folder stands in
// the path.
int MakeFolders(const QString& path) {
    const QStringList parts = QDir::cleanPath(path).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    for (const QString& part : parts) {
        current += QLatin1Char('/') + part;
        const QByteArray local = Local(current);
        if (::mkdir(local.constData(), 0777) == 0) continue;
        const int error = errno;
        if (error != EEXIST) return error;
        struct stat st {};
        if (::stat(local.constData(), &st) != 0) return errno;
        if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    }
    return 0;
}

} // namespace

QString SettingsStore::ConfigHomeFromEnvironment() {
    const QString env = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(env)) return env;
    return QDir::homePath() + QStringLiteral("/.config");
}

SettingsStore::SettingsStore(ErrorSink onError, QString configHome)
    : ConfigHome(std::move(configHome)), OnError(std::move(onError)) {}

QString SettingsStore::FolderPath() const {
    return ConfigHome + QLatin1Char('/') + QString::fromLatin1(MakerFolder);
}

QString SettingsStore::FilePath() const {
    return FolderPath() + QLatin1Char('/') + QString::fromLatin1(FileName);
}

void SettingsStore::Report(int code) const {
    if (OnError) OnError(code, QString::fromLocal8Bit(std::strerror(code)));
}

int SettingsStore::FileState() const {
    struct stat st {};
    if (::stat(Local(FilePath()).constData(), &st) == 0) return 0;
    // A file standing where a folder of the path belongs: the settings
    // cannot be there, which is what "not found" means.
    return errno == ENOTDIR ? ENOENT : errno;
}

bool SettingsStore::CheckWritable() {
    if (FileState() == 0) {
        const int fd = ::open(Local(FilePath()).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0) {
            Report(errno);
            return false;
        }
        ::close(fd);
    }
    // The file is saved through a new file and a lock file in its folder.
    QByteArray probe = Local(FolderPath() + QStringLiteral("/.Zirrafon.conf.XXXXXX"));
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        Report(errno);
        return false;
    }
    ::close(fd);
    ::unlink(probe.constData());
    return true;
}

bool SettingsStore::RemoveKey(const QString& key) {
    QSettings settings(FilePath(), QSettings::IniFormat);
    settings.remove(key);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        Report(EIO);
        return false;
    }
    return true;
}

std::optional<QString> SettingsStore::ReadStartup() const {
    if (FileState() != 0) return std::nullopt;
    QSettings settings(FilePath(), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError || !settings.contains(StartupKey()))
        return std::nullopt;
    const QVariant value = settings.value(StartupKey());
    // An unquoted comma in a hand-edited file makes QSettings read a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

std::optional<QVariant> SettingsStore::ReadPlayerValue(const QString& key) const {
    if (FileState() != 0) return std::nullopt;
    QSettings settings(FilePath(), QSettings::IniFormat);
    const QString full = QString::fromLatin1(PlayerGroup) + QLatin1Char('/') + key;
    if (settings.status() != QSettings::NoError || !settings.contains(full)) return std::nullopt;
    return settings.value(full);
}

bool SettingsStore::WritePlayerValue(const QString& key, const QVariant& value) {
    if (!OpenForWriting()) return false;
    QSettings settings(FilePath(), QSettings::IniFormat);
    settings.setValue(QString::fromLatin1(PlayerGroup) + QLatin1Char('/') + key, value);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        Report(EIO);
        return false;
    }
    return true;
}

bool SettingsStore::RemoveOldPaths() {
    const int state = FileState();
    if (state == ENOENT) return true;
    if (state != 0) {
        Report(state);
        return false;
    }
    if (!CheckWritable()) return false;
    bool present = false;
    {
        QSettings settings(FilePath(), QSettings::IniFormat);
        present = settings.childGroups().contains(QString::fromLatin1(OldGroup));
    }
    return !present || RemoveKey(QString::fromLatin1(OldGroup));
}

bool SettingsStore::OpenForWriting() {
    if (const int error = MakeFolders(FolderPath()); error != 0) {
        Report(error);
        return false;
    }
    return CheckWritable();
}

bool SettingsStore::WriteStartup(const QString& options) {
    QSettings settings(FilePath(), QSettings::IniFormat);
    settings.setValue(StartupKey(), options);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        Report(EIO);
        return false;
    }
    return true;
}

bool SettingsStore::DeleteStartup() {
    const int state = FileState();
    if (state == ENOENT) return true;
    if (state != 0) {
        Report(state);
        return false;
    }
    bool present = false;
    {
        QSettings settings(FilePath(), QSettings::IniFormat);
        present = settings.contains(StartupKey());
    }
    if (!present) return true;
    return CheckWritable() && RemoveKey(StartupKey());
}

bool SettingsStore::RemoveSettings() {
    const int state = FileState();
    if (state != 0 && state != ENOENT) {
        Report(state);
        return false;
    }
    if (state == 0) {
        if (!CheckWritable()) return false;
        for (const char* group : {Group, PlayerGroup}) {
            bool present = false;
            {
                QSettings settings(FilePath(), QSettings::IniFormat);
                present = settings.childGroups().contains(QString::fromLatin1(group));
            }
            if (present && !RemoveKey(QString::fromLatin1(group))) return false;
        }
        bool empty = false;
        {
            QSettings settings(FilePath(), QSettings::IniFormat);
            empty = settings.allKeys().isEmpty();
        }
        if (empty && ::unlink(Local(FilePath()).constData()) != 0 && errno != ENOENT) {
            Report(errno);
            return false;
        }
    }
    // The maker folder goes when nothing else is left in it.
    if (::rmdir(Local(FolderPath()).constData()) != 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR && error != ENOTEMPTY && error != EEXIST) {
            Report(error);
            return false;
        }
    }
    return true;
}

QList<QByteArray> SplitStartupOptions(const QByteArray& text) {
    // The value as read: its bytes and the terminating NUL (counted in n),
    // plus one byte into which a token that runs to the end writes its NUL.
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    buffer.push_back('\0');
    char* p = buffer.data();
    qsizetype n = text.size() + 1;
    QList<QByteArray> tokens;
    while (n > 0) {
        qsizetype pos = 0;
        bool quoted = false;
        while (pos < n) {
            const auto byte = static_cast<unsigned char>(p[pos]);
            if (!quoted && byte <= 0x20) break;
            if (byte == '"') {
                std::memmove(p + pos, p + pos + 1, static_cast<size_t>(n - pos - 1));
                --n;
                quoted = !quoted;
            } else {
                ++pos;
            }
        }
        p[pos] = '\0';
        tokens.append(QByteArray(p)); // up to the token's first NUL
        n -= pos + 1;
        p += pos + 1;
    }
    return tokens;
}
