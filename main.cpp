#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setOrganizationName(QStringLiteral("Vumo"));
    app.setApplicationName(QStringLiteral("Quillon"));
    app.setApplicationVersion(QStringLiteral("1.0.7.01"));
    MainWindow window;
    window.show();
    return app.exec();
}
