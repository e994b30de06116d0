// mimeapps.list, our desktop entry and the backup file are all key files
// that other programs and users edit. Whatever they hold: reading and
// writing back unchanged is byte-exact, a change touches only its own entry,
// and stored values come back as they were written.
#include "platform/classesroot/classesroot.h"
#include "platform/classesroot/keyfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

using classesroot::KeyFile;

// Names the broken promise before stopping, so a replay failure says what.
#define check(ok)                                                                                  \
    do {                                                                                           \
        if (!(ok)) {                                                                               \
            std::fprintf(stderr, "broken: %s\n", #ok);                                             \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (0)

namespace {

std::map<std::pair<std::string, std::string>, std::string> entries(const KeyFile& f) {
    std::map<std::pair<std::string, std::string>, std::string> all;
    for (const std::string& g : f.Groups())
        for (const std::string& k : f.Keys(g))
            all[{g, k}] = *f.Get(g, k);
    return all;
}

const char* const kSeeds[] = {
    "[Default Applications]\naudio/mpeg=other.desktop;\ntext/plain = vim.desktop\n",
    "# comment\n[Added Associations]\nvideo/mpeg=a.desktop;b.desktop;\n\n[Removed "
    "Associations]\r\nimage/png=x\r\n",
    "[Desktop Entry]\nType=Application\nName=zarnplayer\nExec=\"/opt/a b/zarn\" %F\n"
    "Comment=QRVE\\sMedia\\nFile\nMimeType=audio/mpeg;\n",
    "[QRVE_Back]\naudio/mpeg=\nvideo/x-msvideo=vlc.desktop;\n[QRVE_Back]\naudio/mpeg=dup",
    "no group=line\n[broken\n=novalue\n[]\nk=v",
};

} // namespace

extern "C" std::size_t ZarnFuzzSeeds(const std::uint8_t*** seeds, const std::size_t** sizes) {
    static const std::uint8_t* data[std::size(kSeeds)];
    static std::size_t lens[std::size(kSeeds)];
    for (std::size_t i = 0; i < std::size(kSeeds); ++i) {
        data[i] = reinterpret_cast<const std::uint8_t*>(kSeeds[i]);
        lens[i] = std::char_traits<char>::length(kSeeds[i]);
    }
    *seeds = data;
    *sizes = lens;
    return std::size(kSeeds);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (std::getenv("ZARN_FUZZ_DUMP"))
        std::fprintf(stderr, "input: [%s]\n", text.c_str());
    KeyFile file(text);
    check(file.Text() == text);
    auto before = entries(file);

    // The value is the input's first line; group and key come from the end.
    std::string value = text.substr(0, text.find_first_of(std::string("\n\r\0", 3)));
    std::string group = "Default Applications", key = "audio/mpeg";
    if (size > 2 && data[size - 1] % 2)
        group = "QRVE_Back";
    if (!before.empty() && size > 1 && data[size - 2] % 3 == 0)
        std::tie(group, key) = before.begin()->first;
    if (!classesroot::IsPlainName(group) || !classesroot::IsPlainName(key))
        return 0;

    file.Set(group, key, value);
    KeyFile reread(file.Text());
    check(reread.Get(group, key) ==
          value.substr(std::min(value.find_first_not_of(" \t"), value.size())));
    auto after = entries(reread);
    for (const auto& [where, v] : before)
        if (where != std::make_pair(group, key))
            check(after.count(where) && after[where] == v);
    check(after.size() == before.size() + (before.count({group, key}) ? 0 : 1));

    reread.Remove(group, key);
    check(!KeyFile(reread.Text()).Get(group, key));

    check(classesroot::UnescapeValue(classesroot::EscapeValue(text)) == text);
    std::string escaped = classesroot::EscapeValue(text);
    check(escaped.find_first_of("\n\r") == std::string::npos);
    if (text.find('\0') != std::string::npos) {
        // No key file can hold a zero byte; refusing it is the right answer.
        bool refused = false;
        try {
            KeyFile().Set("QRVE_Back", "audio/mpeg", escaped);
        } catch (const classesroot::Error&) {
            refused = true;
        }
        check(refused);
        return 0;
    }
    KeyFile stored;
    stored.Set("QRVE_Back", "audio/mpeg", escaped);
    check(classesroot::UnescapeValue(*KeyFile(stored.Text()).Get("QRVE_Back", "audio/mpeg")) ==
          text);
    return 0;
}
