// The program entry: the windows, the session with the playback engine
// around the message loop, and the shut-down in reverse order.
//
// Without a display the player runs on Qt's offscreen platform, plays its
// files to the end and prints its state once a second; ZARNPLAYER_STATUS=1
// prints the same lines with a display. SIGTERM and SIGINT close the main
// window as the end of the desktop session would.
//
// Only one player runs for a user and data folder: a second start hands its
// names to it and ends before it opens a window, the engine or any of the
// user's files.
#include "platform/handoff/Channel.h"
#include "platform/paths.h"
#include "player/bookmarkforms/Bookmarkqt.h"
#include "player/bookmarks/Bookmark.h"
#include "player/config/Tool.h"
#include "player/config/WindowColours.h"
#include "player/core/Levelling.h"
#include "player/export/ExportMain.h"
#include "player/list/Filelist.h"
#include "player/loudness/Cache.h"
#include "player/mainform/Mainform.h"
#include "player/mpris/Mpris.h"
#include "player/playlist/Playlistform.h"
#include "player/probe/Probe.h"
#include "player/shell/Session.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(signalPipe[1], &byte, 1);
}

bool NoDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return std::string(platform) == "offscreen" || std::string(platform) == "minimal";
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return !(x && *x) && !(wayland && *wayland);
}

// An exception in an event handler is shown and the loop goes on.
class TApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* e) override {
        try {
            return QApplication::notify(receiver, e);
        } catch (const std::exception& ex) {
            ShowFailure(ex.what(), false);
        }
        return false;
    }

    static void ShowFailure(const std::string& text, bool fatal) {
        std::fprintf(stderr, "zarnplayer: %s\n", text.c_str());
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
            if (fatal)
                QMessageBox::critical(nullptr, QString::fromLatin1(MainCaption),
                                      QString::fromLocal8Bit(text.c_str()));
            else
                QMessageBox::warning(nullptr, QString::fromLatin1(MainCaption),
                                     QString::fromLocal8Bit(text.c_str()));
        }
    }
};

