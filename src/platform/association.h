// File-type association of ".ay" and ".aym" files with the player on a
// freedesktop.org desktop (the operations behind the "AY" and "AYM" boxes of
// the Parameters dialog).
//
// What stands for what:
//   the file type "Zirrafon Audio File" -> the desktop entry zirrafon.desktop
//       (its Exec line is the open command) and the MIME definitions
//       $XDG_DATA_HOME/mime/packages/zirrafon.xml, whose comment
//       "AY/YM Audio File" is the type's description and whose icon name is
//       the file-type icon;
//   the extension keys ".ay", ".aym" -> the MIME types audio/x-zxay and
//       audio/x-aym (shared-mime-info defines neither);
//   an extension's default value -> the type's default application, which
//       the user sets in the group [Default Applications] of
//       $XDG_CONFIG_HOME/mimeapps.list;
//   the value "Before Zirrafon" -> the type's entry in our own group
//       [Before Zirrafon] of the same file (mimeapps.list has no place for
//       values of our own per type).
//
// The checks read what the desktop itself sees, through GIO, as file managers
// and `gio mime` do: the effective desktop entry (the user's own in
// $XDG_DATA_HOME/applications, else the installed one found through
// $XDG_DATA_DIRS, e.g. /usr/share/applications) and the effective default of
// each type (every mimeapps.list in force, then the types the entries claim).
// So an installed package whose entry runs this program and claims both types
// shows both boxes ticked. GIO in this process learns of changed files through
// file monitors, a moment after they changed (the dialog reads it each time it
// is shown). The folders written to come from QStandardPaths.
//
// mimeapps.list belongs to the user and to every other program: it is edited
// with GLib's GKeyFile, keeping comments, translations, other groups and other
// keys, and replaced atomically by g_file_set_contents_full (through a
// symbolic link to its target). A file that does not parse is never
// rewritten: the error is reported instead.
//
// Where it knowingly differs from the registry original:
// - The Exec line quotes the program path only when the path needs it (blank,
//   quote, "$" and the other characters the desktop entry format reserves);
//   xdg-mime and other shell-based tools take the first word of Exec as the
//   program and do not undo quotes, so a path that is always quoted would make
//   `xdg-mime query default` disagree with the dialog.
// - The open command runs this program when the effective entry's Exec names
//   it (letter case aside, or the same file, a bare name found through PATH as
//   the desktop finds it) followed by one file field code (%f %F %u %U): the
//   installed "Exec=zirrafon %F" counts when /usr/bin/zirrafon is this program.
// - A default written as a list ("a.desktop;b.desktop;") counts as ours when
//   GIO picks zirrafon.desktop from it; unassociating removes only a leading
//   zirrafon.desktop and keeps the rest.
// - The user's desktop entry claims (MimeType=) exactly the types that are
//   associated: the desktop opens a file with a program that claims its type
//   when no default is set, so claims decide as much as defaults do. When the
//   user's entry is first written it claims the types the desktop opens with
//   zirrafon.desktop at that moment, so ticking one box keeps the other
//   type's answer; associating adds the type, unassociating takes it out.
//   Where only the installed entry exists, unassociating copies it into the
//   user's folder without that claim; the copy hides the installed entry for
//   this user, as the desktop entry rules say.
// - xdg-utils (xdg-mime, xdg-open on desktops without a helper of their own)
//   read the installed entry's claims without seeing that the user's copy
//   hides them. So when unassociating leaves a type that the installed entry
//   claims without a default of the user's, the desktop's next choice for it
//   (GIO's first other program) is written as the user's default. With no
//   other program for the type there is none to write, and xdg-mime goes on
//   naming zirrafon.desktop while GIO names nothing.
// - The icon is named, not taken from the program file: "zirrafon" for the
//   program and "zirrafon-audio-file" for the file type, found in the icon
//   theme when the package installed them (otherwise the desktop shows its
//   generic audio icon).
// - After writing the MIME definitions and the desktop entry the desktop's
//   caches are refreshed with update-mime-database and
//   update-desktop-database. A tool that is not installed is skipped (there
//   is then no cache to refresh); a tool that fails is reported.
//
// Notes for the Parameters dialog (`ParametersDialog`), which owns one `FileAssociation`
// made with the running program's path (QCoreApplication::applicationFilePath())
// and an error sink that shows `RegError`: caption
// "Ошибка работы с реестром #" + code, text = the system text passed in.
//   OnShow:
//       Association.RegPathOk = Association.CheckRegPath();
//       AyAssociated = Association.CheckRegistration(".ay");
//       AymAssociated = Association.CheckRegistration(".aym");
//       then tick CheckBox1/CheckBox2 from the two flags.
//   CheckBox1Click (".ay", AyAssociated); CheckBox2Click (".aym", AymAssociated):
//       box ticked:  if (!flag) { Association.CreateZirrafonPath();
//                                 flag = Association.RegisterFile(ext); }
//       box cleared: if (flag) flag = Association.UnRegisterFile(ext); // false
//       The box keeps the state the user gave it even when registering fails.
//   Button4Click ("Remove parameters"), after the settings are removed:
//       Association.UnRegisterFile(".ay"); Association.UnRegisterFile(".aym");
//       AyAssociated = AymAssociated = false; clear both boxes.
//   The desktop entry and the MIME definitions are never removed, not even by
//   "Remove parameters", just as the file type stays.
#pragma once

