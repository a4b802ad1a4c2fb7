// File-type association in the tests' throwaway XDG folders
// (desktop_folders.h): the desktop entry, the MIME definitions and
// mimeapps.list, checked against what the desktop's own tools (xdg-mime, gio)
// answer in the same folders.
#include "platform/association.h"

#include "desktop_folders.h"
#include "player_bed.h"

#include <QCheckBox>
#include <QTest>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string ReadText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return "<missing>";
    return file.readAll().toStdString();
}

void WriteText(const QString& path, const std::string& text, bool executable = false) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(text.data(), static_cast<qint64>(text.size()));
    file.close();
    if (executable) file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) return "<did not finish>";
    return process.readAllStandardOutput().trimmed().toStdString();
}

// What the desktop opens the type with, as xdg-mime answers.
std::string XdgDefault(const char* mime) { return RunTool("xdg-mime", {"query", "default", mime}); }

// ... and as GIO answers in a process of its own (file managers).
std::string GioDefault(const char* mime) {
    const std::string out = RunTool("gio", {"mime", mime});
    const size_t colon = out.find(": ");
    if (out.rfind("Default application", 0) != 0 || colon == std::string::npos) return "";
    return out.substr(colon + 2, out.find('\n') - colon - 2);
}

// A user's mimeapps.list with entries of other programs, in the layout GLib
// writes it.
constexpr const char* OthersList = "# set by the desktop\n"
                                   "\n"
                                   "[Default Applications]\n"
                                   "text/plain=vim.desktop\n"
                                   "audio/x-zxay=other.desktop\n"
                                   "\n"
                                   "[Added Associations]\n"
                                   "text/plain=vim.desktop;other.desktop;\n";

class AssociationTest : public ::testing::Test {
  protected:
    QTemporaryDir Root; // the programs
    QString Data = DataHome(), Config = ConfigHome(), System = SystemData(), Program;
    QByteArray OldPath = qgetenv("PATH");
    std::vector<std::pair<int, std::string>> Errors;

    void SetUp() override {
        ASSERT_TRUE(Root.isValid());
        ASSERT_TRUE(ResetDesktopFolders()) << "GIO still sees the previous test's files";
        Program = Root.filePath("bin/zirrafon");
        WriteText(Program, "#!/bin/sh\n", true);
        // The desktop finds a bare program name where the shell would.
        qputenv("PATH", QFile::encodeName(Root.filePath("bin")) + ":" + OldPath);
        // Another player, installed system-wide, that also handles .ay files.
        WriteText(System + "/applications/other.desktop",
                  "[Desktop Entry]\nType=Application\nName=Other\nExec=cat %f\n"
                  "MimeType=audio/x-zxay;\n");
        Installed();
    }
    void TearDown() override { qputenv("PATH", OldPath); }

    // Refreshes the installed entries' cache, as a package's trigger does.
    void Installed() const { RunTool("update-desktop-database", {System + "/applications"}); }

    FileAssociation Make(const QString& program) {
        return FileAssociation(program.toStdString(), [this](int code, const std::string& text) {
            Errors.emplace_back(code, text);
        });
    }

    QString MimeApps() const { return Config + "/mimeapps.list"; }

    // The answer of a check once GIO in this process has caught up.
    static bool Shows(const std::function<bool()>& check, bool expected) {
        return Eventually([&] { return check() == expected; });
    }
};

