// The Parameters dialog on the offscreen platform: its controls, places and
// texts, what each control does to the player, the saved option string and
// the stored file, "Remove parameters", and the error boxes.
#include "platform/association.h"
#include "platform/settings.h"
#include "player_bed.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
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
    TForm1& form() { return *bed.Form; }
    TForm2& dialog() { return *bed.Dialog; }

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
    EXPECT_EQ(dialog().parentWidget(), bed.Form.get());
    EXPECT_EQ(form().Form2, bed.Dialog);

    struct Place {
        QWidget* widget;
        QWidget* parent;
        QRect geometry;
        QString text;
    };
    TForm2& d = dialog();
    const Place places[] = {
        {d.GroupBox1, &d, {8, 0, 161, 49}, "Chip and channels"},
        {d.ComboBox1, d.GroupBox1, {8, 16, 145, 21}, "AY-3-8910 ABC Stereo"},
        {d.GroupBox2, &d, {8, 56, 161, 49}, "Beeper level (0 - 32768)"},
        {d.Edit1, d.GroupBox2, {8, 16, 145, 21}, ""},
        {d.GroupBox4, &d, {8, 112, 161, 41}, "Application priority"},
        {d.RadioButton1, d.GroupBox4, {8, 16, 57, 17}, "Normal"},
        {d.RadioButton2, d.GroupBox4, {80, 16, 57, 17}, "High"},
        {d.GroupBox5, &d, {8, 160, 161, 73}, "Skin bitmap"},
        {d.Edit2, d.GroupBox5, {8, 16, 145, 21}, ""},
        {d.Button5, d.GroupBox5, {8, 48, 65, 17}, "Load"},
        {d.Button6, d.GroupBox5, {87, 48, 65, 17}, "Standard"},
        {d.GroupBox3, &d, {8, 240, 161, 81}, "System register"},
        {d.CheckBox1, d.GroupBox3, {8, 16, 41, 17}, "AY"},
        {d.CheckBox2, d.GroupBox3, {80, 16, 41, 17}, "AYM"},
        {d.Button3, d.GroupBox3, {8, 39, 145, 17}, "Save parameters"},
        {d.Button4, d.GroupBox3, {8, 56, 145, 17}, "Remove parameters"},
        {d.Button1, &d, {8, 328, 75, 25}, "Close"},
        {d.Button2, &d, {96, 328, 75, 25}, "Default"},
    };
    for (const Place& p : places) {
        QString text;
        if (auto* box = qobject_cast<QGroupBox*>(p.widget)) text = box->title();
        if (auto* button = qobject_cast<QAbstractButton*>(p.widget)) text = button->text();
        if (auto* combo = qobject_cast<QComboBox*>(p.widget)) text = combo->currentText();
        if (auto* edit = qobject_cast<QLineEdit*>(p.widget)) text = edit->text();
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(p.widget->parentWidget(), p.parent);
        EXPECT_EQ(p.widget->geometry(), p.geometry);
        EXPECT_EQ(text, p.text);
    }

    QStringList entries;
    for (int i = 0; i < d.ComboBox1->count(); ++i) entries << d.ComboBox1->itemText(i);
    EXPECT_EQ(entries,
              (QStringList{"AY-3-8910 Mono", "YM2149F Mono", "AY-3-8910 ABC Stereo",
                           "YM2149F ABC Stereo", "AY-3-8910 ACB Stereo", "YM2149F ACB Stereo",
                           "AY-3-8910 BAC Stereo", "YM2149F BAC Stereo", "AY-3-8910 BCA Stereo",
                           "YM2149F BCA Stereo", "AY-3-8910 CAB Stereo", "YM2149F CAB Stereo",
                           "AY-3-8910 CBA Stereo", "YM2149F CBA Stereo"}));
    EXPECT_FALSE(d.ComboBox1->isEditable());
    EXPECT_EQ(d.ComboBox1->maxVisibleItems(), 14);
    EXPECT_TRUE(d.RadioButton1->isChecked());
    EXPECT_TRUE(d.Edit2->isReadOnly());
    EXPECT_FALSE(d.Edit2->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(d.Button1->isDefault());
    EXPECT_FALSE(d.CheckBox1->isChecked());
    EXPECT_FALSE(d.CheckBox2->isChecked());

    EXPECT_EQ(d.OpenDialog1.Title, "Choose skin bitmap");
    EXPECT_EQ(QtFileDialogFilter(d.OpenDialog1.Filter), "Bitmap files (BMP) (*.bmp)");
    EXPECT_STREQ(TForm2::SkinDefaultSuffix, "bmp");
}

