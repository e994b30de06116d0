#include "platform/classesroot/xdg.h"

#include "platform/paths.h"
#include "platform/profile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace classesroot {
namespace {

constexpr const char* kDefaults = "Default Applications";
constexpr const char* kEntry = "Desktop Entry";

struct Type {
    const char* ext;
    const char* mime;
};

// The player's extensions by the MIME type desktops file them under; rows
// that share a type are one association there.
// Of today's types (after the original seventeen), .opus, .ogg and .oga are
// one Ogg association: the codec-specific types desktops detect
// (audio/x-opus+ogg, audio/x-vorbis+ogg) fall back to audio/ogg; the others
// take the type shared-mime-info files their names under.
constexpr Type kTypes[] = {
    {".avi", "video/x-msvideo"},  {".qt", "video/quicktime"}, {".mov", "video/quicktime"},
    {".mpg", "video/mpeg"},       {".mpeg", "video/mpeg"},    {".m1v", "video/mpeg"},
    {".wav", "audio/x-wav"},      {".mpa", "audio/mpeg"},     {".mp2", "audio/mpeg"},
    {".mp3", "audio/mpeg"},       {".au", "audio/basic"},     {".aif", "audio/x-aiff"},
    {".aiff", "audio/x-aiff"},    {".snd", "audio/basic"},    {".asf", "application/vnd.ms-asf"},
    {".wma", "audio/x-ms-wma"},   {".wmv", "video/x-ms-wmv"}, {".m4a", "audio/mp4"},
    {".m4b", "audio/x-m4b"},      {".aac", "audio/aac"},      {".opus", "audio/ogg"},
    {".ogg", "audio/ogg"},        {".oga", "audio/ogg"},      {".flac", "audio/flac"},
    {".mka", "audio/x-matroska"}, {".mp4", "video/mp4"},      {".m4v", "video/mp4"},
    {".mkv", "video/x-matroska"}, {".webm", "video/webm"},
};

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw Error("cannot write " + quoted(path) + ": " + why);
}

// False when the file exists but cannot be read; a missing file is empty.
bool readText(const std::string& path, std::string& text, int& err) {
    text.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err = errno;
        return err == ENOENT || err == ENOTDIR;
    }
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

std::string parentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Replaces path as a whole or not at all. A file the user made read-only is
// left alone even where the permissions would let us replace it, and a link
// is followed so the user's own file is the one replaced.
void writeAtomically(const std::string& path, const std::string& data) {
    std::string dir = parentOf(path);
    if (!paths::MakeDirs(dir)) {
        int err = errno;
        throw Error("cannot create the folder " + quoted(dir) + ": " + std::strerror(err));
    }
    std::string target = path;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            char real[PATH_MAX];
            if (!::realpath(path.c_str(), real))
                refuse(path, std::string("it links to a file that cannot be reached: ") +
                                 std::strerror(errno));
            target = real;
            if (::stat(target.c_str(), &st) != 0)
                refuse(path, std::strerror(errno));
        }
        if (!S_ISREG(st.st_mode))
            refuse(target, "not a regular file");
        if ((st.st_mode & S_IWUSR) == 0)
            refuse(target, "the file is read-only");
        if (::access(target.c_str(), W_OK) != 0)
            refuse(target, std::strerror(errno));
    }
    try {
        profile::ReplaceFileAtomically(target, data);
    } catch (const profile::Error& e) {
        throw Error(e.what());
    }
}

std::vector<std::string> splitList(std::string_view value) {
    std::vector<std::string> items;
    size_t from = 0;
    while (from <= value.size()) {
        size_t semi = value.find(';', from);
        std::string_view item = value.substr(
            from, semi == std::string_view::npos ? std::string_view::npos : semi - from);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (!item.empty())
            items.emplace_back(item);
        if (semi == std::string_view::npos)
            break;
        from = semi + 1;
    }
    return items;
}

