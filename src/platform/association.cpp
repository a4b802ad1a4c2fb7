// File-type association of ".ay" and ".aym" on a freedesktop.org desktop: the
// desktop entry, the MIME definitions and the default application in the
// user's mimeapps.list, checked through GIO. See association.h for what
// stands for what and where this knowingly differs from the registry
// original.
#include "platform/association.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <glib.h>

#include <QFile>
#include <QStandardPaths>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <sys/stat.h>
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
MimeType=audio/x-zxay;audio/x-aym;audio/x-ym;audio/x-vtx;audio/x-psg;audio/x-pt3;audio/x-pt2;
Keywords=chiptune;AY;YM;Spectrum;CPC;
Actions=Enqueue;

[Desktop Action Enqueue]
Name=Add to playlist
Exec=zirrafon --enqueue %F
)";

// The MIME definitions; the installed copy is assets/zirrafon-mime.xml. Globs
// are matched without regard to letter case, so "SONG.AY" is one too. The
// magic strings are the files' identifiers: "ZXAYEMUL", "AYM" with revision
// "0", the unpacked YM versions, "PSG" 0x1A and the Pro Tracker 3 modules'
// signatures. VTX files, LHA-packed YM files and Pro Tracker 2 modules carry
// no identifier of their own: they go by name only.
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
  <mime-type type="audio/x-ym">
    <comment>YM Register Stream</comment>
    <icon name="zirrafon-audio-file"/>
    <generic-icon name="audio-x-generic"/>
    <magic priority="50">
      <match type="string" offset="0" value="YM2!"/>
      <match type="string" offset="0" value="YM3!"/>
      <match type="string" offset="0" value="YM3b"/>
      <match type="string" offset="0" value="YM5!"/>
      <match type="string" offset="0" value="YM6!"/>
    </magic>
    <glob pattern="*.ym"/>
  </mime-type>
  <mime-type type="audio/x-vtx">
    <comment>VTX Register Stream</comment>
    <icon name="zirrafon-audio-file"/>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.vtx"/>
  </mime-type>
  <mime-type type="audio/x-psg">
    <comment>PSG Register Dump</comment>
    <icon name="zirrafon-audio-file"/>
    <generic-icon name="audio-x-generic"/>
    <magic priority="50">
      <match type="string" offset="0" value="PSG\x1a"/>
    </magic>
    <glob pattern="*.psg"/>
  </mime-type>
  <mime-type type="audio/x-pt3">
    <comment>Pro Tracker 3 Module</comment>
    <icon name="zirrafon-audio-file"/>
    <generic-icon name="audio-x-generic"/>
    <magic priority="50">
      <match type="string" offset="0" value="ProTracker 3."/>
      <match type="string" offset="0" value="Vortex Tracker II"/>
    </magic>
    <glob pattern="*.pt3"/>
  </mime-type>
  <mime-type type="audio/x-pt2">
    <comment>Pro Tracker 2 Module</comment>
    <icon name="zirrafon-audio-file"/>
    <generic-icon name="audio-x-generic"/>
    <glob pattern="*.pt2"/>
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

struct ObjectDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using ObjectPtr = std::unique_ptr<T, ObjectDeleter>;

// The errno value behind a GLib file error (GLib made the error from it).
int ErrnoOf(const GError* error) {
    if (error == nullptr || error->domain != G_FILE_ERROR) return EIO;
    switch (static_cast<GFileError>(error->code)) {
    case G_FILE_ERROR_EXIST: return EEXIST;
    case G_FILE_ERROR_ISDIR: return EISDIR;
    case G_FILE_ERROR_ACCES: return EACCES;
    case G_FILE_ERROR_NAMETOOLONG: return ENAMETOOLONG;
    case G_FILE_ERROR_NOENT: return ENOENT;
    case G_FILE_ERROR_NOTDIR: return ENOTDIR;
    case G_FILE_ERROR_NXIO: return ENXIO;
    case G_FILE_ERROR_NODEV: return ENODEV;
    case G_FILE_ERROR_ROFS: return EROFS;
    case G_FILE_ERROR_TXTBSY: return ETXTBSY;
    case G_FILE_ERROR_FAULT: return EFAULT;
    case G_FILE_ERROR_LOOP: return ELOOP;
    case G_FILE_ERROR_NOSPC: return ENOSPC;
    case G_FILE_ERROR_NOMEM: return ENOMEM;
    case G_FILE_ERROR_MFILE: return EMFILE;
    case G_FILE_ERROR_NFILE: return ENFILE;
    case G_FILE_ERROR_BADF: return EBADF;
    case G_FILE_ERROR_INVAL: return EINVAL;
    case G_FILE_ERROR_PIPE: return EPIPE;
    case G_FILE_ERROR_AGAIN: return EAGAIN;
    case G_FILE_ERROR_INTR: return EINTR;
    case G_FILE_ERROR_IO: return EIO;
    case G_FILE_ERROR_PERM: return EPERM;
    case G_FILE_ERROR_NOSYS: return ENOSYS;
    case G_FILE_ERROR_FAILED: return EIO;
    }
    return EIO;
}

