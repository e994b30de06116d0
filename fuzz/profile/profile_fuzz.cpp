// Settings files are edited by hand: any bytes must read without a crash, a
// write must keep every other key readable as it was, and any value must
// read back as written or be refused.
#include "platform/profile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string& scratch() {
    static const std::string path = [] {
        // tmpfs where there is one: every write is flushed to the disk.
        std::string name = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        name += "/zarn-fuzz-profile-XXXXXX";
        std::vector<char> tmpl(name.begin(), name.end());
        tmpl.push_back('\0');
        int fd = mkstemp(tmpl.data());
        if (fd >= 0)
            close(fd);
        return std::string(tmpl.data());
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& file = scratch();
    FILE* f = std::fopen(file.c_str(), "wb");
    if (!f)
        return 0;
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::string before = profile::ReadString(file, "player", "rate", "none");
    int n = profile::ReadInteger(file, "Player", "volume", -7);
    int parsed;
    profile::ParseInteger(std::string(reinterpret_cast<const char*>(data), size), parsed);

    profile::WriteInteger(file, "form", "stayontop", n);
    if (profile::ReadInteger(file, "FORM", "stayontop", n + 1) != n)
        std::abort();
    if (profile::ReadString(file, "player", "rate", "none") != before)
        std::abort();

    // Any value comes back exactly, or is refused for its line break alone.
    const std::string value(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 48));
    bool refused = false;
    try {
        profile::WriteString(file, "player", "resume_file", value);
    } catch (const profile::Error&) {
        refused = true;
    }
    if (refused != (value.find('\n') != std::string::npos))
        std::abort();
    if (!refused && profile::ReadString(file, "player", "resume_file", "none") != value)
        std::abort();
    if (profile::ReadString(file, "player", "rate", "none") != before)
        std::abort();
    return 0;
}

extern "C" std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds, const std::size_t** sizes) {
    static const char* texts[] = {
        "[player]\r\nvolume=50\r\nrate=2.0\r\n",
        "; c\n[form]\nstayontop=1\n\n[Player]\nRate = \"1.5\"\nvolume=$7f\n",
        "[a]\nx=0x10\n[b\n=\n[player]\nvolume=-3\n",
    };
    static const std::uint8_t* ptrs[3];
    static std::size_t lens[3];
    for (int i = 0; i < 3; ++i) {
        ptrs[i] = reinterpret_cast<const std::uint8_t*>(texts[i]);
        lens[i] = std::char_traits<char>::length(texts[i]);
    }
    *seeds = ptrs;
    *sizes = lens;
    return 3;
}
