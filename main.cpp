#include "mainwindow.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    int status = 0;
    {
        QApplication app(argc, argv);
        QApplication::setOrganizationName(QStringLiteral("Vumo"));
        QApplication::setApplicationName(QStringLiteral("Quillon"));
        QApplication::setApplicationVersion(QStringLiteral(QUILLON_VERSION_TEXT));
        QApplication::setOrganizationDomain(QStringLiteral("morvane.example"));

        // A style sheet that cannot be loaded only costs the look: the notice
        // has been shown and the window starts with Qt's default style.
        quillon::applyApplicationStyleSheet();

        MainWindow window;
        window.show();
        status = app.exec();
    }
    return quillon::endProgram(status);
}
