// Media made by ffmpeg for the readers' tests, once per build tree and shared
// by the test processes: a file is written under a temporary name and
// renamed, so processes running side by side never see half a file. The name
// carries a digest of the command, so a changed command makes a new file.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
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

struct MadeChapter {
    std::int64_t startMs;
    std::string title;
    // Its own end; -1: the next one's start (or the end).
    std::int64_t endMs = -1;
};

// A tone of lengthMs with chapters, each running to its own end where given,
// else to the next one's start and the last to the end, written through ffmpeg's metadata file;
// codec gives the encoder's arguments, name's extension the container. Empty when ffmpeg failed.
inline std::string ToneWithChapters(const std::string& folder, const std::string& name,
                                    const std::vector<MadeChapter>& chapters, std::int64_t lengthMs,
                                    const std::vector<std::string>& codec) {
    std::string meta = ";FFMETADATA1\ntitle=" + name + "\n";
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const std::int64_t end = chapters[i].endMs >= 0    ? chapters[i].endMs
                                 : i + 1 < chapters.size() ? chapters[i + 1].startMs
                                                           : lengthMs;
        meta += "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(chapters[i].startMs) +
                "\nEND=" + std::to_string(end) + "\ntitle=" + chapters[i].title + "\n";
    }
    // The list's text names its file, so a changed list makes new media.
    const std::filesystem::path metaPath =
        Dir(folder) / (std::to_string(std::hash<std::string>{}(meta) % 1000000) + ".ffmeta");
    if (!std::filesystem::exists(metaPath))
        Publish(metaPath, meta);
    std::vector<std::string> args{"-f",
                                  "lavfi",
                                  "-i",
                                  "sine=d=" + std::to_string(lengthMs) + "ms",
                                  "-i",
                                  metaPath.string(),
                                  "-map_metadata",
                                  "1",
                                  "-map_chapters",
                                  "1",
                                  "-fflags",
                                  "+bitexact"};
    args.insert(args.end(), codec.begin(), codec.end());
    return Make(folder, name, args);
}

// The book the player's chapter tests share: 12 s of AAC in an .m4b, three
// chapters of 4 s ("Opening", "Chapter two", the last untitled).
inline std::string ThreeChapterBook() {
    return ToneWithChapters("books", "book.m4b",
                            {{0, "Opening"}, {4000, "Chapter two"}, {8000, ""}}, 12000,
                            {"-c:a", "aac"});
}

// A second of MP3 behind an ID3v2.3 tag of count CHAP frames titled
// "Chapter N" that all start and end at 0 but the last, which starts at
// 500 ms: the others' ends come from that one's start. Empty when ffmpeg
// failed.
inline std::string ManyChaptersMp3(int count) {
    const std::filesystem::path path =
        Dir("chapters") / ("many-" + std::to_string(count) + "-last-at-500ms.mp3");
    if (std::filesystem::exists(path))
        return path.string();
    const std::string sound =
        Make("chapters", "second.mp3",
             {"-f", "lavfi", "-i", "sine=d=1", "-c:a", "libmp3lame", "-write_xing", "0",
              "-id3v2_version", "0", "-fflags", "+bitexact"});
    if (sound.empty())
        return {};
    auto be = [](std::string& out, std::uint32_t v) {
        for (int i = 3; i >= 0; --i)
            out.push_back(static_cast<char>(v >> (8 * i)));
    };
    std::string frames;
    for (int i = 0; i < count; ++i) {
        const std::string title = "Chapter " + std::to_string(i + 1);
        std::string body = "c" + std::to_string(i) + std::string(1, '\0');
        const std::uint32_t at = i + 1 == count ? 500 : 0;
        be(body, at);
        be(body, at);
        be(body, 0xFFFFFFFF);
        be(body, 0xFFFFFFFF);
        body += "TIT2";
        be(body, static_cast<std::uint32_t>(title.size() + 1));
        body += std::string(2, '\0') + std::string(1, '\3') + title;
        frames += "CHAP";
        be(frames, static_cast<std::uint32_t>(body.size()));
        frames += std::string(2, '\0') + body;
    }
    std::string tag = "ID3" + std::string{'\3', '\0', '\0'};
    for (int shift : {21, 14, 7, 0})
        tag.push_back(static_cast<char>((frames.size() >> shift) & 0x7F));
    std::ifstream in(sound, std::ios::binary);
    const std::string audio((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Publish(path, tag + frames + audio);
    return path.string();
}

} // namespace testmedia
