#include "platform/regularfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    const int err = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

FileContent ReadRegularFile(const std::string& path, std::size_t limit) {
    FileContent out;
    const auto unreadable = [&](std::string why) {
        out.status = FileContent::Status::Unreadable;
        out.text.clear();
        out.error = std::move(why);
        return out;
    };
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        if (errno == ENOENT)
            return out;
        return unreadable(errno == EINVAL ? "not a regular file" : std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) > limit) {
        ::close(fd);
        return unreadable("larger than " + std::to_string(limit) + " bytes");
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return unreadable(std::strerror(err));
        }
        if (n == 0)
            break;
        out.text.append(buffer, static_cast<std::size_t>(n));
        if (out.text.size() > limit) {
            ::close(fd);
            return unreadable("larger than " + std::to_string(limit) + " bytes");
        }
    }
    ::close(fd);
    out.status = FileContent::Status::Read;
    return out;
}
