// The hand-over between a second start and the running player (see
// single_instance.h): names, the shared area on both sides, the sender's
// blocking socket and the player's listening server.
#include "platform/single_instance.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// One request on the socket: wParam, lParam in this machine's byte order.
struct Request {
    int32_t WParam;
    int32_t LParam;
};
constexpr qsizetype RequestSize = sizeof(Request);
static_assert(RequestSize == 8);
constexpr char Acknowledgement = 0;

} // namespace

// ---- Names --------------------------------------------------------------------

QString SessionRuntimeFolder() {
    const QString env = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!env.isEmpty() && QDir::isAbsolutePath(env)) return env;
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString InstanceServerPath() {
    // "TForm1" and "Zirrafon v1.0" -> "TForm1-Zirrafon_v1.0".
    QString name = QString::fromLatin1(PlayerWindowClass) + QLatin1Char('-') +
                   QString::fromLatin1(PlayerWindowCaption);
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    return SessionRuntimeFolder() + QLatin1Char('/') + name;
}

QString HandOverAreaKey() { return SessionRuntimeFolder() + QStringLiteral("/Zirrafon_Area"); }

// ---- The area -----------------------------------------------------------------

bool HandOverArea::Open() {
    Memory.emplace();
    Memory->setNativeKey(HandOverAreaKey());
    if (Memory->attach(QSharedMemory::ReadOnly)) return true;
    Memory.reset();
    return false;
}

void HandOverArea::Close() {
    if (Memory && Memory->isAttached()) Memory->detach();
    Memory.reset();
}

QByteArray HandOverArea::Text() const {
    if (!IsOpen()) return QByteArray();
    const auto* data = static_cast<const char*>(Memory->constData());
    const auto limit =
        static_cast<size_t>(std::clamp<qsizetype>(Memory->size(), 0, HandOverTextMax));
    return QByteArray(data, static_cast<qsizetype>(strnlen(data, limit)));
}

QByteArray CutForHandOver(const QByteArray& argument) {
    if (argument.size() <= HandOverTextMax) return argument;
    auto continuation = [&](qsizetype i) {
        return (static_cast<unsigned char>(argument[i]) & 0xC0) == 0x80;
    };
    // A UTF-8 character is at most four bytes: back off at most three.
    qsizetype cut = HandOverTextMax;
    for (int step = 0; step < 3 && cut > 0 && continuation(cut); ++step) --cut;
    if (continuation(cut)) cut = HandOverTextMax; // not UTF-8: cut the bytes
    return argument.left(cut);
}

bool HandOverSender::TryCreate() {
    Memory.emplace();
    Memory->setNativeKey(HandOverAreaKey());
    return Memory->create(HandOverAreaSize);
}

HandOverSender::Result HandOverSender::Create() {
    if (TryCreate()) return Result::Created;
    if (Memory->error() != QSharedMemory::AlreadyExists) return Result::Failed;
    // Left behind by a start that crashed, or in use by a hand-over now.
    // Attaching and detaching destroys it when nobody else is attached.
    {
        QSharedMemory stale;
        stale.setNativeKey(HandOverAreaKey());
        if (stale.attach(QSharedMemory::ReadOnly)) stale.detach();
    }
    if (TryCreate()) return Result::Created;
    return Memory->error() == QSharedMemory::AlreadyExists ? Result::Busy : Result::Failed;
}

void HandOverSender::Write(const QByteArray& argument) {
    if (!Memory || !Memory->isAttached()) return;
    const QByteArray text = CutForHandOver(argument);
    auto* data = static_cast<char*>(Memory->data());
    std::memcpy(data, text.constData(), static_cast<size_t>(text.size()));
    data[text.size()] = '\0';
}

void HandOverSender::Release() {
    if (Memory && Memory->isAttached()) Memory->detach();
    Memory.reset();
}

// ---- The lock of the start-up ---------------------------------------------------

void InstanceLock::Acquire(const QString& serverPath) {
    Release();
    const QByteArray path = QFile::encodeName(serverPath + QStringLiteral(".lock"));
    File = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (File < 0) return;
    while (::flock(File, LOCK_EX) != 0)
        if (errno != EINTR) {
            Release();
            return;
        }
}

void InstanceLock::Release() {
    if (File >= 0) ::close(File); // closing lets go of the lock
    File = -1;
}

// ---- The sender's connection ---------------------------------------------------

InstanceConnection::~InstanceConnection() { Disconnect(); }

