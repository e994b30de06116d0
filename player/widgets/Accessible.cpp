#include "player/widgets/Accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLoggingCategory>
#include <QMenu>
#include <QPointer>
#include <QSlider>
#include <QTimer>

#include <utility>
#include <vector>

namespace {

// Gives the focus back to where it was when a modal dialog came up, in
// whichever window that was (the play list's keys open the main window's
// dialogs), so a keyboard user is never left without a focus.
class FocusKeeper : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* dialog = qobject_cast<QDialog*>(o);
        if (!dialog || !dialog->isModal())
            return false;
        if (e->type() == QEvent::Show) {
            QWidget* had = QApplication::focusWidget();
            opened_.push_back({dialog, had ? had : QApplication::activeWindow()});
        } else if (e->type() == QEvent::Hide) {
            for (auto it = opened_.begin(); it != opened_.end(); ++it)
                if (it->first == dialog) {
                    QPointer<QWidget> back = it->second;
                    opened_.erase(it);
                    QTimer::singleShot(0, this, [back] {
                        if (!back || !back->isVisible())
                            return;
                        back->window()->activateWindow();
                        back->setFocus(Qt::OtherFocusReason);
                    });
                    break;
                }
        }
        return false;
    }

private:
    std::vector<std::pair<QPointer<QDialog>, QPointer<QWidget>>> opened_;
};

// While a menu is open its letters are its own: a plain letter would
// otherwise reach the window's one-letter shortcut (O opens files) before
// the menu could take it as an item's mnemonic (&Option...).
// And an Alt that a screen reader hands back is not one to close a menu:
// while one listens, Qt holds each key until the reader has seen it and then
// posts it again, so the Alt of Alt+O arrives after its letter has opened
// the menu, and a menu closes on Alt.
class OpenMenuKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (!qobject_cast<QMenu*>(o))
            return false;
        if (e->type() == QEvent::KeyPress && !e->spontaneous()) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            return key == Qt::Key_Alt || key == Qt::Key_Meta || key == Qt::Key_AltGr;
        }
        if (e->type() != QEvent::ShortcutOverride)
            return false;
        auto* key = static_cast<QKeyEvent*>(e);
        constexpr auto held = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
        if (!(key->modifiers() & held) && !key->text().isEmpty() && key->text().at(0).isPrint())
            e->accept();
        return false;
    }
};

// What Qt cannot be told otherwise: a window of ours made from a plain
// QWidget (the play list) would be a "filler" to a screen reader, which then
// does not say that a window of its own came up; the announcer is a
// notification. Qt's own windows made from QWidget, menus and dialogs, keep
// the interfaces Qt gives them (a menu's items are its children there).
QAccessibleInterface* Roles(const QString& className, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w || className != QLatin1String(w->metaObject()->className()))
        return nullptr;
    if (w->isWindow() && w->metaObject()->superClass() == &QWidget::staticMetaObject &&
        !className.startsWith(QLatin1Char('Q')))
        return new QAccessibleWidget(w, QAccessible::Window);
    if (qobject_cast<QLabel*>(w) && w->objectName() == QLatin1String("Announcement"))
        return new QAccessibleWidget(w, QAccessible::Notification);
    // The seek bar says where it is in words: its description, and an
    // announcement after a seek. As a value it would be a number without
    // meaning, spoken five times a second while it follows playback.
    if (qobject_cast<QSlider*>(w) && w->objectName() == QLatin1String("TrackBar1"))
        return new QAccessibleWidget(w, QAccessible::Slider);
    return nullptr;
}

} // namespace

void InstallAccessibleRoles() {
    QAccessible::installFactory(Roles);
    // The bridge warns on standard error of every move of a slider without
    // a value, which the seek bar is on purpose.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.accessibility.atspi.warning=false"));
}

QLabel* AnnouncerOf(QWidget* window) {
    if (auto* label =
            window->findChild<QLabel*>(QStringLiteral("Announcement"), Qt::FindDirectChildrenOnly))
        return label;
    InstallAccessibleRoles();
    auto* label = new QLabel(window);
    label->setObjectName(QStringLiteral("Announcement"));
    label->setGeometry(0, 0, 0, 0);
    return label;
}

void Announce(QWidget* window, const QString& text) {
    QLabel* label = AnnouncerOf(window);
    label->setAccessibleName(text);
    // A screen reader speaks a notification when it comes into view; a
    // name change it speaks only of the object that has the focus.
    label->hide();
    label->show();
}

void KeepKeysForDialogsAndMenus(QObject* owner) {
    qApp->installEventFilter(new FocusKeeper(owner));
    qApp->installEventFilter(new OpenMenuKeys(owner));
}
