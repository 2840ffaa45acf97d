// SPDX-License-Identifier: MIT
// Start-up fills the three lists and selects the defaults; Exit and the close
// control end the program without a driver call.
#include <QCloseEvent>
#include <QTimer>
#include <QWindow>

#include "regwire.h"
#include "window_fixture.h"

namespace bench::testing {
namespace {

class StartUp : public WindowTest, public ::testing::WithParamInterface<Variant> {};

TEST_P(StartUp, FillsTheListsKeepingTheirTrailingBlanks) {
    open(GetParam());
    ASSERT_EQ(c().Combo1->count(), 19);
    ASSERT_EQ(c().Combo2->count(), 19);
    ASSERT_EQ(c().Combo3->count(), 9);
    EXPECT_EQ(c().Combo1->itemText(0), QStringLiteral("1 "));
    EXPECT_EQ(c().Combo1->itemText(18), QStringLiteral("19 "));
    EXPECT_EQ(c().Combo2->itemText(9), QStringLiteral("10 "));
    const QStringList speeds = {"0:4800 ",   "1:9600 ",   "2:19200 ",  "3:38400 ", "4:57600 ",
                                "5:115200 ", "6:230400 ", "7:460800 ", "8:961200 "};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(c().Combo3->itemText(i), speeds[i]);
}

TEST_P(StartUp, SelectsTheDefaults) {
    open(GetParam());
    EXPECT_EQ(c().Combo1->currentText(), QStringLiteral("6 "));
    EXPECT_EQ(c().Combo3->currentText(), QStringLiteral("3:38400 "));
    EXPECT_EQ(c().Combo2->currentText(), QStringLiteral("1 "));
    EXPECT_FALSE(c().Option2[0]->isChecked());
    EXPECT_FALSE(c().Option2[1]->isChecked());
    EXPECT_TRUE(c().Option2[2]->isChecked());
    for (QLineEdit* field : {c().Text1, c().Text2, c().Text3, c().Text4}) {
        EXPECT_EQ(field->text(), QStringLiteral("1"));
    }
    EXPECT_EQ(c().Label2_9->text(), QStringLiteral("2001-03-12"));
    EXPECT_EQ(c().Label2_10->text(), QStringLiteral("18：42：00"));
}

TEST_P(StartUp, ExitClosesTheWindowWithoutADriverCall) {
    open(GetParam());
    click(c().Command9);  // a port is open and reading runs
    click(c().Command3);
    recording().takeCalls();
    click(c().Command1);
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(recording().takeCalls().empty());
}

TEST_P(StartUp, TheCloseControlClosesWithoutADriverCall) {
    open(GetParam());
    click(c().Command9);
    recording().takeCalls();
    EXPECT_TRUE(window().close());
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(recording().takeCalls().empty());
}

// The program's own event loop ends at once, with a notice open, whether Exit or
// the window's close control (as the window system sends it) ends it.
TEST_P(StartUp, ExitAndTheCloseControlEndTheProgramWhileANoticeIsOpen) {
    for (const bool exitButton : {true, false}) {
        open(GetParam());
        recording().setResult(REGWIRE_EOPEN);
        click(c().Command9);
        ASSERT_EQ(messageBoxes(), 1);
        // Nothing blocks the window: the window system passes its close control on.
        EXPECT_EQ(QGuiApplication::modalWindow(), nullptr);
        QTimer::singleShot(0, &window(), [&] {
            if (exitButton) {
                clickThroughWindow(c().Command1);
            } else {
                window().windowHandle()->close();
            }
        });
        QTimer stuck;  // a notice in the way would keep the loop running
        stuck.setSingleShot(true);
        QObject::connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        stuck.start(10000);
        EXPECT_EQ(QApplication::exec(), 0) << (exitButton ? "Exit" : "close control");
        EXPECT_FALSE(window().isVisible());
        recording().setResult(REGWIRE_OK);
    }
}

TEST_P(StartUp, UnloadNeverRefusesTheClose) {
    open(GetParam());
    for (int16_t before : {int16_t{0}, int16_t{1}, int16_t{-1}}) {
        int16_t cancel = before;
        window().Form_Unload(cancel);
        EXPECT_EQ(cancel, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, StartUp, ::testing::Values(Variant::Word16, Variant::Long32),
                         [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

}  // namespace
}  // namespace bench::testing