// Associating takes the type over from another program and keeps that
// program; associating again keeps it too; unassociating gives it back and
// leaves the user's list as it was. xdg-mime agrees at every step.
TEST_F(AssociationTest, AssociatingKeepsAndRestoresAnotherProgramsDefault) {
    WriteText(MimeApps(), OthersList);
    ASSERT_EQ(XdgDefault("audio/x-zxay"), "other.desktop");

    FileAssociation assoc = Make(Program);
    assoc.RegPathOk = assoc.CheckRegPath();
    EXPECT_FALSE(assoc.RegPathOk);
    EXPECT_FALSE(assoc.CheckRegistration(".ay"));

    // The "AY" box ticked.
    EXPECT_TRUE(assoc.CreateZirrafonPath());
    EXPECT_TRUE(Shows([&] { return assoc.CheckRegPath(); }, true));
    EXPECT_FALSE(assoc.CheckRegistration(".ay"));
    EXPECT_TRUE(assoc.RegisterFile(".ay"));
    EXPECT_TRUE(Shows([&] { return assoc.CheckRegistration(".ay"); }, true));
    EXPECT_FALSE(assoc.CheckRegistration(".aym"));
    EXPECT_EQ(XdgDefault("audio/x-zxay"), "zirrafon.desktop");
    const std::string associated = ReadText(MimeApps());
    EXPECT_NE(associated.find("[Before Zirrafon]\naudio/x-zxay=other.desktop\n"), std::string::npos)
        << associated;
    EXPECT_NE(associated.find("text/plain=vim.desktop;other.desktop;"), std::string::npos);

    // Associating again must not keep our own default as the previous one.
    EXPECT_TRUE(assoc.RegisterFile(".ay"));
    EXPECT_EQ(ReadText(MimeApps()), associated);

    // The box cleared.
    EXPECT_FALSE(assoc.UnRegisterFile(".ay"));
    EXPECT_TRUE(Shows([&] { return assoc.CheckRegistration(".ay"); }, false));
    EXPECT_EQ(XdgDefault("audio/x-zxay"), "other.desktop");
    EXPECT_EQ(ReadText(MimeApps()), OthersList);
    EXPECT_TRUE(Errors.empty()) << Errors.front().second;
}

// With no default before, associating and unassociating both types leaves no
// trace in the user's configuration, and the desktop answers as before.
TEST_F(AssociationTest, AssociatingWhereNothingWasSetLeavesNoTrace) {
    for (const bool listExisted : {false, true}) {
        SCOPED_TRACE(listExisted ? "list with other entries" : "no list");
        QFile::remove(MimeApps());
        QFile::remove(Q(FileAssociation::DesktopEntryPath()));
        const std::string before = "[Default Applications]\ntext/plain=vim.desktop\n";
        if (listExisted) WriteText(MimeApps(), before);

        FileAssociation assoc = Make(Program);
        ASSERT_TRUE(assoc.CreateZirrafonPath());
        const std::string ayBefore = XdgDefault("audio/x-zxay");
        const std::string aymBefore = XdgDefault("audio/x-aym");

        // Only "AY" ticked: .aym files are not the player's.
        EXPECT_TRUE(assoc.RegisterFile(".ay"));
        EXPECT_TRUE(Shows([&] { return assoc.CheckRegistration(".ay"); }, true));
        EXPECT_FALSE(assoc.CheckRegistration(".aym"));
        EXPECT_EQ(XdgDefault("audio/x-zxay"), "zirrafon.desktop");
        EXPECT_EQ(XdgDefault("audio/x-aym"), aymBefore);
        EXPECT_TRUE(assoc.RegisterFile(".aym"));
        EXPECT_TRUE(Shows([&] { return assoc.CheckRegistration(".aym"); }, true));
        EXPECT_TRUE(assoc.CheckRegistration(".ay"));
        EXPECT_EQ(XdgDefault("audio/x-zxay"), "zirrafon.desktop");
        EXPECT_EQ(XdgDefault("audio/x-aym"), "zirrafon.desktop");
        EXPECT_EQ(ReadText(MimeApps()).find("Before Zirrafon"), std::string::npos);

        // "Remove parameters" unassociates both.
        EXPECT_FALSE(assoc.UnRegisterFile(".ay"));
        EXPECT_FALSE(assoc.UnRegisterFile(".aym"));
        EXPECT_TRUE(Shows([&] { return assoc.CheckRegistration(".ay"); }, false));
        EXPECT_TRUE(Shows([&] { return assoc.CheckRegistration(".aym"); }, false));
        EXPECT_EQ(ReadText(MimeApps()), listExisted ? before : "<missing>");
        EXPECT_EQ(XdgDefault("audio/x-zxay"), ayBefore);
        EXPECT_EQ(XdgDefault("audio/x-aym"), aymBefore);
        EXPECT_EQ(aymBefore, "");
        EXPECT_EQ(ReadText(Q(assoc.DesktopEntryPath())).find("MimeType"), std::string::npos);

        // Unassociating what is not ours changes nothing, not even the layout.
        const std::string foreign = "[Default Applications]\naudio/x-zxay = other.desktop\n";
        WriteText(MimeApps(), foreign);
        EXPECT_FALSE(assoc.UnRegisterFile(".ay"));
        EXPECT_EQ(ReadText(MimeApps()), foreign);
    }
    EXPECT_TRUE(Errors.empty()) << Errors.front().second;
}

