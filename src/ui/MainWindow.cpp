#include "ui/MainWindow.h"

#include <QPointer>
#include <QWidget>

namespace {
QPointer<QWidget> g_widget;
MainWindow* g_main = nullptr;
} // namespace

MainWindow* MainWindow::Instance()
{
    return g_widget ? g_main : nullptr;
}

QWidget* MainWindow::Widget()
{
    return g_widget.data();
}

void MainWindow::Register(MainWindow* main, QWidget* widget)
{
    g_main = main;
    g_widget = widget;
}
