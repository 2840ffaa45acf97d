#include "widgets/driver_failure_notice.h"

#include <QMessageBox>

#include "driver/library_driver.h"

namespace bench {

void showDriverFailure(QWidget* window, const char* function, const DriverCall& call) {
    auto* box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("驱动程序错误"),
                        QStringLiteral("无法调用驱动程序 %1 的函数 %2。")
                            .arg(QString::fromUtf8(kDriverLibrary), QString::fromUtf8(function)),
                        QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("DriverFailure"));
    box->setInformativeText(QString::fromStdString(call.failure));
    box->setAttribute(Qt::WA_DeleteOnClose);
    // open() returns at once; a nested event loop here would let timer ticks overlap.
    box->open();
}

}  // namespace bench
