// Media made by ffmpeg for the readers' tests, once per build tree and shared
// by the test processes: a file is written under a temporary name and
// renamed, so processes running side by side never see half a file. The name
// carries a digest of the command, so a changed command makes a new file.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace testmedia {

// build/test-media/<folder> (the build tree comes from ZARN_BUILD_DIR).
inline std::filesystem::path Dir(const std::string& folder) {
    const char* build = std::getenv("ZARN_BUILD_DIR");
    std::filesystem::path dir =
        std::filesystem::path(build ? build : std::filesystem::temp_directory_path().string()) /
        "test-media" / folder;
    std::filesystem::create_directories(dir);
    return dir;
}

inline void Publish(const std::filesystem::path& path, const std::string& bytes) {
    std::string part = path.string() + ".part" + std::to_string(::getpid());
    std::ofstream(part, std::ios::binary) << bytes;
    std::filesystem::rename(part, path);
}

// ffmpeg ARGS... OUTPUT, where OUTPUT is in Dir(folder) and ends in name;
// empty when ffmpeg failed.
inline std::string Make(const std::string& folder, const std::string& name,
                        const std::vector<std::string>& args) {
    namespace fs = std::filesystem;
    fs::path dir = Dir(folder);
    std::string joined;
    for (const auto& a : args)
        joined += a + '\x1f';
    fs::path path = dir / (std::to_string(std::hash<std::string>{}(joined) % 1000000) + "-" + name);
    if (fs::exists(path))
        return path.string();
    fs::path part =
        path.string() + ".part" + std::to_string(::getpid()) + fs::path(name).extension().string();
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(part.string());
    pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> c;
        for (auto& a : argv)
            c.push_back(a.data());
        c.push_back(nullptr);
        ::execvp("ffmpeg", c.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::error_code ec;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fs::remove(part, ec);
        return {};
    }
    fs::rename(part, path);
    return path.string();
}

} // namespace testmedia
