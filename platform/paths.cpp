#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paths {
namespace {

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
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

std::string DataDir() {
    if (const char* home = std::getenv("ZARNPLAYER_HOME"); home && *home) {
        std::string dir = withSlash(home);
        MakeDirs(dir);
        return dir;
    }
    std::string prog = ProgramDir();
    if (::access(prog.c_str(), W_OK) == 0)
        return prog;
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/')
        base = x;
    else if (const char* h = std::getenv("HOME"); h && *h)
        base = std::string(h) + "/.config";
    else
        base = "/tmp";
    std::string dir = withSlash(base) + "zarnplayer/";
    MakeDirs(dir);
    return dir;
}

} // namespace paths
