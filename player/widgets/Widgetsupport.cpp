#include "player/widgets/Widgetsupport.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

Placement WidgetPlacement::Bounds() const {
    return {w_.x(), w_.y(), w_.width(), w_.height()};
}

void WidgetPlacement::SetBounds(const Placement& p) {
    w_.move(p.left, p.top);
    w_.resize(p.width, p.height);
}

ShowState WidgetPlacement::State() const {
    if (w_.isMinimized())
        return ShowState::Minimized;
    if (w_.isMaximized() || w_.isFullScreen())
        return ShowState::Maximized;
    return ShowState::Normal;
}

std::vector<std::string> LocalFiles(const QMimeData* data) {
    std::vector<std::string> names;
    if (!data || !data->hasUrls())
        return names;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            names.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    return names;
}
