#include "tests/support/Windows.h"

#include "player/config/WindowColours.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QDir>
#include <QElapsedTimer>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QTest>

#include <algorithm>
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

int PixelsStandingOut(QWidget& w, const QColor& ground, double ratio) {
    const QImage shot = w.grab().toImage();
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            count += ContrastRatio(shot.pixelColor(x, y), ground) >= ratio;
    return count;
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

namespace {

std::string Describe(const QWidget* w) {
    if (!w->objectName().isEmpty())
        return w->objectName().toStdString();
    if (!w->accessibleName().isEmpty())
        return "\"" + w->accessibleName().toStdString() + "\"";
    return w->metaObject()->className();
}

std::string Describe(const std::vector<QWidget*>& chain) {
    std::string out;
    for (const QWidget* w : chain)
        out += (out.empty() ? "" : ", ") + Describe(w);
    return "[" + out + "]";
}

QRect InWindow(const QWidget* w, const QWidget* window) {
    return QRect(w->mapTo(window, QPoint(0, 0)), w->size());
}

// a reads before b: wholly above it, or beside it and to its left.
bool ReadsBefore(const QRect& a, const QRect& b) {
    if (a.bottom() < b.top())
        return true;
    if (b.bottom() < a.top())
        return false;
    return a.center().x() < b.center().x();
}

void Activate(QWidget* window) {
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    if (!QTest::qWaitForWindowActive(window))
        ADD_FAILURE() << Describe(window) << " never became the active window";
}

} // namespace

std::vector<QWidget*> TabChain(QWidget* window, bool backward) {
    auto press = [window, backward] {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        QTest::keyClick(target, backward ? Qt::Key_Backtab : Qt::Key_Tab,
                        backward ? Qt::ShiftModifier : Qt::NoModifier);
    };
    std::vector<QWidget*> chain;
    QWidget* first = QApplication::focusWidget();
    if (!first) {
        press();
        first = QApplication::focusWidget();
    }
    if (!first)
        return chain;
    chain.push_back(first);
    // A Tab that keeps the focus moved it within the widget (from a label
    // to its link); a few in a row mean the widget keeps every Tab.
    int within = 0;
    for (int i = 0; i < 200 && within < 4; ++i) {
        press();
        QWidget* now = QApplication::focusWidget();
        if (now == chain.back()) {
            ++within;
            continue;
        }
        within = 0;
        if (!now || now == first)
            break;
        chain.push_back(now);
    }
    return chain;
}

std::vector<QWidget*> TabStops(QWidget* window) {
    std::vector<QWidget*> stops;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->window() == window && w->isVisible() && w->isEnabled() && !w->focusProxy() &&
            (w->focusPolicy() & Qt::TabFocus))
            stops.push_back(w);
    return stops;
}

std::vector<std::string> TabOrderFaults(QWidget* window) {
    Activate(window);
    std::vector<std::string> faults;
    const std::vector<QWidget*> chain = TabChain(window);
    if (chain.empty()) {
        if (!TabStops(window).empty())
            faults.push_back("Tab reaches nothing of " + Describe(TabStops(window)));
        return faults;
    }
    for (size_t i = 0; i < chain.size(); ++i) {
        QWidget* w = chain[i];
        if (w->window() != window)
            faults.push_back("focus leaves the window for " + Describe(w));
        else if (!w->isVisible() || !w->isEnabled())
            faults.push_back("focus lands on the hidden or disabled " + Describe(w));
        if (std::find(chain.begin(), chain.begin() + static_cast<long>(i), w) !=
            chain.begin() + static_cast<long>(i))
            faults.push_back("Tab visits " + Describe(w) + " twice");
    }
    for (QWidget* stop : TabStops(window))
        if (std::find(chain.begin(), chain.end(), stop) == chain.end())
            faults.push_back("Tab never reaches " + Describe(stop));

    // The round read from the stop nothing reads before.
    std::vector<QRect> at;
    for (QWidget* w : chain)
        at.push_back(InWindow(w, window));
    size_t start = 0;
    for (size_t i = 0; i < chain.size(); ++i)
        if (std::none_of(at.begin(), at.end(),
                         [&](const QRect& r) { return ReadsBefore(r, at[i]); })) {
            start = i;
            break;
        }
    std::vector<QWidget*> round(chain.begin() + static_cast<long>(start), chain.end());
    round.insert(round.end(), chain.begin(), chain.begin() + static_cast<long>(start));
    for (size_t j = 1; j < round.size(); ++j)
        for (size_t i = 0; i < j; ++i)
            if (ReadsBefore(InWindow(round[j], window), InWindow(round[i], window))) {
                faults.push_back(Describe(round[j]) + " reads before " + Describe(round[i]) +
                                 " but Tab visits it later: " + Describe(round));
                break;
            }

    // Shift+Tab from the first stop goes round the other way.
    std::vector<QWidget*> reverse{chain.front()};
    reverse.insert(reverse.end(), chain.rbegin(), chain.rend() - 1);
    const std::vector<QWidget*> back = TabChain(window, true);
    if (back != reverse)
        faults.push_back("Shift+Tab goes " + Describe(back) + " instead of " + Describe(reverse));
    return faults;
}

