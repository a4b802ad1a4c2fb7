// The Parameters dialog, `ParametersDialog`: chip type and channel layout, beeper level,
// process priority and skin, the ".ay"/".aym" file association, and saving
// the settings as the start-up option string (or removing them).
//
// Every change takes effect at once; there is no Apply step. The dialog is
// made hidden right after the main window and lives as long; the start-up
// options set its controls while it is hidden, so that it always shows the
// settings in force. Controls keep their places in pixels, as the dialog has
// always been laid out.
//
// Where it knowingly differs from the registry original:
// - Saving the default settings deletes "Startup" without creating the
//   settings file or its folder first (nothing is written, so nothing needs
//   to be created).
// - Errors come with the errno value and its text (see platform/settings.h,
//   platform/association.h) in the box captioned "Ошибка работы с реестром #N".
// - The flag `RegPathOk` lives in the association object (`Association`),
//   whose checks need it.
#pragma once

#include "platform/association.h"
#include "platform/opendialog.h"
#include "platform/settings.h"
#include "playback/player_settings.h"
#include "ui/skin.h"

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QShowEvent;

class ParametersDialog : public QDialog {
    Q_OBJECT

  public:
    // Loads a skin (mode 0: the built-in one, 1: the BMP file at `path`) and
    // shows it; false, with nothing changed, when it cannot be read.
    using SkinChanger = std::function<bool(SkinSource source, const QString& path)>;

    // Made hidden, owned by `parent` (the main window).
    ParametersDialog(PlayerSettings& settings, SkinChanger changeSkin, QWidget* parent = nullptr);
    ~ParametersDialog() override;

    // The skin file dialog of "Load".
    FileOpenDialog& SkinDialog() { return SkinChooser; }
    static constexpr const char* SkinDefaultSuffix = "bmp";
    // The association of the song files (holds `RegPathOk`).
    FileAssociation& Association() { return Associations; }
    // Whether ".ay", ".aym" and the register-stream files are associated with
    // the player, as the check boxes last set or found them.
    bool AyAssociated() const { return AyLinked; }
    bool AymAssociated() const { return AymLinked; }
    bool StreamAssociated() const { return StreamLinked; }

    // Sets the controls to the settings in force and the association boxes to
    // what the desktop says (each time the dialog shows).
    void OnShow();

    // Shows a settings or association error: the system's text (`systemText`,
    // or the text for `code` when it is empty) in a box owned by `window`
    // with the caption "Ошибка работы с реестром #" + code.
    void RegError(QWidget* window, int code, const QString& systemText = QString());

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    PlayerSettings& Settings; // the player's, shared with the main window
    SkinChanger ChangeSkin;

    // The controls; each has its member's name as its object name.
    QGroupBox* ChipGroup; // "Chip and channels"
    QComboBox* ChipList;
    QLabel* ChipInForceLabel; // the chip and layout the sound has now
    QGroupBox* BeeperGroup;   // "Beeper level (0 - 32768)"
    QLineEdit* BeeperLevelEdit;
    QGroupBox* PriorityGroup; // "Application priority"
    QRadioButton* NormalPriorityButton;
    QRadioButton* HighPriorityButton;
    QGroupBox* SkinGroup;    // "Skin bitmap"
    QLineEdit* SkinFileEdit; // the skin file; empty for the built-in skin
    QPushButton* LoadSkinButton;
    QPushButton* StandardSkinButton;
    QGroupBox* AssociationGroup; // "System register"
    QCheckBox* AyAssociationBox;
    QCheckBox* AymAssociationBox;
    QCheckBox* StreamAssociationBox; // "YM": .ym, .vtx and .psg
    QPushButton* SaveParametersButton;
    QPushButton* RemoveParametersButton;
    QPushButton* CloseButton;   // "Close"
    QPushButton* DefaultButton; // "Default"

    FileOpenDialog SkinChooser;
    FileAssociation Associations;
    bool AyLinked = false;
    bool AymLinked = false;
    bool StreamLinked = false;
    static constexpr const char* StreamExtensions[] = {".ym", ".vtx", ".psg"};

    // ---- Handlers ----------------------------------------------------------
    void OnCreate();
    void ChipListChange(int index);
    void ShowChipInForce(int mode);
    void BeeperLevelEdited(const QString& text);
    void NormalPriorityClick();
    void HighPriorityClick();
    void LoadSkinClick();       // "Load"
    void StandardSkinClick();   // "Standard"
    void DefaultClick();        // "Default"
    void SaveParametersClick(); // "Save parameters"
    void RemoveOldPaths();
    void RemoveParametersClick(); // "Remove parameters"
    void AyAssociationClick();
    void AymAssociationClick();
    void StreamAssociationClick();

    SettingsStore Store();
    void AssociationClick(QCheckBox* box, bool& flag, const char* extension);
};
