// SPDX-License-Identifier: MIT
// The window as created: geometry in pixels (twips / 15), texts, colours, fonts,
// tab order and the differences of the 16-bit and 32-bit windows. Expected values
// are written out here, not read back from the control table.
#include <QApplication>
#include <QFontDatabase>
#include <QGroupBox>
#include <QTextLayout>

#include "window_fixture.h"

namespace bench::testing {
namespace {

struct GeometryCase {
    const char* name;
    QRect expected;  // pixels, relative to the parent (window or frame)
};

class WindowGeometry : public WindowTest, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(WindowGeometry, MatchesTheLayoutInPixels) {
    open(Variant::Word16);
    const GeometryCase& g = GetParam();
    QWidget* widget = control(g.name);
    ASSERT_NE(widget, nullptr) << g.name;
    EXPECT_EQ(widget->geometry(), g.expected) << g.name;
}

INSTANTIATE_TEST_SUITE_P(Controls, WindowGeometry,
                         ::testing::Values(GeometryCase{"Label2_9", QRect(746, 0, 91, 19)},
                                           GeometryCase{"Label2_10", QRect(844, 0, 91, 19)},
                                           GeometryCase{"Frame6", QRect(6, 18, 179, 39)},
                                           GeometryCase{"Combo1",
                                                        QRect(66, 14, 97, 20)},  // inside Frame6
                                           GeometryCase{"Option2_2", QRect(150, 12, 61, 21)},
                                           GeometryCase{"Command9", QRect(770, 28, 73, 27)},
                                           GeometryCase{"Text1", QRect(78, 84, 65, 19)},
                                           GeometryCase{"MSFlexGrid1", QRect(10, 104, 461, 463)},
                                           GeometryCase{"MSFlexGrid2", QRect(478, 104, 461, 461)},
                                           GeometryCase{"Text5", QRect(416, 68, 61, 19)},
                                           GeometryCase{"Label7_2", QRect(554, 604, 121, 23)},
                                           GeometryCase{"Label10", QRect(26, 678, 893, 25)}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(WindowTest, ClientAreaAndCaptionOfEachVariant) {
    open(Variant::Word16);
    EXPECT_EQ(window().size(), QSize(951, 713));
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Corvanta： 16位整数测试"));
    EXPECT_EQ(window().objectName(), QStringLiteral("ssqx16"));
    open(Variant::Long32);
    EXPECT_EQ(window().size(), QSize(945, 713));
    EXPECT_EQ(window().windowTitle(), QStringLiteral("Corvanta： 32位整数测试"));
    EXPECT_EQ(window().objectName(), QStringLiteral("ssqx"));
}

TEST_F(WindowTest, HelpTextsDifferOnlyWhereTheVariantsDo) {
    open(Variant::Word16);
    const QString get16 = control<QLabel>("Label6_0")->text();
    const QString set16 = control<QLabel>("Label6_1")->text();
    const QString note16 = control<QLabel>("Label10")->text();
    EXPECT_EQ(control<QLabel>("Label4")->text(), QStringLiteral("32位整数读写函数说明："));
    EXPECT_EQ(get16, QStringLiteral("Declare Function Get_4X_DX Lib \"Regwire.dll\" (ByVal PortID "
                                    "As Long, ByVal Addr As Long, ByVal MAddr As Long, ByVal PB As "
                                    "Long, buffer As Long) As Long"));
    EXPECT_TRUE(set16.startsWith(QStringLiteral("Declare Function Set_4X_DX Lib")));
    EXPECT_TRUE(set16.contains(QStringLiteral("ByVal V1 As Long")));
    EXPECT_TRUE(note16.endsWith(QStringLiteral("目录即可。注意MODBUS 地址加一")));
    EXPECT_TRUE(note16.startsWith(QStringLiteral("本动态链接库\"REGWIRE.DLL\"文件")));

    open(Variant::Long32);
    EXPECT_EQ(control<QLabel>("Label4")->text(), QStringLiteral("32位整数读写函数说明："));
    EXPECT_TRUE(control<QLabel>("Label6_0")
                    ->text()
                    .startsWith(QStringLiteral(
                        "Declare Function Get_4X_LDX Lib \"Regwire.dll\" (ByVal PortID")));
    EXPECT_TRUE(control<QLabel>("Label6_1")->text().contains(QStringLiteral("Set_4X_LDX")));
    EXPECT_TRUE(control<QLabel>("Label10")->text().endsWith(QStringLiteral("SYSTEM32目录即可。")));
}

struct TextCase {
    const char* name;
    const char* text;
};

class WindowTexts : public WindowTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(WindowTexts, ShowTheirTextAtStart) {
    open(Variant::Long32);
    QWidget* widget = control(GetParam().name);
    ASSERT_NE(widget, nullptr);
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
    if (auto* frame = qobject_cast<QGroupBox*>(widget)) text = frame->title();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
    EXPECT_EQ(text, QString::fromUtf8(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Controls, WindowTexts,
    ::testing::Values(TextCase{"Label2_9", "2001-03-12"}, TextCase{"Label2_10", "18：42：00"},
                      TextCase{"Frame6", "通讯端口选择"}, TextCase{"Frame5_1", "校验方式"},
                      TextCase{"Option2_1", "奇校验"}, TextCase{"Command9", "打开"},
                      TextCase{"Command10", "关闭"}, TextCase{"Command3", "开始读"},
                      TextCase{"Command2", "写入"}, TextCase{"Command1", "退出"},
                      TextCase{"Label11",
                               "选好写数量后，单击表格第1列任一单元输入数据，回车键确认"},
                      TextCase{"Label7_8", "写入数量数量"}, TextCase{"Text1", "1"},
                      TextCase{"Text5", ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(WindowTest, ColoursAndFonts) {
    open(Variant::Word16);
    const QColor red(255, 0, 0);
    auto* date = control<QLabel>("Label2_9");
    EXPECT_EQ(date->palette().color(QPalette::Window), QColor(128, 255, 128));
    EXPECT_EQ(date->palette().color(QPalette::WindowText), red);
    EXPECT_TRUE(date->autoFillBackground());
    EXPECT_EQ(date->font().family(), QStringLiteral("Arial"));
    EXPECT_DOUBLE_EQ(date->font().pointSizeF(), 10.5);
    EXPECT_TRUE(date->font().bold());
    EXPECT_TRUE(date->font().italic());

    EXPECT_EQ(control("Frame2")->palette().color(QPalette::WindowText), red);
    // The red caption of a frame does not colour the label inside it.
    EXPECT_NE(control("Label1_1")->palette().color(QPalette::WindowText), red);
    EXPECT_EQ(control("Label7_9")->palette().color(QPalette::WindowText), red);
    EXPECT_EQ(control("Label11")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_NE(control("Label4")->palette().color(QPalette::WindowText), red);
    EXPECT_EQ(control("Text5")->palette().color(QPalette::Base), QColor(255, 192, 192));

    EXPECT_EQ(control("Command1")->font().family(), QStringLiteral("宋体"));
    EXPECT_DOUBLE_EQ(control("Command1")->font().pointSizeF(), 10.5);
    EXPECT_EQ(control("MSFlexGrid1")->font().family(), QStringLiteral("宋体"));
    EXPECT_DOUBLE_EQ(control("MSFlexGrid2")->font().pointSizeF(), 9.0);
    EXPECT_EQ(window().palette().color(QPalette::Window),
              window().palette().color(QPalette::Button));
}

class TabOrder : public WindowTest, public ::testing::WithParamInterface<Variant> {
  protected:
    void SetUp() override {
        open(GetParam());
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }
    // The control that holds the keyboard focus (a list's edit field counts as the list).
    std::string focused() {
        for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
            QWidget* parent = w->parentWidget();
            if (parent == &window() || qobject_cast<QGroupBox*>(parent) != nullptr) {
                return w->objectName().toStdString();
            }
        }
        return "";
    }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }
};

TEST_P(TabOrder, TabAndShiftTabVisitEveryControlByTabIndex) {
    // Focusable controls by ascending tab index (labels and frames take no focus, the
    // editor is hidden). Of the option buttons, the selected one takes the focus.
    const std::vector<std::string> order = {"Option2_2",   "Combo1",      "Command9", "Command10",
                                            "Command1",    "Combo3",      "Combo2",   "Text1",
                                            "MSFlexGrid1", "Text2",       "Command3", "Command2",
                                            "Text3",       "MSFlexGrid2", "Text4"};
    c().Option2[2]->setFocus();
    ASSERT_EQ(focused(), order.front());
    std::vector<std::string> forward;
    for (std::size_t i = 0; i < order.size(); ++i) {
        press(Qt::Key_Tab);
        forward.push_back(focused());
    }
    std::vector<std::string> expected(order.begin() + 1, order.end());
    expected.push_back(order.front());  // round to the first control again
    EXPECT_EQ(forward, expected);

    std::vector<std::string> backward;
    for (std::size_t i = 0; i < order.size(); ++i) {
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        backward.push_back(focused());
    }
    expected.assign(order.rbegin(), order.rend());
    EXPECT_EQ(backward, expected);
}

// Focus entering the parity group lands on the selected button, so that a stray
// Space changes nothing: by Tab at a fresh start, after the editor hid itself on
// Enter, and by Shift+Tab after the operator chose another button.
TEST_P(TabOrder, FocusEnteringTheParityGroupLandsOnTheSelectedButton) {
    c().Text4->setFocus();
    press(Qt::Key_Tab);
    EXPECT_EQ(focused(), "Option2_2");
    press(Qt::Key_Space);
    EXPECT_TRUE(c().Option2[2]->isChecked());

    window().writePanel().Timer2_Timer();
    clickCell(c().MSFlexGrid2, 1, 1);
    QTest::keyClicks(c().Text5, QStringLiteral("7"));
    QTest::keyClick(c().Text5, Qt::Key_Return);
    EXPECT_EQ(focused(), "Option2_2");
    press(Qt::Key_Space);
    EXPECT_TRUE(c().Option2[2]->isChecked());

    click(c().Option2[1]);
    press(Qt::Key_Tab);
    press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(focused(), "Option2_1");
    // The arrow keys still move the selection within the group.
    press(Qt::Key_Right);
    EXPECT_TRUE(c().Option2[2]->isChecked());
    EXPECT_EQ(focused(), "Option2_2");
}

TEST_P(TabOrder, ArrowKeysMoveBetweenTheCellsOfAGrid) {
    c().Text4->setText(QStringLiteral("3"));
    window().writePanel().Timer2_Timer();
    FlexGrid* grid = c().MSFlexGrid2;
    grid->setFocus();
    grid->setCurrent(1, 1);
    press(Qt::Key_Down);
    press(Qt::Key_Right);
    EXPECT_EQ(grid->row(), 2);
    EXPECT_EQ(grid->col(), 2);
    EXPECT_EQ(focused(), "MSFlexGrid2");
}

INSTANTIATE_TEST_SUITE_P(Variants, TabOrder, ::testing::Values(Variant::Word16, Variant::Long32),
                         [](const auto& p) {
                             return p.param == Variant::Word16 ? "Word16" : "Long32";
                         });

TEST_F(WindowTest, InitialStates) {
    open(Variant::Word16);
    EXPECT_FALSE(c().Text5->isVisible());
    EXPECT_FALSE(c().Timer1->isActive());
    EXPECT_TRUE(c().Timer2->isActive());
    EXPECT_EQ(c().Timer1->interval(), 500);
    EXPECT_EQ(c().Timer2->interval(), 1000);
    for (FlexGrid* grid : {c().MSFlexGrid1, c().MSFlexGrid2}) {
        EXPECT_EQ(grid->rows(), 2);
        EXPECT_EQ(grid->cols(), 3);
        for (int r = 0; r < 2; ++r) {
            for (int col = 0; col < 3; ++col) EXPECT_EQ(grid->text(r, col), QString());
        }
    }
    EXPECT_EQ(window().writePanel().WriteCount(), 0);
    EXPECT_EQ(window().readPanel().ReadCount(), 0);
}

// Characters of `text` that the font, with its fallbacks, draws as no glyph.
int missingGlyphs(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int missing = 0;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        for (quint32 glyph : run.glyphIndexes()) missing += glyph == 0 ? 1 : 0;
    }
    return missing;
}

// The family of the face that actually draws `text` in `font`, fallbacks included.
QString drawingFamily(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    return runs.size() == 1 ? runs.front().rawFont().familyName() : QString();
}

TEST_F(WindowTest, DigitsLatinAndChineseComeFromOneSongFace) {
    for (Variant variant : {Variant::Word16, Variant::Long32}) {
        open(variant);
        for (const char* name : {"MSFlexGrid1", "MSFlexGrid2", "Command1"}) {
            const QFont font = control(name)->font();
            const QString chinese = drawingFamily(QStringLiteral("编号"), font);
            SCOPED_TRACE(std::string(name) + " in " + chinese.toStdString());
            EXPECT_TRUE(font.families().contains(chinese));
            EXPECT_EQ(drawingFamily(QStringLiteral("65535"), font), chinese);
            EXPECT_EQ(drawingFamily(QStringLiteral("Ab"), font), chinese);
        }
    }
}

// No text is cut at the bottom of its label: given more room below, a label whose
// text stands at its top draws nothing there.
TEST_F(WindowTest, EveryLabelShowsItsWholeText) {
    for (Variant variant : {Variant::Word16, Variant::Long32}) {
        open(variant);
        for (QLabel* label : window().findChildren<QLabel*>()) {
            if (label->text().isEmpty() || !(label->alignment() & Qt::AlignTop)) continue;
            const QSize box = label->size();
            label->resize(box.width(), box.height() + 20);
            const QImage image = label->grab().toImage();
            label->resize(box);
            const QColor background = image.pixelColor(image.width() - 1, image.height() - 1);
            int below = 0;
            for (int y = box.height(); y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    below += image.pixelColor(x, y) != background ? 1 : 0;
                }
            }
            EXPECT_EQ(below, 0) << label->objectName().toStdString() << ": "
                                << label->text().toStdString();
        }
    }
}

TEST_F(WindowTest, EveryChineseTextHasGlyphs) {
    open(Variant::Word16);
    int checked = 0;
    for (QWidget* widget : window().findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
        if (auto* frame = qobject_cast<QGroupBox*>(widget)) text = frame->title();
        if (text.isEmpty()) continue;
        EXPECT_EQ(missingGlyphs(text, widget->font()), 0)
            << widget->objectName().toStdString() << ": " << text.toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 35);
    EXPECT_FALSE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
}

}  // namespace
}  // namespace bench::testing
