#include "platform/classesroot/memory.h"
#include "player/config/Option.h"
#include "player/config/Optionform.h"
#include "player/config/Tool.h"
#include "tests/support/FakePlayer.h"
#include "tests/support/Windows.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

using zarntest::App;
using zarntest::SaveScreenshot;

struct OptionForm : ::testing::Test {
    classesroot::MemoryRoot root;
    TTool tool{"/nonexistent/zarnplayer.ini"};
    std::unique_ptr<TExtentions> table;
    TOptions options;
    FakePlayer player;

    void SetUp() override {
        App();
        tool.SetClassesRoot(&root);
        root.WriteValue(".mp3", "", "Other.File");
        root.WriteValue(".wav", "", "QRVE.File");
        table = std::make_unique<TExtentions>(tool);
    }
    template <class T> static T* Find(TOption& dialog, const char* name) {
        T* w = dialog.findChild<T*>(name);
        EXPECT_TRUE(w) << name;
        return w;
    }
    static QTreeWidgetItem* Row(TOption& dialog, const char* ext) {
        auto items = Find<QTreeWidget>(dialog, "ListView1")->findItems(ext, Qt::MatchExactly, 0);
        return items.isEmpty() ? nullptr : items.front();
    }
    static void Click(TOption& dialog, const char* button) {
        QTest::mouseClick(Find<QPushButton>(dialog, button), Qt::LeftButton);
    }
};

} // namespace

TEST_F(OptionForm, OpensWithTheStoredValuesAndTheAssociationState) {
    options.SkipSilent = 2;
    options.AnalyzeFileInfo = 0;
    options.SmoothSplices = 1;
    TOption dialog(nullptr, &player, *table, options);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Option - zarnplayer ver 0.3.5");
    EXPECT_EQ(dialog.size(), QSize(337, 278));
    EXPECT_EQ(Find<QTabWidget>(dialog, "PageControl1")->currentIndex(), 0);
    EXPECT_TRUE(Find<QCheckBox>(dialog, "CheckBox1")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(dialog, "CheckBox2")->isChecked());
    QCheckBox* smooth = Find<QCheckBox>(dialog, "CheckBox3");
    EXPECT_EQ(smooth->text(), "smooth splices (better sound, a little more CPU).");
    EXPECT_TRUE(smooth->isChecked());
    // Every label is shown whole, inside the page.
    for (const char* name : {"CheckBox1", "CheckBox2", "CheckBox3"}) {
        QCheckBox* box = Find<QCheckBox>(dialog, name);
        EXPECT_LE(box->geometry().right(), Find<QWidget>(dialog, "TabSheet1")->width()) << name;
        EXPECT_GE(box->width(), box->sizeHint().width()) << name;
    }
    QTreeWidget* list = Find<QTreeWidget>(dialog, "ListView1");
    ASSERT_EQ(list->topLevelItemCount(), 29);
    EXPECT_EQ(list->headerItem()->text(0), "Extention");
    EXPECT_EQ(list->headerItem()->text(1), "Explanation");
    EXPECT_EQ(list->topLevelItem(0)->text(0), ".avi");
    EXPECT_EQ(Row(dialog, ".wav")->checkState(0), Qt::Checked);
    EXPECT_EQ(Row(dialog, ".mp3")->checkState(0), Qt::Unchecked);
    EXPECT_TRUE(SaveScreenshot(dialog, "optionform"));
    Find<QTabWidget>(dialog, "PageControl1")->setCurrentIndex(1);
    EXPECT_TRUE(SaveScreenshot(dialog, "optionform-extentions"));
}

