// File-type association of ".ay" and ".aym" on a freedesktop.org desktop: the
// desktop entry, the MIME definitions and the default application in the
// user's mimeapps.list. See association.h for what stands for what and where
// this knowingly differs from the registry original.
#include "platform/association.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The desktop entry, as installed (assets/zirrafon.desktop has the same
// text). The per-user entry has the program's own path in Exec and claims
// only the associated types in MimeType.
constexpr const char* DesktopEntryTemplate = R"([Desktop Entry]
Version=1.4
Type=Application
Name=Zirrafon
GenericName=Chip Music Player
Comment=Plays AY/YM Audio Files, the chip music of 8-bit home computers
Icon=zirrafon
Exec=zirrafon %F
Terminal=false
Categories=AudioVideo;Audio;Player;
MimeType=audio/x-zxay;audio/x-aym;
Keywords=chiptune;AY;YM;Spectrum;CPC;
)";

// The MIME definitions; the installed copy is assets/zirrafon-mime.xml. Globs
// are matched without regard to letter case, so "SONG.AY" is one too. The
// magic strings are the files' identifiers: "ZXAYEMUL" and "AYM" with
// revision "0".
constexpr const char* MimeXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- The song files Zirrafon plays. -->
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="audio/x-zxay">
    <comment>AY/YM Audio File</comment>
    <icon name="zirrafon-audio-file"/>
    <generic-icon name="audio-x-generic"/>
    <magic priority="50">
      <match type="string" offset="0" value="ZXAYEMUL"/>
    </magic>
    <glob pattern="*.ay"/>
  </mime-type>
  <mime-type type="audio/x-aym">
    <comment>AY/YM Audio File</comment>
    <icon name="zirrafon-audio-file"/>
    <generic-icon name="audio-x-generic"/>
    <magic priority="50">
      <match type="string" offset="0" value="AYM0"/>
    </magic>
    <glob pattern="*.aym"/>
  </mime-type>
</mime-info>
)";

constexpr const char* DesktopGroup = "Desktop Entry";

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct ErrorDeleter {
    void operator()(GError* e) const { g_error_free(e); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

// Whole file into `text`; 0 or the errno of the failure.
int ReadWholeFile(const std::string& path, std::string& text) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    text.clear();
    char buffer[8192];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            close(fd);
            return error;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return 0;
}

// Replaces the file's content as one step: a temporary file beside it, then a
// rename over it, so that a crash or a full disk never leaves half a file. A
// symbolic link is followed, so the link stays and its target is replaced.
// An existing file keeps its permissions; a new one gets 0666 less the umask.
int ReplaceFile(const std::string& path, const std::string& data) {
    std::string target = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;
        free(resolved);
    }
    struct stat st;
    const bool existed = stat(target.c_str(), &st) == 0;

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp =
            target + ".zirrafon-" + std::to_string(getpid()) + "-" + std::to_string(g_random_int());
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;

    int error = 0;
    size_t done = 0;
    while (done < data.size() && error == 0) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno != EINTR) error = errno;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (error == 0 && existed && fchmod(fd, st.st_mode & 07777) != 0) error = errno;
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) unlink(temp.c_str());
    return error;
}

int MakeFolder(const std::string& path) {
    return g_mkdir_with_parents(path.c_str(), 0700) == 0 ? 0 : errno;
}

bool IsUtf8(const std::string& s) { return g_utf8_validate(s.data(), s.size(), nullptr); }

// Letter case folded the way the file's own text allows.
std::string Lower(const std::string& s) {
    GCharPtr lowered(IsUtf8(s) ? g_utf8_strdown(s.data(), static_cast<gssize>(s.size()))
                               : g_ascii_strdown(s.data(), static_cast<gssize>(s.size())));
    return lowered.get();
}

// The first entry of a "a.desktop;b.desktop;" list; a plain value is its own
// first entry.
std::string FirstEntry(const std::string& list) { return list.substr(0, list.find(';')); }

bool IsOurs(const std::string& value) { return FirstEntry(value) == FileAssociation::DesktopId; }

std::string ValueOf(GKeyFile* file, const char* group, const std::string& key, bool& present) {
    GCharPtr value(g_key_file_get_value(file, group, key.c_str(), nullptr));
    present = value != nullptr;
    return present ? std::string(value.get()) : std::string();
}

void RemoveGroupIfEmpty(GKeyFile* file, const char* group) {
    gsize count = 0;
    gchar** keys = g_key_file_get_keys(file, group, &count, nullptr);
    g_strfreev(keys);
    if (keys != nullptr && count == 0) g_key_file_remove_group(file, group, nullptr);
}