void InstallSignalHandlers(TMain& main) {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &main);
    QObject::connect(notifier, &QSocketNotifier::activated, &main, [&main] {
        char buffer[16];
        while (read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        main.close();
    });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

// The running player may work in another folder: names go over whole.
std::vector<std::string> Absolute(const std::vector<std::string>& names) {
    std::vector<std::string> out;
    for (const std::string& n : names) {
        std::error_code ec;
        const std::filesystem::path p = std::filesystem::absolute(n, ec);
        out.push_back(n.empty() || ec ? n : p.lexically_normal().string());
    }
    return out;
}

// --help and --version (before any "--") print and end the program before
// it starts a player or hands anything to a running one.
bool PrintedInformation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--")
            return false;
        if (a == "--version") {
            std::printf("%s\n", MainCaption);
            return true;
        }
        if (a == "--help" || a == "-h") {
            std::printf(
                "usage: zarnplayer [FILE|FOLDER...]\n"
                "       zarnplayer --export OUT [--rate R] [--skip-silence] [--smooth|--plain]\n"
                "                  [--level off|LUFS] [--force] IN [IN...]\n"
                "       zarnplayer --help | --version\n"
                "\n"
                "Plays the files and folders (a folder's media files, its subfolders' after)\n"
                "at the rate last chosen, 1.0 to 4.0 without a change of pitch. When a player\n"
                "already runs for this user and data folder, the names are handed to it and\n"
                "this start ends; without names its list is cleared. Without a display the\n"
                "files play to the end of the list and the state is printed once a second.\n"
                "\n"
                "--export OUT    write the inputs at speed instead of playing them: the\n"
                "                extension of OUT chooses the format (.wav .flac .ogg .opus\n"
                "                .mp3); with several inputs OUT is a folder\n"
                "  --rate R      one of the player's rates (default: the stored one)\n"
                "  --skip-silence, --smooth\n"
                "                race through silence, smooth splices (default: the options)\n"
                "  --plain       the plain cut instead of smooth splices\n"
                "  --level off|LUFS\n"
                "                bring each output to a loudness target, -40 to -5 LUFS, with\n"
                "                peaks under -1 dBTP; off leaves the level alone (default: the\n"
                "                options, on at -16)\n"
                "  --force       overwrite an existing output\n"
                "--help, -h      this text\n"
                "--version       the version\n"
                "\n"
                "Environment:\n"
                "  ZARNPLAYER_HOME    the folder of zarnplayer.ini, default.lst and bookmark.txt\n"
                "                     (default: $XDG_CONFIG_HOME/zarnplayer; a copy run from its\n"
                "                     build tree or its own folder keeps them beside itself\n"
                "                     when that folder is writable)\n"
                "  ZARN_AUDIO_DEVICE  pulse (default), null, wav:PATH or capture:PATH\n"
                "  ZARNPLAYER_LOG     stderr: print the player's diagnostic reports\n"
                "  ZARNPLAYER_STATUS  1: print the state once a second with a display too\n");
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (PrintedInformation(argc, argv))
        return 0;
    // The export command needs no window and no running instance.
    if (exporter::IsExportCommand(argc, argv))
        return exporter::ExportMain(argc, argv);
    const bool headless = NoDisplay();
    if (headless)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Absolute and normalised, for this player and a running one alike:
    // positions are kept by that name.
    const std::vector<std::string> files = Absolute({argv + 1, argv + argc});

    handoff::Settings channel;
    // Two spellings of one folder are one player.
    channel.scope = paths::CanonicalDir(paths::DataDir());
    handoff::Start instance = handoff::Decide(files, channel);
    if (!instance.message.empty())
        std::fprintf(stderr, "zarnplayer: %s\n", instance.message.c_str());
    if (instance.role == handoff::Role::Forwarded)
        return 0;
    if (instance.role == handoff::Role::Failed)
        return 1;
    Bookmarks().Load();

    TApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    // The desktop's high-contrast colours, followed while the player runs;
    // without a display there are no colours to follow (and no bus needed).
    std::optional<WindowColours> colours;
    if (!headless)
        colours.emplace();
    SettingsStore().SetFolderBrowser(
        [](void* owner, const std::string& title) -> std::optional<std::string> {
            const QString folder = QFileDialog::getExistingDirectory(
                static_cast<QWidget*>(owner), QString::fromLocal8Bit(title.c_str()));
            if (folder.isEmpty())
                return std::nullopt;
            return QFile::encodeName(folder).toStdString();
        });

    TEngineSession session({QRVE_Initialize, QRVE_GetInterface, QRVE_Finalize});
    if (std::string failure = session.Open(); !failure.empty()) {
        TApplication::ShowFailure(failure, true);
        return 1;
    }

    int status = 0;
    bool bookmarksSaved = false;
    try {
        TPlayList playList(FileList());
        TPlayerCore core(FileList());
        TMain main(core, FileList(), &playList);
        playList.SetPlayerCore(&core);
        main.SetListFocusQuery([&playList] { return playList.ListHasFocus(); });
        playList.SetShortcutHandler([&main](int key) { return main.HandleShortcut(key); });
        // The list lets go of the windows and the hooks before they go.
        struct Detach {
            ~Detach() {
                FileList().StopAnalysis();
                FileList().SetView(nullptr);
                FileList().SetHooks({});
            }
        } detach;
        FileList().SetView(&playList);
        TFileList::Hooks hooks;
        hooks.ProcessPendingEvents = [] { QCoreApplication::processEvents(); };
        hooks.AnalysisReady = [] {
            QMetaObject::invokeMethod(
                qApp, [] { FileList().ApplyAnalysis(); }, Qt::QueuedConnection);
        };
        hooks.UpdatePrevNext = [&core] { core.ListChanged(); };
        hooks.ShowError = [](const std::string& text) { TApplication::ShowFailure(text, false); };
        FileList().SetHooks(std::move(hooks));
        main.SetHeadless(headless);
        const char* statusLines = std::getenv("ZARNPLAYER_STATUS");
        main.SetStatusLines(statusLines && *statusLines && *statusLines != '0');
        QObject::connect(&main, &TMain::closed, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        InstallSignalHandlers(main);
        main.show();
        if (instance.receiver)
            instance.receiver->Publish();

        // Loudness figures live beside the settings; the measurement runs
        // in its own probe and hands its results to the event loop.
        const std::string& settings = SettingsStore().FileName();
        TLoudnessCache loudness(settings.substr(0, settings.rfind('/') + 1) + "loudness.txt");
        if (const std::string why = loudness.Load(); !why.empty())
            std::fprintf(stderr, "zarnplayer: the loudness figures cannot be read: %s\n",
                         why.c_str());
        TLevelling levelling(
            loudness,
            [&core] {
                QMetaObject::invokeMethod(
                    &core, [&core] { core.LoudnessArrived(); }, Qt::QueuedConnection);
            },
            TProbe::ProgramPath());
        struct Unlevel {
            TPlayerCore& core;
            ~Unlevel() { core.SetLevelling(nullptr, nullptr); }
        } unlevel{core};
        core.SetLevelling(&levelling, &loudness);

        session.Attach(&main, main.VideoView());
        core.SetPlayer(session.Player());
        main.StartPlayer(files);
        main.SetHandOff(instance.receiver.get());
        // Media keys and desktop widgets, where there is a session bus.
        mpris::Service desktop(core, main, FileList());
        desktop.Start();
        // A close during the first folder scan came before the loop, whose
        // quit was then lost: the program ends here instead.
        if (!main.Closed())
            app.exec();
        // Without a window the exit status is the only answer a script gets.
        if (headless && core.NothingPlayed())
            status = 1;
        main.SetHandOff(nullptr);

        session.Close();
        core.SetPlayer(nullptr);
        // The windows write their settings, then the list its default file.
        main.FormDestroy();
        playList.FormDestroy();
        SaveBookmarks(&main);
        bookmarksSaved = true;
        // While the windows exist, so a list that cannot be saved is shown.
        FileList().Finish();
    } catch (const std::exception& e) {
        TApplication::ShowFailure(e.what(), true);
        status = 1;
    }
    session.Close();
    instance.receiver.reset();
    FileList().Finish();
    if (!bookmarksSaved)
        SaveBookmarks(nullptr);
    return status;
}
