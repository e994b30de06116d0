// A private desktop for tests: XDG folders in a temporary directory, set in
// this process's environment so the real xdg-mime sees the same files.
#pragma once

#include "platform/classesroot/xdg.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct XdgSandbox {
    std::string dir;

    XdgSandbox() {
        char tmpl[] = "/tmp/zarn-xdg-XXXXXX";
        dir = ::mkdtemp(tmpl);
        std::filesystem::create_directories(dir + "/sys/applications");
        std::filesystem::create_directories(dir + "/sysconf");
        ::setenv("HOME", dir.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", Config().c_str(), 1);
        ::setenv("XDG_DATA_HOME", Data().c_str(), 1);
        ::setenv("XDG_DATA_DIRS", (dir + "/sys").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (dir + "/sysconf").c_str(), 1);
        // The generic code path of xdg-mime, whatever desktop runs the tests.
        ::setenv("XDG_CURRENT_DESKTOP", "X-Generic", 1);
        ::unsetenv("KDE_FULL_SESSION");
        ::unsetenv("GNOME_DESKTOP_SESSION_ID");
        ::unsetenv("MATE_DESKTOP_SESSION_ID");
        ::unsetenv("DESKTOP_SESSION");
        ::unsetenv("XDG_MENU_PREFIX");
    }
    ~XdgSandbox() {
        std::error_code ec;
        std::filesystem::permissions(Config() + "/mimeapps.list", std::filesystem::perms::owner_all,
                                     ec);
        std::filesystem::remove_all(dir, ec);
    }

    std::string Config() const { return dir + "/config"; }
    std::string Data() const { return dir + "/data"; }
    std::string Backup() const { return dir + "/associations.ini"; }
    std::string MimeApps() const { return Config() + "/mimeapps.list"; }

    classesroot::XdgPlaces Places() const {
        return classesroot::XdgPlaces::FromEnvironment(Backup());
    }

    static void Write(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        return all.str();
    }
    static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

    // Another program that handles mime, as a desktop would install it.
    void AddApp(const std::string& id, const std::string& mime) const {
        Write(Data() + "/applications/" + id,
              "[Desktop Entry]\nType=Application\nName=Other\nExec=/bin/true %F\nMimeType=" + mime +
                  ";\n");
    }

    // What the desktop opens mime with, asked of the real xdg-mime.
    static std::string DefaultFor(const std::string& mime) {
        std::string cmd = "xdg-mime query default " + mime + " 2>/dev/null";
        FILE* p = ::popen(cmd.c_str(), "r");
        if (!p)
            return "<no xdg-mime>";
        std::string out;
        char buf[256];
        while (size_t n = std::fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        ::pclose(p);
        while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
            out.pop_back();
        return out;
    }
};