TEST_F(OptionForm, OkStoresOneAndZeroAndHandsTheSwitchesToTheEngine) {
    options.SkipSilent = 2;
    options.AnalyzeFileInfo = 0;
    options.SmoothSplices = 2;
    TOption dialog(nullptr, &player, *table, options);
    dialog.show();
    int changes = root.Changes();
    Click(dialog, "Button1");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(options.SkipSilent, 1);
    EXPECT_EQ(options.AnalyzeFileInfo, 0);
    EXPECT_EQ(options.SmoothSplices, 1);
    ASSERT_EQ(player.options.size(), 3u);
    EXPECT_EQ(player.options[0], std::make_pair(PLAYER_OPTION_SKIP_SILENCE, 1));
    EXPECT_EQ(player.options[1], std::make_pair(PLAYER_OPTION_SMOOTH_SPLICES, 1));
    EXPECT_EQ(player.options[2], std::make_pair(PLAYER_OPTION_LIMITER, 1));
    // .wav is associated and nothing was changed: no write at all.
    EXPECT_EQ(root.Changes(), changes);
}

TEST_F(OptionForm, OkAppliesTheCheckMarks) {
    options.SmoothSplices = 0;
    TOption dialog(nullptr, &player, *table, options);
    dialog.show();
    Row(dialog, ".mp3")->setCheckState(0, Qt::Checked);
    Row(dialog, ".wav")->setCheckState(0, Qt::Unchecked);
    Find<QCheckBox>(dialog, "CheckBox2")->setChecked(true);
    Find<QCheckBox>(dialog, "CheckBox3")->setChecked(true);
    // Levelling off, and another target kept for when it is on again.
    Find<QCheckBox>(dialog, "CheckBox5")->setChecked(false);
    EXPECT_FALSE(Find<QComboBox>(dialog, "ComboBox1")->isEnabled());
    Find<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(1);
    Click(dialog, "Button1");
    EXPECT_EQ(options.LevelLoudness, 0);
    EXPECT_EQ(options.LoudnessTarget, -19);
    EXPECT_EQ(root.ReadValue(".mp3", ""), "QRVE.File");
    EXPECT_EQ(root.ReadValue(".mp3", "QRVE_Back"), "Other.File");
    // It had no backup: cleared rather than left pointing at us.
    EXPECT_EQ(root.ReadValue(".wav", ""), "");
    EXPECT_TRUE(root.KeyExists("QRVE.File"));
    EXPECT_EQ(options.AnalyzeFileInfo, 1);
    EXPECT_EQ(options.SmoothSplices, 1);
    EXPECT_EQ(player.options[1], std::make_pair(PLAYER_OPTION_SMOOTH_SPLICES, 1));
    EXPECT_EQ(player.options.back(), std::make_pair(PLAYER_OPTION_LIMITER, 0));
    EXPECT_FALSE((*table)[6].Registered);
    EXPECT_TRUE((*table)[9].Registered);
}

TEST_F(OptionForm, CloseChangesNothing) {
    options.SkipSilent = 0;
    options.AnalyzeFileInfo = 1;
    options.SmoothSplices = 0;
    TOption dialog(nullptr, &player, *table, options);
    dialog.show();
    Find<QCheckBox>(dialog, "CheckBox1")->setChecked(true);
    Find<QCheckBox>(dialog, "CheckBox2")->setChecked(false);
    Find<QCheckBox>(dialog, "CheckBox3")->setChecked(true);
    Click(dialog, "Button3");
    int changes = root.Changes();
    Click(dialog, "Button2");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(options.SkipSilent, 0);
    EXPECT_EQ(options.AnalyzeFileInfo, 1);
    EXPECT_EQ(options.SmoothSplices, 0);
    EXPECT_TRUE(player.options.empty());
    EXPECT_EQ(root.Changes(), changes);
    EXPECT_FALSE((*table)[9].Registered);
}