std::string EnvFolder(const char* variable, const char* fallbackUnderHome) {
    const char* value = getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    const char* home = getenv("HOME");
    std::string base = (home != nullptr && home[0] != '\0') ? home : g_get_home_dir();
    return base + "/" + fallbackUnderHome;
}

// The MIME types a desktop entry's text claims (its MimeType list); empty
// when the text does not parse or has no such list.
std::vector<std::string> ClaimedTypes(GKeyFile* entry) {
    std::vector<std::string> types;
    gsize count = 0;
    gchar** list = g_key_file_get_string_list(entry, DesktopGroup, "MimeType", &count, nullptr);
    for (gsize i = 0; i < count; ++i) types.emplace_back(list[i]);
    g_strfreev(list);
    return types;
}

void SetClaimedTypes(GKeyFile* entry, const std::vector<std::string>& types) {
    if (types.empty()) {
        g_key_file_remove_key(entry, DesktopGroup, "MimeType", nullptr);
        return;
    }
    std::vector<const gchar*> list;
    for (const std::string& type : types) list.push_back(type.c_str());
    g_key_file_set_string_list(entry, DesktopGroup, "MimeType", list.data(), list.size());
}

// ---- mimeapps.list ------------------------------------------------------------

// The user's mimeapps.list, loaded with everything in it kept.
struct MimeAppsList {
    KeyFilePtr File{g_key_file_new()};
    bool Existed = false;
    std::string Original; // the text as read
};

// Loads the user's mimeapps.list; a missing file is an empty list. False,
// after telling `report` the error code and text, when it cannot be read or
// does not parse: such a file is never written back.
template <typename Report>
bool LoadMimeApps(const std::string& path, MimeAppsList& list, Report report) {
    std::string text;
    int error = ReadWholeFile(path, text);
    if (error == ENOENT || error == ENOTDIR) return true;
    if (error != 0) {
        report(error, path);
        return false;
    }
    list.Existed = true;
    list.Original = text;
    GError* parseError = nullptr;
    if (!g_key_file_load_from_data(
            list.File.get(), text.data(), text.size(),
            static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
            &parseError)) {
        ErrorPtr owner(parseError);
        report(EINVAL, path + ": " + parseError->message);
        return false;
    }
    return true;
}

// Writes the list back; a list left with nothing in it removes the file.
int SaveMimeApps(const std::string& folder, const std::string& path, const MimeAppsList& list) {
    gsize length = 0;
    GCharPtr data(g_key_file_to_data(list.File.get(), &length, nullptr));
    std::string text(data.get(), length);
    // GKeyFile parts a group it appends from the one before by a blank line,
    // which stays when the group is removed again; keep the file's own ending.
    const bool endedBlank = list.Original.size() >= 2 &&
                            list.Original.compare(list.Original.size() - 2, 2, "\n\n") == 0;
    while (!endedBlank && text.size() >= 2 && text.compare(text.size() - 2, 2, "\n\n") == 0) {
        text.pop_back();
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
        if (S_ISREG(st.st_mode)) return unlink(path.c_str()) == 0 ? 0 : errno;
        // A link: empty its target instead of breaking the link.
        return ReplaceFile(path, std::string());
    }
    if (int error = MakeFolder(folder); error != 0) return error;
    return ReplaceFile(path, text);
}

} // namespace

FileAssociation::Folders FileAssociation::FoldersFromEnvironment() {
    return {EnvFolder("XDG_DATA_HOME", ".local/share"), EnvFolder("XDG_CONFIG_HOME", ".config")};
}

FileAssociation::FileAssociation(std::string programPath, Folders folders, ErrorSink onError)
    : ProgramFile(std::move(programPath)), Dirs(std::move(folders)), OnError(std::move(onError)) {}

std::string FileAssociation::DesktopEntryPath() const {
    return Dirs.DataHome + "/applications/" + DesktopId;
}
std::string FileAssociation::MimePackagePath() const {
    return Dirs.DataHome + "/mime/packages/zirrafon.xml";
}
std::string FileAssociation::MimeAppsPath() const { return Dirs.ConfigHome + "/mimeapps.list"; }

std::string FileAssociation::MimeTypeOf(const std::string& extension) {
    if (extension == ".ay") return "audio/x-zxay";
    if (extension == ".aym") return "audio/x-aym";
    return {};
}

std::string FileAssociation::MimeDefinitions() { return MimeXml; }