// A moved program no longer owns the entry: both boxes show cleared until a
// box is ticked again, which points the entry at the new place.
TEST_F(AssociationTest, MovedProgramIsNotTheRegisteredOne) {
    FileAssociation old = Make(Program);
    ASSERT_TRUE(old.CreateZirrafonPath());
    ASSERT_TRUE(old.RegisterFile(".ay"));

    const QString movedPath = Root.filePath("moved/zirrafon");
    WriteText(movedPath, "#!/bin/sh\n", true);
    QFile::remove(Program);
    FileAssociation moved = Make(movedPath);
    moved.RegPathOk = moved.CheckRegPath();
    EXPECT_FALSE(moved.RegPathOk);
    EXPECT_FALSE(moved.CheckRegistration(".ay")); // though mimeapps.list names us

    // Ticking "AY": the entry now runs the moved program.
    EXPECT_TRUE(moved.CreateZirrafonPath());
    EXPECT_TRUE(moved.RegisterFile(".ay"));
    EXPECT_TRUE(Shows([&] { return moved.CheckRegistration(".ay"); }, true));
    EXPECT_FALSE(old.CheckRegPath());
    EXPECT_EQ(XdgDefault("audio/x-zxay"), "zirrafon.desktop");
    EXPECT_EQ(ReadText(MimeApps()).find("Before Zirrafon"), std::string::npos);
    EXPECT_TRUE(Errors.empty()) << Errors.front().second;
}

// The open-command check ignores letter case (also beyond ASCII) and nothing
// else.
TEST_F(AssociationTest, OpenCommandComparisonIgnoresOnlyLetterCase) {
    const QString program = Root.filePath("Музыка/Zirrafon");
    WriteText(program, "#!/bin/sh\n", true);
    FileAssociation assoc = Make(program);
    ASSERT_TRUE(assoc.CreateZirrafonPath());
    EXPECT_TRUE(Shows([&] { return Make(Root.filePath("МУЗЫКА/ZIRRAFON")).CheckRegPath(); }, true));
    EXPECT_TRUE(Make(Root.filePath("музыка/zirrafon")).CheckRegPath());
    EXPECT_FALSE(Make(Root.filePath("Музыка/Zirrafon2")).CheckRegPath());
    EXPECT_FALSE(Make(Root.filePath("Музыка/Zirrafo")).CheckRegPath());

    // An entry edited by hand into other letter case still counts (where the
    // file system finds the program by it, as one that ignores case would).
    WriteText(program.toUpper(), "#!/bin/sh\n", true);
    const QString entry = Q(assoc.DesktopEntryPath());
    std::string text = ReadText(entry);
    const std::string exec = "Exec=" + program.toStdString() + " %F";
    const size_t at = text.find(exec);
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, exec.size(), "Exec=" + program.toUpper().toStdString() + " %f");
    WriteText(entry, text);
    EXPECT_TRUE(assoc.CheckRegPath());

    // An entry that does not hand the chosen file to the program does not
    // open files with it.
    WriteText(entry, "[Desktop Entry]\nType=Application\nName=Zirrafon\nExec=" +
                         program.toStdString() + "\n");
    EXPECT_FALSE(assoc.CheckRegPath());

    // No entry, or one without an Exec line or that does not parse: false,
    // and no message.
    WriteText(entry, "[Desktop Entry]\nType=Application\nName=Zirrafon\n");
    EXPECT_FALSE(assoc.CheckRegPath());
    WriteText(entry, "not a desktop entry\n");
    EXPECT_FALSE(assoc.CheckRegPath());
    QFile::remove(entry);
    EXPECT_FALSE(assoc.CheckRegPath());
    EXPECT_TRUE(Errors.empty()) << Errors.front().second;
}

