// The one seam through which the player shows a message box: wave-device
// failures, song-format errors, I/O errors, the About box and settings errors
// all go through `ShowMessage`.
//
// Normally it shows a modal QMessageBox with only an OK button. A handler
// installed on the application object takes the messages instead; tests use
// `MessageRecorder` so that no modal box ever blocks them (under the offscreen
// platform a modal box would wait forever).
//
// Where the handler lives: on the QCoreApplication object, as a dynamic
// property holding a guarded pointer. The application object is the one
// per-process object Qt already forces on us, so the seam needs no global
// variable of its own, and a handler that is destroyed uninstalls itself.
#pragma once

#include "platform/message_icon.h"

#include <QObject>
#include <QString>
#include <QWidget>
#include <vector>

// Receives every message shown through the seam while it is installed.
class MessageHandler : public QObject {
    Q_OBJECT
  public:
    explicit MessageHandler(QObject* parent = nullptr) : QObject(parent) {}
    ~MessageHandler() override;

    virtual void Show(QWidget* owner, const QString& text, const QString& caption,
                      MessageIcon icon) = 0;

    // Makes this the handler of the running application (replacing any other)
    // until `Uninstall` or destruction.
    void Install();
    void Uninstall();
    bool IsInstalled() const;
};

// Keeps every message it is given, in order.
class MessageRecorder final : public MessageHandler {
    Q_OBJECT
  public:
    struct Message {
        QWidget* Owner;
        QString Text;
        QString Caption;
        MessageIcon Icon;
    };

    explicit MessageRecorder(QObject* parent = nullptr) : MessageHandler(parent) {}

    void Show(QWidget* owner, const QString& text, const QString& caption,
              MessageIcon icon) override {
        Messages.push_back({owner, text, caption, icon});
    }

    std::vector<Message> Messages;
};

// Shows `text` in a box captioned `caption`, owned by `owner` (may be null),
// with only an OK button; returns when the box is closed.
void ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                 MessageIcon icon = MessageIcon::None);