#include <functional>
#include <string>

class FileAssociation {
  public:
    // Receives every error: `code` is the errno value, `systemText` the
    // system's text for it (with the file or tool concerned where that helps).
    using ErrorSink = std::function<void(int code, const std::string& systemText)>;

    // `programPath` is the full path of the program the desktop entry runs.
    FileAssociation(std::string programPath, ErrorSink onError);

    // True when the desktop entry runs this program; set by the caller from
    // `CheckRegPath` and by `CreateZirrafonPath` on success. While false,
    // `CheckRegistration` answers false without reading anything.
    bool RegPathOk = false;

    // The effective desktop entry zirrafon.desktop runs this program (see
    // above). No entry, a hidden one or one whose program is missing: false.
    bool CheckRegPath();

    // The desktop's default application for the extension's MIME type is
    // zirrafon.desktop. False without reading when `RegPathOk` is false;
    // false for an extension other than ".ay" and ".aym".
    bool CheckRegistration(const std::string& extension);

    // Writes (or refreshes) the MIME definitions and the user's desktop entry
    // for this program (keeping the types the user's entry claimed, or for a
    // new one claiming the types the desktop opens with zirrafon.desktop
    // now), refreshes the desktop's caches, and sets `RegPathOk` when the
    // desktop entry was written. Returns `RegPathOk`.
    bool CreateZirrafonPath();

    // Makes zirrafon.desktop the default application of the extension's MIME
    // type (and lets the desktop entry claim the type), keeping the previous
    // default in [Before Zirrafon] unless it is ours or empty. True on
    // success.
    bool RegisterFile(const std::string& extension);

    // Takes the type out of the desktop entry's claims and restores the
    // default kept in [Before Zirrafon] (dropping that entry); without one,
    // removes our default (and names the desktop's next choice where the
    // installed entry would otherwise keep the type, see above). Groups this
    // leaves empty are removed, and mimeapps.list itself when nothing is left
    // in it. Always false (the extension is no longer associated).
    bool UnRegisterFile(const std::string& extension);

    // ---- Names and places ------------------------------------------------
    static constexpr const char* DesktopId = "zirrafon.desktop";
    static constexpr const char* TypeDescription = "AY/YM Audio File";
    static constexpr const char* AppIcon = "zirrafon";
    static constexpr const char* FileIcon = "zirrafon-audio-file";
    static constexpr const char* DefaultGroup = "Default Applications";
    static constexpr const char* BeforeGroup = "Before Zirrafon";

    // ".ay" -> "audio/x-zxay", ".aym" -> "audio/x-aym", ".ym" -> "audio/x-ym",
    // ".vtx" -> "audio/x-vtx", ".psg" -> "audio/x-psg", ".pt3" -> "audio/x-pt3",
    // ".pt2" -> "audio/x-pt2", else "".
    static std::string MimeTypeOf(const std::string& extension);

    // The MIME definitions, exactly as written (the installed copy in
    // assets/zirrafon-mime.xml has the same text).
    static std::string MimeDefinitions();

    // The Exec value for `programPath`: the path, quoted and escaped when the
    // desktop entry format requires it, with "%" doubled, then " %F" (a file
    // manager hands every chosen file to one start; the last one plays).
    static std::string ExecLine(const std::string& programPath);

    const std::string& ProgramPath() const { return ProgramFile; }
    // The user's own files, in the folders the environment names now.
    static std::string DesktopEntryPath(); // $XDG_DATA_HOME/applications/zirrafon.desktop
    static std::string MimePackagePath();  // $XDG_DATA_HOME/mime/packages/zirrafon.xml
    static std::string MimeAppsPath();     // $XDG_CONFIG_HOME/mimeapps.list
    // The installed entry that the user's would hide (the first
    // zirrafon.desktop of $XDG_DATA_DIRS), or empty.
    static std::string InstalledEntryPath();

  private:
    std::string ProgramFile;
    ErrorSink OnError;

    void Report(int code, const std::string& what) const;
    // `Report` as a callable for the file helpers.
    auto ReportTo() const {
        return [this](int code, const std::string& what) { Report(code, what); };
    }
    // Adds the MIME type to the user's desktop entry's MimeType list or takes
    // it out (copying the installed entry first where the user has none);
    // false (reported) when the entry cannot be read or written.
    bool SetTypeClaim(const std::string& mime, bool claim);
    // The Exec line runs this program with the chosen file.
    bool RunsThisProgram(const char* exec) const;
    // Runs a cache tool on `folder` when it is installed; reports a failure.
    void RunCacheTool(const char* tool, const std::string& folder) const;
};