// Paths the shell would split or expand are quoted and escaped so that the
// desktop runs exactly this program; plain paths stay unquoted.
TEST_F(AssociationTest, ExecLineQuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(FileAssociation::ExecLine("/usr/bin/zirrafon"), "/usr/bin/zirrafon %F");
    EXPECT_EQ(FileAssociation::ExecLine("/opt/100%/zirrafon"), "/opt/100%%/zirrafon %F");
    EXPECT_EQ(FileAssociation::ExecLine(R"(/opt/My "best" $HOME `x` \d/zirrafon)"),
              R"("/opt/My \"best\" \$HOME \`x\` \\d/zirrafon" %F)");
    EXPECT_EQ(FileAssociation::ExecLine("/opt/a;b/zirrafon"), "\"/opt/a;b/zirrafon\" %F");

    // GIO runs such a program by its entry...
    const QString quoted = Root.filePath(R"(My Player/"best" $x\y/zirrafon)");
    WriteText(quoted, "#!/bin/sh\n", true);
    ASSERT_TRUE(Make(quoted).CreateZirrafonPath());
    EXPECT_TRUE(Shows([&] { return Make(quoted).CheckRegPath(); }, true));
    // ... but takes no entry whose program path holds a "%" (it looks for the
    // program before undoing the doubling), so the desktop cannot run it.
    const QString program = Root.filePath(R"(My Player/50% "best" $x\y/zirrafon)");
    WriteText(program, "#!/bin/sh\n", true);
    FileAssociation assoc = Make(program);
    ASSERT_TRUE(assoc.CreateZirrafonPath());
    EXPECT_TRUE(Shows([&] { return assoc.CheckRegPath(); }, false));
    // In the file the key file format doubles the backslashes once more.
    const std::string text = ReadText(Q(assoc.DesktopEntryPath()));
    const std::string root = Root.path().toStdString();
    EXPECT_NE(text.find("Exec=\"" + root + R"(/My Player/50%% \\"best\\" \\$x\\\\y/zirrafon" %F)"),
              std::string::npos)
        << text;
    QProcess validate;
    validate.start("desktop-file-validate", {Q(assoc.DesktopEntryPath())});
    ASSERT_TRUE(validate.waitForFinished(20000));
    EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
    EXPECT_TRUE(Errors.empty()) << Errors.front().second;
}

