// The analysis pass on its own thread while the GUI thread keeps changing
// the list. Run under ThreadSanitizer too.
#include "FakeView.h"
#include "HeldReader.h"

#include "player/config/Option.h"
#include "player/config/Tool.h"
#include "player/probe/Protocol.h"
#include "tests/player/mediainfo/ChunkBytes.h"
#include "tests/support/Files.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace std::chrono_literals;
using namespace testbytes;

namespace {

class Pass : public ListTest {
protected:
    void SetUp() override {
        TFileList::Hooks hooks;
        hooks.AnalysisReady = [this] { Ready(); };
        Connect(true, hooks);
    }
    void TearDown() override {
        list.StopAnalysis();
        ClosingFlag.store(false); // for the next test in this process
    }

    // Called on the analysis thread after each entry.
    void Ready() {
        int n = ++readyCalls;
        sched_param p{};
        int policy = -1;
        pthread_getschedparam(pthread_self(), &policy, &p);
        if (policy != SCHED_IDLE)
            ++notIdle;
        if (std::this_thread::get_id() == gui)
            ++onGui;
        if (onReady)
            onReady(n);
    }

    std::string MakeMp3(const std::string& name, const std::string& title) {
        Bytes tag = Id3Tag(title, "");
        Bytes b(300 + tag.size(), 0xFF);
        std::copy(tag.begin(), tag.end(), b.end() - static_cast<long>(tag.size()));
        std::string path = dir / name;
        WriteFile(path, std::string(b.begin(), b.end()));
        return path;
    }
    void AddBatch(int from, int count) {
        list.BeginUpdate();
        for (int i = from; i < from + count; ++i)
            list.Add(MakeMp3("f" + std::to_string(i) + ".mp3", "T" + std::to_string(i)));
        list.EndUpdate();
    }
    // Waits for the pass to end, then takes its results on this thread.
    int WaitAndApply() {
        auto deadline = std::chrono::steady_clock::now() + 20s;
        while (list.Analyzing() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        EXPECT_FALSE(list.Analyzing()) << "the pass did not end";
        return list.ApplyAnalysis();
    }

    std::thread::id gui = std::this_thread::get_id();
    std::atomic<int> readyCalls{0}, notIdle{0}, onGui{0};
    std::function<void(int)> onReady;
};

// The one child process of this process (the probe), or -1.
pid_t ProbeChild() {
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream in(task.path() / "children");
        pid_t pid = -1;
        if (in >> pid)
            return pid;
    }
    return -1;
}

// Blocks the pass inside its hook until the test opens it.
class Gate {
public:
    void Arrive() {
        std::unique_lock<std::mutex> l(m_);
        arrived_ = true;
        cv_.notify_all();
        cv_.wait(l, [&] { return open_; });
    }
    void WaitArrived() {
        std::unique_lock<std::mutex> l(m_);
        cv_.wait(l, [&] { return arrived_; });
    }
    void Open() {
        std::lock_guard<std::mutex> l(m_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool arrived_ = false, open_ = false;
};

} // namespace

TEST_F(Pass, RetitlesRowsOnlyWhenTheGuiThreadTakesTheResults) {
    AddBatch(0, 5);
    int applied = WaitAndApply();
    EXPECT_EQ(applied, 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(view.rows[static_cast<size_t>(i)]->caption,
                  "f" + std::to_string(i) + ".mp3 - T" + std::to_string(i));
    EXPECT_EQ(readyCalls.load(), 5);
    EXPECT_EQ(onGui.load(), 0);
    EXPECT_EQ(notIdle.load(), 0) << "the pass should run in the idle scheduling class";
}

// The files are read by the probe: one that makes it crash (the test hook)
// and a real SIGSEGV from outside between two files each cost at most one
// file its title; the rest of the folder is titled by new probes.
TEST_F(Pass, ACrashedOrKilledProbeCostsOneFileAndTheFolderGoesOn) {
    ::setenv(probe::CrashOnEnv, "f1.mp3", 1);
    onReady = [](int n) {
        if (n != 3)
            return;
        // The probe is this process's only child.
        const pid_t probe = ProbeChild();
        ASSERT_GT(probe, 0);
        ASSERT_EQ(::kill(probe, SIGSEGV), 0);
        ASSERT_TRUE(zarntest::WaitFor([probe] {
            siginfo_t info{};
            return ::waitid(P_PID, static_cast<id_t>(probe), &info, WEXITED | WNOHANG | WNOWAIT) ==
                       0 &&
                   info.si_pid == probe;
        }));
    };
    AddBatch(0, 6);
    EXPECT_EQ(WaitAndApply(), 6);
    ::unsetenv(probe::CrashOnEnv);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(view.rows[static_cast<size_t>(i)]->caption,
                  i == 1 ? "f1.mp3" : "f" + std::to_string(i) + ".mp3 - T" + std::to_string(i));
}

// A play list saved under a media name is read without following what it
// names: nothing connects to the address inside it.
TEST_F(Pass, APlayListNamedLikeAnMp3MakesNoConnection) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(server, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(server, 8), 0);
    ASSERT_EQ(::getsockname(server, reinterpret_cast<sockaddr*>(&at), &size), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(at.sin_port));
    WriteFile(dir / "evil.mp3", "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:10\n"
                                "#EXTINF:10.0,\n" +
                                    url + "/one.ts\n#EXTINF:10.0,\n" + url +
                                    "/two.ts\n#EXT-X-ENDLIST\n");
    list.BeginUpdate();
    list.Add(MakeMp3("plays.mp3", "Plays"));
    list.Add(dir / "evil.mp3");
    list.EndUpdate();
    EXPECT_EQ(WaitAndApply(), 2);
    EXPECT_EQ(view.rows[0]->caption, "plays.mp3 - Plays");
    pollfd pfd{server, POLLIN, 0};
    EXPECT_EQ(::poll(&pfd, 1, 500), 0) << "something connected to " << url;
    ::close(server);
}

TEST_F(Pass, ResultsWaitForTheGuiThread) {
    Gate gate;
    onReady = [&](int n) {
        if (n == 3)
            gate.Arrive();
    };
    AddBatch(0, 3);
    gate.WaitArrived();
    // Three entries read, none applied: the texts belong to this thread.
    EXPECT_EQ(view.rows[0]->caption, "f0.mp3");
    EXPECT_EQ(list.Item(0)->Title, "f0.mp3");
    gate.Open();
    EXPECT_EQ(WaitAndApply(), 3);
    EXPECT_EQ(view.rows[0]->caption, "f0.mp3 - T0");
}

TEST_F(Pass, OptionOffStartsNoPass) {
    Options().AnalyzeFileInfo = 0;
    AddBatch(0, 3);
    EXPECT_FALSE(list.Analyzing());
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(readyCalls.load(), 0);
    EXPECT_EQ(list.ApplyAnalysis(), 0);
    EXPECT_EQ(view.rows[0]->caption, "f0.mp3");
}

TEST_F(Pass, NestedBatchesStartOnePass) {
    list.BeginUpdate();
    AddBatch(0, 4); // inner batch: no pass yet
    EXPECT_FALSE(list.Analyzing());
    list.EndUpdate();
    EXPECT_EQ(WaitAndApply(), 4);
    EXPECT_EQ(readyCalls.load(), 4);
}

TEST_F(Pass, NewBatchRestartsTheRunningPass) {
    Gate gate;
    onReady = [&](int n) {
        if (n == 1)
            gate.Arrive();
    };
    AddBatch(0, 4);
    gate.WaitArrived(); // the pass has done entry 0 and waits
    AddBatch(4, 1);
    gate.Open();
    WaitAndApply();
    // One entry, then the whole list of five again: no second pass alongside.
    EXPECT_EQ(readyCalls.load(), 1 + 5);
    EXPECT_EQ(view.rows[4]->caption, "f4.mp3 - T4");
}

TEST_F(Pass, ClosingStopsThePassAfterItsEntry) {
    onReady = [&](int n) {
        if (n == 2)
            ClosingFlag.store(true);
    };
    AddBatch(0, 6);
    EXPECT_EQ(WaitAndApply(), 2);
    EXPECT_EQ(readyCalls.load(), 2);
    EXPECT_EQ(view.rows[2]->caption, "f2.mp3");
    AddBatch(6, 1); // no pass starts once closing
    EXPECT_FALSE(list.Analyzing());
}

// A held reading keeps the pass on one entry, so that entry stays busy for
// as long as the test wants.
TEST_F(Pass, BusyEntryIsSkippedByRemoveAndWaitedForByClear) {
    const std::string slow = MakeMp3("slow.mp3", "S");
    HeldReader held(slow);
    list.SetTagReader(held.Reader());

    list.BeginUpdate();
    list.Add(slow);
    list.Add(MakeMp3("after.mp3", "T"));
    list.EndUpdate();
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!list.Item(0)->Busy.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(list.Item(0)->Busy.load());

    EXPECT_FALSE(list.Remove(0));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.Remove(1)); // not busy: goes
    view.ExpectMatches(list);

