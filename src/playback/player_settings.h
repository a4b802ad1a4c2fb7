// The player's settings, one object for the whole run: chip mode, beeper
// level, volume, process priority and skin file. The main window, the
// Parameters dialog and the start-up options all change them here; each
// setter tells the player, which applies the change to its engine at once
// (also during playback), and then the controls that show it.
//
//     PlayerSettings& s = player.Settings();
//     s.SetChipMode(ChipModeByName("YMABC"));   // the volume tables are rebuilt
//     s.SetFileChip(session.YMFile());          // a file's chip, for the modes that follow it
//     s.SetBeeperSetting(8000);                 // the beeper amplitude follows
//     BuildStartupOptions(s.ChipMode(), s.BeeperSetting(), s.PriorityClass(), s.SkinFile());
#pragma once

#include "chip/chip.h"
#include "songs/session.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <optional>

// The process priority the player runs at; "/rh" in the start-up options.
enum class Priority { Normal, High };

// The nice value of a priority: normal 0, high -10.
constexpr int NiceValueOf(Priority priority) { return priority == Priority::High ? -10 : 0; }

// Gives the process the nice value; 0, or the errno of the refusal
// (an ordinary user may not lower it: EACCES or EPERM).
int SetProcessNice(int niceValue);

// The entries of the chip list, by chip mode: the chosen chips, then the
// layouts on each file's own chip.
inline constexpr const char* ChipModeEntries[AllChipModeCount] = {
    "AY-3-8910 Mono",          "YM2149F Mono",
    "AY-3-8910 ABC Stereo",    "YM2149F ABC Stereo",
    "AY-3-8910 ACB Stereo",    "YM2149F ACB Stereo",
    "AY-3-8910 BAC Stereo",    "YM2149F BAC Stereo",
    "AY-3-8910 BCA Stereo",    "YM2149F BCA Stereo",
    "AY-3-8910 CAB Stereo",    "YM2149F CAB Stereo",
    "AY-3-8910 CBA Stereo",    "YM2149F CBA Stereo",
    "File's chip, Mono",       "File's chip, ABC Stereo",
    "File's chip, ACB Stereo", "File's chip, BAC Stereo",
    "File's chip, BCA Stereo", "File's chip, CAB Stereo",
    "File's chip, CBA Stereo",
};

// The option string that "Save parameters" stores: "/h" + name unless the
// mode is the default (ABC stereo on the file's chip), " /u" + level unless
// it is 16384, " /rh" for high priority, " /p" + the quoted skin path unless
// the built-in skin is in use; empty when everything is at its default.
QString BuildStartupOptions(int chipMode, int32_t beeperSetting, Priority priority,
                            const QString& skinFile);

// Which of the settings that shape the mix changed, for whoever applies
// them to the engine (the player).
enum class MixChange { ChipMode, BeeperLevel, DefaultBeeper, Volume, MutedVoices };

class PlayerSettings : public QObject {
    Q_OBJECT

  public:
    explicit PlayerSettings(QObject* parent = nullptr);

    // 0..13: a chosen chip (even AY, odd YM) and layout; 14..20: a layout on
    // the chip of the file that plays (session.h).
    int ChipMode() const { return Mode; }
    // The mode the chip is in: `ChipMode` with the file's chip put in.
    int ChipModeInForce() const { return ResolveChipMode(Mode, FileChipYM); }
    // 0..39.
    int32_t Volume() const { return Level; }
    // 0..32768.
    int32_t BeeperSetting() const { return Beeper; }
    // The priority last chosen (by the dialog or an option): what "Save
    // parameters" stores, even when the system refused it.
    Priority PriorityClass() const { return Chosen; }
    // The priority the process runs at: the last one the system accepted.
    Priority PriorityInForce() const { return InForce; }
    QString SkinFile() const { return SkinPath; } // empty: the built-in skin
    // The chip's settings as one value (for an export that renders as the
    // player sounds).
    ChipSettings Chip() const { return {Mode, Beeper, Level}; }
    // Songs end at the length their file gives, fading as the file says, and
    // the next song of the file follows (off: a song plays until stopped).
    bool FollowSongLengths() const { return Follow; }
    // The song files opened last, newest first, at most `RecentFileCount`.
    const QStringList& RecentFiles() const { return Recent; }
    static constexpr int RecentFileCount = 8;

