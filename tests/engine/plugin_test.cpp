// The engine finds the renderer beside itself with no help from the
// environment, and says so clearly when it is not there.
#include "audio/filter/IZarnRate.h"
#include "harness.h"
#include "media.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

extern char** environ;

namespace {

// Runs the probe with the test environment minus every plugin hint, and a
// registry of its own so no earlier scan can have seen the renderer.
int RunProbe(const fs::path& library, const std::string& media, const fs::path& registry) {
    const std::string build = std::getenv("ZARN_BUILD_DIR");
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("GST_PLUGIN_PATH=", 0) == 0 || entry.rfind("GST_REGISTRY=", 0) == 0 ||
            entry.rfind("ZARN_ENGINE_AUDIO_SINK=", 0) == 0)
            continue;
        env.push_back(entry);
    }
    env.push_back("GST_REGISTRY=" + registry.string());
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string probe = build + "/tests/engine_probe";
    std::string lib = library.string();
    std::string file = media;
    char* argv[] = {probe.data(), lib.data(), file.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, probe.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(EnginePlugin, FoundBesideTheLibraryWithoutEnvironmentAndMissingOneFailsOpen) {
    const fs::path build = std::getenv("ZARN_BUILD_DIR");
    const fs::path temp = fs::path(build) / "tmp" / ("engine-probe-" + std::to_string(getpid()));
    fs::create_directories(temp);
    const std::string media = testmedia::Clip("wav");

    // A copy of the engine with no gstreamer-1.0 folder beside it.
    fs::copy_file(build / "lib" / "libzarnengine.so", temp / "libzarnengine.so",
                  fs::copy_options::overwrite_existing);
    EXPECT_EQ(RunProbe(temp / "libzarnengine.so", media, temp / "registry.bin"), 2)
        << "Open did not report the missing renderer";

    if (std::string(SinkUnderTest()) == ZARN_SINK_FACTORY)
        EXPECT_EQ(RunProbe(build / "lib" / "libzarnengine.so", media, temp / "registry.bin"), 0)
            << "the engine in the build tree did not find its renderer";
    else
        std::printf("[engine] the renderer plugin is not built: only the missing case ran\n");
    fs::remove_all(temp);
}