TEST_F(OptionForm, MemoryAndSkipLengthsShowStoreOnOkAndStayOnClose) {
    options.RememberFiles = 2;
    options.SkipBack = 15;
    options.SkipForward = 45;
    {
        TOption dialog(nullptr, &player, *table, options);
        dialog.show();
        QCheckBox* remember = Find<QCheckBox>(dialog, "CheckBox4");
        QSpinBox* back = Find<QSpinBox>(dialog, "SpinEdit1");
        QSpinBox* forward = Find<QSpinBox>(dialog, "SpinEdit2");
        EXPECT_EQ(remember->text(), "remember position and rate of each file.");
        EXPECT_TRUE(remember->isChecked());
        EXPECT_EQ(back->value(), 15);
        EXPECT_EQ(forward->value(), 45);
        EXPECT_EQ(Find<QLabel>(dialog, "Label2")->buddy(), back);
        EXPECT_EQ(Find<QLabel>(dialog, "Label3")->buddy(), forward);
        const QWidget* page = Find<QWidget>(dialog, "TabSheet1");
        for (const char* name : {"CheckBox4", "Label2", "SpinEdit1", "Label3", "SpinEdit2"}) {
            QWidget* w = Find<QWidget>(dialog, name);
            EXPECT_LE(w->geometry().right(), page->width()) << name;
            EXPECT_LE(w->geometry().bottom(), page->height()) << name;
            EXPECT_GE(w->width(), w->sizeHint().width()) << name;
        }
        // The spin boxes keep to the lengths the settings accept.
        back->setValue(0);
        EXPECT_EQ(back->value(), TOptions::kSkipMin);
        forward->setValue(99999);
        EXPECT_EQ(forward->value(), TOptions::kSkipMax);
        remember->setChecked(false);
        Click(dialog, "Button2");
    }
    EXPECT_EQ(options.RememberFiles, 2);
    EXPECT_EQ(options.SkipBack, 15);
    EXPECT_EQ(options.SkipForward, 45);

    TOption dialog(nullptr, &player, *table, options);
    dialog.show();
    Find<QCheckBox>(dialog, "CheckBox4")->setChecked(false);
    QSpinBox* back = Find<QSpinBox>(dialog, "SpinEdit1");
    back->selectAll();
    QTest::keyClicks(back, "7");
    Find<QSpinBox>(dialog, "SpinEdit2")->setValue(120);
    Click(dialog, "Button1");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(options.RememberFiles, 0);
    EXPECT_EQ(options.SkipBack, 7);
    EXPECT_EQ(options.SkipForward, 120);
}

TEST_F(OptionForm, SelectAllAndClearAndRowsThatMoveTogether) {
    root.Share(".mpa", ".mp3");
    root.Share(".mp2", ".mp3");
    table = std::make_unique<TExtentions>(tool);
    TOption dialog(nullptr, &player, *table, options);
    dialog.show();
    EXPECT_EQ(Row(dialog, ".mp2")->text(1), "Audio Files (with .mpa, .mp3)");
    EXPECT_EQ(Row(dialog, ".mp2")->toolTip(1), "audio/mpeg");
    EXPECT_EQ(Row(dialog, ".m4b")->toolTip(0), "audio/x-m4b");
    Row(dialog, ".mp3")->setCheckState(0, Qt::Checked);
    EXPECT_EQ(Row(dialog, ".mpa")->checkState(0), Qt::Checked);
    EXPECT_EQ(Row(dialog, ".mp2")->checkState(0), Qt::Checked);
    EXPECT_EQ(Row(dialog, ".wav")->checkState(0), Qt::Checked);
    EXPECT_EQ(Row(dialog, ".avi")->checkState(0), Qt::Unchecked);
    Click(dialog, "Button4");
    QTreeWidget* list = Find<QTreeWidget>(dialog, "ListView1");
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        EXPECT_EQ(list->topLevelItem(i)->checkState(0), Qt::Unchecked) << i;
    Click(dialog, "Button3");
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        EXPECT_EQ(list->topLevelItem(i)->checkState(0), Qt::Checked) << i;
}

TEST_F(OptionForm, ARefusedWriteIsShownAndTheDialogStaysOpen) {
    root.RefuseWrites(".mp3");
    options.SkipSilent = 0;
    TOption dialog(nullptr, &player, *table, options);
    dialog.show();
    Row(dialog, ".avi")->setCheckState(0, Qt::Checked);
    Row(dialog, ".mp3")->setCheckState(0, Qt::Checked);
    Find<QCheckBox>(dialog, "CheckBox1")->setChecked(true);
    QString shown;
    zarntest::whenModal<QMessageBox>([&](QMessageBox* box) {
        shown = box->text();
        SaveScreenshot(*box, "optionform-refused");
        box->accept();
    });
    Click(dialog, "Button1");
    EXPECT_TRUE(shown.contains("cannot write \".mp3\": access denied")) << shown.toStdString();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(root.ReadValue(".avi", ""), "QRVE.File");
    EXPECT_EQ(root.ReadValue(".mp3", ""), "Other.File");
    EXPECT_EQ(options.SkipSilent, 0);
    EXPECT_TRUE(player.options.empty());
}