bool InstanceConnection::Connect(const QString& serverPath) {
    Disconnect();
    const QByteArray path = QFile::encodeName(serverPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    Socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (Socket < 0) return false;
    int result;
    do {
        result = ::connect(Socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        Disconnect();
        return false;
    }
    return true;
}

bool InstanceConnection::Send(int wParam, int lParam) {
    if (Socket < 0) return false;
    const Request request{wParam, lParam};
    const char* bytes = reinterpret_cast<const char*>(&request);
    size_t sent = 0;
    while (sent < sizeof request) {
        const ssize_t n = ::send(Socket, bytes + sent, sizeof request - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    // Like a synchronous window message: wait for as long as the player
    // takes (it may be showing a message box), unless it goes away.
    char answer;
    for (;;) {
        const ssize_t n = ::recv(Socket, &answer, 1, 0);
        if (n < 0 && errno == EINTR) continue;
        return n == 1;
    }
}

void InstanceConnection::Disconnect() {
    if (Socket >= 0) ::close(Socket);
    Socket = -1;
}

HandOverOutcome HandOver(InstanceConnection& connection, const QList<QByteArray>& arguments) {
    if (arguments.isEmpty()) return HandOverOutcome::NothingToSend;
    HandOverSender area;
    switch (area.Create()) {
    case HandOverSender::Result::Created: break;
    case HandOverSender::Result::Busy: return HandOverOutcome::AreaBusy;
    case HandOverSender::Result::Failed: return HandOverOutcome::AreaFailed;
    }
    bool ok = connection.Send(0, Batch::BeginHandOver);
    for (const QByteArray& argument : arguments) {
        if (!ok) break;
        area.Write(argument);
        ok = connection.Send(1, 0);
    }
    ok = ok && connection.Send(0, Batch::EndHandOver);
    area.Release();
    return ok ? HandOverOutcome::Delivered : HandOverOutcome::PlayerLost;
}

// ---- The player's server ---------------------------------------------------------

struct InstanceServer::Peer {
    QLocalSocket* Socket = nullptr;
    QByteArray Pending;     // bytes of a request not yet complete
    bool Busy = false;      // a request of this peer is being handled
    bool Dropped = false;   // the peer disconnected
    bool BatchOpen = false; // between its begin and end of a hand-over
};

InstanceServer::InstanceServer(Handler handler, QObject* parent)
    : QObject(parent), OnMessage(std::move(handler)) {}

InstanceServer::~InstanceServer() {
    if (Server) Server->close(); // removes the socket file
}

QString InstanceServer::ServerPath() const { return Server ? Server->fullServerName() : QString(); }

bool InstanceServer::Listen(const QString& path) {
    if (!Server) {
        Server = new QLocalServer(this);
        connect(Server, &QLocalServer::newConnection, this, &InstanceServer::Accept);
    }
    if (Server->listen(path)) return true;
    if (Server->serverError() != QAbstractSocket::AddressInUseError) return false;
    // A socket file of a player that crashed: nobody answers on it.
    InstanceConnection probe;
    if (probe.Connect(path)) return false; // another player is there
    QLocalServer::removeServer(path);
    return Server->listen(path);
}

void InstanceServer::Accept() {
    while (QLocalSocket* socket = Server->nextPendingConnection()) {
        auto peer = std::make_unique<Peer>();
        peer->Socket = socket;
        Peer* p = peer.get();
        Peers.push_back(std::move(peer));
        connect(socket, &QLocalSocket::readyRead, this, [this, p] { Serve(p); });
        connect(socket, &QLocalSocket::disconnected, this, [this, p] { Drop(p); });
        Serve(p);
    }
}

void InstanceServer::Serve(Peer* peer) {
    // A handler that shows a message box runs the event loop: requests that
    // arrive meanwhile wait until it has returned.
    if (peer->Busy || peer->Dropped) return;
    peer->Busy = true;
    for (;;) {
        peer->Pending += peer->Socket->readAll();
        if (peer->Pending.size() < RequestSize) break;
        Request request;
        std::memcpy(&request, peer->Pending.constData(), sizeof request);
        peer->Pending.remove(0, RequestSize);
        if (request.WParam == 0 && request.LParam == Batch::BeginHandOver) peer->BatchOpen = true;
        if (request.WParam == 0 && request.LParam == Batch::EndHandOver) peer->BatchOpen = false;
        if (OnMessage) OnMessage(request.WParam, request.LParam);
        if (peer->Dropped) break;
        peer->Socket->write(&Acknowledgement, 1);
        peer->Socket->flush();
    }
    peer->Busy = false;
    if (peer->Dropped) {
        peer->Dropped = false;
        Drop(peer);
    }
}

void InstanceServer::Drop(Peer* peer) {
    if (peer->Dropped) return;
    peer->Dropped = true;
    if (peer->Busy) return; // Serve finishes it when the handler returns
    const bool abandoned = peer->BatchOpen;
    peer->Socket->disconnect(this);
    peer->Socket->deleteLater();
    std::erase_if(Peers, [peer](const std::unique_ptr<Peer>& p) { return p.get() == peer; });
    if (abandoned && Abandoned) Abandoned();
}

// ---- Arguments ---------------------------------------------------------------------

QStringList AbsoluteArguments(const QStringList& arguments, const QString& startFolder) {
    const QDir start(startFolder);
    QStringList result;
    result.reserve(arguments.size());
    for (const QString& argument : arguments) {
        if (argument.isEmpty() || argument == QLatin1String("--enqueue") ||
            argument == QLatin1String("-e")) {
            result << argument;
        } else if (!argument.startsWith(QLatin1Char('/'))) {
            result << start.absoluteFilePath(argument);
        } else if (QFileInfo(argument).isFile()) {
            result << argument; // an absolute file name, not an option
        } else if (argument.size() > 2 && argument[1].toLower() == QLatin1Char('p') &&
                   !QDir::isAbsolutePath(argument.mid(2))) {
            // The skin path of "/p" is a file name of its own.
            result << argument.left(2) + start.absoluteFilePath(argument.mid(2));
        } else {
            result << argument;
        }
    }
    return result;
}
