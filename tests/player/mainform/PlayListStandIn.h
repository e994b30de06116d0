// A plain window that shows the play list's rows: the model's view and a
// window for the main window to show and hide, without the full play list
// window the program uses.
#pragma once

#include "player/list/PlayListView.h"

#include <QWidget>

class QListWidget;
class QLabel;

class TPlayListStandIn : public QWidget, public IPlayListView {
    Q_OBJECT
public:
    TPlayListStandIn();
    ~TPlayListStandIn() override;

    ListRow* AppendRow(const std::string& caption, const std::string& timeText,
                       TFile* entry) override;
    void DeleteRow(ListRow* row) override;
    void SetRowCaption(ListRow* row, const std::string& caption) override;
    void SetRowImage(ListRow* row, int image) override;
    void MakeRowVisible(ListRow* row) override;
    void SetCountText(const std::string& text) override;
    ListRow* RowAt(int index) override;
    void SetRow(ListRow* row, const std::string& caption, const std::string& timeText,
                TFile* entry) override;
    void BeginRowUpdate() override;
    void EndRowUpdate() override;

    int RowCount() const;
    bool ListHasFocus() const;

private:
    QListWidget* list_;
    QLabel* count_;
};