std::string findTool(const char* name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t from = 0;
    while (from <= dirs.size()) {
        size_t colon = dirs.find(':', from);
        std::string dir = dirs.substr(from, colon == std::string::npos ? colon : colon - from);
        if (!dir.empty()) {
            std::string candidate = dir + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string::npos)
            break;
        from = colon + 1;
    }
    return {};
}

// "<program>,<index>" names an icon inside a program file, which desktops
// cannot show; an image file is kept, anything else becomes our theme name.
std::string iconFrom(std::string_view value, const std::string& appName) {
    size_t comma = value.rfind(',');
    if (comma != std::string_view::npos &&
        value.find_first_not_of("0123456789", comma + 1) == std::string_view::npos)
        value = value.substr(0, comma);
    std::string v = lower(value);
    for (const char* ext : {".png", ".svg", ".svgz", ".xpm"}) {
        size_t n = std::strlen(ext);
        if (v.size() > n && v.compare(v.size() - n, n, ext) == 0)
            return std::string(value);
    }
    return appName;
}

// The open command 'program "%1"' becomes 'program %F' so one call opens
// every selected file; other commands are kept as they are.
std::string execFrom(std::string_view value) {
    constexpr std::string_view one = " \"%1\"";
    if (value.size() > one.size() && value.substr(value.size() - one.size()) == one)
        return QuoteExecArgument(value.substr(0, value.size() - one.size())) + " %F";
    return std::string(value);
}

} // namespace

XdgPlaces XdgPlaces::FromEnvironment(std::string backupFile) {
    XdgPlaces p;
    const char* home = std::getenv("HOME");
    std::string h = home && *home ? home : "/tmp";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    p.configHome = config && *config == '/' ? config : h + "/.config";
    const char* data = std::getenv("XDG_DATA_HOME");
    p.dataHome = data && *data == '/' ? data : h + "/.local/share";
    if (const char* d = std::getenv("XDG_CURRENT_DESKTOP")) {
        std::string all = d;
        size_t from = 0;
        while (from <= all.size()) {
            size_t colon = all.find(':', from);
            std::string name = all.substr(from, colon == std::string::npos ? colon : colon - from);
            if (!name.empty())
                p.desktops.push_back(name);
            if (colon == std::string::npos)
                break;
            from = colon + 1;
        }
    }
    p.backupFile = std::move(backupFile);
    return p;
}

XdgRoot::XdgRoot(XdgPlaces places) : places_(std::move(places)) {}

std::optional<std::string> XdgRoot::MimeTypeOf(std::string_view extension) {
    std::string ext = lower(extension);
    for (const Type& t : kTypes)
        if (ext == t.ext)
            return std::string(t.mime);
    return std::nullopt;
}

std::string XdgRoot::MimeAppsFile() const {
    return places_.configHome + "/mimeapps.list";
}

std::string XdgRoot::DesktopFile() const {
    return places_.dataHome + "/applications/" + places_.desktopId;
}

XdgRoot::Kind XdgRoot::kindOf(std::string_view key, std::string* mime) const {
    std::string k = lower(key);
    if (!k.empty() && k.front() == '.') {
        auto m = MimeTypeOf(k);
        if (!m)
            return Kind::Other;
        if (mime)
            *mime = *m;
        return Kind::Extension;
    }
    std::string prog = lower(places_.progId);
    if (k == prog)
        return Kind::FileType;
    if (k == prog + "\\defaulticon")
        return Kind::Icon;
    if (k == prog + "\\shell\\open\\command")
        return Kind::Command;
    if (k == prog + "\\shell" || k == prog + "\\shell\\open")
        return Kind::FileTypeKey;
    return Kind::Other;
}

const char* XdgRoot::fieldOf(Kind kind) {
    switch (kind) {
    case Kind::FileType:
        return "Comment";
    case Kind::Icon:
        return "Icon";
    case Kind::Command:
        return "Exec";
    default:
        return nullptr;
    }
}

