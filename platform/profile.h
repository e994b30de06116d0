// Initialisation files ("key=value" lines under "[section]" headers), read and
// written key by key straight to the file with nothing cached. Sections and
// keys match without regard to letter case. A write replaces the whole file
// atomically, so a crash or a full disk never leaves half a file behind.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace profile {

// A write the system refused; what() names the file and the reason.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads give def when the file is missing, and also when it is there but
// cannot be read (said once on stderr); a write then throws Error and leaves
// the file as it is.
std::string ReadString(const std::string& file, std::string_view section, std::string_view key,
                       std::string_view def);
// Decimal, or hexadecimal after "0x" or "$"; def when missing or not a number.
int ReadInteger(const std::string& file, std::string_view section, std::string_view key, int def);

// Creates the file (not its folder) on the first write; throws Error. A value
// reads back exactly as written (blanks at its ends and enclosing quotes
// included); one holding a line break is refused with Error. Every other
// line of the file stays as it was, line ends included.
void WriteString(const std::string& file, std::string_view section, std::string_view key,
                 std::string_view value);
void WriteInteger(const std::string& file, std::string_view section, std::string_view key,
                  int value);

// Why the file cannot be read; empty when it can or is missing.
std::string ReadFailure(const std::string& file);

// The integer syntax ReadInteger accepts; false leaves out untouched.
bool ParseInteger(std::string_view text, int& out);

// Writes data to path through a temporary file in the same folder, flushed
// to the disk and renamed over path, then flushes the folder. Where path is
// a link, the file it points to is replaced and the link stays. Throws
// Error naming path.
void ReplaceFileAtomically(const std::string& path, std::string_view data);

} // namespace profile
