// SPDX-License-Identifier: MIT
#include "widgets/program_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace bench {

// A plate holding a column of register cells, lit in amber: a bench instrument that
// reads and writes registers. Wordbench: a teal plate, one cell lit (a 16-bit value
// in one register); Longbench: a blue plate, two cells lit as one (a 32-bit value
// in two registers).
QImage programIconImage(Variant variant, int size) {
    const bool pair = variant == Variant::Long32;
    const QColor plateColour = pair ? QColor(34, 64, 140) : QColor(18, 92, 104);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    QPainterPath plate;
    plate.addRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
    p.fillPath(plate, plateColour);
    p.setPen(QPen(plateColour.darker(220), std::max(1.0, s / 24)));
    p.drawPath(plate);

    const double margin = s * 0.18;
    const double rowHeight = (s - 2 * margin) / 4;
    for (int r = 0; r < 4; ++r) {
        const bool lit = pair ? (r == 1 || r == 2) : r == 1;
        // The two lit cells of a pair touch: one value across two registers.
        const double top = rowHeight * (pair && r == 2 ? 0.0 : 0.12);
        const double bottom = rowHeight * (pair && r == 1 ? 1.0 : 0.88);
        const QRectF cell(margin, margin + r * rowHeight + top, s - 2 * margin, bottom - top);
        p.fillRect(cell, lit ? QColor(255, 176, 32) : QColor(232, 244, 242));
    }
    // A tick mark at the left of each cell: the running number column.
    p.setPen(QPen(plateColour, std::max(1.0, s / 32)));
    const double x = margin + (s - 2 * margin) * 0.28;
    p.drawLine(QPointF(x, margin), QPointF(x, s - margin));
    return image;
}

QIcon programIcon(Variant variant) {
    QIcon icon;
    for (int size : kIconSizes) {
        icon.addPixmap(QPixmap::fromImage(programIconImage(variant, size)));
    }
    return icon;
}

}  // namespace bench
