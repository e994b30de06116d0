// The settings store: every window's access to zarnplayer.ini, by section and
// key, straight to the file, plus the small helpers several windows share
// (window placement, the folder browser, text replacement).
#pragma once

#include "platform/classesroot/classesroot.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Set when the main window closes; background work stops when it sees it.
extern std::atomic<bool> ClosingFlag;

// The caption and the version text of every dialog's caption.
inline constexpr const char* MainCaption = "zarnplayer ver 0.3.5";

struct Placement {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

enum class ShowState { Normal, Maximized, Minimized };

// Anything with bounds and a show state; windows adapt themselves to this.
class Placeable {
public:
    virtual Placement Bounds() const = 0;
    virtual void SetBounds(const Placement& p) = 0;
    virtual ShowState State() const = 0;

protected:
    ~Placeable() = default;
};

class TTool {
public:
    using FolderBrowser =
        std::function<std::optional<std::string>(void* owner, const std::string& title)>;

    explicit TTool(std::string fileName);

    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Both throw profile::Error when the system refuses the write.
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

    const std::string& FileName() const { return fileName_; }
    void SetFileName(std::string fileName) { fileName_ = std::move(fileName); }

    // Left/Top default 0, Width/Height default to the window's current size.
    void LoadPlacement(std::string_view section, Placeable& window) const;
    // Writes only in the normal state, so the last normal placement survives
    // a close while maximised or minimised.
    void SavePlacement(std::string_view section, const Placeable& window);

    // The GUI installs the real dialog; without one no folder is chosen.
    void SetFolderBrowser(FolderBrowser browser) { browser_ = std::move(browser); }
    std::optional<std::string> BrowseForFolder(void* owner, const std::string& title) const;

    // Replaces the first occurrence of find until none is left. Repeating can
    // run forever when the replacement is not shorter than find (it may
    // rebuild find), so such replacements are made in one pass, left to right.
    static void ReplaceText(std::string& text, std::string_view find, std::string_view replacement);
    // ReplaceText once for each character of chars, in order.
    static void ReplaceChars(std::string& text, std::string_view chars,
                             std::string_view replacement);

    // Our sliders never draw a selection band, so there is nothing to clear;
    // kept so the windows' tick code reads as it does for every other window.
    static void HideTrackBarSelection(void*) {}

    // The classes root the file-type association works on: the desktop's,
    // with its backup file beside the settings, unless one is installed.
    classesroot::Root& ClassesRoot();
    // Not owned; nullptr goes back to the desktop's.
    void SetClassesRoot(classesroot::Root* root) { root_ = root; }

    // Points the extension at progId, keeping the earlier default in
    // "QRVE_Back"; an extension that already points there is not touched, so
    // the first backup survives. The four throw classesroot::Error when the
    // system refuses a write.
    void AssociateExtension(std::string_view extension, std::string_view progId);
    // Puts the backup back as the default and drops it; without one, nothing.
    void RestoreExtension(std::string_view extension);
    // The file type's description, icon and open command, then tells the shell.
    void RegisterProgId(std::string_view progId, std::string_view icon,
                        std::string_view description, std::string_view program);
    // Removes key with its sub-keys and tells the shell; a missing key: nothing.
    void DeleteClassKey(std::string_view key);

private:
    std::string fileName_;
    FolderBrowser browser_;
    classesroot::Root* root_ = nullptr;
    std::unique_ptr<classesroot::Root> desktopRoot_;
};

// The one settings store of the process: zarnplayer.ini in paths::DataDir().
TTool& SettingsStore();
