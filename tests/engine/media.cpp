#include "media.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>
#include <vector>

namespace testmedia {
namespace {

struct Type {
    const char* format;
    const char* video; // null: audio only
    const char* audio; // null: video only
};

const std::map<std::string, Type>& Types() {
    static const std::map<std::string, Type> types = {
        {"avi", {"avi", "mpeg4", "libmp3lame"}},  {"qt", {"mov", "mpeg4", "aac"}},
        {"mov", {"mov", "mpeg4", "aac"}},         {"mpg", {"mpeg", "mpeg1video", "mp2"}},
        {"mpeg", {"mpeg", "mpeg1video", "mp2"}},  {"m1v", {"mpeg1video", "mpeg1video", nullptr}},
        {"wav", {"wav", nullptr, "pcm_s16le"}},   {"mpa", {"mp2", nullptr, "mp2"}},
        {"mp2", {"mp2", nullptr, "mp2"}},         {"mp3", {"mp3", nullptr, "libmp3lame"}},
        {"au", {"au", nullptr, "pcm_s16be"}},     {"aif", {"aiff", nullptr, "pcm_s16be"}},
        {"aiff", {"aiff", nullptr, "pcm_s16be"}}, {"snd", {"au", nullptr, "pcm_s16be"}},
        {"asf", {"asf", "wmv2", "wmav2"}},        {"wma", {"asf", nullptr, "wmav2"}},
        {"wmv", {"asf", "wmv2", "wmav2"}},
    };
    return types;
}

std::string Folder() {
    const char* build = std::getenv("ZARN_BUILD_DIR");
    const std::string dir = build ? std::string(build) + "/tmp/engine-media"
                                  : "/tmp/zarn-engine-media-" + std::to_string(getuid());
    for (std::size_t at = 0; at != std::string::npos;) {
        at = dir.find('/', at + 1);
        mkdir(dir.substr(0, at).c_str(), 0755);
    }
    return dir;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// Writes under a private name and renames, so concurrent tests never see half a file.
std::string Make(const std::string& name, const std::string& extension, int seconds) {
    const std::string path = Folder() + "/" + name;
    if (Exists(path))
        return path;
    const Type& type = Types().at(extension);
    const std::string part = path + ".part" + std::to_string(getpid());
    std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y";
    const std::string length = std::to_string(seconds);
    if (type.video)
        cmd += " -f lavfi -i testsrc=size=160x120:rate=25:duration=" + length;
    if (type.audio)
        cmd += " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + length;
    if (type.video)
        cmd += std::string(" -c:v ") + type.video + " -g 12";
    if (type.audio)
        cmd += std::string(" -c:a ") + type.audio;
    cmd += std::string(" -f ") + type.format + " '" + part + "'";
    if (std::system(cmd.c_str()) != 0 || std::rename(part.c_str(), path.c_str()) != 0) {
        std::remove(part.c_str());
        throw std::runtime_error("ffmpeg could not make " + path);
    }
    return path;
}

std::string Write(const std::string& name, const std::vector<char>& bytes) {
    const std::string path = Folder() + "/" + name;
    const std::string part = path + ".part" + std::to_string(getpid());
    std::ofstream(part, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    std::rename(part.c_str(), path.c_str());
    return path;
}

} // namespace

std::string Clip(const std::string& extension) {
    return Make("clip." + extension, extension, int(CLIP_SECONDS));
}

std::string TenMinuteMp3() {
    return Make("ten-minutes.mp3", "mp3", 600);
}

std::string NotMedia() {
    const std::string text = "This is a play list, not a sound.\n";
    std::vector<char> bytes;
    for (int i = 0; i < 200; ++i)
        bytes.insert(bytes.end(), text.begin(), text.end());
    return Write("not-media.mp3", bytes);
}

std::string Empty() {
    return Write("empty.wav", {});
}

std::string TruncatedMp3() {
    std::ifstream in(Clip("mp3"), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(bytes.size() * 2 / 5 + 7); // ends inside a frame
    return Write("truncated.mp3", bytes);
}

bool HasVideo(const std::string& extension) {
    return Types().at(extension).video != nullptr;
}

} // namespace testmedia
