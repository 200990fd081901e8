// Screenshots of the main window, its header menu and the about box in each
// interface language, for review. Run under a real X server (Xvfb):
//   screenshots <output directory>
// Exits with 1 when a picture could not be taken or saved.
#include "aboutdialog.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <functional>

namespace {

bool save(QWidget *widget, const QString &path)
{
    const QPixmap picture = widget->grab();
    if (picture.isNull() || !picture.save(path)) {
        std::fprintf(stderr, "cannot save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Runs `open` (which enters a modal loop) and saves the widget `find` returns
// from inside that loop, then closes it.
bool saveModal(QWidget *context, const std::function<QWidget *()> &find,
               const std::function<void()> &open, const QString &path)
{
    bool saved = false;
    QTimer::singleShot(300, context, [&] {
        if (QWidget *shown = find()) {
            saved = save(shown, path);
            shown->close();
        }
    });
    open();
    if (!saved)
        std::fprintf(stderr, "nothing to save as %s\n", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vumo"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.7.01"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshots <output directory>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    QFile sheet(QStringLiteral(":/qss/default.css"));
    if (sheet.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(sheet.readAll()));

    bool ok = true;
    for (const QString &code :
         {QStringLiteral("zh_CN"), QStringLiteral("zh_TW"), QStringLiteral("en_US")}) {
        QSettings(QStringLiteral("Vumo"), QStringLiteral("Quillon"))
            .setValue(QStringLiteral("language"), code);
        MainWindow window;
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            std::fprintf(stderr, "window not shown\n");
            return 1;
        }
        QTest::qWait(200);
        ok = save(&window, out.filePath(QStringLiteral("window_%1.png").arg(code))) && ok;
        if (auto *advanced = window.findChild<QToolButton *>(QStringLiteral("advancedTabButton"))) {
            advanced->click();
            QTest::qWait(100);
            ok = save(&window, out.filePath(QStringLiteral("window_%1_advanced.png").arg(code))) &&
                 ok;
        }

        auto *button = window.findChild<QPushButton *>(QStringLiteral("menuButton"));
        ok = saveModal(
                 &window, [] { return QApplication::activePopupWidget(); },
                 [button] { emit button->clicked(); },
                 out.filePath(QStringLiteral("menu_%1.png").arg(code))) &&
             ok;
        ok = saveModal(
                 &window, [] { return QApplication::activeModalWidget(); },
                 [button] { button->menu()->actions().last()->trigger(); },
                 out.filePath(QStringLiteral("about_%1.png").arg(code))) &&
             ok;
    }
    return ok ? 0 : 1;
}
