// Interface language and the header menu of MainWindow.
#include "aboutdialog.h"
#include "mainwindow.h"
#include "settingskeys.h"
#include "ui_mainwindow.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QLibraryInfo>
#include <QMenu>
#include <QSettings>
#include <QTranslator>

namespace {

struct LanguageItem
{
    const char *code;
    const char *name;
};

// Menu order. Every catalogue keeps the names as they are, so each language
// is offered under its own name and script.
const LanguageItem languageItems[] = {
    {"zh_CN", QT_TRANSLATE_NOOP("MainWindow", "简体中文")},
    {"zh_TW", QT_TRANSLATE_NOOP("MainWindow", "繁體中文")},
    {"en_US", QT_TRANSLATE_NOOP("MainWindow", "English")},
};

} // namespace

void MainWindow::initLanguage()
{
    QString language;
    {
        QSettings settings = openSettings();
        language = Settings::language.read(settings).toString();
    }
    loadLanguage(language);
}

void MainWindow::loadLanguage(const QString &language)
{
    if (language == currentLanguage)
        return;
    currentLanguage = language;

    {
        // Stored before the catalogue is tried: an unusable code is then
        // replaced by the fall-back's own write.
        QSettings settings = openSettings();
        Settings::language.write(settings, language);
    }

    QCoreApplication::removeTranslator(appTranslator);
    QCoreApplication::removeTranslator(qtTranslator);

    if (qtTranslator->load(QStringLiteral("qt_") + language,
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTranslator);

    const QString path = QStringLiteral(":/translations/lang_%1.qm").arg(language);
    bool loaded = false;
    if (!QFile::exists(path)) {
        qWarning() << "Translation file not found:" << path;
    } else if (!appTranslator->load(path)) {
        qWarning() << "Failed to load translation file:" << path;
    } else {
        QCoreApplication::installTranslator(appTranslator);
        loaded = true;
    }

    const QString fallback = Settings::language.fallback.toString();
    if (!loaded && language != fallback) {
        loadLanguage(fallback);
        return;
    }

    ui->retranslateUi(this);
    retranslateOptionBoxes();
    updateMenuLanguage();
}

void MainWindow::updateMenuLanguage()
{
    // This runs from inside a language item's triggered signal while the old
    // menu is still in its modal loop, so the old menu is disposed of later.
    if (QMenu *oldMenu = ui->menuButton->menu()) {
        ui->menuButton->setMenu(nullptr);
        oldMenu->deleteLater();
    }

    auto *menu = new QMenu(this);
    auto *group = new QActionGroup(this);
    group->setExclusive(true);
    // The group goes with the menu it serves.
    connect(menu, &QObject::destroyed, group, &QObject::deleteLater);

    for (const LanguageItem &item : languageItems) {
        const QString code = QString::fromLatin1(item.code);
        auto *action = new QAction(tr(item.name), menu);
        action->setCheckable(true);
        action->setChecked(currentLanguage == code);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, code] { loadLanguage(code); });
        menu->addAction(action);
    }
    menu->addSeparator();
    QAction *about = menu->addAction(tr("关于Quillon"));
    connect(about, &QAction::triggered, this, &MainWindow::on_aboutButton_clicked);

    ui->menuButton->setMenu(menu);
    ui->menuButton->setStyleSheet(QStringLiteral("QPushButton::menu-indicator { image: none; }"));

    QPushButton *button = ui->menuButton;
    disconnect(button, &QPushButton::clicked, nullptr, nullptr);
    connect(button, &QPushButton::clicked, button, [button] {
        if (QMenu *current = button->menu())
            current->exec(button->mapToGlobal(QPoint(0, button->height())));
    });
}

void MainWindow::on_aboutButton_clicked()
{
    AboutDialog dialog(this);
    dialog.exec();
}
