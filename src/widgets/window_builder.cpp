// SPDX-License-Identifier: MIT
#include "widgets/window_builder.h"

#include <QApplication>
#include <QGroupBox>
#include <QHash>
#include <algorithm>
#include <limits>
#include <string_view>

#include "core/twips.h"
#include "widgets/option_group.h"

namespace bench {
namespace {

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kClockBackground(128, 255, 128);
const QColor kEditorBackground(255, 192, 192);

QRect twipsRect(const ControlRow& control) {
    return QRect(twipsToPixels(control.left), twipsToPixels(control.top),
                 twipsToPixels(control.width), twipsToPixels(control.height));
}

QFont namedFont(const char* family, double points, bool bold = false, bool italic = false) {
    QFont font(QString::fromUtf8(family));
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// 宋体 as designed. Where it is missing, the song faces that stand in for it, so
// that digits and Latin letters come from the same face as the Chinese text and not
// from the machine's default sans face.
QFont songFont(double points) {
    QFont font = namedFont("宋体", points);
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL SungtiL GB"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Source Han Serif SC")});
    return font;
}

void setColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

QWidget* makeWidget(const ControlRow& control, QWidget* parent) {
    const QString text = QString::fromStdString(control.text);
    switch (control.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(text, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setWordWrap(true);
            return label;
        }
        case ControlKind::Frame:
            return new QGroupBox(text, parent);
        case ControlKind::Combo: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setCompleter(nullptr);
            combo->setEditText(text);
            return combo;
        }
        case ControlKind::Option: {
            auto* option = new QRadioButton(text, parent);
            keepTabStopOnSelected(option);
            return option;
        }
        case ControlKind::Button:
            return new QPushButton(text, parent);
        case ControlKind::Text: {
            auto* field = new QLineEdit(text, parent);
            // The fields take text of any length; only the number at its head counts.
            field->setMaxLength(std::numeric_limits<int>::max());
            return field;
        }
        case ControlKind::Grid:
            return new FlexGrid(parent);
    }
    return nullptr;
}

void applyLook(QWidget* widget, Look look) {
    switch (look) {
        case Look::Plain:
            break;
        case Look::Clock:
            widget->setAutoFillBackground(true);
            setColour(widget, QPalette::Window, kClockBackground);
            setColour(widget, QPalette::WindowText, kRed);
            widget->setFont(namedFont("Arial", 10.5, true, true));
            static_cast<QLabel*>(widget)->setAlignment(Qt::AlignCenter);
            break;
        case Look::RedCaption:
        case Look::RedText:
            setColour(widget, QPalette::WindowText, kRed);
            break;
        case Look::BlueText:
            setColour(widget, QPalette::WindowText, kBlue);
            break;
        case Look::ExitFont:
            widget->setFont(songFont(10.5));
            break;
        case Look::Editor:
            setColour(widget, QPalette::Base, kEditorBackground);
            widget->hide();
            break;
        case Look::Grid:
            widget->setFont(songFont(9));
            break;
    }
}

// Whether a label's text, laid out as the label lays it out, fits its box.
bool textFits(const QLabel* label) {
    const int needed =
        label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
    return needed <= label->height();
}

// The boxes of the labels were made for the song face's metrics; the face that stands
// in for the default one may be taller. A label whose text would be cut takes the song
// face, and where that is still cut, the largest size in half points that fits.
void fitText(QLabel* label) {
    constexpr double kSmallest = 6.5;
    if (textFits(label)) return;
    QFont font = songFont(label->font().pointSizeF());
    label->setFont(font);
    while (!textFits(label) && font.pointSizeF() - 0.5 >= kSmallest) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        label->setFont(font);
    }
}

// Keeps `widget` in its slot of `controls` when the handlers use it. Returns whether
// it was kept; a control of the wrong kind is not.
bool keep(Controls& c, std::string_view name, QWidget* widget) {
    auto put = [widget]<typename T>(T*& slot) {
        slot = qobject_cast<T*>(widget);
        return slot != nullptr;
    };
    if (name == "Label2_9") return put(c.Label2_9);
    if (name == "Label2_10") return put(c.Label2_10);
    if (name == "Combo1") return put(c.Combo1);
    if (name == "Combo2") return put(c.Combo2);
    if (name == "Combo3") return put(c.Combo3);
    if (name == "Option2_0") return put(c.Option2[0]);
    if (name == "Option2_1") return put(c.Option2[1]);
    if (name == "Option2_2") return put(c.Option2[2]);
    if (name == "Command1") return put(c.Command1);
    if (name == "Command2") return put(c.Command2);
    if (name == "Command3") return put(c.Command3);
    if (name == "Command9") return put(c.Command9);
    if (name == "Command10") return put(c.Command10);
    if (name == "Text1") return put(c.Text1);
    if (name == "Text2") return put(c.Text2);
    if (name == "Text3") return put(c.Text3);
    if (name == "Text4") return put(c.Text4);
    if (name == "Text5") return put(c.Text5);
    if (name == "MSFlexGrid1") return put(c.MSFlexGrid1);
    if (name == "MSFlexGrid2") return put(c.MSFlexGrid2);
    return false;
}

// The controls `keep` keeps: every pointer of `Controls` but the window and the timers.
constexpr std::size_t kKeptControls = 20;

}  // namespace

Controls buildControls(QWidget* window, const std::vector<ControlRow>& table) {
    Controls controls;
    controls.window = window;
    std::size_t kept = 0;
    QHash<QString, QWidget*> byName;
    std::vector<std::pair<int, QWidget*>> tabOrder;
    for (const ControlRow& control : table) {
        QWidget* parent =
            control.frame != nullptr ? byName.value(QString::fromUtf8(control.frame)) : window;
        QWidget* widget = makeWidget(control, parent);
        widget->setObjectName(QString::fromUtf8(control.name));
        widget->setGeometry(twipsRect(control));
        // A red frame caption must not colour the controls inside the frame.
        if (control.frame != nullptr && control.look != Look::RedText) {
            setColour(widget, QPalette::WindowText,
                      QApplication::palette().color(QPalette::WindowText));
        }
        applyLook(widget, control.look);
        if (auto* label = qobject_cast<QLabel*>(widget); label && control.look != Look::Clock) {
            fitText(label);
        }
        byName.insert(widget->objectName(), widget);
        if (widget->focusPolicy() != Qt::NoFocus) tabOrder.emplace_back(control.tab, widget);
        kept += keep(controls, control.name, widget) ? 1 : 0;
    }
    std::stable_sort(tabOrder.begin(), tabOrder.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tabOrder.size(); ++i) {
        QWidget::setTabOrder(tabOrder[i - 1].second, tabOrder[i].second);
    }
    if (kept != kKeptControls) {
        qFatal("the control table lacks %zu of the controls the window's handlers use",
               kKeptControls - kept);
    }

    controls.Timer1 = new QTimer(window);
    controls.Timer1->setObjectName(QStringLiteral("Timer1"));
    controls.Timer1->setInterval(500);
    controls.Timer2 = new QTimer(window);
    controls.Timer2->setObjectName(QStringLiteral("Timer2"));
    controls.Timer2->setInterval(1000);
    return controls;
}

}  // namespace bench
