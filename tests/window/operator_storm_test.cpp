// SPDX-License-Identifier: MIT
// An operator's storm: a seeded random sequence of clicks, key presses and texts
// on every control, with the recording driver. After every event the entry fields
// hold texts within their ranges, WriteValues has changed only by an Enter in the
// editor, and every driver call carries the arguments the fields and PortSettings
// say it must.
#include <cstdlib>
#include <random>
#include <sstream>

#include "core/entry_rules.h"
#include "core/numbers.h"
#include "window_fixture.h"

namespace bench::testing {
namespace {

int stormEvents() {
    const char* n = std::getenv("STORM_EVENTS");
    return n != nullptr ? std::atoi(n) : 10000;
}

class OperatorStorm : public WindowTest, public ::testing::WithParamInterface<Variant> {
  protected:
    void SetUp() override { open(GetParam()); }

    std::mt19937 rng{20261208};

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

    QString randomText() {
        static const std::vector<QString> pieces = {
            "0", "1",  "5",   "8", "9",   "12",  "64",          "65", "100", "65535", "65536",
            "-", "+",  ".",   "E", "D",   "e9",  "E999",        "&H", "FF",  "&O",    "7",
            " ", "\t", "abc", "x", "2.5", "3.5", "99999999999", "-1", "：",  "编号"};
        QString text;
        const int parts = pick(4);
        for (int i = 0; i < parts; ++i)
            text += pieces[static_cast<std::size_t>(pick(static_cast<int>(pieces.size())))];
        return text;
    }

    // Types as an operator would; characters without a key of their own are pasted.
    static void typeInto(QLineEdit* field, const QString& text) {
        for (QChar ch : text) {
            if (ch.unicode() < 128) {
                QTest::keyClick(field, static_cast<char>(ch.unicode()));
            } else {
                field->insert(QString(ch));
            }
        }
    }

    // The call a driver function must receive, as the log writes it.
    static std::string line(const char* function, std::initializer_list<int64_t> args) {
        std::ostringstream out;
        out << function;
        for (int64_t a : args) out << ' ' << a;
        return out.str();
    }

    static int32_t parsedOr(const QString& text, int32_t previous) {
        const auto v = parseInt32(text.toStdString());
        return v ? *v : previous;
    }