// Whole file into `text`; 0 or the errno of the failure.
int ReadWholeFile(const std::string& path, std::string& text) {
    gchar* contents = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    if (!g_file_get_contents(path.c_str(), &contents, &length, &error)) {
        ErrorPtr owner(error);
        return ErrnoOf(error);
    }
    GCharPtr owner(contents);
    text.assign(contents, length);
    return 0;
}

// Replaces the file's content as one step (g_file_set_contents_full: a
// temporary file beside it, then a rename over it), so that a crash or a full
// disk never leaves half a file. A symbolic link is followed, so the link
// stays and its target is replaced. An existing file keeps its permission
// bits (less the umask); a new one gets 0666 less the umask.
int ReplaceFile(const std::string& path, const std::string& data) {
    std::string target = path;
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        target = resolved;
        free(resolved);
    }
    struct stat st;
    const int mode = stat(target.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : 0666;
    GError* error = nullptr;
    if (!g_file_set_contents_full(target.c_str(), data.data(), static_cast<gssize>(data.size()),
                                  G_FILE_SET_CONTENTS_CONSISTENT, mode, &error)) {
        ErrorPtr owner(error);
        return ErrnoOf(error);
    }
    return 0;
}

// Loads a key file (a desktop entry) keeping comments and translations; 0,
// EINVAL when it does not parse, or the errno of the failure to read it.
int LoadKeyFile(const std::string& path, GKeyFile* file) {
    std::string text;
    if (int error = ReadWholeFile(path, text); error != 0) return error;
    const auto flags =
        static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);
    return g_key_file_load_from_data(file, text.data(), text.size(), flags, nullptr) ? 0 : EINVAL;
}

bool IsMissing(int error) { return error == ENOENT || error == ENOTDIR; }

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

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
int SaveMimeApps(const std::string& path, const MimeAppsList& list) {
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
    if (int error = MakeFolder(path.substr(0, path.rfind('/'))); error != 0) return error;
    return ReplaceFile(path, text);
}

// The MIME types the player plays.
constexpr const char* OurTypes[] = {"audio/x-zxay", "audio/x-aym", "audio/x-ym", "audio/x-vtx",
                                    "audio/x-psg",  "audio/x-pt3", "audio/x-pt2"};

// The desktop's default application for `mime`, as GIO picks it, or empty.
std::string DesktopDefault(const std::string& mime) {
    ObjectPtr<GAppInfo> app(g_app_info_get_default_for_type(mime.c_str(), FALSE));
    const char* id = app ? g_app_info_get_id(app.get()) : nullptr;
    return id != nullptr ? id : "";
}

// The program the desktop would pick for `mime` if it were not ours: GIO's
// first recommended program other than zirrafon.desktop, or empty.
std::string NextChoice(const std::string& mime) {
    GList* apps = g_app_info_get_recommended_for_type(mime.c_str());
    std::string next;
    for (GList* at = apps; at != nullptr && next.empty(); at = at->next) {
        const char* id = g_app_info_get_id(G_APP_INFO(at->data));
        if (id != nullptr && std::string_view(id) != FileAssociation::DesktopId) next = id;
    }
    g_list_free_full(apps, g_object_unref);
    return next;
}

