#include "platform/paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ZARN_INSTALLED_ENGINE
#error "ZARN_INSTALLED_ENGINE names the engine library of an installed copy, relative to bin/"
#endif

namespace paths {
namespace {

// What a copy keeps in its folder for the user; an installed copy of old
// wrote these beside itself.
constexpr const char* kUserFiles[] = {"zarnplayer.ini", "default.lst", "bookmark.txt",
                                      "positions.txt", "associations.ini"};

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Copies from into to, which must not exist yet; for moves across file systems.
bool copyNew(const std::string& from, const std::string& to, std::string& why) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st;
    const mode_t mode = ::fstat(in, &st) == 0 ? (st.st_mode & 0777) : 0600;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (out < 0) {
        why = std::strerror(errno);
        ::close(in);
        return false;
    }
    char buf[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buf, sizeof buf);
        if (n == 0)
            break;
        if (n < 0 && errno == EINTR)
            continue;
        ssize_t done = 0;
        while (n > 0 && done < n) {
            const ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                break;
            done += w;
        }
        if (n < 0 || done < n) {
            ok = false;
            break;
        }
    }
    ok = ok && ::fsync(out) == 0;
    if (!ok)
        why = std::strerror(errno);
    ok = ::close(out) == 0 && ok;
    ::close(in);
    if (!ok)
        ::unlink(to.c_str());
    return ok;
}

// Moves from to to without ever replacing a file at to.
bool moveNew(const std::string& from, const std::string& to, std::string& why) {
    if (::link(from.c_str(), to.c_str()) != 0) {
        if (errno == EEXIST) {
            why = std::strerror(errno);
            return false;
        }
        if (!copyNew(from, to, why))
            return false;
    }
    if (::unlink(from.c_str()) != 0) {
        why = std::string("the old file stays: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// Files an installed copy of old left beside itself go to the user's folder;
// a name already taken there keeps its file, and the old one arrives as
// NAME.old, so nothing is lost either way.
void moveLeftovers(const std::string& from, const std::string& to) {
    for (const char* name : kUserFiles) {
        const std::string old = from + name;
        if (!exists(old))
            continue;
        std::string target = to + name;
        if (exists(target))
            target += ".old";
        std::string why;
        if (exists(target))
            std::fprintf(stderr, "zarnplayer: %s is not moved: %s and %s exist\n", old.c_str(),
                         (to + name).c_str(), target.c_str());
        else if (moveNew(old, target, why))
            std::fprintf(stderr, "zarnplayer: moved %s to %s\n", old.c_str(), target.c_str());
        else
            std::fprintf(stderr, "zarnplayer: cannot move %s to %s: %s\n", old.c_str(),
                         target.c_str(), why.c_str());
    }
}

std::string configDir(const Places& p) {
    std::string base;
    if (!p.xdgConfigHome.empty() && p.xdgConfigHome.front() == '/')
        base = p.xdgConfigHome;
    else if (!p.userHome.empty())
        base = p.userHome + "/.config";
    else
        base = "/tmp";
    return withSlash(base) + "zarnplayer/";
}

} // namespace

std::string ProgramDir() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "./";
    std::string exe(buf, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

std::string CanonicalDir(const std::string& dir) {
    char* resolved = ::realpath(dir.c_str(), nullptr);
    if (!resolved)
        return withSlash(dir);
    std::string out = withSlash(resolved);
    std::free(resolved);
    return out;
}

bool MakeDirs(const std::string& dir) {
    std::string path;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        path = dir.substr(0, pos);
        if (path.empty())
            continue;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Places CurrentPlaces() {
    return {ProgramDir(), env("ZARNPLAYER_HOME"), env("XDG_CONFIG_HOME"), env("HOME"),
            ZARN_INSTALLED_ENGINE};
}

bool IsInstalled(const Places& p) {
    struct stat st;
    return !p.installedEngine.empty() &&
           ::stat((withSlash(p.programDir) + p.installedEngine).c_str(), &st) == 0 &&
           S_ISREG(st.st_mode);
}

std::string DataDirFor(const Places& p) {
    if (!p.home.empty()) {
        std::string dir = withSlash(p.home);
        MakeDirs(dir);
        return dir;
    }
    const std::string prog = withSlash(p.programDir);
    const bool installed = IsInstalled(p);
    if (!installed && ::access(prog.c_str(), W_OK) == 0)
        return prog;
    const std::string dir = configDir(p);
    if (!MakeDirs(dir))
        std::fprintf(stderr, "zarnplayer: cannot make the folder %s: %s\n", dir.c_str(),
                     std::strerror(errno));
    else if (installed)
        moveLeftovers(prog, dir);
    return dir;
}

std::string DataDir() {
    return DataDirFor(CurrentPlaces());
}

std::string PrivateDir() {
    const Places p = CurrentPlaces();
    if (IsInstalled(p)) {
        const std::string engine = p.programDir + p.installedEngine;
        return engine.substr(0, engine.rfind('/') + 1);
    }
    return p.programDir + "../lib/";
}

} // namespace paths
