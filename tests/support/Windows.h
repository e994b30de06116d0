// What the window tests share: one application object on the offscreen
// platform, acting on a modal dialog once it is up, and screenshots kept as
// build artifacts.
#pragma once

#include <QApplication>
#include <QList>
#include <QPalette>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>

class QMenu;

#include <functional>
#include <string>
#include <vector>

namespace zarntest {

// The program's one application; made on first use, never destroyed (at exit
// Qt's own globals may already be gone).
QApplication& App();

// Saves the widget as it is drawn to ${ZARN_BUILD_DIR}/artifacts/<name>.png.
bool SaveScreenshot(QWidget& w, const QString& name);

// Offers each modal widget that comes up to act until it takes one (returns
// true). One still missing after a few seconds fails the test and closes
// whatever modal widget is up, so a broken test fails instead of hanging in
// exec(). Returns the watch, for a test that expects no dialog to delete it.
QTimer* WatchModal(std::function<bool(QWidget*)> act);

// What a screen reader would find nameless in the window: each focusable
// object of its accessibility tree without a name, as "role objectName".
std::vector<std::string> UnnamedFocusable(QWidget& window);

// Gives the application a palette for as long as it lives, as a desktop
// switching to high contrast would; the palette before comes back after.
class AppPalette {
public:
    explicit AppPalette(const QPalette& palette);
    ~AppPalette();
    AppPalette(const AppPalette&) = delete;
    AppPalette& operator=(const AppPalette&) = delete;

private:
    QPalette saved_;
};

// How a mark stands out as the widget is drawn now: the contrast ratio of
// the pixel at body (on the mark) against the pixel at ground (beside it).
double DrawnContrast(QWidget& w, QPoint body, QPoint ground);
// How many pixels of the widget as drawn now stand out from ground by at
// least ratio: the marks, frames and text a reader can tell from it.
int PixelsStandingOut(QWidget& w, const QColor& ground, double ratio);

// The widgets Tab (or Shift+Tab, with backward) visits in the shown window,
// by real key events, from the one focused first (the first Tab's when none
// is) round to it again; at most 200 steps. A Tab that moves the focus
// within a widget (between a label's links) makes no stop of its own.
std::vector<QWidget*> TabChain(QWidget* window, bool backward = false);

// What Tab should visit: the window's visible, enabled widgets that take the
// focus by Tab (focus proxies stand for their widgets).
std::vector<QWidget*> TabStops(QWidget* window);

// What is wrong with the window's tab order, each fault said in words: a
// stop Tab misses, one it visits twice, a stop out of reading order (top to
// bottom; left to right where two share a row), Shift+Tab not the exact
// reverse, focus on an invisible or disabled widget or outside the window.
// Shows and activates the window first.
std::vector<std::string> TabOrderFaults(QWidget* window);

// What keeps a keyboard from the window's menus, each fault in words: an
// item that is no separator, visible, yet has neither a shortcut nor a
// mnemonic, a mnemonic two items of one menu (or of the menu bar) share, or
// one that a one-key shortcut of the application takes while the menu is open.
// Every menu below the window and each of extra is walked, submenus too;
// each is opened (aboutToShow) first so items made on opening are there.
std::vector<std::string> MenuKeyFaults(QWidget* window, const QList<QMenu*>& extra = {});

// The mnemonic of a menu text, lower case, or a null character without one
// ("&&" is a plain ampersand).
QChar Mnemonic(const QString& text);

// Acts on the next modal dialog of type T once it is up.
template <typename T> QTimer* whenModal(std::function<void(T*)> action, bool* seen = nullptr) {
    return WatchModal([action, seen](QWidget* w) {
        auto* dialog = qobject_cast<T*>(w);
        if (!dialog)
            return false;
        if (seen)
            *seen = true;
        action(dialog);
        return true;
    });
}

} // namespace zarntest