std::string FileAssociation::ExecLine(const std::string& programPath) {
    // Characters the desktop entry format reserves: an argument holding one
    // must be quoted.
    static constexpr std::string_view Reserved = " \t\n\"'\\><~|&;$*?#()`";
    const bool quote = programPath.find_first_of(Reserved) != std::string::npos;
    std::string line;
    if (quote) line += '"';
    for (char c : programPath) {
        if (c == '%') {
            line += "%%"; // a field code otherwise
        } else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            line += '\\';
            line += c;
        } else {
            line += c;
        }
    }
    if (quote) line += '"';
    return line + " %F";
}

void FileAssociation::Report(int code, const std::string& what) const {
    if (!OnError) return;
    std::string text = g_strerror(code);
    if (!what.empty()) text += "\n" + what;
    OnError(code, text);
}

void FileAssociation::RunCacheTool(const char* tool, const std::string& folder) const {
    gchar* argv[] = {const_cast<gchar*>(tool), const_cast<gchar*>(folder.c_str()), nullptr};
    gchar* errorText = nullptr;
    gint status = 0;
    GError* spawnError = nullptr;
    const bool ran =
        g_spawn_sync(nullptr, argv, nullptr,
                     static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL),
                     nullptr, nullptr, nullptr, &errorText, &status, &spawnError);
    GCharPtr errorOwner(errorText);
    ErrorPtr spawnOwner(spawnError);
    if (!ran) {
        // Not installed: the desktop has no such cache to refresh.
        if (g_error_matches(spawnError, G_SPAWN_ERROR, G_SPAWN_ERROR_NOENT)) return;
        Report(EIO, std::string(tool) + ": " + spawnError->message);
        return;
    }
    if (!g_spawn_check_wait_status(status, nullptr)) {
        std::string detail = errorText != nullptr ? errorText : "";
        while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' ')) {
            detail.pop_back();
        }
        Report(EIO, std::string(tool) + " " + folder + (detail.empty() ? "" : ": " + detail));
    }
}

bool FileAssociation::CheckRegPath() {
    std::string text;
    if (int error = ReadWholeFile(DesktopEntryPath(), text); error != 0) {
        if (error != ENOENT && error != ENOTDIR) Report(error, DesktopEntryPath());
        return false;
    }
    KeyFilePtr entry(g_key_file_new());
    // An entry that does not parse, or has no Exec line, runs nothing.
    if (!g_key_file_load_from_data(entry.get(), text.data(), text.size(), G_KEY_FILE_NONE,
                                   nullptr)) {
        return false;
    }
    GCharPtr exec(g_key_file_get_string(entry.get(), DesktopGroup, "Exec", nullptr));
    if (!exec) return false;
    return Lower(exec.get()) == Lower(ExecLine(ProgramFile));
}

bool FileAssociation::CheckRegistration(const std::string& extension) {
    if (!RegPathOk) return false;
    const std::string mime = MimeTypeOf(extension);
    if (mime.empty()) return false;
    MimeAppsList list;
    if (!LoadMimeApps(MimeAppsPath(), list, ReportTo())) return false;
    bool present = false;
    std::string value = ValueOf(list.File.get(), DefaultGroup, mime, present);
    return present && IsOurs(value);
}

bool FileAssociation::CreateZirrafonPath() {
    // Desktop entries and MIME definitions are UTF-8 text: a path that is not
    // cannot be written into them faithfully.
    if (!IsUtf8(ProgramFile)) {
        Report(EILSEQ, ProgramFile);
        return RegPathOk;
    }

    // The file type and its description.
    const std::string mimeFolder = Dirs.DataHome + "/mime";
    if (int error = MakeFolder(mimeFolder + "/packages"); error != 0) {
        Report(error, mimeFolder + "/packages");
        return RegPathOk;
    }
    if (int error = ReplaceFile(MimePackagePath(), MimeXml); error != 0) {
        Report(error, MimePackagePath());
        return RegPathOk;
    }
    RunCacheTool("update-mime-database", mimeFolder);

    // The open command.
    const std::string appsFolder = Dirs.DataHome + "/applications";
    if (int error = MakeFolder(appsFolder); error != 0) {
        Report(error, appsFolder);
        return RegPathOk;
    }
    // The types associated so far stay claimed; a new entry claims none
    // until an extension is associated.
    std::vector<std::string> claimed;
    if (std::string old; ReadWholeFile(DesktopEntryPath(), old) == 0) {
        KeyFilePtr oldEntry(g_key_file_new());
        if (g_key_file_load_from_data(oldEntry.get(), old.data(), old.size(), G_KEY_FILE_NONE,
                                      nullptr)) {
            claimed = ClaimedTypes(oldEntry.get());
        }
    }
    KeyFilePtr entry(g_key_file_new());
    g_key_file_load_from_data(
        entry.get(), DesktopEntryTemplate, static_cast<gsize>(-1),
        static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
        nullptr);
    g_key_file_set_string(entry.get(), DesktopGroup, "Exec", ExecLine(ProgramFile).c_str());
    SetClaimedTypes(entry.get(), claimed);
    gsize length = 0;
    GCharPtr data(g_key_file_to_data(entry.get(), &length, nullptr));
    if (int error = ReplaceFile(DesktopEntryPath(), std::string(data.get(), length)); error != 0) {
        Report(error, DesktopEntryPath());
        return RegPathOk;
    }
    RegPathOk = true;
    RunCacheTool("update-desktop-database", appsFolder);
    return RegPathOk;
}

