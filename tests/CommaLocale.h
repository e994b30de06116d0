// A decimal-comma locale (de_DE.UTF-8) for tests of number texts: generated
// at test time into a private folder (glibc finds it through LOCPATH), so
// the machine needs only the locale sources of the `locales` package.
#pragma once

#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace zarntest {

inline constexpr const char* CommaLocaleName = "de_DE.UTF-8";

// The folder holding the generated locale; made once per test program and
// removed when it ends.
inline const std::string& CommaLocaleDir() {
    static const TempDir folder("locale");
    static const std::string dir = [] {
        const std::string d = folder.path();
        const std::string command =
            "localedef -i de_DE -f UTF-8 '" + d + "/" + CommaLocaleName + "' >/dev/null 2>&1";
        // localedef warns on some sources yet writes the locale (status 1).
        const int status = std::system(command.c_str());
        if (status == -1 || access((d + "/" + CommaLocaleName).c_str(), R_OK) != 0)
            return std::string();
        return d;
    }();
    return dir;
}

// The environment a child program needs to run under the locale.
inline std::string CommaLocaleEnv() {
    return "LOCPATH=" + CommaLocaleDir() + " LC_ALL=" + CommaLocaleName;
}

// Puts this process under the locale for its lifetime, then back to "C".
class CommaLocale {
public:
    CommaLocale() {
        const std::string& dir = CommaLocaleDir();
        active_ = !dir.empty() && setenv("LOCPATH", dir.c_str(), 1) == 0 &&
                  std::setlocale(LC_ALL, CommaLocaleName) != nullptr;
    }
    ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // True when the C library now reads "1.5" as 1, as the user's would.
    bool Active() const { return active_ && std::atof("1.5") == 1.0; }

private:
    bool active_ = false;
};

} // namespace zarntest
