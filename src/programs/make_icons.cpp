// Writes the program icon as PNG files DIR/<size>/wordbench.png for installation.
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "widgets/program_icon.h"

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons DIR\n");
        return 2;
    }
    for (int size : bench::kIconSizes) {
        const QString dir = QStringLiteral("%1/%2").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        QDir().mkpath(dir);
        if (!bench::programIconImage(size).save(dir + QStringLiteral("/wordbench.png"))) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