TEST_F(Params, TabGoesChipBeeperCloseDefaultRegisterPrioritySkin) {
    TForm2& d = dialog();
    const QList<QWidget*> controls = {
        d.ComboBox1, d.Edit1,        d.Button1,      d.Button2, d.CheckBox1, d.CheckBox2, d.Button3,
        d.Button4,   d.RadioButton1, d.RadioButton2, d.Button5, d.Button6,   d.Edit2};
    QList<QWidget*> order;
    QWidget* w = d.ComboBox1;
    do {
        if (controls.contains(w) && (w->focusPolicy() & Qt::TabFocus)) order << w;
        w = w->nextInFocusChain();
    } while (w != d.ComboBox1 && order.size() < 50);
    EXPECT_EQ(order, controls.mid(0, 12));
}

TEST_F(Params, EnterAndEscapeClose) {
    dialog().show();
    ASSERT_TRUE(dialog().isVisible());
    QTest::keyClick(&dialog(), Qt::Key_Escape);
    EXPECT_FALSE(dialog().isVisible());

    dialog().show();
    dialog().Edit1->setFocus();
    QTest::keyClick(dialog().Edit1, Qt::Key_Return);
    EXPECT_FALSE(dialog().isVisible());
}

TEST_F(Params, ShowingReadsTheLevelAndTheAssociationsWithoutSideEffects) {
    FileAssociation association = OwnAssociation();
    ASSERT_TRUE(association.CreateZirrafonPath());
    ASSERT_TRUE(association.RegisterFile(".ay"));
    ASSERT_TRUE(Eventually([&] { return association.CheckRegistration(".ay"); }));
    form().Playback->Engine.Chip.Mix.BeeperSetting = 1234;

    dialog().show();
    EXPECT_EQ(dialog().Edit1->text(), "1234");
    EXPECT_TRUE(dialog().Association.RegPathOk);
    EXPECT_TRUE(dialog().AyAssociated);
    EXPECT_FALSE(dialog().AymAssociated);
    EXPECT_TRUE(dialog().CheckBox1->isChecked());
    EXPECT_FALSE(dialog().CheckBox2->isChecked());
    EXPECT_TRUE(association.CheckRegistration(".ay"));
    EXPECT_FALSE(association.CheckRegistration(".aym"));
    EXPECT_EQ(form().Playback->Engine.Chip.Mix.BeeperSetting, 1234);
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
    EXPECT_FALSE(dialog().Association.RegPathOk);
    EXPECT_FALSE(dialog().CheckBox1->isChecked());
    EXPECT_FALSE(dialog().CheckBox2->isChecked());

    // Ticking rewrites the open command for the program where it is now.
    dialog().CheckBox1->click();
    EXPECT_TRUE(dialog().AyAssociated);
    EXPECT_TRUE(Eventually([&] { return OwnAssociation().CheckRegPath(); }));
    EXPECT_FALSE(before.CheckRegPath());
    dialog().hide();
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

// ---- What the controls do -----------------------------------------------------------

TEST_F(Params, TheChipListChangesTheSoundAtOnce) {
    form().Settings.Volume = 20;
    dialog().show();
    dialog().ComboBox1->setFocus();
    QTest::keyClick(dialog().ComboBox1, Qt::Key_Down);
    EXPECT_EQ(dialog().ComboBox1->currentIndex(), 3);
    EXPECT_EQ(form().Settings.ChipMode, 3);
    ChipState expected;
    SetChipAndChannels(expected, 3, 20, VolumeSteps);
    EXPECT_EQ(std::memcmp(expected.Mix.VolumeTable, form().Playback->Engine.Chip.Mix.VolumeTable,
                          sizeof expected.Mix.VolumeTable),
              0);
    // Set by the program, the list does not act.
    dialog().ComboBox1->setCurrentIndex(9);
    EXPECT_EQ(form().Settings.ChipMode, 3);
}

TEST_F(Params, TypedBeeperLevelsInRangeTakeEffect) {
    form().Settings.Volume = 20;
    ChipState& chip = form().Playback->Engine.Chip;
    Paste(dialog().Edit1, "40000");
    EXPECT_EQ(chip.Mix.BeeperSetting, 16384);
    EXPECT_EQ(dialog().Edit1->text(), "40000"); // the text stays as typed
    Paste(dialog().Edit1, "abc");
    EXPECT_EQ(chip.Mix.BeeperSetting, 16384);
    // Each keystroke counts: "8", "80", "800", "8000" are levels, "80000" is not.
    Type(dialog().Edit1, "80000");
    EXPECT_EQ(chip.Mix.BeeperSetting, 8000);
    EXPECT_EQ(chip.Mix.BeeperAmplitude, ComputeBeeperAmplitude(8000, 20, VolumeSteps));
    EXPECT_EQ(dialog().Edit1->text(), "80000");
    Paste(dialog().Edit1, "0");
    EXPECT_EQ(chip.Mix.BeeperSetting, 0);
    EXPECT_EQ(chip.Mix.BeeperAmplitude, 0);
    dialog().Edit1->setText("777"); // not typed
    EXPECT_EQ(chip.Mix.BeeperSetting, 0);
}

TEST_F(Params, PriorityButtons) {
    QTest::mouseClick(dialog().RadioButton2, Qt::LeftButton);
    EXPECT_EQ(form().Settings.PriorityClass, HighPriorityClass);
    QTest::mouseClick(dialog().RadioButton1, Qt::LeftButton);
    EXPECT_EQ(form().Settings.PriorityClass, NormalPriorityClass);
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();

    // A system that does not let this user raise the priority: the buttons
    // show the class in force, the choice is kept for saving, and the reason
    // with its remedy is told once per run, however it is asked for again.
    std::vector<int> asked;
    form().Settings.NiceSetter = [&asked](int niceValue) {
        asked.push_back(niceValue);
        return niceValue < 0 ? EPERM : 0;
    };
    QTest::mouseClick(dialog().RadioButton2, Qt::LeftButton);
    EXPECT_TRUE(dialog().RadioButton1->isChecked());
    EXPECT_EQ(form().Settings.PriorityClass, HighPriorityClass);
    EXPECT_EQ(form().Settings.PriorityInForce, NormalPriorityClass);
    QTest::mouseClick(dialog().RadioButton2, Qt::LeftButton);
    bed.Batch({"/rh"});
    EXPECT_TRUE(dialog().RadioButton1->isChecked());
    ASSERT_EQ(bed.Messages.Messages.size(), 1u) << bed.MessageList();
    const auto& m = bed.Messages.Messages[0];
    EXPECT_EQ(m.Caption, "Zirrafon");
    EXPECT_EQ(m.Icon, MessageIcon::Warning);
    EXPECT_EQ(m.Owner, bed.Form.get());
    for (const QString& part :
         {QString::fromLocal8Bit(std::strerror(EPERM)), QStringLiteral("high priority"),
          QStringLiteral("CAP_SYS_NICE"), QStringLiteral("RLIMIT_NICE"),
          QStringLiteral("@audio - nice -10"), QStringLiteral("/etc/security/limits.conf")})
        EXPECT_TRUE(m.Text.contains(part)) << part.toStdString() << " in " << m.Text.toStdString();
    QTest::mouseClick(dialog().Button3, Qt::LeftButton);
    EXPECT_EQ(Stored().toString(), " /rh");

    // Back to normal, which the system always allows.
    QTest::mouseClick(dialog().RadioButton1, Qt::LeftButton);
    EXPECT_EQ(form().Settings.PriorityClass, NormalPriorityClass);
    EXPECT_EQ(asked, (std::vector<int>{-10, -10, -10, 0}));
    EXPECT_EQ(bed.Messages.Messages.size(), 1u);
    form().Settings.NiceSetter = SetProcessNice; // `asked` goes before the bed
}

TEST_F(Params, LoadAndStandardSkin) {
    const QString skin = bed.WriteSkin("skin.bmp");
    QStringList answers = {"", DemoSong("demo.ay"), skin, "", ""};
    QStringList offered; // where the dialog started, each time
    dialog().OpenDialog1.Chooser = [&](const FileOpenDialog& d, QWidget* owner) {
        EXPECT_EQ(owner, bed.Dialog);
        offered << d.InitialDir;
        return answers.takeFirst();
    };
    // "Standard" with the built-in skin in use does nothing.
    QTest::mouseClick(dialog().Button6, Qt::LeftButton);
    EXPECT_TRUE(bed.SkinLoads.empty());

    QTest::mouseClick(dialog().Button5, Qt::LeftButton); // cancelled
    EXPECT_TRUE(bed.SkinLoads.empty());
    QTest::mouseClick(dialog().Button5, Qt::LeftButton); // not a bitmap
    EXPECT_TRUE(dialog().Edit2->text().isEmpty());
    QTest::mouseClick(dialog().Button5, Qt::LeftButton);
    EXPECT_EQ(dialog().Edit2->text(), skin);
    EXPECT_EQ(bed.FaceSkin.SkinBitmap.pixelColor(5, 5), QColor(10, 120, 200));

    QTest::mouseClick(dialog().Button5, Qt::LeftButton); // cancelled

    QTest::mouseClick(dialog().Button6, Qt::LeftButton);
    EXPECT_TRUE(dialog().Edit2->text().isEmpty());
    EXPECT_NE(bed.FaceSkin.SkinBitmap.pixelColor(5, 5), QColor(10, 120, 200));
    QTest::mouseClick(dialog().Button5, Qt::LeftButton); // cancelled
    // Home until a skin file is in use, then that file's folder.
    const QString home = QDir::homePath();
    EXPECT_EQ(offered, (QStringList{home, home, home, bed.Root.path(), home}));
    EXPECT_EQ(bed.SkinLoads, (std::vector<std::pair<int, QString>>{
                                 {1, DemoSong("demo.ay")}, {1, skin}, {0, QString()}}));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Params, DefaultResetsTheSettingsButNotVolumeOrAssociations) {
    const QString skin = bed.WriteSkin("skin.bmp");
    bed.Batch({"/hYMBAC", "/u100", "/rh", "/p" + skin});
    form().Settings.Volume = 20;
    QTest::mouseClick(dialog().CheckBox1, Qt::LeftButton);
    ASSERT_TRUE(dialog().AyAssociated) << bed.MessageList();

    QTest::mouseClick(dialog().Button2, Qt::LeftButton);
    EXPECT_EQ(dialog().Edit1->text(), "16384");
    EXPECT_EQ(form().Playback->Engine.Chip.Mix.BeeperSetting, 16384);
    EXPECT_EQ(form().Playback->Engine.Chip.Mix.BeeperAmplitude,
              ComputeBeeperAmplitude(16384, 20, VolumeSteps));
    EXPECT_EQ(dialog().ComboBox1->currentIndex(), 2);
    EXPECT_EQ(form().Settings.ChipMode, 2);
    EXPECT_TRUE(dialog().RadioButton1->isChecked());
    EXPECT_EQ(form().Settings.PriorityClass, NormalPriorityClass);
    EXPECT_TRUE(dialog().Edit2->text().isEmpty());
    EXPECT_EQ(bed.SkinLoads.back(), std::make_pair(0, QString()));
    EXPECT_EQ(form().Settings.Volume, 20);
    EXPECT_TRUE(dialog().CheckBox1->isChecked());
    EXPECT_TRUE(dialog().AyAssociated);
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

// ---- Saving and removing --------------------------------------------------------------

TEST_F(Params, SavedStringsAndTheirWayBack) {
    const QString skin = bed.WriteSkin("my skins.bmp"); // a blank in the path
    dialog().ComboBox1->setFocus();
    QTest::keyClick(dialog().ComboBox1, Qt::Key_Down); // YM2149F ABC Stereo
    Type(dialog().Edit1, "8000");
    QTest::mouseClick(dialog().RadioButton2, Qt::LeftButton);
    bed.Batch({"/p" + skin});
    QTest::mouseClick(dialog().Button3, Qt::LeftButton);
    EXPECT_EQ(Stored().toString(), "/hYMABC /u8000 /rh /p\"" + skin + "\"");

    // A new start applies them again.
    bed.MakePlayer();
    bed.Batches->CheckCommandLineAndReg({});
    EXPECT_EQ(bed.Form->Settings.ChipMode, 3);
    EXPECT_EQ(bed.Dialog->ComboBox1->currentIndex(), 3);
    EXPECT_EQ(bed.Form->Playback->Engine.Chip.Mix.BeeperSetting, 8000);
    EXPECT_EQ(bed.Form->Settings.PriorityClass, HighPriorityClass);
    EXPECT_TRUE(bed.Dialog->RadioButton2->isChecked());
    EXPECT_EQ(bed.Dialog->Edit2->text(), skin);

    // Only the level differs: a leading blank.
    bed.Form->Playback->SetPriority(NormalPriorityClass);
    bed.Dialog->RadioButton1->setChecked(true);
    bed.Form->Settings.SetChipMode(2);
    bed.Form->Settings.SetSkinFile(QString());
    QTest::mouseClick(bed.Dialog->Button3, Qt::LeftButton);
    EXPECT_EQ(Stored().toString(), " /u8000");

    // All defaults: the value goes.
    QTest::mouseClick(bed.Dialog->Button2, Qt::LeftButton);
    QTest::mouseClick(bed.Dialog->Button3, Qt::LeftButton);
    EXPECT_FALSE(Stored().isValid());
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Params, SavingTheDefaultsFromScratchWritesNothing) {
    QTest::mouseClick(dialog().Button3, Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(bed.ConfigHome() + "/Ostrowind"));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Params, SavingDropsTheEarlierVersionsGroupOnly) {
    WriteSettingsFile("[Beta%206]\nStartup=/hAYMONO\n\n[Other]\nkey=kept\n");
    bed.Batch({"/u9"});
    QTest::mouseClick(dialog().Button3, Qt::LeftButton);
    QSettings settings(bed.SettingsFile(), QSettings::IniFormat);
    EXPECT_EQ(settings.childGroups(), (QStringList{"1.0", "Other"}));
    EXPECT_EQ(settings.value("1.0/Startup").toString(), " /u9");
    EXPECT_EQ(settings.value("Other/key").toString(), "kept");
}

TEST_F(Params, RemovingDeletesTheFileAndFolderOnlyWhenNothingElseIsLeft) {
    const QString folder = bed.ConfigHome() + "/Ostrowind";
    // Only our groups: file and folder go.
    WriteSettingsFile("[1.0]\nStartup=/u1\n\n[Beta%206]\nStartup=/u2\n");
    QTest::mouseClick(dialog().Button4, Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(bed.SettingsFile()));
    EXPECT_FALSE(QFileInfo::exists(folder));

    // Another group in the file: the file stays without ours.
    WriteSettingsFile("[1.0]\nStartup=/u1\n\n[Other]\nkey=kept\n");
    QTest::mouseClick(dialog().Button4, Qt::LeftButton);
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
    QTest::mouseClick(dialog().Button4, Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(bed.SettingsFile()));
    EXPECT_TRUE(QFileInfo::exists(folder + "/Other.conf"));

    // Nothing stored at all: nothing to do, nothing said.
    QDir(folder).removeRecursively();
    QTest::mouseClick(dialog().Button4, Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
}

TEST_F(Params, RemovingAlsoEndsBothAssociations) {
    QTest::mouseClick(dialog().CheckBox1, Qt::LeftButton);
    QTest::mouseClick(dialog().CheckBox2, Qt::LeftButton);
    ASSERT_TRUE(dialog().AyAssociated && dialog().AymAssociated) << bed.MessageList();
    FileAssociation association = OwnAssociation();
    association.RegPathOk = true;
    const auto shows = [&association](const char* extension, bool associated) {
        return Eventually([&] { return association.CheckRegistration(extension) == associated; });
    };
    ASSERT_TRUE(shows(".ay", true) && shows(".aym", true));
    ASSERT_TRUE(Eventually([&] { return association.CheckRegPath(); }));

    QTest::mouseClick(dialog().Button4, Qt::LeftButton);
    EXPECT_FALSE(dialog().AyAssociated);
    EXPECT_FALSE(dialog().AymAssociated);
    EXPECT_FALSE(dialog().CheckBox1->isChecked());
    EXPECT_FALSE(dialog().CheckBox2->isChecked());
    EXPECT_TRUE(shows(".ay", false));
    EXPECT_TRUE(shows(".aym", false));
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();

    // Clearing a box whose extension is associated ends that association.
    QTest::mouseClick(dialog().CheckBox1, Qt::LeftButton);
    ASSERT_TRUE(shows(".ay", true));
    QTest::mouseClick(dialog().CheckBox1, Qt::LeftButton);
    EXPECT_FALSE(dialog().AyAssociated);
    EXPECT_TRUE(shows(".ay", false));
}

// ---- Errors -----------------------------------------------------------------------------

TEST_F(Params, AFileWhereTheSettingsFolderBelongsIsReportedWithItsNumber) {
    QFile blocker(bed.ConfigHome() + "/Ostrowind");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    bed.Batch({"/u8000"});
    QTest::mouseClick(dialog().Button3, Qt::LeftButton);
    ASSERT_EQ(bed.Messages.Messages.size(), 1u) << bed.MessageList();
    const auto& m = bed.Messages.Messages[0];
    EXPECT_EQ(m.Caption, QString::fromUtf8("Ошибка работы с реестром #%1").arg(ENOTDIR));
    EXPECT_EQ(m.Caption, QString::fromUtf8("Ошибка работы с реестром #20"));
    EXPECT_EQ(m.Text, QString::fromLocal8Bit(std::strerror(ENOTDIR)));
    EXPECT_EQ(m.Icon, MessageIcon::Information);
    EXPECT_EQ(m.Owner, bed.Dialog);

    // Nothing to remove there: no message, the user's file stays.
    QTest::mouseClick(dialog().Button4, Qt::LeftButton);
    EXPECT_EQ(bed.Messages.Messages.size(), 1u) << bed.MessageList();
    EXPECT_TRUE(QFileInfo(bed.ConfigHome() + "/Ostrowind").isFile());
}

TEST_F(Params, AnErrorWhileRemovingEndsTheOperation) {
    QTest::mouseClick(dialog().CheckBox1, Qt::LeftButton);
    ASSERT_TRUE(dialog().AyAssociated) << bed.MessageList();
    QDir().mkpath(bed.SettingsFile()); // a folder where the file belongs
    QTest::mouseClick(dialog().Button4, Qt::LeftButton);
    ASSERT_EQ(bed.Messages.Messages.size(), 1u) << bed.MessageList();
    EXPECT_EQ(bed.Messages.Messages[0].Caption,
              QString::fromUtf8("Ошибка работы с реестром #%1").arg(EISDIR));
    EXPECT_EQ(bed.Messages.Messages[0].Text, QString::fromLocal8Bit(std::strerror(EISDIR)));
    // The associations were not touched.
    EXPECT_TRUE(dialog().AyAssociated);
    EXPECT_TRUE(dialog().CheckBox1->isChecked());
}

TEST_F(Params, AssociationErrorsUseTheSameBox) {
    // mimeapps.list cannot be written where a folder stands in its place.
    QDir().mkpath(bed.ConfigHome() + "/mimeapps.list");
    QTest::mouseClick(dialog().CheckBox1, Qt::LeftButton);
    EXPECT_TRUE(dialog().CheckBox1->isChecked()); // the box keeps what the user gave it
    EXPECT_FALSE(dialog().AyAssociated);
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
