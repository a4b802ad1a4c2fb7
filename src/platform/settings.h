// The player's stored settings: one start-up option string, kept in the
// user's configuration file $XDG_CONFIG_HOME/Ostrowind/Zirrafon.conf (INI
// format, through QSettings) as the value "Startup" of the group "1.0".
//
// What stands for what, against the settings keys of the registry original:
//   the maker key "Ostrowind"          -> the folder Ostrowind
//   the program key "Zirrafon"          -> the file Zirrafon.conf
//   the version keys "1.0", "Beta 6"    -> groups of that file
// Settings are never read back as settings: the stored text is a command line
// that the start-up delivers before the real one, split by
// `SplitStartupOptions`.
//
// Errors are reported the way the system names them: an errno value and its
// text (strerror). QSettings only says "access error", so before it writes,
// the store makes the folders itself and tries the file and the folder for
// writing, which gives the real errno (ENOTDIR when a file sits where a folder
// belongs, EACCES without the rights, EISDIR when a folder sits where the file
// belongs). A key that does not exist is no error: an absent file or folder,
// also one that cannot exist because a file stands in the path, counts as
// "not found".
//
// Where it knowingly differs from the registry original: the program file is
// removed by "Remove parameters" only when nothing at all is left in it (no
// other group and no value of its own), so a hand-written line of the user's
// survives; the registry deleted the program key with its values.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

class SettingsStore {
  public:
    // Receives every error: `code` is the errno value, `systemText` the
    // system's text for it.
    using ErrorSink = std::function<void(int code, const QString& systemText)>;

    static constexpr const char* MakerFolder = "Ostrowind";
    static constexpr const char* FileName = "Zirrafon.conf";
    static constexpr const char* Group = "1.0";
    static constexpr const char* OldGroup = "Beta 6";
    static constexpr const char* StartupValue = "Startup";
    // The player's own values beside the start-up options (song lengths
    // followed, recent files); "Remove parameters" removes them too.
    static constexpr const char* PlayerGroup = "Player";

    // $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
    static QString ConfigHomeFromEnvironment();

    explicit SettingsStore(ErrorSink onError = {},
                           QString configHome = ConfigHomeFromEnvironment());

    QString FolderPath() const; // <config home>/Ostrowind
    QString FilePath() const;   // <config home>/Ostrowind/Zirrafon.conf

    // The stored option string; nothing when it is absent or cannot be read
    // (silently: the start-up skips it).
    std::optional<QString> ReadStartup() const;

    // Removes the group of the earlier version when the file exists; a file
    // that does not exist is nothing to do. False after a reported error.
    bool RemoveOldPaths();

    // Creates (or opens) the settings for writing: the folders and a writable
    // file. False after a reported error.
    bool OpenForWriting();

    // Writes "Startup". False after a reported error.
    bool WriteStartup(const QString& options);

    // Deletes "Startup"; a value or file that does not exist is no error.
    bool DeleteStartup();

    // A value of the group "Player"; nothing when it is absent or cannot be
    // read (silently).
    std::optional<QVariant> ReadPlayerValue(const QString& key) const;
    // Writes a value of the group "Player", making the folders and the file
    // when needed. False after a reported error.
    bool WritePlayerValue(const QString& key, const QVariant& value);

    // Removes the groups "1.0" and "Player", then the file when nothing is left in it, then
    // the Ostrowind folder when it is empty. Stops at the first reported
    // error and returns false.
    bool RemoveSettings();

  private:
    QString ConfigHome;
    ErrorSink OnError;

    void Report(int code) const;
    // 0 when the file exists, ENOENT when it (or a folder of its path) does
    // not, another errno when it cannot be looked at.
    int FileState() const;
    // Makes sure the existing file and its folder can be written; reports.
    bool CheckWritable();
    // Removes `key` (a group or a value) from the file and saves; reports.
    bool RemoveKey(const QString& key);
};

// Splits a stored option string into arguments, exactly as the start-up
// always has: the text with its terminating NUL is scanned token by token;
// outside double quotes every byte up to 0x20 (blank, tab, control characters,
// the NUL) ends a token; a double quote is dropped and switches the in-quotes
// state, so quotes may stand anywhere in a token; consecutive separators give
// empty tokens. A token ends at the first NUL it contains.
QList<QByteArray> SplitStartupOptions(const QByteArray& text);
