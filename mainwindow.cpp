#include "mainwindow.h"
#include "ui_mainwindow.h"
#include "worker.h"

// Placeholder shell until the window lands.
MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
}

MainWindow::~MainWindow() { delete ui; }

void MainWindow::mousePressEvent(QMouseEvent *event) { QMainWindow::mousePressEvent(event); }
void MainWindow::mouseReleaseEvent(QMouseEvent *event) { QMainWindow::mouseReleaseEvent(event); }
void MainWindow::mouseMoveEvent(QMouseEvent *event) { QMainWindow::mouseMoveEvent(event); }
void MainWindow::closeEvent(QCloseEvent *event) { QMainWindow::closeEvent(event); }
void MainWindow::changeEvent(QEvent *event) { QMainWindow::changeEvent(event); }
void MainWindow::on_selectFolderButton_clicked() {}
void MainWindow::on_outputButton_clicked() {}
void MainWindow::on_iconButton_clicked() {}
void MainWindow::on_startButton_clicked() {}
void MainWindow::on_mainExeButton_clicked() {}
void MainWindow::on_resetButton_clicked() {}
void MainWindow::onMinimizeButtonClicked() {}
void MainWindow::onCloseButtonClicked() {}
void MainWindow::onTabButtonClicked(int) {}
void MainWindow::onWorkerProgress(int) {}
void MainWindow::onWorkerLog(const QString &) {}
void MainWindow::onWorkerFinished(bool) {}
void MainWindow::refreshTabState() {}
bool MainWindow::confirmExit() { return true; }
bool MainWindow::validateInputs() { return false; }
void MainWindow::setProcessing(bool) {}
void MainWindow::populateMainExeList(const QString &) {}
QString MainWindow::compressionLevelString() const { return QString(); }
QString MainWindow::compressionMethodString() const { return QString(); }
QString MainWindow::dictionarySizeString() const { return QString(); }
void MainWindow::loadSettings() {}
void MainWindow::saveSettings() {}