std::string XdgRoot::Identity(std::string_view key) const {
    std::string mime;
    if (kindOf(key, &mime) == Kind::Extension)
        return mime;
    return lower(key);
}

KeyFile XdgRoot::load(const std::string& path) const {
    std::string text;
    int err = 0;
    readText(path, text, err);
    return KeyFile(text);
}

KeyFile XdgRoot::loadForWrite(const std::string& path) const {
    std::string text;
    int err = 0;
    if (!readText(path, text, err))
        throw Error("cannot read " + quoted(path) + " to update it: " + std::strerror(err));
    return KeyFile(text);
}

std::vector<std::string> XdgRoot::ourTypes() const {
    KeyFile apps = load(MimeAppsFile());
    std::vector<std::string> types;
    for (const Type& t : kTypes) {
        bool seen = false;
        for (const std::string& s : types)
            seen = seen || s == t.mime;
        if (seen)
            continue;
        auto v = apps.Get(kDefaults, t.mime);
        if (!v)
            continue;
        auto ids = splitList(*v);
        if (!ids.empty() && ids.front() == places_.desktopId)
            types.emplace_back(t.mime);
    }
    return types;
}

void XdgRoot::writeDesktopEntry(KeyFile& entry) {
    entry.Set(kEntry, "Type", "Application");
    if (!entry.Get(kEntry, "Name"))
        entry.Set(kEntry, "Name", EscapeValue(places_.appName));
    entry.Set(kEntry, "NoDisplay", "true");
    std::string types;
    for (const std::string& t : ourTypes())
        types += t + ";";
    if (types.empty())
        entry.Remove(kEntry, "MimeType");
    else
        entry.Set(kEntry, "MimeType", types);
    writeAtomically(DesktopFile(), entry.Text());
}

void XdgRoot::syncDesktopEntry() {
    struct stat st;
    if (::stat(DesktopFile().c_str(), &st) != 0)
        return;
    KeyFile entry = loadForWrite(DesktopFile());
    std::string before = entry.Text();
    writeDesktopEntry(entry);
    if (entry.Text() != before)
        NotifyAssociationsChanged();
}

bool XdgRoot::KeyExists(std::string_view key) const {
    switch (kindOf(key, nullptr)) {
    case Kind::Extension:
        return true;
    case Kind::Other:
        return false;
    default: {
        struct stat st;
        return ::stat(DesktopFile().c_str(), &st) == 0;
    }
    }
}

void XdgRoot::CreateKey(std::string_view key) {
    Kind kind = kindOf(key, nullptr);
    if (kind == Kind::Extension || KeyExists(key))
        return;
    if (kind == Kind::Other)
        throw Error("this desktop keeps no key \"" + std::string(key) + "\"");
    KeyFile entry;
    writeDesktopEntry(entry);
}

std::optional<std::string> XdgRoot::ReadValue(std::string_view key, std::string_view name) const {
    std::string mime;
    Kind kind = kindOf(key, &mime);
    if (kind == Kind::Extension) {
        if (!name.empty()) {
            auto v = load(places_.backupFile).Get(std::string(name), mime);
            if (!v)
                return std::nullopt;
            return UnescapeValue(*v);
        }
        auto v = load(MimeAppsFile()).Get(kDefaults, mime);
        if (!v)
            return std::nullopt;
        auto ids = splitList(*v);
        if (!ids.empty() && ids.front() == places_.desktopId)
            return places_.progId;
        return v;
    }
    const char* field = fieldOf(kind);
    if (!field || !name.empty())
        return std::nullopt;
    auto v = load(DesktopFile()).Get(kEntry, field);
    if (!v)
        return std::nullopt;
    return UnescapeValue(*v);
}