    int eventsBeforeClear = pendingEvents;
    onPendingEvents = [&] {
        if (pendingEvents == eventsBeforeClear + 3)
            held.Release();
    };
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(view.rows.empty());
    EXPECT_GE(pendingEvents, eventsBeforeClear + 3) << "Clear must keep the windows responding";
    held.Release();
    list.StopAnalysis();
    list.SetTagReader(nullptr);
    EXPECT_EQ(list.ApplyAnalysis(), 0); // results of removed entries are dropped
}

TEST_F(Pass, ListChangesWhileAPassRuns) {
    AddBatch(0, 120);
    std::mt19937 rng(4321);
    int next = 120;
    // Keep changing the list until the pass has made progress meanwhile, so
    // the two threads really overlap even on a loaded machine.
    const int readyBefore = readyCalls.load();
    auto deadline = std::chrono::steady_clock::now() + 10s;
    int step = 0;
    for (; step < 400 ||
           (readyCalls.load() - readyBefore < 20 && std::chrono::steady_clock::now() < deadline);
         ++step) {
        int n = list.Count();
        switch (rng() % 8) {
        case 0:
        case 1:
            if (n > 0)
                list.Remove(static_cast<int>(rng() % static_cast<unsigned>(n)));
            break;
        case 2:
            if (n > 1)
                list.Move(static_cast<int>(rng() % static_cast<unsigned>(n)),
                          static_cast<int>(rng() % static_cast<unsigned>(n)));
            list.Relist();
            break;
        case 3:
            list.Sort(step % 2 ? TSortKind::Reverse : TSortKind::Shuffle);
            list.Relist();
            break;
        case 4:
            AddBatch(next, 2);
            next += 2;
            break;
        case 5:
            list.Next();
            break;
        default:
            list.ApplyAnalysis();
        }
        if (step % 50 == 0)
            view.ExpectMatches(list);
    }
    view.ExpectMatches(list);
    EXPECT_GE(readyCalls.load() - readyBefore, 20)
        << "the pass made no progress in " << step << " list changes";
    WaitAndApply();
    for (int i = 0; i < list.Count(); ++i) {
        const TFile* f = list.Item(i);
        EXPECT_EQ(f->Row->caption, f->Title);
        EXPECT_NE(f->Title.find(" - T"), std::string::npos) << f->Title;
    }
    AddBatch(next, 1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(view.rows.empty());
}

TEST_F(Pass, EndOfTheModelStopsARunningPass) {
    std::string saved = dir / "default.lst";
    {
        TFileList model(saved);
        FakeView v;
        model.SetView(&v);
        Gate gate;
        std::atomic<int> calls{0};
        TFileList::Hooks hooks;
        hooks.AnalysisReady = [&] {
            if (++calls == 1)
                gate.Arrive();
        };
        model.SetHooks(hooks);
        model.BeginUpdate();
        for (int i = 0; i < 3; ++i)
            model.Add(MakeMp3("m" + std::to_string(i) + ".mp3", "M"));
        model.EndUpdate();
        gate.WaitArrived();
        std::thread opener([&] {
            std::this_thread::sleep_for(20ms);
            gate.Open();
        });
        model.Finish(); // waits for the pass to let go, then saves and clears
        opener.join();
        EXPECT_FALSE(model.Analyzing());
        EXPECT_TRUE(v.rows.empty());
        model.SetView(nullptr);
    }
    EXPECT_EQ(ParseListText(ReadFile(saved)).size(), 3u);
}
