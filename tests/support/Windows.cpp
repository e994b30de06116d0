#include "tests/support/Windows.h"

#include "player/config/WindowColours.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QDir>
#include <QElapsedTimer>

#include <cerrno>
#include <cstdlib>

namespace zarntest {

QApplication& App() {
    static int argc = 1;
    static char* argv[] = {program_invocation_short_name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

bool SaveScreenshot(QWidget& w, const QString& name) {
    const char* build = std::getenv("ZARN_BUILD_DIR");
    QString dir = QString(build ? build : ".") + "/artifacts";
    QDir().mkpath(dir);
    return w.grab().save(dir + "/" + name + ".png");
}

AppPalette::AppPalette(const QPalette& palette) : saved_(QGuiApplication::palette()) {
    QGuiApplication::setPalette(palette);
    QCoreApplication::processEvents();
}

AppPalette::~AppPalette() {
    QGuiApplication::setPalette(saved_);
    QCoreApplication::processEvents();
}

double DrawnContrast(QWidget& w, QPoint body, QPoint ground) {
    const QImage shot = w.grab().toImage();
    if (!shot.rect().contains(body) || !shot.rect().contains(ground)) {
        ADD_FAILURE() << "the points lie outside the widget";
        return 0;
    }
    return ContrastRatio(shot.pixelColor(body), shot.pixelColor(ground));
}

namespace {

void CollectUnnamed(QAccessibleInterface* a, std::vector<std::string>& out) {
    if (!a || !a->isValid())
        return;
    const QAccessible::State state = a->state();
    if (state.focusable && !state.invisible && a->text(QAccessible::Name).trimmed().isEmpty()) {
        const QObject* o = a->object();
        out.push_back(std::to_string(a->role()) + " " +
                      (o ? o->objectName().toStdString() : std::string()));
    }
    for (int i = 0; i < a->childCount(); ++i)
        CollectUnnamed(a->child(i), out);
}

} // namespace

std::vector<std::string> UnnamedFocusable(QWidget& window) {
    std::vector<std::string> out;
    CollectUnnamed(QAccessible::queryAccessibleInterface(&window), out);
    return out;
}

QTimer* WatchModal(std::function<bool(QWidget*)> act) {
    auto* timer = new QTimer;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act] {
        if (act(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
        } else if (clock.elapsed() > 5000) {
            timer->stop();
            if (QWidget* stray = QApplication::activeModalWidget())
                stray->close();
            ADD_FAILURE() << "the expected dialog never came up";
            timer->deleteLater();
        }
    });
    timer->start(5);
    return timer;
}

} // namespace zarntest
