// Outputs that are never destroyed (see output.h).
#include "render/output.h"

#include "formats/song_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> Stop{0};
static_assert(std::atomic<int>::is_always_lock_free); // read in a signal handler

void OnStopSignal(int signal) {
    int none = 0;
    Stop.compare_exchange_strong(none, signal);
}

[[noreturn]] void Fail(const std::string& path, int error) {
    throw SongIOError(path + ": " + std::strerror(error));
}

// Creates a file named `pattern` with its last six characters made unique,
// as an ordinary open creates a file: mode 0666 less the umask (or what the
// folder's default ACL says), which the system applies itself, so nothing
// needs to know the umask (reading it means changing it, under the feet of
// other threads). The descriptor, or -1 with errno.
int CreateUnique(std::string& pattern) {
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::atomic<uint64_t> counter{0};
    std::random_device entropy;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        uint64_t x = (static_cast<uint64_t>(entropy()) << 32) ^ entropy() ^ counter++;
        for (size_t i = pattern.size() - 6; i < pattern.size(); ++i, x /= 62)
            pattern[i] = Letters[x % 62];
        const int fd = ::open(pattern.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// The folder part of `path` ("." for a bare name) and the name in it.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

} // namespace

void PrepareOutputs() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked write returns EINTR
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

int StopSignal() { return Stop.load(std::memory_order_relaxed); }

void NudgeThread(unsigned long thread) {
    if (const int signal = StopSignal()) ::pthread_kill(static_cast<pthread_t>(thread), signal);
}

void DieOfStopSignal() {
    const int signal = StopSignal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal); // the signal was blocked: the status says the same
}

OutputFile::OutputFile(const std::string& path) : GivenPath(path) {
    if (path == "-") {
        Handle = stdout;
        return;
    }
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a FIFO: written where it is, never created or truncated.
        int fd;
        do fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        while (fd < 0 && errno == EINTR && !StopSignal());
        if (fd < 0) Fail(path, errno);
        Handle = ::fdopen(fd, "wb");
        if (!Handle) {
            const int error = errno;
            ::close(fd);
            Fail(path, error);
        }
        return;
    }
    // The file that ends up replaced: through a symbolic link, the file it
    // points to, so that the link stays a link.
    Target = path;
    if (exists) {
        // Refused like an open for writing would refuse it: renaming over a
        // write-protected file would get round its protection.
        if (::access(path.c_str(), W_OK) != 0) Fail(path, errno);
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            Target = real;
            std::free(real);
        }
    }
    std::string folder, name;
    SplitPath(Target, folder, name);
    Temp = folder + "/." + name + ".XXXXXX";
    const int fd = CreateUnique(Temp);
    if (fd < 0) {
        const int error = errno;
        Temp.clear();
        Fail(path, error);
    }
    // The replacement keeps the owner and the permissions of the file it
    // replaces; a new file gets what an ordinary open would give it.
    if (exists) {
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Not allowed to give it away: it stays the user's, like a copy.
        }
    }
    if ((exists && ::fchmod(fd, st.st_mode & 07777) != 0) || !(Handle = ::fdopen(fd, "wb"))) {
        const int error = errno;
        ::close(fd);
        ::unlink(Temp.c_str()); // no destructor runs for a constructor that throws
        Temp.clear();
        Fail(path, error);
    }
}

OutputFile::~OutputFile() {
    if (Handle && Handle != stdout) std::fclose(Handle);
    if (!Temp.empty()) ::unlink(Temp.c_str());
}

void OutputFile::Commit() {
    if (Handle == stdout) {
        if (std::fflush(stdout) != 0) Fail(GivenPath, errno);
        return;
    }
    std::FILE* stream = Handle;
    Handle = nullptr;
    if (std::fclose(stream) != 0) Fail(GivenPath, errno);
    if (Temp.empty()) return;
    if (::rename(Temp.c_str(), Target.c_str()) != 0) Fail(GivenPath, errno);
    Temp.clear();
}
