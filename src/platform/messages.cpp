// The message seam: a modal box, or the handler installed on the application.
#include "platform/messages.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QVariant>

namespace {

constexpr const char* HandlerProperty = "zirrafonMessageHandler";

MessageHandler* InstalledHandler() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return nullptr;
    QObject* object = app->property(HandlerProperty).value<QPointer<QObject>>().data();
    return qobject_cast<MessageHandler*>(object);
}

} // namespace

MessageHandler::~MessageHandler() { Uninstall(); }

void MessageHandler::Install() {
    if (QCoreApplication* app = QCoreApplication::instance())
        app->setProperty(HandlerProperty, QVariant::fromValue(QPointer<QObject>(this)));
}

void MessageHandler::Uninstall() {
    if (!IsInstalled()) return;
    QCoreApplication::instance()->setProperty(HandlerProperty, QVariant());
}

bool MessageHandler::IsInstalled() const { return InstalledHandler() == this; }

void ShowMessage(QWidget* owner, const QString& text, const QString& caption, MessageIcon icon) {
    if (MessageHandler* handler = InstalledHandler()) {
        handler->Show(owner, text, caption, icon);
        return;
    }
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case MessageIcon::None: boxIcon = QMessageBox::NoIcon; break;
    case MessageIcon::Warning: boxIcon = QMessageBox::Warning; break;
    case MessageIcon::Information: boxIcon = QMessageBox::Information; break;
    case MessageIcon::Error: boxIcon = QMessageBox::Critical; break;
    }
    // Lines of a message may be separated by a carriage return alone (the
    // About box's are); Qt's labels break lines only at a line feed.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(boxIcon, caption, shown, QMessageBox::Ok, owner);
    box.exec();
}
