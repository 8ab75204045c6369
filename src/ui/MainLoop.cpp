// SPDX-License-Identifier: MIT
#include "ui/MainLoop.h"

#include <QApplication>
#include <QMetaObject>
#include <QWidget>

namespace Wirelog {

int RunMainWindow(QWidget& window) {
    QMetaObject::invokeMethod(&window, &QWidget::show, Qt::QueuedConnection);
    QApplication::exec();
    return 0;
}

} // namespace Wirelog
