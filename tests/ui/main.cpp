// Entry point of the widget tests: one QApplication for all of them, on the
// offscreen platform unless the environment chooses another, and one
// throwaway set of desktop folders (tests/ui/desktop_folders.h), named before
// anything can read the XDG variables, so no test reads or writes the user's.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir desktop;
    if (!desktop.isValid()) return 2;
    const struct {
        const char* Variable;
        const char* Folder;
    } folders[] = {{"XDG_DATA_HOME", "data"},
                   {"XDG_CONFIG_HOME", "config"},
                   {"XDG_DATA_DIRS", "system"},
                   {"XDG_CONFIG_DIRS", "system-config"}};
    for (const auto& f : folders) {
        const QString path = desktop.filePath(QLatin1String(f.Folder));
        QDir().mkpath(path);
        qputenv(f.Variable, QFile::encodeName(path));
    }
    // xdg-mime and GIO read desktop-specific lists too; a desktop nobody has.
    qputenv("XDG_CURRENT_DESKTOP", "X-Generic");

    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
