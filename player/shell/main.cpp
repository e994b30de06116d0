// The program entry: the windows, the session with the playback engine
// around the message loop, and the shut-down in reverse order.
//
// Without a display the player runs on Qt's offscreen platform, plays its
// files to the end and prints its state once a second; ZARNPLAYER_STATUS=1
// prints the same lines with a display. SIGTERM and SIGINT close the main
// window as the end of the desktop session would.
#include "player/config/Tool.h"
#include "player/mainform/Mainform.h"
#include "player/mainform/PlayListStandIn.h"
#include "player/playlist/Filelist.h"
#include "player/shell/Session.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
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

} // namespace

int main(int argc, char** argv) {
    const bool headless = NoDisplay();
    if (headless)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::vector<std::string> files(argv + 1, argv + argc);

    TApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    TEngineSession session({QRVE_Initialize, QRVE_GetInterface, QRVE_Finalize});
    if (std::string failure = session.Open(); !failure.empty()) {
        TApplication::ShowFailure(failure, true);
        return 1;
    }

    int status = 0;
    try {
        TPlayListStandIn playList;
        TMain main(FileList(), &playList);
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
        hooks.UpdatePrevNext = [&main] { main.UpdatePrevNext(); };
        hooks.ShowError = [](const std::string& text) { TApplication::ShowFailure(text, false); };
        FileList().SetHooks(std::move(hooks));
        main.SetHeadless(headless);
        const char* statusLines = std::getenv("ZARNPLAYER_STATUS");
        main.SetStatusLines(statusLines && *statusLines && *statusLines != '0');
        QObject::connect(&main, &TMain::closed, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        InstallSignalHandlers(main);
        main.show();

        session.Attach(&main, main.VideoView());
        main.SetPlayer(session.Player());
        main.StartPlayer(files);
        app.exec();

        session.Close();
        main.SetPlayer(nullptr);
        // The windows write their settings, then the list its default file.
        main.FormDestroy();
    } catch (const std::exception& e) {
        TApplication::ShowFailure(e.what(), true);
        status = 0;
    }
    session.Close();
    FileList().Finish();
    return status;
}
