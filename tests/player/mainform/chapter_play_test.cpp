// Chapters of a real .m4b through the real engine and renderer, sound to the
// null device: the window's Next chapter at rate 2 lands on the second
// chapter's start and the info line names it.
#include "engine/include/IPlayer.h"
#include "platform/numbers.h"
#include "player/config/Option.h"
#include "player/config/Rates.h"
#include "player/config/Tool.h"
#include "player/core/Player.h"
#include "player/list/Filelist.h"
#include "player/mainform/Mainform.h"
#include "player/shell/Session.h"
#include "tests/player/mediainfo/MadeMedia.h"
#include "tests/support/Files.h"
#include "tests/support/Windows.h"

#include <QAction>
#include <QLabel>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>

using namespace std::chrono_literals;

namespace {

constexpr std::int64_t Ms = 10'000; // 100 ns units

// Runs the event loop until p holds or the limit has passed.
template <typename Pred> bool Until(Pred p, std::chrono::milliseconds limit = 10s) {
    return zarntest::WaitFor(
        [&p] {
            QApplication::processEvents();
            return p();
        },
        limit);
}

} // namespace

TEST(ChapterPlay, NextChapterAtRateTwoLandsOnTheSecondChapterAndTheInfoLineSaysIt) {
    const std::string book = testmedia::ThreeChapterBook();
    ASSERT_FALSE(book.empty()) << "ffmpeg could not make the book";
    zarntest::App();
    const std::string dir = zarntest::MakeTempDir("chapterplay");
    SettingsStore().SetFileName(dir + "/zarnplayer.ini");
    Options() = TOptions{};
    TEngineSession session({QRVE_Initialize, QRVE_GetInterface, QRVE_Finalize});
    ASSERT_EQ(session.Open(), "");
    {
        TFileList list(dir + "/default.lst");
        TPlayerCore core(list);
        TMain main(core, list, nullptr);
        // The engine ends before the window it posts its messages to, as in
        // the program, also when an assertion leaves early.
        struct EngineEnds {
            TEngineSession& session;
            ~EngineEnds() { session.Close(); }
        } engineEnds{session};
        session.Attach(&main, main.VideoView());
        core.SetPlayer(session.Player());
        main.show();
        main.StartPlayer({});
        core.SetRateIndex(rates::IndexOfText("2.0"));
        core.OpenAndPlay(book);
        ASSERT_TRUE(Until([&core] { return core.ChapterCount() == 3; }))
            << "the engine's report of the opened file brings the chapters";
        IPlayer* player = session.Player();
        auto position = [player] {
            std::int64_t p = 0;
            player->GetPosition(&p);
            return p;
        };
        ASSERT_TRUE(Until([&] { return position() > 500 * Ms; })) << "the book plays";
        ASSERT_TRUE(main.NextChapter1->isEnabled());

        main.NextChapter1->trigger();
        const std::int64_t start = core.Chapters()[1].Start;
        testing::Test::RecordProperty("landed_ms_from_start",
                                      std::to_string((position() - start) / Ms));
        EXPECT_LT(std::abs(position() - start), 100 * Ms)
            << position() / Ms << " ms, the chapter starts at " << start / Ms << " ms";
        EXPECT_EQ(core.CurrentChapter(), 1);
        main.Timer1Timer();
        const std::string info = main.StaticText3->text().toStdString();
        EXPECT_NE(info.find("Chapter two 2/3"), std::string::npos) << info;
        // It plays on from there at twice the speed (what is heard, on a
        // device whose cursor runs in real time).
        const auto heardFrom = std::chrono::steady_clock::now();
        const std::int64_t from = position();
        ASSERT_TRUE(Until([&] { return position() > from + 1000 * Ms; }, 3s));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - heardFrom).count();
        const double speed = static_cast<double>(position() - from) / 1e7 / wall;
        testing::Test::RecordProperty("heard_speed", numbers::FormatFixed(speed, 2));
        EXPECT_GT(speed, 1.5);

        main.close();
        session.Close();
        core.SetPlayer(nullptr);
        main.FormDestroy();
    }
    session.Close();
    std::filesystem::remove_all(dir);
}