bool FileAssociation::SetTypeClaim(const std::string& mime, bool claim) {
    std::string text;
    if (int error = ReadWholeFile(DesktopEntryPath(), text); error != 0) {
        if (error == ENOENT || error == ENOTDIR) return true; // no entry, nothing claimed
        Report(error, DesktopEntryPath());
        return false;
    }
    KeyFilePtr entry(g_key_file_new());
    if (!g_key_file_load_from_data(
            entry.get(), text.data(), text.size(),
            static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
            nullptr)) {
        return true; // an entry that does not parse claims nothing
    }
    std::vector<std::string> types = ClaimedTypes(entry.get());
    const auto at = std::find(types.begin(), types.end(), mime);
    if ((at != types.end()) == claim) return true;
    if (claim) {
        types.push_back(mime);
    } else {
        types.erase(at);
    }
    SetClaimedTypes(entry.get(), types);
    gsize length = 0;
    GCharPtr data(g_key_file_to_data(entry.get(), &length, nullptr));
    if (int error = ReplaceFile(DesktopEntryPath(), std::string(data.get(), length)); error != 0) {
        Report(error, DesktopEntryPath());
        return false;
    }
    RunCacheTool("update-desktop-database", Dirs.DataHome + "/applications");
    return true;
}

bool FileAssociation::RegisterFile(const std::string& extension) {
    const std::string mime = MimeTypeOf(extension);
    if (mime.empty()) {
        Report(EINVAL, extension);
        return false;
    }
    MimeAppsList list;
    if (!LoadMimeApps(MimeAppsPath(), list, ReportTo())) return false;
    if (!SetTypeClaim(mime, true)) return false;
    GKeyFile* file = list.File.get();
    bool present = false;
    const std::string previous = ValueOf(file, DefaultGroup, mime, present);
    // Our own default is never kept: associating twice must not lose the
    // other program's.
    if (present && !previous.empty() && !IsOurs(previous)) {
        g_key_file_set_value(file, BeforeGroup, mime.c_str(), previous.c_str());
    }
    g_key_file_set_value(file, DefaultGroup, mime.c_str(), DesktopId);
    if (int error = SaveMimeApps(Dirs.ConfigHome, MimeAppsPath(), list); error != 0) {
        Report(error, MimeAppsPath());
        return false;
    }
    return true;
}

bool FileAssociation::UnRegisterFile(const std::string& extension) {
    const std::string mime = MimeTypeOf(extension);
    if (mime.empty()) {
        Report(EINVAL, extension);
        return false;
    }
    MimeAppsList list;
    if (!LoadMimeApps(MimeAppsPath(), list, ReportTo())) return false;
    SetTypeClaim(mime, false);
    if (!list.Existed) return false;
    GKeyFile* file = list.File.get();
    bool present = false;
    const std::string before = ValueOf(file, BeforeGroup, mime, present);
    if (present) {
        g_key_file_set_value(file, DefaultGroup, mime.c_str(), before.c_str());
        g_key_file_remove_key(file, BeforeGroup, mime.c_str(), nullptr);
        RemoveGroupIfEmpty(file, BeforeGroup);
    } else {
        const std::string current = ValueOf(file, DefaultGroup, mime, present);
        if (!present || !IsOurs(current)) return false;
        // Drop our entry; the rest of a list stays.
        const size_t semicolon = current.find(';');
        const std::string rest =
            semicolon == std::string::npos ? std::string() : current.substr(semicolon + 1);
        if (rest.find_first_not_of(';') == std::string::npos) {
            g_key_file_remove_key(file, DefaultGroup, mime.c_str(), nullptr);
            RemoveGroupIfEmpty(file, DefaultGroup);
        } else {
            g_key_file_set_value(file, DefaultGroup, mime.c_str(), rest.c_str());
        }
    }
    if (int error = SaveMimeApps(Dirs.ConfigHome, MimeAppsPath(), list); error != 0) {
        Report(error, MimeAppsPath());
    }
    return false;
}
