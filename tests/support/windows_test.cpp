// The keyboard checks the window tests share find the faults they are for.
#include "tests/support/Windows.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace {

TEST(KeyboardChecks, MnemonicsAreTheFirstSingleAmpersandsLetter) {
    EXPECT_EQ(zarntest::Mnemonic("&Open"), QChar('o'));
    EXPECT_EQ(zarntest::Mnemonic("Stay&OnTop"), QChar('o'));
    EXPECT_EQ(zarntest::Mnemonic("Songs && more"), QChar());
    EXPECT_EQ(zarntest::Mnemonic("A && B &c"), QChar('c'));
    EXPECT_EQ(zarntest::Mnemonic("trailing &"), QChar());
}

TEST(KeyboardChecks, MenuItemsWithoutKeysAndSharedMnemonicsAreFound) {
    zarntest::App();
    QWidget window;
    auto* menu = new QMenu(&window);
    menu->setObjectName("Menu");
    menu->addAction("&Play");
    menu->addAction("&PlayList...");
    menu->addSeparator();
    menu->addAction("Nothing");
    menu->addAction("Keyed")->setShortcut(QKeySequence(Qt::Key_K));
    // A one-key shortcut of the window would act instead of the item.
    (new QAction("Open", &window))->setShortcut(QKeySequence(Qt::Key_O));
    menu->addAction("&Options");
    QMenu* sub = menu->addMenu("Sub");
    sub->setObjectName("Sub");
    // Items made on opening are walked too.
    QObject::connect(sub, &QMenu::aboutToShow, sub, [sub] {
        sub->clear();
        sub->addAction("Made");
    });
    const std::vector<std::string> faults = zarntest::MenuKeyFaults(&window);
    EXPECT_EQ(faults,
              (std::vector<std::string>{"Menu: \"&Play\" and \"&PlayList...\" share the mnemonic p",
                                        "Menu: \"Nothing\" has neither a key nor a mnemonic",
                                        "Menu: \"Sub\" has neither a key nor a mnemonic",
                                        "Menu: the key of \"&Options\" is the shortcut of \"Open\"",
                                        "Sub: \"Made\" has neither a key nor a mnemonic"}));
}

TEST(KeyboardChecks, TabOutOfReadingOrderAndFocusOnAHiddenWidgetAreFound) {
    zarntest::App();
    QWidget window;
    window.resize(200, 100);
    // Tab goes in the order of making: the one beside the first comes last.
    auto* upper = new QLineEdit(&window);
    upper->setObjectName("upper");
    upper->setGeometry(10, 10, 80, 25);
    auto* lower = new QPushButton("lower", &window);
    lower->setObjectName("lower");
    lower->setGeometry(10, 60, 80, 25);
    auto* beside = new QLineEdit(&window);
    beside->setObjectName("beside");
    beside->setGeometry(100, 10, 80, 25);
    const std::vector<std::string> wrong = zarntest::TabOrderFaults(&window);
    ASSERT_EQ(wrong.size(), 1u) << testing::PrintToString(wrong);
    EXPECT_EQ(wrong[0].rfind("beside reads before lower", 0), 0u) << wrong[0];

    QWidget::setTabOrder(beside, lower);
    EXPECT_EQ(zarntest::TabOrderFaults(&window), std::vector<std::string>{});
    EXPECT_EQ(zarntest::TabChain(&window).size(), 3u);

    // The focus stays on the only control when it is hidden.
    QWidget alone;
    auto* button = new QPushButton("only", &alone);
    button->setObjectName("only");
    zarntest::TabOrderFaults(&alone);
    ASSERT_EQ(QApplication::focusWidget(), button);
    button->hide();
    EXPECT_EQ(zarntest::TabOrderFaults(&alone),
              std::vector<std::string>{"focus lands on the hidden or disabled only"});
}

} // namespace
