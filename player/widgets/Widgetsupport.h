// Small pieces the player's windows share (player/widgets): a window's
// placement as the settings store sees it, and the local files of a drop.
#pragma once

#include "player/config/Tool.h"

#include <string>
#include <vector>

class QMimeData;
class QWidget;

// A window as the settings store places it; full screen counts as maximised,
// so it keeps the last normal placement too.
class WidgetPlacement : public Placeable {
public:
    explicit WidgetPlacement(QWidget& w) : w_(w) {}
    Placement Bounds() const override;
    void SetBounds(const Placement& p) override;
    ShowState State() const override;

private:
    QWidget& w_;
};

// The local files named by dropped or pasted data, as bytes of the file system.
std::vector<std::string> LocalFiles(const QMimeData* data);
