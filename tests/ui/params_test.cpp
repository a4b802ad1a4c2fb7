// The Parameters dialog on the offscreen platform: its controls, places and
// texts, what each control does to the player, the saved option string and
// the stored file, "Remove parameters", and the error boxes.
#include "../formats/song_files.h"
#include "../formats/stream_writer.h"
#include "platform/association.h"
#include "platform/settings.h"
#include "player_bed.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace {

class Params : public ::testing::Test {
  protected:
    PlayerBed bed;
    MainWindow& form() { return *bed.Form; }
    ParametersDialog& dialog() { return *bed.Dialog; }

    QVariant Stored(const QString& key = "1.0/Startup") const {
        QSettings settings(bed.SettingsFile(), QSettings::IniFormat);
        return settings.value(key);
    }
    void WriteSettingsFile(const QByteArray& text) const {
        QDir().mkpath(QFileInfo(bed.SettingsFile()).path());
        QFile file(bed.SettingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    void Type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    void Paste(QLineEdit* edit, const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        edit->selectAll();
        edit->paste();
    }
    FileAssociation OwnAssociation() {
        return FileAssociation(QCoreApplication::applicationFilePath().toStdString(),
                               [](int, const std::string&) {});
    }
};

// ---- Controls --------------------------------------------------------------------

TEST_F(Params, ControlsStandAtTheirPlacesWithTheirTexts) {
    EXPECT_EQ(dialog().windowTitle(), "Parameters");
    EXPECT_EQ(dialog().size(), QSize(179, 359));
    EXPECT_EQ(dialog().minimumSize(), dialog().maximumSize()); // a fixed dialog border
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(dialog().parentWidget(), bed.Form);

    // Every control is inside its group (or the dialog), clear of its
    // neighbours, and says what it is.
    struct Placed {
        QWidget* widget;
        QWidget* parent;
        QString text;
    };
    ParametersDialog& d = dialog();
    const Placed controls[] = {
        {Control<QGroupBox>(d, "ChipGroup"), &d, "Chip and channels"},
        {Control<QComboBox>(d, "ChipList"), Control<QGroupBox>(d, "ChipGroup"),
         "File's chip, ABC Stereo"},
        {Control<QLabel>(d, "ChipInForceLabel"), Control<QGroupBox>(d, "ChipGroup"),
         "Now: AY-3-8910 ABC Stereo"},
        {Control<QGroupBox>(d, "BeeperGroup"), &d, "Beeper level (0 - 32768)"},
        {Control<QLineEdit>(d, "BeeperLevelEdit"), Control<QGroupBox>(d, "BeeperGroup"), ""},
        {Control<QGroupBox>(d, "PriorityGroup"), &d, "Application priority"},
        {Control<QRadioButton>(d, "NormalPriorityButton"), Control<QGroupBox>(d, "PriorityGroup"),
         "Normal"},
        {Control<QRadioButton>(d, "HighPriorityButton"), Control<QGroupBox>(d, "PriorityGroup"),
         "High"},
        {Control<QGroupBox>(d, "SkinGroup"), &d, "Skin bitmap"},
        {Control<QLineEdit>(d, "SkinFileEdit"), Control<QGroupBox>(d, "SkinGroup"), ""},
        {Control<QPushButton>(d, "LoadSkinButton"), Control<QGroupBox>(d, "SkinGroup"), "Load"},
        {Control<QPushButton>(d, "StandardSkinButton"), Control<QGroupBox>(d, "SkinGroup"),
         "Standard"},
        {Control<QGroupBox>(d, "AssociationGroup"), &d, "System register"},
        {Control<QCheckBox>(d, "AyAssociationBox"), Control<QGroupBox>(d, "AssociationGroup"),
         "AY"},
        {Control<QCheckBox>(d, "AymAssociationBox"), Control<QGroupBox>(d, "AssociationGroup"),
         "AYM"},
        {Control<QPushButton>(d, "SaveParametersButton"), Control<QGroupBox>(d, "AssociationGroup"),
         "Save parameters"},
        {Control<QPushButton>(d, "RemoveParametersButton"),
         Control<QGroupBox>(d, "AssociationGroup"), "Remove parameters"},
        {Control<QPushButton>(d, "CloseButton"), &d, "Close"},
        {Control<QPushButton>(d, "DefaultButton"), &d, "Default"},
    };
    for (const Placed& c : controls) {
        QString text;
        if (auto* box = qobject_cast<QGroupBox*>(c.widget)) text = box->title();
        if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) text = button->text();
        if (auto* combo = qobject_cast<QComboBox*>(c.widget)) text = combo->currentText();
        if (auto* edit = qobject_cast<QLineEdit*>(c.widget)) text = edit->text();
        if (auto* label = qobject_cast<QLabel*>(c.widget)) text = label->text();
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(c.widget->parentWidget(), c.parent);
        EXPECT_EQ(text, c.text);
        EXPECT_TRUE(c.parent->rect().contains(c.widget->geometry()));
        for (const Placed& other : controls) {
            if (other.widget == c.widget || other.parent != c.parent) continue;
            EXPECT_FALSE(c.widget->geometry().intersects(other.widget->geometry()))
                << "covers " << other.text.toStdString();
        }
    }

    QStringList entries;
    for (int i = 0; i < Control<QComboBox>(d, "ChipList")->count(); ++i)
        entries << Control<QComboBox>(d, "ChipList")->itemText(i);
    EXPECT_EQ(entries, (QStringList{"AY-3-8910 Mono",          "YM2149F Mono",
                                    "AY-3-8910 ABC Stereo",    "YM2149F ABC Stereo",
                                    "AY-3-8910 ACB Stereo",    "YM2149F ACB Stereo",
                                    "AY-3-8910 BAC Stereo",    "YM2149F BAC Stereo",
                                    "AY-3-8910 BCA Stereo",    "YM2149F BCA Stereo",
                                    "AY-3-8910 CAB Stereo",    "YM2149F CAB Stereo",
                                    "AY-3-8910 CBA Stereo",    "YM2149F CBA Stereo",
                                    "File's chip, Mono",       "File's chip, ABC Stereo",
                                    "File's chip, ACB Stereo", "File's chip, BAC Stereo",
                                    "File's chip, BCA Stereo", "File's chip, CAB Stereo",
                                    "File's chip, CBA Stereo"}));
    EXPECT_FALSE(Control<QComboBox>(d, "ChipList")->isEditable());
    EXPECT_EQ(Control<QComboBox>(d, "ChipList")->maxVisibleItems(), 21);
    EXPECT_TRUE(Control<QRadioButton>(d, "NormalPriorityButton")->isChecked());
    EXPECT_TRUE(Control<QLineEdit>(d, "SkinFileEdit")->isReadOnly());
    EXPECT_FALSE(Control<QLineEdit>(d, "SkinFileEdit")->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(Control<QPushButton>(d, "CloseButton")->isDefault());
    EXPECT_FALSE(Control<QCheckBox>(d, "AyAssociationBox")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(d, "AymAssociationBox")->isChecked());

    EXPECT_EQ(d.SkinDialog().Title, "Choose skin bitmap");
    EXPECT_EQ(QtFileDialogFilter(d.SkinDialog().Filter), "Bitmap files (BMP) (*.bmp)");
    EXPECT_STREQ(ParametersDialog::SkinDefaultSuffix, "bmp");
}

TEST_F(Params, TabGoesChipBeeperCloseDefaultRegisterPrioritySkin) {
    ParametersDialog& d = dialog();
    const QList<QWidget*> controls = {Control<QComboBox>(d, "ChipList"),
                                      Control<QLineEdit>(d, "BeeperLevelEdit"),
                                      Control<QPushButton>(d, "CloseButton"),
                                      Control<QPushButton>(d, "DefaultButton"),
                                      Control<QCheckBox>(d, "AyAssociationBox"),
                                      Control<QCheckBox>(d, "AymAssociationBox"),
                                      Control<QPushButton>(d, "SaveParametersButton"),
                                      Control<QPushButton>(d, "RemoveParametersButton"),
                                      Control<QRadioButton>(d, "NormalPriorityButton"),
                                      Control<QRadioButton>(d, "HighPriorityButton"),
                                      Control<QPushButton>(d, "LoadSkinButton"),
                                      Control<QPushButton>(d, "StandardSkinButton"),
                                      Control<QLineEdit>(d, "SkinFileEdit")};
    QList<QWidget*> order;
    QWidget* w = Control<QComboBox>(d, "ChipList");
    do {
        if (controls.contains(w) && (w->focusPolicy() & Qt::TabFocus)) order << w;
        w = w->nextInFocusChain();
    } while (w != Control<QComboBox>(d, "ChipList") && order.size() < 50);
    EXPECT_EQ(order, controls.mid(0, 12));
}

TEST_F(Params, EnterAndEscapeClose) {
    dialog().show();
    ASSERT_TRUE(dialog().isVisible());
    QTest::keyClick(&dialog(), Qt::Key_Escape);
    EXPECT_FALSE(dialog().isVisible());

    dialog().show();
    Control<QLineEdit>(dialog(), "BeeperLevelEdit")->setFocus();
    QTest::keyClick(Control<QLineEdit>(dialog(), "BeeperLevelEdit"), Qt::Key_Return);
    EXPECT_FALSE(dialog().isVisible());
}

TEST_F(Params, ShowingReadsTheLevelAndTheAssociationsWithoutSideEffects) {
    FileAssociation association = OwnAssociation();
    ASSERT_TRUE(association.CreateZirrafonPath());
    ASSERT_TRUE(association.RegisterFile(".ay"));
    ASSERT_TRUE(Eventually([&] { return association.CheckRegistration(".ay"); }));
    bed.Settings().SetBeeperSetting(1234);

    dialog().show();
    EXPECT_EQ(Control<QLineEdit>(dialog(), "BeeperLevelEdit")->text(), "1234");
    EXPECT_TRUE(dialog().Association().RegPathOk);
    EXPECT_TRUE(dialog().AyAssociated());
    EXPECT_FALSE(dialog().AymAssociated());
    EXPECT_TRUE(Control<QCheckBox>(dialog(), "AyAssociationBox")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(dialog(), "AymAssociationBox")->isChecked());
    EXPECT_TRUE(association.CheckRegistration(".ay"));
    EXPECT_FALSE(association.CheckRegistration(".aym"));
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 1234);
    dialog().hide();
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Params, AMovedProgramShowsClearedBoxesUntilABoxIsTickedAgain) {
    // The types were associated while the program lived somewhere else.
    FileAssociation before("/opt/old place/zirrafon", [](int, const std::string&) {});
    ASSERT_TRUE(before.CreateZirrafonPath());
    ASSERT_TRUE(before.RegisterFile(".ay"));
    ASSERT_TRUE(before.RegisterFile(".aym"));

    dialog().show();
    EXPECT_FALSE(dialog().Association().RegPathOk);
    EXPECT_FALSE(Control<QCheckBox>(dialog(), "AyAssociationBox")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(dialog(), "AymAssociationBox")->isChecked());

    // Ticking rewrites the open command for the program where it is now.
    Control<QCheckBox>(dialog(), "AyAssociationBox")->click();
    EXPECT_TRUE(dialog().AyAssociated());
    EXPECT_TRUE(Eventually([&] { return OwnAssociation().CheckRegPath(); }));
    EXPECT_FALSE(before.CheckRegPath());
    dialog().hide();
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

// ---- What the controls do -----------------------------------------------------------

// The list's choice is heard at once; by default each file plays on the
// chip it was written for (a .ym file on the YM2149F, an .ay file on the
// AY-3-8910), and a chip chosen in the list plays every file; the dialog
// says which chip and layout the sound has.
TEST_F(Params, TheChipListChangesTheSoundAtOnceAndFollowsTheFile) {
    bed.Settings().SetVolume(20);
    YMPlan ym;
    ym.Frames.assign(50, StreamFrame{20, 1, 0, 0, 0, 0, 0, 0x3E, 12, 0, 0, 0, 0, 0, 0, 0});
    const QString atari = bed.Root.filePath("atari.ym");
    {
        QFile f(atari);
        const Bytes bytes = MakeYM(ym);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    const QString spectrum = QStringLiteral(ZIRRAFON_TESTDATA_DIR "/ay/Exolon.AY");
    const auto tablesOf = [&](int mode) {
        ChipState expected;
        SetChipAndChannels(expected, mode, 20, VolumeSteps);
        return std::memcmp(expected.Mix.VolumeTable, bed.Playback->Engine().Chip.Mix.VolumeTable,
                           sizeof expected.Mix.VolumeTable) == 0;
    };
    dialog().show();
    auto* list = Control<QComboBox>(dialog(), "ChipList");
    const struct {
        const QString& File;
        int ListMode; // -1: the list as it is
        int InForce;
        const char* Shown;
    } steps[] = {
        {spectrum, -1, 2, "Now: AY-3-8910 ABC Stereo"},
        {atari, -1, 3, "Now: YM2149F ABC Stereo"},
        {atari, 2, 2, "Now: AY-3-8910 ABC Stereo"},        // chosen: every file
        {atari, FileChipModeBase, 1, "Now: YM2149F Mono"}, // the file's chip again
        {spectrum, -1, 0, "Now: AY-3-8910 Mono"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Shown);
        if (step.ListMode >= 0) {
            list->setCurrentIndex(step.ListMode);
            emit list->activated(step.ListMode);
        }
        bed.Playback->OpenAndPlay(step.File);
        EXPECT_EQ(bed.Settings().ChipModeInForce(), step.InForce);
        EXPECT_TRUE(tablesOf(step.InForce));
        EXPECT_EQ(Control<QLabel>(dialog(), "ChipInForceLabel")->text(), step.Shown);
    }
    bed.Playback->Stop();
    // A key in the list is heard at once.
    list->setCurrentIndex(2);
    Control<QComboBox>(dialog(), "ChipList")->setFocus();
    QTest::keyClick(Control<QComboBox>(dialog(), "ChipList"), Qt::Key_Down);
    EXPECT_EQ(Control<QComboBox>(dialog(), "ChipList")->currentIndex(), 3);
    EXPECT_EQ(bed.Settings().ChipMode(), 3);
    ChipState expected;
    SetChipAndChannels(expected, 3, 20, VolumeSteps);
    EXPECT_EQ(std::memcmp(expected.Mix.VolumeTable, bed.Playback->Engine().Chip.Mix.VolumeTable,
                          sizeof expected.Mix.VolumeTable),
              0);
    // Set by the program, the list does not act.
    Control<QComboBox>(dialog(), "ChipList")->setCurrentIndex(9);
    EXPECT_EQ(bed.Settings().ChipMode(), 3);
}

TEST_F(Params, TypedBeeperLevelsInRangeTakeEffect) {
    bed.Settings().SetVolume(20);
    const ChipState& chip = bed.Playback->Engine().Chip;
    Paste(Control<QLineEdit>(dialog(), "BeeperLevelEdit"), "40000");
    EXPECT_EQ(chip.Mix.BeeperSetting, 16384);
    EXPECT_EQ(Control<QLineEdit>(dialog(), "BeeperLevelEdit")->text(),
              "40000"); // the text stays as typed
    Paste(Control<QLineEdit>(dialog(), "BeeperLevelEdit"), "abc");
    EXPECT_EQ(chip.Mix.BeeperSetting, 16384);
    // Each keystroke counts: "8", "80", "800", "8000" are levels, "80000" is not.
    Type(Control<QLineEdit>(dialog(), "BeeperLevelEdit"), "80000");
    EXPECT_EQ(chip.Mix.BeeperSetting, 8000);
    EXPECT_EQ(chip.Mix.BeeperAmplitude, ComputeBeeperAmplitude(8000, 20, VolumeSteps));
    EXPECT_EQ(Control<QLineEdit>(dialog(), "BeeperLevelEdit")->text(), "80000");
    Paste(Control<QLineEdit>(dialog(), "BeeperLevelEdit"), "0");
    EXPECT_EQ(chip.Mix.BeeperSetting, 0);
    EXPECT_EQ(chip.Mix.BeeperAmplitude, 0);
    Control<QLineEdit>(dialog(), "BeeperLevelEdit")->setText("777"); // not typed
    EXPECT_EQ(chip.Mix.BeeperSetting, 0);
}

TEST_F(Params, PriorityButtons) {
    QTest::mouseClick(Control<QRadioButton>(dialog(), "HighPriorityButton"), Qt::LeftButton);
    EXPECT_EQ(bed.Settings().PriorityClass(), Priority::High);
    QTest::mouseClick(Control<QRadioButton>(dialog(), "NormalPriorityButton"), Qt::LeftButton);
    EXPECT_EQ(bed.Settings().PriorityClass(), Priority::Normal);
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();

    // A system that does not let this user raise the priority: the buttons
    // show the class in force, the choice is kept for saving, and the reason
    // with its remedy is told once per run, however it is asked for again.
    std::vector<int> asked;
    bed.Settings().SetNiceSetter([&asked](int niceValue) {
        asked.push_back(niceValue);
        return niceValue < 0 ? EPERM : 0;
    });
    QTest::mouseClick(Control<QRadioButton>(dialog(), "HighPriorityButton"), Qt::LeftButton);
    EXPECT_TRUE(Control<QRadioButton>(dialog(), "NormalPriorityButton")->isChecked());
    EXPECT_EQ(bed.Settings().PriorityClass(), Priority::High);
    EXPECT_EQ(bed.Settings().PriorityInForce(), Priority::Normal);
    QTest::mouseClick(Control<QRadioButton>(dialog(), "HighPriorityButton"), Qt::LeftButton);
    bed.Batch({"/rh"});
    EXPECT_TRUE(Control<QRadioButton>(dialog(), "NormalPriorityButton")->isChecked());
    ASSERT_EQ(bed.Messages.Messages.size(), 1u) << bed.MessageList();
    const auto& m = bed.Messages.Messages[0];
    EXPECT_EQ(m.Caption, "Zirrafon");
    EXPECT_EQ(m.Icon, MessageIcon::Warning);
    EXPECT_EQ(m.Owner, bed.Form);
    for (const QString& part :
         {QString::fromLocal8Bit(std::strerror(EPERM)), QStringLiteral("high priority"),
          QStringLiteral("CAP_SYS_NICE"), QStringLiteral("RLIMIT_NICE"),
          QStringLiteral("@audio - nice -10"), QStringLiteral("/etc/security/limits.conf")})
        EXPECT_TRUE(m.Text.contains(part)) << part.toStdString() << " in " << m.Text.toStdString();
    QTest::mouseClick(Control<QPushButton>(dialog(), "SaveParametersButton"), Qt::LeftButton);
    EXPECT_EQ(Stored().toString(), " /rh");

    // Back to normal, which the system always allows.
    QTest::mouseClick(Control<QRadioButton>(dialog(), "NormalPriorityButton"), Qt::LeftButton);
    EXPECT_EQ(bed.Settings().PriorityClass(), Priority::Normal);
    EXPECT_EQ(asked, (std::vector<int>{-10, -10, -10, 0}));
    EXPECT_EQ(bed.Messages.Messages.size(), 1u);
    bed.Settings().SetNiceSetter(SetProcessNice); // `asked` goes before the bed
}

TEST_F(Params, LoadAndStandardSkin) {
    const QString skin = bed.WriteSkin("skin.bmp");
    QStringList answers = {"", DemoSong("demo.ay"), skin, "", ""};
    QStringList offered; // where the dialog started, each time
    dialog().SkinDialog().Chooser = [&](const FileOpenDialog& d, QWidget* owner) {
        EXPECT_EQ(owner, bed.Dialog);
        offered << d.InitialDir;
        return answers.takeFirst();
    };
    // "Standard" with the built-in skin in use does nothing.
    QTest::mouseClick(Control<QPushButton>(dialog(), "StandardSkinButton"), Qt::LeftButton);
    EXPECT_TRUE(bed.SkinLoads.empty());

    QTest::mouseClick(Control<QPushButton>(dialog(), "LoadSkinButton"),
                      Qt::LeftButton); // cancelled
    EXPECT_TRUE(bed.SkinLoads.empty());
    QTest::mouseClick(Control<QPushButton>(dialog(), "LoadSkinButton"),
                      Qt::LeftButton); // not a bitmap
    EXPECT_TRUE(Control<QLineEdit>(dialog(), "SkinFileEdit")->text().isEmpty());
    QTest::mouseClick(Control<QPushButton>(dialog(), "LoadSkinButton"), Qt::LeftButton);
    EXPECT_EQ(Control<QLineEdit>(dialog(), "SkinFileEdit")->text(), skin);
    EXPECT_EQ(bed.FaceSkin.SkinBitmap.pixelColor(5, 5), QColor(10, 120, 200));

    QTest::mouseClick(Control<QPushButton>(dialog(), "LoadSkinButton"),
                      Qt::LeftButton); // cancelled

    QTest::mouseClick(Control<QPushButton>(dialog(), "StandardSkinButton"), Qt::LeftButton);
    EXPECT_TRUE(Control<QLineEdit>(dialog(), "SkinFileEdit")->text().isEmpty());
    EXPECT_NE(bed.FaceSkin.SkinBitmap.pixelColor(5, 5), QColor(10, 120, 200));
    QTest::mouseClick(Control<QPushButton>(dialog(), "LoadSkinButton"),
                      Qt::LeftButton); // cancelled
    // Home until a skin file is in use, then that file's folder.
    const QString home = QDir::homePath();
    EXPECT_EQ(offered, (QStringList{home, home, home, bed.Root.path(), home}));
    EXPECT_EQ(bed.SkinLoads,
              (std::vector<std::pair<SkinSource, QString>>{{SkinSource::File, DemoSong("demo.ay")},
                                                           {SkinSource::File, skin},
                                                           {SkinSource::BuiltIn, QString()}}));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Params, DefaultResetsTheSettingsButNotVolumeOrAssociations) {
    const QString skin = bed.WriteSkin("skin.bmp");
    bed.Batch({"/hYMBAC", "/u100", "/rh", "/p" + skin});
    bed.Settings().SetVolume(20);
    QTest::mouseClick(Control<QCheckBox>(dialog(), "AyAssociationBox"), Qt::LeftButton);
    ASSERT_TRUE(dialog().AyAssociated()) << bed.MessageList();

    QTest::mouseClick(Control<QPushButton>(dialog(), "DefaultButton"), Qt::LeftButton);
    EXPECT_EQ(Control<QLineEdit>(dialog(), "BeeperLevelEdit")->text(), "16384");
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 16384);
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperAmplitude,
              ComputeBeeperAmplitude(16384, 20, VolumeSteps));
    EXPECT_EQ(Control<QComboBox>(dialog(), "ChipList")->currentIndex(), DefaultFileChipMode);
    EXPECT_EQ(bed.Settings().ChipMode(), DefaultFileChipMode);
    EXPECT_TRUE(Control<QRadioButton>(dialog(), "NormalPriorityButton")->isChecked());
    EXPECT_EQ(bed.Settings().PriorityClass(), Priority::Normal);
    EXPECT_TRUE(Control<QLineEdit>(dialog(), "SkinFileEdit")->text().isEmpty());
    EXPECT_EQ(bed.SkinLoads.back(), std::make_pair(SkinSource::BuiltIn, QString()));
    EXPECT_EQ(bed.Settings().Volume(), 20);
    EXPECT_TRUE(Control<QCheckBox>(dialog(), "AyAssociationBox")->isChecked());
    EXPECT_TRUE(dialog().AyAssociated());
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

// ---- Saving and removing --------------------------------------------------------------

TEST_F(Params, SavedStringsAndTheirWayBack) {
    const QString skin = bed.WriteSkin("my skins.bmp"); // a blank in the path
    Control<QComboBox>(dialog(), "ChipList")->setCurrentIndex(2);
    Control<QComboBox>(dialog(), "ChipList")->setFocus();
    QTest::keyClick(Control<QComboBox>(dialog(), "ChipList"), Qt::Key_Down); // YM2149F ABC Stereo
    Type(Control<QLineEdit>(dialog(), "BeeperLevelEdit"), "8000");
    QTest::mouseClick(Control<QRadioButton>(dialog(), "HighPriorityButton"), Qt::LeftButton);
    bed.Batch({"/p" + skin});
    QTest::mouseClick(Control<QPushButton>(dialog(), "SaveParametersButton"), Qt::LeftButton);
    EXPECT_EQ(Stored().toString(), "/hYMABC /u8000 /rh /p\"" + skin + "\"");

    // A new start applies them again.
    bed.MakePlayer();
    bed.Batches->CheckCommandLineAndReg({});
    EXPECT_EQ(bed.Settings().ChipMode(), 3);
    EXPECT_EQ(Control<QComboBox>(*bed.Dialog, "ChipList")->currentIndex(), 3);
    EXPECT_EQ(bed.Playback->Engine().Chip.Mix.BeeperSetting, 8000);
    EXPECT_EQ(bed.Settings().PriorityClass(), Priority::High);
    EXPECT_TRUE(Control<QRadioButton>(*bed.Dialog, "HighPriorityButton")->isChecked());
    EXPECT_EQ(Control<QLineEdit>(*bed.Dialog, "SkinFileEdit")->text(), skin);

    // Only the level differs: a leading blank.
    bed.Playback->Settings().SetPriorityClass(Priority::Normal);
    Control<QRadioButton>(*bed.Dialog, "NormalPriorityButton")->setChecked(true);
    bed.Settings().SetSkinFile(QString());
    // The AY-3-8910 chosen for every file is kept (the default follows the file).
    bed.Settings().SetChipMode(2);
    QTest::mouseClick(Control<QPushButton>(*bed.Dialog, "SaveParametersButton"), Qt::LeftButton);
    EXPECT_EQ(Stored().toString(), "/hAYABC /u8000");
    bed.Settings().SetChipMode(DefaultFileChipMode);
    QTest::mouseClick(Control<QPushButton>(*bed.Dialog, "SaveParametersButton"), Qt::LeftButton);
    EXPECT_EQ(Stored().toString(), " /u8000");

    // All defaults: the value goes.
    QTest::mouseClick(Control<QPushButton>(*bed.Dialog, "DefaultButton"), Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(*bed.Dialog, "SaveParametersButton"), Qt::LeftButton);
    EXPECT_FALSE(Stored().isValid());
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Params, SavingTheDefaultsFromScratchWritesNothing) {
    QTest::mouseClick(Control<QPushButton>(dialog(), "SaveParametersButton"), Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(bed.ConfigHome() + "/Ostrowind"));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Params, SavingDropsTheEarlierVersionsGroupOnly) {
    WriteSettingsFile("[Beta%206]\nStartup=/hAYMONO\n\n[Other]\nkey=kept\n");
    bed.Batch({"/u9"});
    QTest::mouseClick(Control<QPushButton>(dialog(), "SaveParametersButton"), Qt::LeftButton);
    QSettings settings(bed.SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(settings.childGroups(), (QStringList{"1.0", "Other"}));
    EXPECT_EQ(settings.value("1.0/Startup").toString(), " /u9");
    EXPECT_EQ(settings.value("Other/key").toString(), "kept");
}

TEST_F(Params, RemovingDeletesTheFileAndFolderOnlyWhenNothingElseIsLeft) {
    const QString folder = bed.ConfigHome() + "/Ostrowind";
    // Only our groups: file and folder go.
    WriteSettingsFile("[1.0]\nStartup=/u1\n\n[Beta%206]\nStartup=/u2\n");
    QTest::mouseClick(Control<QPushButton>(dialog(), "RemoveParametersButton"), Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(bed.SettingsFile()));
    EXPECT_FALSE(QFileInfo::exists(folder));

    // Another group in the file: the file stays without ours.
    WriteSettingsFile("[1.0]\nStartup=/u1\n\n[Other]\nkey=kept\n");
    QTest::mouseClick(Control<QPushButton>(dialog(), "RemoveParametersButton"), Qt::LeftButton);
    {
        QSettings settings(bed.SettingsFile(), QSettings::IniFormat);
        EXPECT_EQ(settings.childGroups(), QStringList{"Other"});
    }
    EXPECT_TRUE(QFileInfo::exists(folder));

    // Another file in the folder: our file goes, the folder stays.
    WriteSettingsFile("[1.0]\nStartup=/u1\n");
    QFile other(folder + "/Other.conf");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    QFile::remove(bed.SettingsFile() + ".other");
    QTest::mouseClick(Control<QPushButton>(dialog(), "RemoveParametersButton"), Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(bed.SettingsFile()));
    EXPECT_TRUE(QFileInfo::exists(folder + "/Other.conf"));

    // Nothing stored at all: nothing to do, nothing said.
    QDir(folder).removeRecursively();
    QTest::mouseClick(Control<QPushButton>(dialog(), "RemoveParametersButton"), Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Params, RemovingAlsoEndsBothAssociations) {
    QTest::mouseClick(Control<QCheckBox>(dialog(), "AyAssociationBox"), Qt::LeftButton);
    QTest::mouseClick(Control<QCheckBox>(dialog(), "AymAssociationBox"), Qt::LeftButton);
    ASSERT_TRUE(dialog().AyAssociated() && dialog().AymAssociated()) << bed.MessageList();
    FileAssociation association = OwnAssociation();
    association.RegPathOk = true;
    const auto shows = [&association](const char* extension, bool associated) {
        return Eventually([&] { return association.CheckRegistration(extension) == associated; });
    };
    ASSERT_TRUE(shows(".ay", true) && shows(".aym", true));
    ASSERT_TRUE(Eventually([&] { return association.CheckRegPath(); }));

    QTest::mouseClick(Control<QPushButton>(dialog(), "RemoveParametersButton"), Qt::LeftButton);
    EXPECT_FALSE(dialog().AyAssociated());
    EXPECT_FALSE(dialog().AymAssociated());
    EXPECT_FALSE(Control<QCheckBox>(dialog(), "AyAssociationBox")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>(dialog(), "AymAssociationBox")->isChecked());
    EXPECT_TRUE(shows(".ay", false));
    EXPECT_TRUE(shows(".aym", false));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();

    // Clearing a box whose extension is associated ends that association.
    QTest::mouseClick(Control<QCheckBox>(dialog(), "AyAssociationBox"), Qt::LeftButton);
    ASSERT_TRUE(shows(".ay", true));
    QTest::mouseClick(Control<QCheckBox>(dialog(), "AyAssociationBox"), Qt::LeftButton);
    EXPECT_FALSE(dialog().AyAssociated());
    EXPECT_TRUE(shows(".ay", false));
}

// ---- Errors -----------------------------------------------------------------------------

TEST_F(Params, AFileWhereTheSettingsFolderBelongsIsReportedWithItsNumber) {
    QFile blocker(bed.ConfigHome() + "/Ostrowind");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    bed.Batch({"/u8000"});
    QTest::mouseClick(Control<QPushButton>(dialog(), "SaveParametersButton"), Qt::LeftButton);
    ASSERT_EQ(bed.Messages.Messages.size(), 1u) << bed.MessageList();
    const auto& m = bed.Messages.Messages[0];
    EXPECT_EQ(m.Caption, QString::fromUtf8("Ошибка работы с реестром #%1").arg(ENOTDIR));
    EXPECT_EQ(m.Caption, QString::fromUtf8("Ошибка работы с реестром #20"));
    EXPECT_EQ(m.Text, QString::fromLocal8Bit(std::strerror(ENOTDIR)));
    EXPECT_EQ(m.Icon, MessageIcon::Information);
    EXPECT_EQ(m.Owner, bed.Dialog);

    // Nothing to remove there: no message, the user's file stays.
    QTest::mouseClick(Control<QPushButton>(dialog(), "RemoveParametersButton"), Qt::LeftButton);
    EXPECT_EQ(bed.Messages.Messages.size(), 1u) << bed.MessageList();
    EXPECT_TRUE(QFileInfo(bed.ConfigHome() + "/Ostrowind").isFile());
}

TEST_F(Params, AnErrorWhileRemovingEndsTheOperation) {
    QTest::mouseClick(Control<QCheckBox>(dialog(), "AyAssociationBox"), Qt::LeftButton);
    ASSERT_TRUE(dialog().AyAssociated()) << bed.MessageList();
    QDir().mkpath(bed.SettingsFile()); // a folder where the file belongs
    QTest::mouseClick(Control<QPushButton>(dialog(), "RemoveParametersButton"), Qt::LeftButton);
    ASSERT_EQ(bed.Messages.Messages.size(), 1u) << bed.MessageList();
    EXPECT_EQ(bed.Messages.Messages[0].Caption,
              QString::fromUtf8("Ошибка работы с реестром #%1").arg(EISDIR));
    EXPECT_EQ(bed.Messages.Messages[0].Text, QString::fromLocal8Bit(std::strerror(EISDIR)));
    // The associations were not touched.
    EXPECT_TRUE(dialog().AyAssociated());
    EXPECT_TRUE(Control<QCheckBox>(dialog(), "AyAssociationBox")->isChecked());
}

TEST_F(Params, AssociationErrorsUseTheSameBox) {
    // mimeapps.list cannot be written where a folder stands in its place.
    QDir().mkpath(bed.ConfigHome() + "/mimeapps.list");
    QTest::mouseClick(Control<QCheckBox>(dialog(), "AyAssociationBox"), Qt::LeftButton);
    EXPECT_TRUE(Control<QCheckBox>(dialog(), "AyAssociationBox")
                    ->isChecked()); // the box keeps what the user gave it
    EXPECT_FALSE(dialog().AyAssociated());
    ASSERT_FALSE(bed.Messages.Messages.empty());
    for (const auto& m : bed.Messages.Messages) {
        EXPECT_TRUE(m.Caption.startsWith(QString::fromUtf8("Ошибка работы с реестром #")))
            << m.Caption.toStdString();
        EXPECT_FALSE(m.Text.isEmpty());
        EXPECT_EQ(m.Icon, MessageIcon::Information);
        EXPECT_EQ(m.Owner, bed.Dialog);
    }
}

} // namespace