    void checkFieldsInRange(int event) {
        const std::pair<QLineEdit*, EntryField> fields[] = {{c().Text1, EntryField::ReadCount},
                                                            {c().Text2, EntryField::ReadStart},
                                                            {c().Text3, EntryField::WriteStart},
                                                            {c().Text4, EntryField::WriteCount}};
        for (const auto& [field, rule] : fields) {
            const double v = parseLenient(field->text().toStdString());
            const EntryRange range = entryRange(rule);
            ASSERT_TRUE(v >= range.low && v <= range.high)
                << "event " << event << ": " << field->objectName().toStdString() << " holds \""
                << field->text().toStdString() << "\"";
        }
    }
};

TEST_P(OperatorStorm, NothingBreaksAndEveryCallIsMeant) {
    const bool is16 = GetParam() == Variant::Word16;
    const char* get = is16 ? "Get_4X_DX" : "Get_4X_LDX";
    const char* set = is16 ? "Set_4X_DX" : "Set_4X_LDX";
    QLineEdit* fields[] = {c().Text1, c().Text2, c().Text3, c().Text4};
    QComboBox* lists[] = {c().Combo1, c().Combo2, c().Combo3};
    std::map<std::string, int> seen;

    for (int event = 0; event < stormEvents(); ++event) {
        const auto before = state().WriteValues;
        const auto& ps = state().PortSettings;
        std::vector<std::string> expected;
        bool enterInEditor = false;
        QString editorText;
        int32_t editRow = window().writePanel().EditRow();

        switch (pick(12)) {
            case 0: {  // Open
                const int32_t port = parsedOr(c().Combo1->currentText(), ps[kPort]);
                const int32_t speed = parsedOr(c().Combo3->currentText(), ps[kSpeed]);
                int32_t parity = ps[kParity];
                for (int i = 0; i < 3; ++i) {
                    if (c().Option2[static_cast<std::size_t>(i)]->isChecked()) parity = i;
                }
                expected.push_back(line("OpenPort_Modbus", {port, speed, parity}));
                click(c().Command9);
                ++seen["open"];
                break;
            }
            case 1:  // Close
                expected.push_back(line("ClosePort_Modbus", {ps[kPort]}));
                click(c().Command10);
                ++seen["close"];
                break;
            case 2:  // Start reading
                click(c().Command3);
                ++seen["start"];
                break;
            case 3:  // a read tick, when the timer runs
                if (c().Timer1->isActive()) {
                    const int32_t start = parsedOr(c().Text2->text(), ps[kReadStart]);
                    expected.push_back(line(
                        get, {ps[kPort], ps[kStation], start, window().readPanel().ReadCount()}));
                    window().readPanel().Timer1_Timer();
                    ++seen["read"];
                }
                break;
            case 4:  // a write-grid tick, when the timer runs
                if (c().Timer2->isActive()) window().writePanel().Timer2_Timer();
                break;
            case 5: {  // Write
                std::ostringstream call;
                call << line(set, {ps[kPort], ps[kStation], window().writePanel().WriteStart(),
                                   window().writePanel().WriteCount()})
                     << " |";
                for (std::size_t k = 0; k < 81; ++k) call << ' ' << (k < 64 ? before[k] : 0);
                expected.push_back(call.str());
                click(c().Command2);
                ++seen["write"];
                break;
            }
            case 6: {  // type into an entry field, over its text or behind it
                QLineEdit* field = fields[pick(4)];
                field->setFocus();
                if (pick(2)) field->selectAll();
                typeInto(field, randomText());
                break;
            }
            case 7:  // a key in an entry field
                QTest::keyClick(fields[pick(4)], pick(2) ? Qt::Key_Backspace : Qt::Key_0);
                break;
            case 8:  // a list's edit text, or a parity button
                if (pick(2)) {
                    lists[pick(3)]->setEditText(randomText());
                } else {
                    click(c().Option2[static_cast<std::size_t>(pick(3))]);
                }
                break;
            case 9: {  // a click in either grid
                FlexGrid* grid = pick(2) ? c().MSFlexGrid2 : c().MSFlexGrid1;
                if (grid->rows() > 1) clickCell(grid, 1 + pick(grid->rows() - 1), 1 + pick(2));
                break;
            }
            case 10:  // typing in the editor
                if (c().Text5->isVisible()) typeInto(c().Text5, randomText());
                break;
            case 11:  // a key in the editor: Enter commits, others do not
                if (c().Text5->isVisible()) {
                    const int key = pick(3);
                    if (key == 0) {
                        enterInEditor = true;
                        editorText = c().Text5->text();
                        editRow = window().writePanel().EditRow();
                        QTest::keyClick(c().Text5, Qt::Key_Return);
                        ++seen["commit"];
                    } else {
                        QTest::keyClick(c().Text5, key == 1 ? Qt::Key_Escape : Qt::Key_Backspace);
                    }
                }
                break;
        }

        ASSERT_EQ(recording().takeCalls(), expected) << "event " << event;
        checkFieldsInRange(event);
        ASSERT_EQ(messageBoxes(), 0);
        auto after = state().WriteValues;
        if (enterInEditor) {
            auto expectedValues = before;
            const auto index = static_cast<std::size_t>(editRow - 1);
            if (const auto v = parseInt32(editorText.toStdString())) expectedValues[index] = *v;
            ASSERT_EQ(after, expectedValues)
                << "event " << event << ": \"" << editorText.toStdString() << "\"";
        } else {
            ASSERT_EQ(after, before) << "event " << event << ": WriteValues changed without Enter";
        }
    }
    // The storm reached every kind of call.
    for (const char* kind : {"open", "close", "start", "read", "write", "commit"}) {
        EXPECT_GT(seen[kind], 0) << kind;
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, OperatorStorm,
                         ::testing::Values(Variant::Word16, Variant::Long32), [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

}  // namespace
}  // namespace bench::testing
