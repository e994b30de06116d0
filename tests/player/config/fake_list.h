// The options dialog's list as Fill and Apply see it, without a window.
#pragma once

#include "player/config/Extention.h"

#include <vector>

struct FakeList final : TExtList {
    struct Row {
        std::string caption, explanation;
        TExt* ext;
        bool checked;
    };
    std::vector<Row> rows;
    int updates = 0;

    void BeginUpdate() override { ++updates; }
    void EndUpdate() override {}
    void Clear() override { rows.clear(); }
    int AddRow(const std::string& caption, const std::string& explanation, TExt* ext,
               bool checked) override {
        rows.push_back({caption, explanation, ext, checked});
        return static_cast<int>(rows.size()) - 1;
    }
    bool Checked(int row) const override { return rows.at(static_cast<size_t>(row)).checked; }

    void Tick(const std::string& ext, bool on) {
        for (Row& r : rows)
            if (r.caption == ext)
                r.checked = on;
    }
};
