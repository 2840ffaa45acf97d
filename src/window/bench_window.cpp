// SPDX-License-Identifier: MIT
#include "window/bench_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>

#include "core/twips.h"
#include "widgets/control_table.h"
#include "widgets/notices.h"
#include "widgets/program_icon.h"
#include "widgets/window_builder.h"

namespace bench {
namespace {

Controls buildWindow(QWidget* window, Variant variant) {
    const VariantFacts& facts = variantFacts(variant);
    window->setObjectName(QString::fromUtf8(facts.windowName));
    window->setWindowTitle(QString::fromStdString(facts.caption));
    window->setWindowIcon(programIcon(variant));
    window->setFixedSize(twipsToPixels(facts.clientWidthTwips),
                         twipsToPixels(facts.clientHeightTwips));
    window->setAutoFillBackground(true);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    window->setPalette(palette);
    return buildControls(window, controlTable(variant));
}

// The character code of a key press, as the editor's key handler sees it.
int16_t keyAscii(const QKeyEvent* key) {
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) return kEnterKey;
    if (key->key() == Qt::Key_Escape) return 27;
    const QString text = key->text();
    return text.isEmpty() ? int16_t{0} : static_cast<int16_t>(text.at(0).unicode());
}

// Shows an item's text in a list's edit field, with the item highlighted when the
// list drops down.
void selectItem(QComboBox* list, int position) {
    list->setCurrentIndex(position);
    list->setEditText(list->itemText(position));
}

}  // namespace

BenchWindow::BenchWindow(Variant variant, ProgramState& state, Driver& driver, QWidget* parent)
    : QWidget(parent),
      controls_(buildWindow(this, variant)),
      context_{controls_,
               state,
               driver,
               variantFacts(variant),
               [this](const char* function, const DriverCall& call) {
                   showDriverFailure(this, function, call);
               },
               [this](const NoticeText& notice) { showCommandFailure(this, notice); }},
      connection_(context_),
      entryFields_(context_),
      readPanel_(context_),
      writePanel_(context_) {
    connectHandlers();
    // The write grid follows its fields from the moment the window exists.
    controls_.Timer2->start();
    Form_Load();
}

void BenchWindow::connectHandlers() {
    Controls& c = controls_;
    connect(c.Command1, &QPushButton::clicked, this, &BenchWindow::Command1_Click);
    connect(c.Command9, &QPushButton::clicked, this, [this] { connection_.Command9_Click(); });
    connect(c.Command10, &QPushButton::clicked, this, [this] { connection_.Command10_Click(); });
    connect(c.Text1, &QLineEdit::textChanged, this, [this] { entryFields_.Text1_Change(); });
    connect(c.Text2, &QLineEdit::textChanged, this, [this] { entryFields_.Text2_Change(); });
    connect(c.Text3, &QLineEdit::textChanged, this, [this] { entryFields_.Text3_Change(); });
    connect(c.Text4, &QLineEdit::textChanged, this, [this] { entryFields_.Text4_Change(); });
    connect(c.Command3, &QPushButton::clicked, this, [this] { readPanel_.Command3_Click(); });
    connect(c.Timer1, &QTimer::timeout, this, [this] { readPanel_.Timer1_Timer(); });
    connect(c.Timer2, &QTimer::timeout, this, [this] { writePanel_.Timer2_Timer(); });
    connect(c.MSFlexGrid2, &FlexGrid::Click, this, [this] { writePanel_.MSFlexGrid2_Click(); });
    connect(c.MSFlexGrid2, &FlexGrid::Scroll, this, [this] { writePanel_.MSFlexGrid2_Scroll(); });
    connect(c.Command2, &QPushButton::clicked, this, [this] { writePanel_.Command2_Click(); });
    c.Text5->installEventFilter(this);
}

bool BenchWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == controls_.Text5 && event->type() == QEvent::KeyPress) {
        writePanel_.Text5_KeyPress(keyAscii(static_cast<QKeyEvent*>(event)));
    }
    // Every key still reaches the editor as ordinary typing.
    return QWidget::eventFilter(watched, event);
}

void BenchWindow::Form_Load() {
    Controls& c = controls_;
    for (int k = 1; k <= 19; ++k) c.Combo1->insertItem(k - 1, QStringLiteral("%1 ").arg(k));
    selectItem(c.Combo1, 5);
    c.Option2[2]->setChecked(true);
    static const char* const kSpeeds[] = {"0:4800 ",   "1:9600 ",   "2:19200 ",
                                          "3:38400 ",  "4:57600 ",  "5:115200 ",
                                          "6:230400 ", "7:460800 ", "8:961200 "};
    for (int i = 0; i < 9; ++i) c.Combo3->insertItem(i, QString::fromUtf8(kSpeeds[i]));
    selectItem(c.Combo3, 3);
    for (int k = 1; k <= 19; ++k) c.Combo2->insertItem(k - 1, QStringLiteral("%1 ").arg(k));
    selectItem(c.Combo2, 0);
}

void BenchWindow::Form_Unload(int16_t& cancel) {
    cancel = 0;
}

void BenchWindow::closeEvent(QCloseEvent* event) {
    int16_t cancel = 0;
    Form_Unload(cancel);
    if (cancel != 0) {
        event->ignore();
        return;
    }
    event->accept();
}

void BenchWindow::Command1_Click() {
    close();
    QCoreApplication::quit();
}

}  // namespace bench
