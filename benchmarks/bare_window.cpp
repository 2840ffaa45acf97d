// SPDX-License-Identifier: MIT
// The smallest Qt Widgets program with one window, the yardstick for the start-up
// time and memory of the register tools: same toolkit, same window size, no
// controls. The size is Wordbench's, so that both draw the same number of pixels.
//
// With --chinese-label it also shows one line of the tools' Chinese text in their
// font, which tells how much of their start-up is the font system's alone.
#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare window"));
    window.setFixedSize(951, 713);
    if (argc > 1 && std::strcmp(argv[1], "--chinese-label") == 0) {
        auto* label = new QLabel(
            QString::fromUtf8("编号 当前值 寄存器地址 打开 关闭 开始读 写入 退出"), &window);
        label->setFont(QFont(QString::fromUtf8("宋体"), 9));
        label->move(10, 10);
    }
    window.show();
    return QApplication::exec();
}
