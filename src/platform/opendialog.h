// The file-open dialog of the main window: a title, a filter in the
// "Name|patterns|Name|patterns" form, an initial folder that follows the last
// file opened, and the chosen name.
//
// The dialog itself is QFileDialog (modal). `Chooser` replaces it when set:
// tests answer the dialog without ever showing a modal window, which would
// block forever under the offscreen platform.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

class FileOpenDialog {
  public:
    QString Title;
    QString Filter;     // "All supported files|*.ay;*.aym|..."
    QString InitialDir; // where the dialog starts (a save dialog: the name it suggests)
    bool Save = false;  // asks for a file to write instead of one to open
    QString FileName;   // the chosen file after Execute returned true

    // Returns the chosen file, or an empty string when the user cancelled.
    using ChooserFn = std::function<QString(const FileOpenDialog& dialog, QWidget* owner)>;
    ChooserFn Chooser;

    // Shows the dialog; true when a file was chosen (then in `FileName`).
    bool Execute(QWidget* owner);
};

// "A|*.x;*.y|B|*.z" -> "A (*.x *.y);;B (*.z)", the form QFileDialog takes.
QString QtFileDialogFilter(const QString& filter);
