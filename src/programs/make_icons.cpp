// SPDX-License-Identifier: MIT
// Writes the programs' icons as PNG files DIR/<size>/<program>.png for installation.
#include <QDir>
#include <QGuiApplication>
#include <cstdio>

#include "core/variant.h"
#include "widgets/program_icon.h"

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons DIR\n");
        return 2;
    }
    for (bench::Variant variant : {bench::Variant::Word16, bench::Variant::Long32}) {
        const QString name = QString::fromLatin1(bench::variantFacts(variant).programName);
        for (int size : bench::kIconSizes) {
            const QString dir =
                QStringLiteral("%1/%2").arg(QString::fromLocal8Bit(argv[1])).arg(size);
            QDir().mkpath(dir);
            const QString file = QStringLiteral("%1/%2.png").arg(dir, name);
            if (!bench::programIconImage(variant, size).save(file)) {
                std::fprintf(stderr, "make_icons: cannot write %s\n", qPrintable(file));
                return 1;
            }
        }
    }
    return 0;
}