TEST_F(OptionForm, WhatTheDesktopOverridesIsShown) {
    {
        TOption dialog(nullptr, &player, *table, options);
        dialog.show();
        EXPECT_TRUE(Find<QLabel>(dialog, "Label1")->isHidden());
    }
    root.AddNotice("/home/u/.config/gnome-mimeapps.list is read before mimeapps.list");
    TOption dialog(nullptr, &player, *table, options);
    dialog.show();
    QLabel* label = Find<QLabel>(dialog, "Label1");
    EXPECT_FALSE(label->isHidden());
    EXPECT_TRUE(label->toolTip().contains("gnome-mimeapps.list"));
}

TEST_F(OptionForm, EveryFieldOnBothPagesHasAName) {
    TOption dialog(nullptr, &player, *table, options);
    dialog.show();
    const std::vector<std::string> none;
    EXPECT_EQ(zarntest::UnnamedFocusable(dialog), none);
    auto* pages = Find<QTabWidget>(dialog, "PageControl1");
    pages->setCurrentIndex(1);
    EXPECT_EQ(zarntest::UnnamedFocusable(dialog), none);
    // The spin boxes take their names from the labels bound to them.
    QAccessibleInterface* back =
        QAccessible::queryAccessibleInterface(Find<QSpinBox>(dialog, "SpinEdit1"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->text(QAccessible::Name).toStdString(), "skip back (seconds):");
}

// The 12-pixel font is the smallest; a larger desktop font wins and the
// dialog grows with it, fields and all, so no text is cut.
TEST_F(OptionForm, TheDesktopFontWinsWhenLargerAndTheDialogGrows) {
    const QFont desktop = QApplication::font();
    QFont large = desktop;
    large.setPixelSize(18);
    QApplication::setFont(large);
    {
        TOption dialog(nullptr, &player, *table, options);
        EXPECT_EQ(QFontInfo(dialog.font()).pixelSize(), 18);
        EXPECT_EQ(dialog.size(), QSize(506, 417));
        EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
        EXPECT_EQ(Find<QPushButton>(dialog, "Button2")->geometry(), QRect(378, 372, 113, 38));
        EXPECT_EQ(Find<QLabel>(dialog, "Label2")->geometry(), QRect(12, 156, 270, 26));
    }
    QFont small = desktop;
    small.setPixelSize(9);
    QApplication::setFont(small);
    {
        TOption dialog(nullptr, &player, *table, options);
        EXPECT_EQ(QFontInfo(dialog.font()).pixelSize(), 12);
        EXPECT_EQ(dialog.size(), QSize(337, 278));
        EXPECT_EQ(Find<QPushButton>(dialog, "Button2")->geometry(), QRect(252, 248, 75, 25));
    }
    QApplication::setFont(desktop);
}
// Tab goes round each page in reading order (the page tabs, the page's
// fields, OK and Close) and Shift+Tab back.
TEST_F(OptionForm, TabGoesRoundBothPagesInReadingOrder) {
    TOption dialog(nullptr, &player, *table, options);
    auto* pages = Find<QTabWidget>(dialog, "PageControl1");
    for (int page : {0, 1}) {
        pages->setCurrentIndex(page);
        const std::vector<std::string> faults = zarntest::TabOrderFaults(&dialog);
        EXPECT_TRUE(faults.empty()) << "page " << page << ": " << testing::PrintToString(faults);
        const std::vector<QWidget*> stops = zarntest::TabChain(&dialog);
        EXPECT_NE(std::find(stops.begin(), stops.end(), Find<QPushButton>(dialog, "Button2")),
                  stops.end());
    }
}
