// The classes root: keys named by path ("QRVE.File\shell\open\command"),
// each with named string values (the default value has the empty name).
// File-type association is written against this interface; the desktop's
// files sit behind one backend, an in-memory tree behind another.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace classesroot {

// A write the system refused; what() names the file and the reason.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Root {
public:
    virtual ~Root() = default;

    virtual bool KeyExists(std::string_view key) const = 0;
    // Opens the key, creating it when missing.
    virtual void CreateKey(std::string_view key) = 0;
    // Missing key or value: nullopt.
    virtual std::optional<std::string> ReadValue(std::string_view key,
                                                 std::string_view name) const = 0;
    // Creates the key when missing. Throws Error.
    virtual void WriteValue(std::string_view key, std::string_view name,
                            std::string_view value) = 0;
    virtual void DeleteValue(std::string_view key, std::string_view name) = 0;
    // Removes the key with all its sub-keys; a missing key is no error.
    virtual void DeleteKey(std::string_view key) = 0;
    // Tells the desktop that file associations changed.
    virtual void NotifyAssociationsChanged() = 0;

    // Keys with the same identity are one key to the store: a desktop keeps
    // associations by MIME type, so ".mp2" and ".mp3" move together there.
    virtual std::string Identity(std::string_view key) const = 0;
    // Things the user should know about where associations end up (a file
    // of the desktop that overrides ours); empty when all is well.
    virtual std::vector<std::string> Notices() const = 0;
};

} // namespace classesroot