void XdgRoot::WriteValue(std::string_view key, std::string_view name, std::string_view value) {
    std::string mime;
    Kind kind = kindOf(key, &mime);
    if (kind == Kind::Extension && !name.empty()) {
        if (!IsPlainName(name))
            throw Error("a value named \"" + std::string(name) + "\" cannot be kept");
        KeyFile backup = loadForWrite(places_.backupFile);
        backup.Set(std::string(name), mime, EscapeValue(value));
        writeAtomically(places_.backupFile, backup.Text());
        return;
    }
    if (kind == Kind::Extension) {
        KeyFile apps = loadForWrite(MimeAppsFile());
        if (value == places_.progId)
            apps.Set(kDefaults, mime, places_.desktopId);
        else if (value.empty())
            apps.Remove(kDefaults, mime);
        else
            apps.Set(kDefaults, mime, value);
        writeAtomically(MimeAppsFile(), apps.Text());
        syncDesktopEntry();
        return;
    }
    const char* field = fieldOf(kind);
    if (!field || !name.empty())
        throw Error("this desktop has no place for the value \"" + std::string(name) + "\" of \"" +
                    std::string(key) + "\"");
    KeyFile entry = loadForWrite(DesktopFile());
    std::string text(value);
    if (kind == Kind::Icon)
        text = iconFrom(value, places_.appName);
    else if (kind == Kind::Command)
        text = execFrom(value);
    entry.Set(kEntry, field, EscapeValue(text));
    writeDesktopEntry(entry);
}

void XdgRoot::DeleteValue(std::string_view key, std::string_view name) {
    std::string mime;
    Kind kind = kindOf(key, &mime);
    if (kind == Kind::Extension) {
        std::string path = name.empty() ? MimeAppsFile() : places_.backupFile;
        std::string group = name.empty() ? kDefaults : std::string(name);
        KeyFile file = loadForWrite(path);
        if (!file.Get(group, mime))
            return;
        file.Remove(group, mime);
        writeAtomically(path, file.Text());
        if (name.empty())
            syncDesktopEntry();
        return;
    }
    const char* field = fieldOf(kind);
    if (!field || !name.empty() || !KeyExists(key))
        return;
    KeyFile entry = loadForWrite(DesktopFile());
    if (!entry.Get(kEntry, field))
        return;
    entry.Remove(kEntry, field);
    writeDesktopEntry(entry);
}

void XdgRoot::DeleteKey(std::string_view key) {
    std::string mime;
    Kind kind = kindOf(key, &mime);
    switch (kind) {
    case Kind::Other:
        return;
    case Kind::Extension: {
        DeleteValue(key, "");
        KeyFile backup = loadForWrite(places_.backupFile);
        std::string before = backup.Text();
        for (const std::string& group : backup.Groups())
            backup.Remove(group, mime);
        if (backup.Text() != before)
            writeAtomically(places_.backupFile, backup.Text());
        return;
    }
    case Kind::FileType:
        if (::unlink(DesktopFile().c_str()) != 0 && errno != ENOENT) {
            int err = errno;
            throw Error("cannot delete " + quoted(DesktopFile()) + ": " + std::strerror(err));
        }
        return;
    default:
        DeleteValue(key, "");
    }
}

void XdgRoot::NotifyAssociationsChanged() {
    std::string tool = findTool("update-desktop-database");
    std::string dir = places_.dataHome + "/applications";
    struct stat st;
    if (tool.empty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string quiet = "-q";
    char* argv[] = {tool.data(), quiet.data(), dir.data(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, environ) == 0) {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

std::vector<std::string> XdgRoot::Notices() const {
    std::vector<std::string> notices;
    for (const std::string& desktop : places_.desktops) {
        std::string path = places_.configHome + "/" + lower(desktop) + "-mimeapps.list";
        KeyFile list = load(path);
        std::string types;
        for (const Type& t : kTypes) {
            if (!list.Get(kDefaults, t.mime) || types.find(t.mime) != std::string::npos)
                continue;
            types += (types.empty() ? "" : ", ") + std::string(t.mime);
        }
        if (!types.empty())
            notices.push_back(path + " is read before mimeapps.list and sets " + types +
                              "; those defaults stay as it says.");
    }
    return notices;
}

} // namespace classesroot
