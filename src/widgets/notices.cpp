// SPDX-License-Identifier: MIT
#include "widgets/notices.h"

#include <QMessageBox>

#include "driver/library_driver.h"

namespace bench {
namespace {

void show(QWidget* window, const char* name, const QString& title, const QString& text,
          const QString& detail) {
    // Replace rather than stack; a box already closed may still await its deletion.
    for (QMessageBox* old : window->findChildren<QMessageBox*>(Qt::FindDirectChildrenOnly)) {
        delete old;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, window);
    box->setObjectName(QString::fromUtf8(name));
    box->setInformativeText(detail);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Non-modal: the window stays usable, and show() returns at once, so no timer
    // tick can run inside the handler that reports.
    box->setWindowModality(Qt::NonModal);
    box->show();
}

}  // namespace

void showDriverFailure(QWidget* window, const char* function, const DriverCall& call) {
    show(window, "DriverFailure", QStringLiteral("驱动程序错误"),
         QStringLiteral("无法调用驱动程序 %1 的函数 %2。")
             .arg(QString::fromUtf8(kDriverLibrary), QString::fromUtf8(function)),
         QString::fromStdString(call.failure));
}

void showCommandFailure(QWidget* window, const NoticeText& notice) {
    show(window, "CommandFailure", QString::fromStdString(notice.title),
         QString::fromStdString(notice.sentence), QString::fromStdString(notice.detail));
}

}  // namespace bench
