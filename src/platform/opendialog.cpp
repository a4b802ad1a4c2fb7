// The file-open dialog on QFileDialog, with its filter translated.
#include "platform/opendialog.h"

#include <QFileDialog>
#include <QStringList>

QString QtFileDialogFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) p = p.trimmed();
        entries << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return entries.join(QStringLiteral(";;"));
}

bool FileOpenDialog::Execute(QWidget* owner) {
    QString chosen;
    if (Chooser) {
        chosen = Chooser(*this, owner);
    } else if (Save) {
        chosen = QFileDialog::getSaveFileName(owner, Title, InitialDir, QtFileDialogFilter(Filter));
    } else {
        chosen = QFileDialog::getOpenFileName(owner, Title, InitialDir, QtFileDialogFilter(Filter));
    }
    if (chosen.isEmpty()) return false;
    FileName = chosen;
    return true;
}