// The per-user entry and MIME definitions are the installed ones with the
// program's own path, and the desktop recognises the song files by them.
TEST_F(AssociationTest, WrittenDefinitionsMatchTheInstalledOnesAndAreRecognised) {
    // Every type registered, one after the other ("YM" stands for three).
    FileAssociation assoc = Make(Program);
    for (const char* extension : {".ay", ".aym", ".ym", ".vtx", ".psg", ".pt3", ".pt2"}) {
        ASSERT_TRUE(assoc.CreateZirrafonPath());
        ASSERT_TRUE(assoc.RegisterFile(extension)) << extension;
    }

    // The program's own path, in the entry and in its "Add to playlist" action.
    std::string entry = ReadText(Q(assoc.DesktopEntryPath()));
    for (const std::string tail : {" %F\n", " --enqueue %F\n"}) {
        const std::string exec = "Exec=" + Program.toStdString() + tail;
        const size_t at = entry.find(exec);
        ASSERT_NE(at, std::string::npos) << entry;
        entry.replace(at, exec.size(), "Exec=zirrafon" + tail);
    }
    EXPECT_EQ(entry, ReadText(ZIRRAFON_SOURCE_DIR "/assets/zirrafon.desktop"));
    EXPECT_EQ(ReadText(Q(assoc.MimePackagePath())),
              ReadText(ZIRRAFON_SOURCE_DIR "/assets/zirrafon-mime.xml"));
    EXPECT_EQ(FileAssociation::MimeDefinitions(), ReadText(Q(assoc.MimePackagePath())));

    // update-mime-database built the user's MIME database from them.
    const std::string globs = ReadText(Data + "/mime/globs2");
    EXPECT_NE(globs.find(":audio/x-zxay:*.ay"), std::string::npos) << globs;
    EXPECT_NE(globs.find(":audio/x-aym:*.aym"), std::string::npos) << globs;
    EXPECT_NE(globs.find(":audio/x-psg:*.psg"), std::string::npos) << globs;
    EXPECT_NE(globs.find(":audio/x-pt2:*.pt2"), std::string::npos) << globs;
    EXPECT_NE(ReadText(Data + "/mime/generic-icons").find("audio/x-zxay:audio-x-generic"),
              std::string::npos);

    // A real song with an upper-case extension, an AYM file by its name, and
    // a renamed AY file by its content.
    const auto contentType = [](const QString& file) {
        return RunTool("gio", {"info", "-a", "standard::content-type", file});
    };
    EXPECT_NE(contentType(ZIRRAFON_TESTDATA_DIR "/ay/Alien8.AY").find("audio/x-zxay"),
              std::string::npos);
    WriteText(Root.filePath("tune.aym"), std::string("AYM0") + std::string(65, '\0'));
    EXPECT_NE(contentType(Root.filePath("tune.aym")).find("audio/x-aym"), std::string::npos);
    WriteText(Root.filePath("dump.bin"), std::string("PSG\x1a") + std::string(20, '\xff'));
    EXPECT_NE(contentType(Root.filePath("dump.bin")).find("audio/x-psg"), std::string::npos);
    QFile::copy(ZIRRAFON_TESTDATA_DIR "/pt3/megamix.pt3", Root.filePath("megamix.bin"));
    EXPECT_NE(contentType(Root.filePath("megamix.bin")).find("audio/x-pt3"), std::string::npos);
    QFile::copy(ZIRRAFON_TESTDATA_DIR "/ay/Exolon.AY", Root.filePath("exolon.bin"));
    EXPECT_NE(contentType(Root.filePath("exolon.bin")).find("audio/x-zxay"), std::string::npos);

    // GIO, which file managers use, picks the same default as xdg-mime.
    EXPECT_NE(RunTool("gio", {"mime", "audio/x-aym"}).find("zirrafon.desktop"), std::string::npos);
    EXPECT_TRUE(Errors.empty()) << Errors.front().second;
}