bool IsFileFieldCode(const char* argument) {
    return argument[0] == '%' && std::string_view("fFuU").find(argument[1]) != std::string::npos &&
           argument[1] != '\0' && argument[2] == '\0';
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

} // namespace

FileAssociation::FileAssociation(std::string programPath, ErrorSink onError)
    : ProgramFile(std::move(programPath)), OnError(std::move(onError)) {}

std::string FileAssociation::DesktopEntryPath() {
    return LocalPath(QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation) +
                     QLatin1Char('/') + QLatin1String(DesktopId));
}
std::string FileAssociation::MimePackagePath() {
    return LocalPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                     QStringLiteral("/mime/packages/zirrafon.xml"));
}
std::string FileAssociation::MimeAppsPath() {
    return LocalPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                     QStringLiteral("/mimeapps.list"));
}
std::string FileAssociation::InstalledEntryPath() {
    const std::string own = DesktopEntryPath();
    for (const QString& path : QStandardPaths::locateAll(QStandardPaths::ApplicationsLocation,
                                                         QLatin1String(DesktopId))) {
        if (LocalPath(path) != own) return LocalPath(path);
    }
    return {};
}

std::string FileAssociation::MimeTypeOf(const std::string& extension) {
    if (extension == ".ay") return "audio/x-zxay";
    if (extension == ".aym") return "audio/x-aym";
    if (extension == ".ym") return "audio/x-ym";
    if (extension == ".vtx") return "audio/x-vtx";
    if (extension == ".psg") return "audio/x-psg";
    if (extension == ".pt3") return "audio/x-pt3";
    if (extension == ".pt2") return "audio/x-pt2";
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

bool FileAssociation::RunsThisProgram(const char* exec) const {
    gint argc = 0;
    gchar** argv = nullptr;
    if (!g_shell_parse_argv(exec, &argc, &argv, nullptr)) return false;
    std::unique_ptr<gchar*, void (*)(gchar**)> owner(argv, g_strfreev);
    if (argc != 2 || !IsFileFieldCode(argv[1])) return false;
    std::string program = argv[0];
    for (size_t at = program.find("%%"); at != std::string::npos; at = program.find("%%", at + 1))
        program.erase(at, 1);
    // A bare name is found through PATH, as the desktop finds it.
    if (program.find('/') == std::string::npos) {
        GCharPtr found(g_find_program_in_path(program.c_str()));
        if (!found) return false;
        program = found.get();
    }
    return Lower(program) == Lower(ProgramFile) || SameFile(program, ProgramFile);
}

bool FileAssociation::CheckRegPath() {
    // The entry the desktop uses: the user's, else the installed one; GIO
    // skips an entry whose program is missing.
    ObjectPtr<GDesktopAppInfo> entry(g_desktop_app_info_new(DesktopId));
    if (!entry || g_desktop_app_info_get_is_hidden(entry.get())) return false;
    const char* exec = g_app_info_get_commandline(G_APP_INFO(entry.get()));
    return exec != nullptr && RunsThisProgram(exec);
}

bool FileAssociation::CheckRegistration(const std::string& extension) {
    if (!RegPathOk) return false;
    const std::string mime = MimeTypeOf(extension);
    return !mime.empty() && DesktopDefault(mime) == DesktopId;
}

bool FileAssociation::CreateZirrafonPath() {
    // Desktop entries and MIME definitions are UTF-8 text: a path that is not
    // cannot be written into them faithfully.
    if (!IsUtf8(ProgramFile)) {
        Report(EILSEQ, ProgramFile);
        return RegPathOk;
    }

    // The file type and its description.
    const std::string mimeFolder =
        LocalPath(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)) + "/mime";
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
    const std::string appsFolder =
        LocalPath(QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation));
    if (int error = MakeFolder(appsFolder); error != 0) {
        Report(error, appsFolder);
        return RegPathOk;
    }
    // The types the user's entry claimed stay claimed. A new entry claims the
    // types the desktop opens with zirrafon.desktop now (through the
    // installed entry's claims, say), so that no other type's answer changes.
    std::vector<std::string> claimed;
    if (KeyFilePtr old(g_key_file_new()); LoadKeyFile(DesktopEntryPath(), old.get()) == 0) {
        claimed = ClaimedTypes(old.get());
    } else {
        for (const char* type : OurTypes)
            if (DesktopDefault(type) == DesktopId) claimed.emplace_back(type);
    }
    KeyFilePtr entry(g_key_file_new());
    g_key_file_load_from_data(
        entry.get(), DesktopEntryTemplate, static_cast<gsize>(-1),
        static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
        nullptr);
    const std::string exec = ExecLine(ProgramFile);
    g_key_file_set_string(entry.get(), DesktopGroup, "Exec", exec.c_str());
    // A file manager's multi-selection queued in one click.
    const std::string enqueue = exec.substr(0, exec.size() - 3) + " --enqueue %F";
    g_key_file_set_string(entry.get(), "Desktop Action Enqueue", "Exec", enqueue.c_str());
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
    const std::string path = DesktopEntryPath();
    KeyFilePtr entry(g_key_file_new());
    const int error = LoadKeyFile(path, entry.get());
    if (error == EINVAL) return true; // an entry that does not parse claims nothing
    std::vector<std::string> types;
    if (IsMissing(error)) {
        // The user has no entry of their own: the installed one claims for
        // this user until a copy of it hides it. The copy keeps the claims
        // that decide now (a type another program wins would become ours if
        // the user's own entry claimed it).
        const std::string installed = InstalledEntryPath();
        if (installed.empty() || LoadKeyFile(installed, entry.get()) != 0) return true;
        for (const std::string& type : ClaimedTypes(entry.get()))
            if (type == mime || DesktopDefault(type) == DesktopId) types.push_back(type);
    } else if (error != 0) {
        Report(error, path);
        return false;
    } else {
        types = ClaimedTypes(entry.get());
    }
    const auto at = std::find(types.begin(), types.end(), mime);
    if ((at != types.end()) == claim) return true;
    if (claim) {
        types.push_back(mime);
    } else {
        types.erase(at);
    }
    SetClaimedTypes(entry.get(), types);
    const std::string appsFolder = path.substr(0, path.rfind('/'));
    if (int made = MakeFolder(appsFolder); made != 0) {
        Report(made, appsFolder);
        return false;
    }
    gsize length = 0;
    GCharPtr data(g_key_file_to_data(entry.get(), &length, nullptr));
    if (int written = ReplaceFile(path, std::string(data.get(), length)); written != 0) {
        Report(written, path);
        return false;
    }
    RunCacheTool("update-desktop-database", appsFolder);
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
    if (int error = SaveMimeApps(MimeAppsPath(), list); error != 0) {
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
    GKeyFile* file = list.File.get();
    bool present = false;
    const std::string before = ValueOf(file, BeforeGroup, mime, present);
    if (present) {
        g_key_file_set_value(file, DefaultGroup, mime.c_str(), before.c_str());
        g_key_file_remove_key(file, BeforeGroup, mime.c_str(), nullptr);
        RemoveGroupIfEmpty(file, BeforeGroup);
    } else {
        const std::string current = ValueOf(file, DefaultGroup, mime, present);
        if (present && !IsOurs(current)) return false; // another program's: not ours to end
        if (present) {
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
        // Left without a default of the user's, a type the installed entry
        // claims would still be ours to xdg-utils: write down the desktop's
        // next choice.
        bool claimedByInstalled = false;
        if (const std::string installed = InstalledEntryPath(); !installed.empty()) {
            KeyFilePtr entry(g_key_file_new());
            if (LoadKeyFile(installed, entry.get()) == 0) {
                const std::vector<std::string> types = ClaimedTypes(entry.get());
                claimedByInstalled = std::find(types.begin(), types.end(), mime) != types.end();
            }
        }
        const std::string next = claimedByInstalled ? NextChoice(mime) : std::string();
        if (!next.empty()) {
            g_key_file_set_value(file, DefaultGroup, mime.c_str(), next.c_str());
        } else if (!present) {
            return false; // nothing of ours was there, nothing to write
        }
    }
    if (int error = SaveMimeApps(MimeAppsPath(), list); error != 0) {
        Report(error, MimeAppsPath());
    }
    return false;
}
