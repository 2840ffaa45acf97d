// SPDX-License-Identifier: MIT
#include "panels/read_panel.h"

#include <QDateTime>

#include "core/numbers.h"
#include "panels/parsed_text.h"
#include "widgets/grid_view.h"

namespace bench {
void ReadPanel::Command3_Click() {
    Controls& c = ctx_.controls;
    storeCount(readCount_, c.Text1, QStringLiteral("32"));
    storeParsed(readStart_, c.Text2->text());
    // Value cells stay empty until the next tick fills them.
    layOutGrid(*c.MSFlexGrid1, readCount_, readStart_, ctx_.facts.addressStep,
               [](int) { return QString(); });
    // Enabling a running timer leaves it running on its own schedule.
    if (!c.Timer1->isActive()) c.Timer1->start();
}

void ReadPanel::Timer1_Timer() {
    Controls& c = ctx_.controls;
    const QDateTime now = QDateTime::currentDateTime();
    c.Label2_9->setText(now.toString(QStringLiteral("MM-dd-yyyy")));
    c.Label2_10->setText(now.toString(QStringLiteral("HH:mm:ss")));

    auto& settings = ctx_.state.PortSettings;
    storeParsed(settings[kReadStart], c.Text2->text());
    int32_t* buffer = ctx_.state.ReadValues.data();
    const DriverCall call = ctx_.is16Bit()
                                ? ctx_.driver.Get_4X_DX(settings[kPort], settings[kStation],
                                                        settings[kReadStart], readCount_, buffer)
                                : ctx_.driver.Get_4X_LDX(settings[kPort], settings[kStation],
                                                         settings[kReadStart], readCount_, buffer);
    if (!call.reached) {
        // Once is enough: stop polling rather than repeat the message twice a second.
        c.Timer1->stop();
        ctx_.reportDriverFailure(ctx_.facts.readFunction, call);
        return;
    }
    const auto& values = ctx_.state.ReadValues;
    const int32_t rows = std::min(readCount_, static_cast<int32_t>(values.size()));
    for (int32_t i = 1; i <= rows; ++i) {
        const int32_t value = values[static_cast<std::size_t>(i - 1)];
        c.MSFlexGrid1->setText(i, 1, QString::fromStdString(decimalText(value)));
    }
    // No notice for a failed read, which repeats twice a second: its values look stale.
    QString staleTip;
    if (isFailure(call.result)) {
        staleTip = QString::fromStdString(staleReadTip(
            ctx_.failedCall(Command::Read, ctx_.facts.readFunction, call.result), lastGoodRead_));
    } else {
        lastGoodRead_ = goodRead(now.toString(QStringLiteral("MM-dd-yyyy HH:mm:ss")).toStdString(),
                                 settings[kReadStart], readCount_, ctx_.facts.addressStep);
    }
    markValueCells(*c.MSFlexGrid1, rows, staleTip);
    c.MSFlexGrid1->setCurrent(rows, 1);  // the last value written
}

}  // namespace bench
