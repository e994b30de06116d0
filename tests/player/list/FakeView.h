// A play list window without windows: the rows as plain records, the count
// text, and the hooks the GUI would supply, so tests can watch the model.
#pragma once

#include "player/config/Option.h"
#include "player/list/Filelist.h"
#include "tests/support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

struct ListRow {
    std::string caption;
    std::string timeText;
    TFile* entry = nullptr;
    int image = 0;
};

class FakeView : public IPlayListView {
public:
    ListRow* AppendRow(const std::string& caption, const std::string& timeText,
                       TFile* entry) override {
        rows.push_back(std::make_unique<ListRow>(ListRow{caption, timeText, entry, 0}));
        return rows.back().get();
    }
    void DeleteRow(ListRow* row) override {
        auto it = Find(row);
        ASSERT_NE(it, rows.end()) << "deleting a row the view does not hold";
        rows.erase(it);
    }
    void SetRowCaption(ListRow* row, const std::string& caption) override {
        ASSERT_NE(Find(row), rows.end());
        row->caption = caption;
    }
    void SetRowImage(ListRow* row, int image) override {
        ASSERT_NE(Find(row), rows.end());
        row->image = image;
    }
    void MakeRowVisible(ListRow* row) override { visible = row; }
    void SetCountText(const std::string& text) override { countText = text; }
    ListRow* RowAt(int index) override {
        return index < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(index)].get()
                                                     : nullptr;
    }
    void SetRow(ListRow* row, const std::string& caption, const std::string& timeText,
                TFile* entry) override {
        row->caption = caption;
        row->timeText = timeText;
        row->entry = entry;
    }
    void BeginRowUpdate() override { ++rowUpdates; }
    void EndRowUpdate() override { --rowUpdates; }

    std::vector<std::string> Captions() const {
        std::vector<std::string> out;
        for (const auto& r : rows)
            out.push_back(r->caption);
        return out;
    }
    // Rows, entries and positions agree: the view shows the model in order.
    void ExpectMatches(const TFileList& list) const {
        ASSERT_EQ(static_cast<int>(rows.size()), list.Count());
        for (int i = 0; i < list.Count(); ++i) {
            EXPECT_EQ(rows[static_cast<size_t>(i)]->entry, list.Item(i)) << "row " << i;
            EXPECT_EQ(list.Item(i)->Row, rows[static_cast<size_t>(i)].get()) << "row " << i;
        }
    }

    std::vector<std::unique_ptr<ListRow>> rows;
    std::string countText;
    ListRow* visible = nullptr;
    int rowUpdates = 0;

private:
    std::vector<std::unique_ptr<ListRow>>::iterator Find(ListRow* row) {
        return std::find_if(rows.begin(), rows.end(),
                            [&](const auto& r) { return r.get() == row; });
    }
};

using zarntest::TempDir;

// A list shown in a FakeView, with a private folder for its files. The list
// counts the turns it gives the windows and calls onPendingEvents there.
class ListTest : public ::testing::Test {
protected:
    // Shows the list in the view with hooks, analysing new entries or not.
    void Connect(bool analyse, TFileList::Hooks hooks = {}) {
        Options().AnalyzeFileInfo = analyse ? 1 : 0;
        list.SetView(&view);
        hooks.ProcessPendingEvents = [this] {
            ++pendingEvents;
            if (onPendingEvents)
                onPendingEvents();
        };
        list.SetHooks(hooks);
    }

    TempDir dir;
    FakeView view;
    TFileList list;
    int pendingEvents = 0;
    std::function<void()> onPendingEvents;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> Names(const TFileList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Item(i)->FileName);
    return out;
}
