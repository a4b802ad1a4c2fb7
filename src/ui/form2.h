// The Parameters dialog, `TForm2`: chip type and channel layout, beeper level,
// process priority and skin, the ".ay"/".aym" file association, and saving
// the settings as the start-up option string (or removing them).
//
// Every change takes effect at once; there is no Apply step. The dialog is
// made hidden right after the main window and lives as long; the start-up
// options set its controls while it is hidden, so that it always shows the
// settings in force. Controls keep their numbered names and their places in
// pixels, as the dialog has always been laid out.
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

#include <QDialog>
#include <QString>
#include <cstdint>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QShowEvent;
class TForm1;

class TForm2 : public QDialog {
    Q_OBJECT

  public:
    // Made hidden, owned by the main window, whose `Form2` it becomes.
    explicit TForm2(TForm1* form1);
    ~TForm2() override;

    TForm1* Form1;
    PlayerSettings& Settings; // the player's, shared with the main window

    QGroupBox* GroupBox1; // "Chip and channels"
    QComboBox* ComboBox1;
    QGroupBox* GroupBox2; // "Beeper level (0 - 32768)"
    QLineEdit* Edit1;
    QGroupBox* GroupBox4; // "Application priority"
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QGroupBox* GroupBox5; // "Skin bitmap"
    QLineEdit* Edit2;     // the skin file; empty for the built-in skin
    QPushButton* Button5;
    QPushButton* Button6;
    QGroupBox* GroupBox3; // "System register"
    QCheckBox* CheckBox1;
    QCheckBox* CheckBox2;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button1; // "Close"
    QPushButton* Button2; // "Default"

    // The skin file dialog of "Load".
    FileOpenDialog OpenDialog1;
    static constexpr const char* SkinDefaultSuffix = "bmp";

    // The association of ".ay" and ".aym" (holds `RegPathOk`).
    FileAssociation Association;
    bool AyAssociated = false;
    bool AymAssociated = false;

    // ---- Handlers ----------------------------------------------------------
    void FormCreate();
    void FormShow();
    void ComboBox1Change(int index);
    void Edit1Change(const QString& text);
    void RadioButton1Click();
    void RadioButton2Click();
    void Button5Click(); // "Load"
    void Button6Click(); // "Standard"
    void Button2Click(); // "Default"
    void Button3Click(); // "Save parameters"
    void RemoveOldPaths();
    void Button4Click(); // "Remove parameters"
    void CheckBox1Click();
    void CheckBox2Click();

    // Shows a settings or association error: the system's text (`systemText`,
    // or the text for `code` when it is empty) in a box owned by `window`
    // with the caption "Ошибка работы с реестром #" + code.
    void RegError(QWidget* window, int code, const QString& systemText = QString());

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    SettingsStore Store();
    void AssociationClick(QCheckBox* box, bool& flag, const char* extension);
};
