// One player per user session: how a second start finds the running player
// and hands its arguments over, and how the running player takes them.
//
// What stands for what, against the window-message original:
//   finding the window of class "TForm1" with caption "Zirrafon v1.0"
//       -> connecting to a local (Unix domain) socket in $XDG_RUNTIME_DIR
//          whose name is made from that class and caption
//          (`InstanceServerPath`); the running player listens on it;
//   a synchronous WM_USER message (wParam, lParam)
//       -> one request of two 32-bit integers on that socket, answered by a
//          one-byte acknowledgement once the player has handled it; the
//          sender waits for the acknowledgement before it goes on;
//   the paging-file section "Zirrafon_Area"
//       -> a QSharedMemory area of 261 bytes whose key file is
//          $XDG_RUNTIME_DIR/Zirrafon_Area, so that it belongs to the session
//          like the socket.
//
// Where it knowingly differs:
// - An area or socket left behind by a start that crashed must not block
//   later hand-overs. A System V area outlives its process, so when the
//   area already exists the sender attaches to it and detaches again: an
//   area nobody is attached to (no hand-over in progress) is destroyed by
//   that, and the sender creates it afresh; an area still attached to is a
//   hand-over in progress, and the sender gives up as before. The running
//   player replaces a socket file nobody answers on.
// - When a sender disappears in the middle of a hand-over, the player is
//   told (`InstanceServer::Abandoned`) so that it can let go of the area.
// - The receiver never reads past the area: it takes the text up to its
//   first NUL and at most 260 characters, also when a sender wrote no NUL.
// - A sender cuts an argument at 260 bytes, but not inside the encoding of a
//   character (UTF-8): it then keeps the whole characters before the cut.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSharedMemory>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLocalServer;
class QLocalSocket;

// The batch messages of the hand-over (wParam, lParam).
namespace Batch {
constexpr int BeginLocal = 1;    // (0, 1): begin a batch of the player itself
constexpr int BeginHandOver = 2; // (0, 2): begin a hand-over batch, open the area
constexpr int EndHandOver = 3;   // (0, 3): end a hand-over batch, close the area
// (1, 0): one argument; (0, 0): end of a local batch.
} // namespace Batch

constexpr int HandOverAreaSize = 261; // bytes of the area
constexpr int HandOverTextMax = 260;  // characters of one argument in the area

// The folder of the session's runtime files: $XDG_RUNTIME_DIR when it is an
// absolute path, else Qt's fallback for it.
QString SessionRuntimeFolder();
// The identity of the player's main window, from which the socket is named.
constexpr const char* PlayerWindowClass = "TForm1";
constexpr const char* PlayerWindowCaption = "Zirrafon v1.0";
// The socket the running player listens on.
QString InstanceServerPath();
// The native key (a file path) of the hand-over area.
QString HandOverAreaKey();

// The player's side of the area for one hand-over batch.
class HandOverArea {
  public:
    // Attaches to the area; false when it does not exist or cannot be mapped.
    bool Open();
    void Close();
    bool IsOpen() const { return Memory && Memory->isAttached(); }
    // The argument in the area: up to its first NUL, at most 260 characters,
    // never past the mapped bytes. Empty when the area is not open.
    QByteArray Text() const;

  private:
    std::optional<QSharedMemory> Memory; // a fresh one for each batch
};

// The sender's area, created for the duration of one hand-over.
class HandOverSender {
  public:
    enum class Result {
        Created, // the area is ours (a stale one was recovered if need be)
        Busy,    // another hand-over is in progress
        Failed,  // the area could not be created or mapped
    };
    Result Create();
    // Writes the first min(length, 260) bytes of `argument` and a NUL.
    void Write(const QByteArray& argument);
    void Release();

  private:
    // A QSharedMemory that failed to create cannot create again: each try
    // gets a fresh one.
    std::optional<QSharedMemory> Memory;
    bool TryCreate();
};

// Cuts an argument to what the area carries: 260 bytes, backed off to the
// start of a UTF-8 character when the cut would split one.
QByteArray CutForHandOver(const QByteArray& argument);

// The session-wide lock under which a start decides whether it hands over or
// becomes the player (an flock on a file beside the socket), so that two
// starts at the same moment never both become players.
class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock() { Release(); }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Waits for the lock; without a runtime folder to lock in it goes on unlocked.
    void Acquire(const QString& serverPath = InstanceServerPath());
    void Release();

  private:
    int File = -1;
};

// A connection to the running player, made without any Qt event machinery
// (the second start has no application object).
class InstanceConnection {
  public:
    InstanceConnection() = default;
    ~InstanceConnection();
    InstanceConnection(const InstanceConnection&) = delete;
    InstanceConnection& operator=(const InstanceConnection&) = delete;

    // True when a player answers at `serverPath`.
    bool Connect(const QString& serverPath);
    // Sends one message and waits until the player has handled it. False
    // when the player went away.
    bool Send(int wParam, int lParam);
    void Disconnect();

  private:
    int Socket = -1;
};

// What became of a hand-over.
enum class HandOverOutcome {
    NothingToSend, // no arguments: the player was not contacted
    Delivered,     // the end message was acknowledged
    AreaBusy,      // another hand-over is in progress: nothing was sent
    AreaFailed,    // the area could not be made: nothing was sent
    PlayerLost,    // the player went away during the hand-over
};

// The whole hand-over of a second start: area, begin, each argument, end.
HandOverOutcome HandOver(InstanceConnection& connection, const QList<QByteArray>& arguments);

// The running player's listening end. Each complete request is passed to
// `Handler` on the GUI thread; the acknowledgement goes back when it returns.
class InstanceServer : public QObject {
    Q_OBJECT
  public:
    using Handler = std::function<void(int wParam, int lParam)>;

    InstanceServer(Handler handler, QObject* parent = nullptr);
    ~InstanceServer() override;

    // Listens at `path`, replacing a socket file that nobody answers on.
    bool Listen(const QString& path = InstanceServerPath());
    QString ServerPath() const;

    // Called when a sender that began a hand-over batch disconnects before
    // its end message.
    std::function<void()> Abandoned;

  private:
    struct Peer;
    void Accept();
    void Serve(Peer* peer);
    void Drop(Peer* peer);

    Handler OnMessage;
    QLocalServer* Server = nullptr;
    std::vector<std::unique_ptr<Peer>> Peers;
};

// Makes the arguments of a start independent of its working folder, before
// anything else happens (the player later works in its own folder and a
// hand-over carries them to another process): a plain argument becomes an
// absolute path against `startFolder`, and so does the path of a "/p" option.
//
// On this system an absolute path also begins with "/", the option prefix.
// The rule: an argument that names an existing file is a file. Otherwise an
// argument beginning with "/" is an option (unknown ones are ignored by the
// player), anything else is a file name relative to `startFolder`. So
// "/hYMACB" stays an option and "/home/user/song.ay" a file. "--enqueue" and
// "-e" stay as they are.
QStringList AbsoluteArguments(const QStringList& arguments, const QString& startFolder);
