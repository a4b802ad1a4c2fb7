// The desktop's folders for the widget tests: one throwaway set for the whole
// process (tests/ui/main.cpp makes it before anything else runs), because
// GLib reads the XDG variables once per process and the association checks
// ask GIO. Tests empty the folders instead of pointing elsewhere.
//
//   $XDG_DATA_HOME    ROOT/data            the user's entries, MIME definitions
//   $XDG_CONFIG_HOME  ROOT/config          mimeapps.list, the settings file
//   $XDG_DATA_DIRS    ROOT/system          what a package installs (/usr/share)
//   $XDG_CONFIG_DIRS  ROOT/system-config
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QThread>

// GIO names a field "signals", which Qt's keyword macro would replace.
#pragma push_macro("signals")
#undef signals
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <functional>

inline QString DataHome() { return qEnvironmentVariable("XDG_DATA_HOME"); }
inline QString ConfigHome() { return qEnvironmentVariable("XDG_CONFIG_HOME"); }
inline QString SystemData() { return qEnvironmentVariable("XDG_DATA_DIRS"); }

// Polls `done` for up to `ms`: GIO in this process learns of changed files
// through file monitors, a moment after they changed.
inline bool Eventually(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done()) return true;
        if (clock.elapsed() > ms) return false;
        QThread::msleep(5);
    }
}

// Empties the desktop's folders and waits until GIO here has noticed: no
// zirrafon.desktop, no default for either type.
inline bool ResetDesktopFolders() {
    for (const QString& folder :
         {DataHome(), ConfigHome(), SystemData(), qEnvironmentVariable("XDG_CONFIG_DIRS")}) {
        QDir dir(folder);
        for (const QString& name :
             dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
            const QString path = dir.filePath(name);
            if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
                QDir(path).removeRecursively();
            else
                QFile::remove(path);
        }
    }
    return Eventually([] {
        GDesktopAppInfo* entry = g_desktop_app_info_new("zirrafon.desktop");
        if (entry != nullptr) {
            g_object_unref(entry);
            return false;
        }
        for (const char* type : {"audio/x-zxay", "audio/x-aym"}) {
            GAppInfo* app = g_app_info_get_default_for_type(type, FALSE);
            if (app != nullptr) {
                g_object_unref(app);
                return false;
            }
        }
        return true;
    });
}