// A default given as a list counts as ours by its first entry; unassociating
// drops only that entry. A symbolic link to the list stays a link.
TEST_F(AssociationTest, ListValuedDefaultsAndLinkedListFile) {
    const QString target = Root.filePath("dotfiles/mimeapps.list");
    WriteText(target, "[Default Applications]\naudio/x-zxay=zirrafon.desktop;other.desktop;\n");
    QDir().mkpath(Config);
    ASSERT_TRUE(QFile::link(target, MimeApps()));

    FileAssociation assoc = Make(Program);
    ASSERT_TRUE(assoc.CreateZirrafonPath());
    EXPECT_TRUE(Shows([&] { return assoc.CheckRegistration(".ay"); }, true));
    EXPECT_EQ(GioDefault("audio/x-zxay"), "zirrafon.desktop");
    EXPECT_FALSE(assoc.UnRegisterFile(".ay"));
    EXPECT_TRUE(QFileInfo(MimeApps()).isSymLink());
    EXPECT_EQ(ReadText(target), "[Default Applications]\naudio/x-zxay=other.desktop;\n");
    EXPECT_EQ(XdgDefault("audio/x-zxay"), "other.desktop");

    // A list led by another program is kept whole as the previous default.
    WriteText(target, "[Default Applications]\naudio/x-zxay=other.desktop;zirrafon.desktop;\n");
    EXPECT_EQ(GioDefault("audio/x-zxay"), "other.desktop");
    EXPECT_TRUE(assoc.RegisterFile(".ay"));
    EXPECT_EQ(ReadText(target),
              "[Default Applications]\naudio/x-zxay=zirrafon.desktop\n\n"
              "[Before Zirrafon]\naudio/x-zxay=other.desktop;zirrafon.desktop;\n");
    EXPECT_FALSE(assoc.UnRegisterFile(".ay"));
    EXPECT_EQ(ReadText(target),
              "[Default Applications]\naudio/x-zxay=other.desktop;zirrafon.desktop;\n");
    EXPECT_TRUE(Errors.empty()) << Errors.front().second;
}

// Failures reach the error sink with their errno; a list that does not parse
// is reported and never overwritten.
TEST_F(AssociationTest, FailuresAreReportedAndBrokenListsKept) {
    FileAssociation assoc = Make(Program);
    ASSERT_TRUE(assoc.CreateZirrafonPath());
    assoc.RegPathOk = true;

    const std::string broken = "[Default Applications]\nthis line is no entry\n";
    WriteText(MimeApps(), broken);
    EXPECT_FALSE(assoc.RegisterFile(".ay"));
    EXPECT_FALSE(assoc.UnRegisterFile(".ay"));
    EXPECT_EQ(ReadText(MimeApps()), broken);
    ASSERT_EQ(Errors.size(), 2u);
    for (const auto& [code, text] : Errors) {
        EXPECT_EQ(code, EINVAL);
        EXPECT_NE(text.find("mimeapps.list"), std::string::npos) << text;
    }

    // The list is a folder: reading it fails with its own errno.
    Errors.clear();
    QFile::remove(MimeApps());
    QDir().mkpath(MimeApps());
    EXPECT_FALSE(assoc.RegisterFile(".ay"));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0].first, EISDIR);
    EXPECT_EQ(Errors[0].second.rfind(strerror(EISDIR), 0), 0u) << Errors[0].second;

    // The desktop entry cannot be written (a folder is in its place).
    Errors.clear();
    FileAssociation other = Make(Root.filePath("elsewhere/zirrafon"));
    QFile::remove(Q(other.DesktopEntryPath()));
    QDir().mkpath(Q(other.DesktopEntryPath()));
    EXPECT_FALSE(other.CreateZirrafonPath());
    EXPECT_FALSE(other.RegPathOk);
    ASSERT_FALSE(Errors.empty());
    EXPECT_EQ(Errors.back().first, EISDIR);
    // The desktop takes no folder for an entry: no entry, nothing to report.
    Errors.clear();
    EXPECT_FALSE(other.CheckRegPath());
    EXPECT_TRUE(Errors.empty());

    // A program path that is not UTF-8 cannot go into a desktop entry.
    Errors.clear();
    FileAssociation latin1("/opt/m\xfcsik/zirrafon", [this](int code, const std::string& text) {
        Errors.emplace_back(code, text);
    });
    EXPECT_FALSE(latin1.CreateZirrafonPath());
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0].first, EILSEQ);

    // Unknown extensions are refused, not mapped to some type.
    Errors.clear();
    EXPECT_FALSE(assoc.RegisterFile(".mp3"));
    EXPECT_EQ(FileAssociation::MimeTypeOf(".mp3"), "");
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0].first, EINVAL);
}