    // The chip type and layout; the volume tables are rebuilt.
    void SetChipMode(int mode);
    // The file that plays from now on was written for the YM2149F (else the
    // AY-3-8910): a mode that follows the file rebuilds the tables for it.
    void SetFileChip(bool ym);
    // A beeper level of 0..32768; the amplitude is recomputed for the volume.
    void SetBeeperSetting(int32_t level);
    // The "Default" button's beeper: level 16384 and amplitude -16384, whatever
    // the volume (the next rebuild of the tables brings the amplitude in line).
    void SetDefaultBeeper();
    // The volume (0..39): the tables are rebuilt, even for the volume in force.
    void SetVolume(int32_t volume);
    // The voices left out of the mix (a set of chip.h's `Voice`s), for this
    // run only: the tables are rebuilt without them, and a muted beeper stays
    // silent whatever its level is set to.
    unsigned MutedVoices() const { return Muted; }
    void SetMutedVoices(unsigned voices);
    // Chooses the process priority (normal: nice 0, high: nice -10). The
    // choice is recorded whether or not the system agreed; the priority in
    // force changes only when it did, and a refusal is signalled.
    void SetPriorityClass(Priority priority);
    // How the nice value is set (tests put a refusing one in its place).
    void SetNiceSetter(std::function<int(int niceValue)> setter) { Nice = std::move(setter); }
    void SetSkinFile(const QString& path);

    // Reads the stored "Follow song lengths" and recent files; from then on
    // changes of them are stored at once (the settings file's group "Player").
    // Errors while storing the switch go to the handler set here; the recent
    // files are stored silently, as a by-product of opening files.
    void LoadStored();
    void SetStoreErrorHandler(std::function<void(int code, const QString& systemText)> handler) {
        StoreError = std::move(handler);
    }
    void SetFollowSongLengths(bool follow);
    // The stored settings were removed: the recent files are forgotten and
    // nothing is stored again in this run unless the switch is changed.
    void StopStoring();
    // A file was opened: it goes to the top of the recent files, by its
    // canonical absolute path.
    void NoteRecentFile(const QString& path);
    // A recent file that is gone leaves the list.
    void ForgetRecentFile(const QString& path);
    // The player's remembered values beside the switch (volume, window
    // position, shuffle and repeat): read back, or stored while storing is on.
    std::optional<QVariant> StoredValue(const QString& key) const;
    void StoreValue(const QString& key, const QVariant& value);

  signals:
    // A setting of the mix changed; sent before the signal of the setting
    // itself, so that the engine has it by then.
    void MixChanged(MixChange what);
    void ChipModeChanged(int mode);
    // The chip and layout the sound has now (a chosen mode, or the file's chip).
    void ChipModeInForceChanged(int mode);
    void BeeperSettingChanged(int level);
    void VolumeChanged(int volume);
    void MutedVoicesChanged(unsigned voices);
    // After every choice: the priority in force (which the dialog shows).
    void PriorityInForceChanged(Priority priority);
    // The system refused `priority` with `error` (EACCES or EPERM).
    void PriorityRefused(Priority priority, int error);
    void SkinFileChanged(const QString& path);
    void FollowSongLengthsChanged(bool follow);
    void RecentFilesChanged(const QStringList& files);

  private:
    int Mode = DefaultFileChipMode;
    bool FileChipYM = false;
    int AnnouncedMode = ResolveChipMode(DefaultFileChipMode, false); // the mode in force last told
    void AnnounceModeInForce();
    int32_t Level = VolumeSteps;
    int32_t Beeper = DefaultBeeperSetting;
    unsigned Muted = 0;
    Priority Chosen = Priority::Normal;
    Priority InForce = Priority::Normal;
    std::function<int(int niceValue)> Nice = SetProcessNice;
    QString SkinPath;
    bool Follow = false;
    QStringList Recent;
    std::function<void(int code, const QString& systemText)> StoreError;
    int32_t AppliedVolume = VolumeSteps; // the last one the tables were built for
    bool Stored = false;                 // LoadStored ran: the recent files are stored
    bool StoreFollow = false;            // LoadStored ran: the switch is stored when changed
    void StoreRecentFiles();
};
