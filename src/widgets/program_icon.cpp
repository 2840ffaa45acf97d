#include "widgets/program_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace bench {

// A dark teal plate holding a column of register cells, one of them lit in amber:
// a bench instrument that reads and writes registers.
QImage programIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    QPainterPath plate;
    plate.addRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);
    p.fillPath(plate, QColor(18, 92, 104));
    p.setPen(QPen(QColor(8, 48, 56), std::max(1.0, s / 24)));
    p.drawPath(plate);

    const double margin = s * 0.18;
    const double rowHeight = (s - 2 * margin) / 4;
    for (int r = 0; r < 4; ++r) {
        const QRectF cell(margin, margin + r * rowHeight + rowHeight * 0.12, s - 2 * margin,
                          rowHeight * 0.76);
        p.fillRect(cell, r == 1 ? QColor(255, 176, 32) : QColor(232, 244, 242));
    }
    // A tick mark at the left of each cell: the running number column.
    p.setPen(QPen(QColor(18, 92, 104), std::max(1.0, s / 32)));
    const double x = margin + (s - 2 * margin) * 0.28;
    p.drawLine(QPointF(x, margin), QPointF(x, s - margin));
    return image;
}

QIcon programIcon() {
    QIcon icon;
    for (int size : kIconSizes) icon.addPixmap(QPixmap::fromImage(programIconImage(size)));
    return icon;
}

}  // namespace bench
