// SPDX-License-Identifier: MIT
// The range rules of the four entry fields, as an operator types into them.
#include <QClipboard>
#include <QGuiApplication>

#include "param_name.h"
#include "window_fixture.h"

namespace bench::testing {
namespace {

struct EntryCase {
    const char* typed;
    const char* countShows;    // what a count field (Text1, Text4) then holds
    const char* addressShows;  // what an address field (Text2, Text3) then holds
};

class EntryRules : public WindowTest, public ::testing::WithParamInterface<EntryCase> {
  protected:
    void SetUp() override { open(Variant::Word16); }
};

TEST_P(EntryRules, KeepEveryFieldInItsRange) {
    const EntryCase& e = GetParam();
    const QString typed = QString::fromUtf8(e.typed);
    for (QLineEdit* field : {c().Text1, c().Text4}) {
        field->setText(typed);
        EXPECT_EQ(field->text(), QString::fromUtf8(e.countShows))
            << field->objectName().toStdString();
    }
    for (QLineEdit* field : {c().Text2, c().Text3}) {
        field->setText(typed);
        EXPECT_EQ(field->text(), QString::fromUtf8(e.addressShows))
            << field->objectName().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EntryRules,
    ::testing::Values(EntryCase{"", "8", ""}, EntryCase{"0", "8", "0"}, EntryCase{"-3", "8", "1"},
                      EntryCase{"abc", "8", "abc"}, EntryCase{"65", "8", "65"},
                      EntryCase{"64.5", "8", "64.5"}, EntryCase{"1", "1", "1"},
                      EntryCase{"64", "64", "64"}, EntryCase{"1.5", "1.5", "1.5"},
                      EntryCase{"12abc", "12abc", "12abc"}, EntryCase{"65535", "8", "65535"},
                      EntryCase{"65535.5", "8", "1"}, EntryCase{"-1", "8", "1"},
                      EntryCase{"65536", "8", "1"}, EntryCase{"1E999", "8", "1"},
                      EntryCase{"-1E999", "8", "1"}, EntryCase{"0.4", "8", "0.4"},
                      EntryCase{"&H40", "&H40", "&H40"}, EntryCase{"&H41", "8", "&H41"}),
    [](const auto& p) { return testnames::fromText(p.param.typed); });

TEST_F(WindowTest, TypingADigitBehindAValidCountReplacesIt) {
    open(Variant::Long32);
    type(c().Text1, QStringLiteral("8"));
    EXPECT_EQ(c().Text1->text(), QStringLiteral("8"));
    QTest::keyClick(c().Text1, Qt::Key_End);
    QTest::keyClick(c().Text1, Qt::Key_0);
    EXPECT_EQ(c().Text1->text(), QStringLiteral("8"));
    // Deleting the whole text counts as 0.
    type(c().Text4, QString());
    EXPECT_EQ(c().Text4->text(), QStringLiteral("8"));
    // An address field keeps an empty text.
    type(c().Text3, QString());
    EXPECT_EQ(c().Text3->text(), QString());
}

TEST_F(WindowTest, APasteOfAnyLengthKeepsItsTextAndItsNumber) {
    open(Variant::Long32);
    const QString pasted = QString(40000, QLatin1Char('0')) + QLatin1Char('5');
    QGuiApplication::clipboard()->setText(pasted);
    auto paste = [](QLineEdit* field) {
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    };
    for (QLineEdit* field : {c().Text1, c().Text2, c().Text3, c().Text4}) {
        paste(field);
        EXPECT_EQ(field->text(), pasted) << field->objectName().toStdString();
    }
    click(c().Command3);
    EXPECT_EQ(window().readPanel().ReadCount(), 5);
    EXPECT_EQ(c().MSFlexGrid1->text(1, 2), QStringLiteral("5"));
    window().writePanel().Timer2_Timer();
    EXPECT_EQ(window().writePanel().WriteCount(), 5);
    EXPECT_EQ(window().writePanel().WriteStart(), 5);
    clickCell(c().MSFlexGrid2, 2, 1);
    paste(c().Text5);
    EXPECT_EQ(c().Text5->text(), pasted);
    QTest::keyClick(c().Text5, Qt::Key_Return);
    EXPECT_EQ(state().WriteValues[1], 5);
}

}  // namespace
}  // namespace bench::testing
