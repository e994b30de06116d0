// The classes root of a freedesktop.org desktop. The program's file type is
// a desktop entry in $XDG_DATA_HOME/applications; an extension's default
// value is the [Default Applications] entry of its MIME type in
// $XDG_CONFIG_HOME/mimeapps.list; other values of an extension (the backup
// of the earlier default) live in a file of our own, keyed by MIME type.
// Every file is replaced atomically and only the entries we own change.
#pragma once

#include "platform/classesroot/classesroot.h"
#include "platform/classesroot/keyfile.h"

namespace classesroot {

struct XdgPlaces {
    std::string configHome;            // holds mimeapps.list
    std::string dataHome;              // holds applications/
    std::vector<std::string> desktops; // $XDG_CURRENT_DESKTOP, in order
    std::string backupFile;            // our own file for the other values
    std::string progId = "QRVE.File";
    std::string desktopId = "zarnplayer.desktop";
    std::string appName = "zarnplayer";

    // The folders from $XDG_CONFIG_HOME, $XDG_DATA_HOME and $HOME.
    static XdgPlaces FromEnvironment(std::string backupFile);
};

class XdgRoot final : public Root {
public:
    explicit XdgRoot(XdgPlaces places);

    // The extension's key reads "progId" while the desktop opens its MIME
    // type with our entry first. The file type's keys read the entry's
    // Comment, Icon and Exec in the desktop's own form.
    bool KeyExists(std::string_view key) const override;
    void CreateKey(std::string_view key) override;
    std::optional<std::string> ReadValue(std::string_view key,
                                         std::string_view name) const override;
    void WriteValue(std::string_view key, std::string_view name, std::string_view value) override;
    void DeleteValue(std::string_view key, std::string_view name) override;
    void DeleteKey(std::string_view key) override;
    // Runs update-desktop-database on our applications folder, when installed.
    void NotifyAssociationsChanged() override;
    std::string Identity(std::string_view key) const override;
    // Desktop-specific lists ("gnome-mimeapps.list") that the desktop reads
    // before mimeapps.list and that name one of our MIME types.
    std::vector<std::string> Notices() const override;

    std::string MimeAppsFile() const;
    std::string DesktopFile() const;
    const XdgPlaces& Places() const { return places_; }

    // The MIME type the player files an extension under; nullopt for others.
    static std::optional<std::string> MimeTypeOf(std::string_view extension);

private:
    enum class Kind { Extension, FileType, Icon, Command, FileTypeKey, Other };
    Kind kindOf(std::string_view key, std::string* mime) const;
    static const char* fieldOf(Kind kind);

    KeyFile load(const std::string& path) const;
    KeyFile loadForWrite(const std::string& path) const;
    void writeDesktopEntry(KeyFile& entry);
    // Keeps the entry's MimeType to the types whose default is ours, so the
    // desktop's fallbacks never offer us for a type the user took back.
    void syncDesktopEntry();
    std::vector<std::string> ourTypes() const;

    XdgPlaces places_;
};

} // namespace classesroot