// The package installed: its entry (Exec=zirrafon %F, found through PATH)
// runs this program and claims both types, beside two other players, one
// listed before it and one after. The dialog shows what the desktop answers,
// and after every click `gio mime` and `xdg-mime query default` still agree
// with both boxes, and the dialog shown again shows the same.
TEST(InstalledPackage, EveryClickLeavesTheDesktopAnsweringAsTheBoxesShow) {
    PlayerBed bed;
    QTemporaryDir bin;
    ASSERT_TRUE(QFile::link(QCoreApplication::applicationFilePath(), bin.filePath("zirrafon")));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ":" + path);
    const QString apps = SystemData() + "/applications";
    WriteText(apps + "/zirrafon.desktop", ReadText(ZIRRAFON_SOURCE_DIR "/assets/zirrafon.desktop"));
    WriteText(apps + "/other.desktop", "[Desktop Entry]\nType=Application\nName=Other\n"
                                       "Exec=cat %f\nMimeType=audio/x-zxay;\n");
    WriteText(apps + "/zx-player.desktop", "[Desktop Entry]\nType=Application\nName=ZX\n"
                                           "Exec=cat %f\nMimeType=audio/x-zxay;audio/x-aym;\n");
    RunTool("update-desktop-database", {apps});

    ParametersDialog& dialog = *bed.Dialog;
    const struct {
        QCheckBox* Box;
        const char* Mime;
    } boxes[] = {{Control<QCheckBox>(dialog, "AyAssociationBox"), "audio/x-zxay"},
                 {Control<QCheckBox>(dialog, "AymAssociationBox"), "audio/x-aym"}};
    const auto agree = [&] {
        for (const auto& b : boxes) {
            const std::string want = b.Box->isChecked() ? "zirrafon.desktop" : "not zirrafon";
            const auto seen = [](const std::string& id) {
                return id == "zirrafon.desktop" ? id : std::string("not zirrafon");
            };
            EXPECT_EQ(seen(GioDefault(b.Mime)), want) << "gio mime " << b.Mime;
            EXPECT_EQ(seen(XdgDefault(b.Mime)), want) << "xdg-mime query default " << b.Mime;
        }
        const bool ay = Control<QCheckBox>(dialog, "AyAssociationBox")->isChecked(),
                   aym = Control<QCheckBox>(dialog, "AymAssociationBox")->isChecked();
        EXPECT_TRUE(Eventually([&] {
            dialog.OnShow();
            return Control<QCheckBox>(dialog, "AyAssociationBox")->isChecked() == ay &&
                   Control<QCheckBox>(dialog, "AymAssociationBox")->isChecked() == aym;
        })) << "shown again";
    };

    // "Other" comes before the installed entry for .ay files; nothing else
    // comes before it for .aym files.
    ASSERT_TRUE(Eventually([&] {
        dialog.OnShow();
        return dialog.Association().RegPathOk &&
               Control<QCheckBox>(dialog, "AymAssociationBox")->isChecked();
    }));
    EXPECT_FALSE(Control<QCheckBox>(dialog, "AyAssociationBox")->isChecked());
    agree();
    const struct {
        QCheckBox* Box;
        const char* Step;
    } clicks[] = {{Control<QCheckBox>(dialog, "AymAssociationBox"), "AYM cleared"},
                  {Control<QCheckBox>(dialog, "AyAssociationBox"), "AY ticked"},
                  {Control<QCheckBox>(dialog, "AymAssociationBox"), "AYM ticked"},
                  {Control<QCheckBox>(dialog, "AyAssociationBox"), "AY cleared"},
                  {Control<QCheckBox>(dialog, "AymAssociationBox"), "AYM cleared"},
                  {Control<QCheckBox>(dialog, "AyAssociationBox"), "AY ticked"},
                  {Control<QCheckBox>(dialog, "AyAssociationBox"), "AY cleared"}};
    for (const auto& click : clicks) {
        SCOPED_TRACE(click.Step);
        QTest::mouseClick(click.Box, Qt::LeftButton);
        agree();
    }
    EXPECT_TRUE(bed.Messages.Messages.empty()) << bed.MessageList();
    qputenv("PATH", path);
}

} // namespace