QChar Mnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return QChar();
}

namespace {

// A submenu's or a menu bar title's item opens a menu; only its mnemonic
// reaches it.
// A mnemonic the menu, open, leaves to a one-key shortcut of the window
// (which would then act instead of the item).
void CheckTaken(const std::string& where, QMenu* menu, const QSet<QAction*>& shortcuts,
                std::vector<std::string>& faults) {
    for (const QAction* a : menu->actions()) {
        const QChar m = a->isVisible() ? Mnemonic(a->text()) : QChar();
        if (m.isNull())
            continue;
        const int key = m.toUpper().unicode();
        QKeyEvent override(QEvent::ShortcutOverride, key, Qt::NoModifier, QString(m));
        override.ignore();
        QApplication::sendEvent(menu, &override);
        if (override.isAccepted())
            continue;
        for (const QAction* s : shortcuts)
            if (s != a && s->isEnabled() && s->shortcut() == QKeySequence(key))
                faults.push_back(where + ": the key of \"" + a->text().toStdString() +
                                 "\" is the shortcut of \"" + s->text().toStdString() + "\"");
    }
}

void CheckItems(const std::string& where, const QList<QAction*>& items,
                std::vector<std::string>& faults) {
    QHash<QChar, QString> taken;
    for (const QAction* a : items) {
        if (a->isSeparator() || !a->isVisible())
            continue;
        const QString text = a->text();
        const QChar m = Mnemonic(text);
        const bool hasKey = !a->menu() && !a->shortcut().isEmpty();
        if (m.isNull() && !hasKey)
            faults.push_back(where + ": \"" + text.toStdString() +
                             "\" has neither a key nor a mnemonic");
        if (m.isNull())
            continue;
        if (taken.contains(m))
            faults.push_back(where + ": \"" + taken[m].toStdString() + "\" and \"" +
                             text.toStdString() + "\" share the mnemonic " +
                             QString(m).toStdString());
        else
            taken.insert(m, text);
    }
}

} // namespace

std::vector<std::string> MenuKeyFaults(QWidget* window, const QList<QMenu*>& extra) {
    std::vector<std::string> faults;
    for (QMenuBar* bar : window->findChildren<QMenuBar*>())
        CheckItems(bar->objectName().toStdString(), bar->actions(), faults);
    QList<QMenu*> menus = window->findChildren<QMenu*>() + extra;
    QSet<QAction*> shortcuts;
    for (QWidget* top : QApplication::topLevelWidgets())
        for (QAction* a : top->findChildren<QAction*>())
            shortcuts.insert(a);
    QSet<QMenu*> walked;
    while (!menus.isEmpty()) {
        QMenu* menu = menus.takeFirst();
        if (walked.contains(menu))
            continue;
        walked.insert(menu);
        emit menu->aboutToShow();
        const std::string where = menu->objectName().isEmpty() ? menu->title().toStdString()
                                                               : menu->objectName().toStdString();
        CheckItems(where, menu->actions(), faults);
        CheckTaken(where, menu, shortcuts, faults);
        for (QAction* a : menu->actions())
            if (a->menu())
                menus << a->menu();
    }
    return faults;
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
