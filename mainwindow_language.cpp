// Interface language and the header menu of MainWindow.
#include "mainwindow.h"

void MainWindow::initLanguage() {}
void MainWindow::loadLanguage(const QString &) {}
void MainWindow::updateMenuLanguage() {}
void MainWindow::on_aboutButton_clicked() {}
