// The song file handle: a file opened read-only and read at absolute
// positions, so that a song start can re-read its blocks while the file stays
// current. Every failure becomes a `SongIOError` carrying the system's text;
// a read that runs past the end of the file says "Read beyond end of file" and
// a missing file says "File not found", the texts the player shows for them.
#include "formats/song_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowErrno(int error) {
    if (error == ENOENT) throw SongIOError("File not found");
    throw SongIOError(std::strerror(error));
}

[[noreturn]] void ThrowPastEnd() { throw SongIOError("Read beyond end of file"); }

} // namespace

void SongFileHandle::Open(const std::string& name) {
    Close();
    int fd;
    do fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        ThrowErrno(error);
    }
    // A folder opens read-only on Linux but cannot be read as a song file.
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        ThrowErrno(EISDIR);
    }
    Fd = fd;
    ByteCount = static_cast<uint64_t>(st.st_size);
}

void SongFileHandle::Close() {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
    ByteCount = 0;
}

size_t SongFileHandle::ReadUpTo(uint64_t offset, void* data, size_t length) const {
    if (Fd < 0) ThrowErrno(EBADF);
    auto* out = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < length) {
        const uint64_t at = offset + done;
        if (at > static_cast<uint64_t>(INT64_MAX)) break;
        const ssize_t n = ::pread(Fd, out + done, length - done, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno);
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void SongFileHandle::ReadAt(uint64_t offset, void* data, size_t length) const {
    if (Fd < 0) ThrowErrno(EBADF);
    // A position past the end is a failed read even when nothing is asked for:
    // it is how an empty block that begins beyond the file refuses to load.
    if (length == 0 && offset > ByteCount) ThrowPastEnd();
    if (ReadUpTo(offset, data, length) != length) ThrowPastEnd();
}

std::string SongTextUtf8(const std::string& text) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        const size_t len = c < 0x80             ? 1
                           : (c & 0xE0) == 0xC0 ? 2
                           : (c & 0xF0) == 0xE0 ? 3
                           : (c & 0xF8) == 0xF0 ? 4
                                                : 0;
        bool valid = len == 1 || (len > 1 && i + len <= n && c >= 0xC2 && c <= 0xF4);
        for (size_t k = 1; valid && k < len; ++k) valid = (s[i + k] & 0xC0) == 0x80;
        if (valid) {
            out.append(text, i, len);
            i += len;
        } else {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}
