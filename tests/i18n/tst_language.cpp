// Language selection of the main window: the header menu, switching, the
// stored choice and the fall-back.
#include "aboutdialog.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

namespace {

const QString languageKey = QStringLiteral("language");
const QStringList menuNames = {QStringLiteral("简体中文"), QStringLiteral("繁體中文"),
                               QStringLiteral("English")};

QVariant storedLanguage()
{
    QSettings settings(QStringLiteral("Vumo"), QStringLiteral("Quillon"));
    return settings.value(languageKey);
}

void storeLanguage(const QVariant &value)
{
    QSettings settings(QStringLiteral("Vumo"), QStringLiteral("Quillon"));
    settings.setValue(languageKey, value);
}

// Delivers the language change events a translator switch posts and disposes
// of replaced menus.
void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

template <typename T> T *widget(QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no widget %s", name);
    return found;
}

QMenu *headerMenu(QWidget &window)
{
    return widget<QPushButton>(window, "menuButton")->menu();
}

QStringList menuTexts(QWidget &window)
{
    QStringList texts;
    for (QAction *action : headerMenu(window)->actions())
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

// Indexes of the checked language items.
QList<int> checkedItems(QWidget &window)
{
    QList<int> checked;
    const QList<QAction *> actions = headerMenu(window)->actions();
    for (int i = 0; i < 3; ++i) {
        if (actions.at(i)->isChecked())
            checked.append(i);
    }
    return checked;
}

void chooseLanguage(QWidget &window, int item)
{
    headerMenu(window)->actions().at(item)->trigger();
    settle();
}

QStringList comboTexts(QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->itemText(i));
    return texts;
}

// Qt's own texts (standard buttons) as the installed Qt catalogue gives them.
QString qtYes()
{
    return QCoreApplication::translate("QPlatformTheme", "&Yes");
}

bool haveQtCatalogues()
{
    return QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                         QStringLiteral("/qtbase_zh_TW.qm"));
}

std::unique_ptr<MainWindow> newWindow()
{
    auto window = std::make_unique<MainWindow>();
    settle();
    return window;
}

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void firstStartInSimplifiedChinese();
    void switchLanguage_data();
    void switchLanguage();
    void switchBackRestoresSourceTexts();
    void languageInForceWritesNothing();
    void unusableStoredCode_data();
    void unusableStoredCode();
    void storedEmptyStringLoadsNothing();
    void menuRebuiltFromItsOwnItem();
    void aboutItemOpensDialogInLanguage();
};

void TestLanguage::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Vumo"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.7.01"));
}

void TestLanguage::init()
{
    QSettings settings(QStringLiteral("Vumo"), QStringLiteral("Quillon"));
    settings.clear();
}

void TestLanguage::firstStartInSimplifiedChinese()
{
    auto window = newWindow();
    QCOMPARE(checkedItems(*window), QList<int>{0});
    QCOMPARE(storedLanguage(), QVariant(QStringLiteral("zh_CN")));
    QCOMPARE(widget<QPushButton>(*window, "startButton")->text(), QStringLiteral("开始制作"));
    QCOMPARE(menuTexts(*window),
             menuNames + QStringList({QStringLiteral("-"), QStringLiteral("关于Quillon")}));
}

void TestLanguage::switchLanguage_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("browse");
    QTest::addColumn<QString>("advancedTab");
    QTest::addColumn<QStringList>("levels");
    QTest::addColumn<QString>("about");
    QTest::addColumn<QString>("qtYesText");

    QTest::newRow("Traditional Chinese")
        << 1 << QString("zh_TW") << QString("開始製作") << QString("選擇") << QString("設定")
        << QStringList{"儲存", "最快", "快速", "標準", "最大", "極限"} << QString("關於Quillon")
        << QString("是(&Y)");
    QTest::newRow("English") << 2 << QString("en_US") << QString("Start Making")
                             << QString("Browse") << QString("Setting")
                             << QStringList{"Store",  "Fastest", "Fast",
                                            "Normal", "Maximum", "Ultra"}
                             << QString("About Quillon") << QString("&Yes");
}

void TestLanguage::switchLanguage()
{
    QFETCH(int, item);
    QFETCH(QString, code);
    QFETCH(QString, start);
    QFETCH(QString, browse);
    QFETCH(QString, advancedTab);
    QFETCH(QStringList, levels);
    QFETCH(QString, about);
    QFETCH(QString, qtYesText);

    {
        auto window = newWindow();
        auto *level = widget<QComboBox>(*window, "cmbCompression");
        auto *method = widget<QComboBox>(*window, "cmbMethod");
        auto *dictionary = widget<QComboBox>(*window, "cmbDictSize");
        level->setCurrentIndex(4);
        method->setCurrentIndex(1);
        dictionary->setCurrentIndex(3);

        chooseLanguage(*window, item);

        QCOMPARE(widget<QPushButton>(*window, "startButton")->text(), start);
        for (const char *name :
             {"selectFolderButton", "outputButton", "mainExeButton", "iconButton"})
            QCOMPARE(widget<QPushButton>(*window, name)->text(), browse);
        QCOMPARE(widget<QToolButton>(*window, "advancedTabButton")->text(), advancedTab);
        QCOMPARE(comboTexts(level), levels);
        QCOMPARE(comboTexts(method), (QStringList{"LZMA", "LZMA2"}));
        QCOMPARE(comboTexts(dictionary), (QStringList{"64 KB", "1 MB", "16 MB", "32 MB", "64 MB"}));
        QCOMPARE(level->currentIndex(), 4);
        QCOMPARE(method->currentIndex(), 1);
        QCOMPARE(dictionary->currentIndex(), 3);

        QCOMPARE(checkedItems(*window), QList<int>{item});
        QCOMPARE(menuTexts(*window), menuNames + QStringList({QStringLiteral("-"), about}));
        QCOMPARE(storedLanguage(), QVariant(code));
        if (haveQtCatalogues())
            QCOMPARE(qtYes(), qtYesText);
    }

    // The choice survives a restart.
    auto reopened = newWindow();
    QCOMPARE(widget<QPushButton>(*reopened, "startButton")->text(), start);
    QCOMPARE(checkedItems(*reopened), QList<int>{item});
}

void TestLanguage::switchBackRestoresSourceTexts()
{
    storeLanguage(QStringLiteral("en_US"));
    auto window = newWindow();
    auto *level = widget<QComboBox>(*window, "cmbCompression");
    level->setCurrentIndex(5);
    QCOMPARE(widget<QPushButton>(*window, "startButton")->text(), QStringLiteral("Start Making"));

    chooseLanguage(*window, 0);

    QCOMPARE(widget<QPushButton>(*window, "startButton")->text(), QStringLiteral("开始制作"));
    QCOMPARE(widget<QToolButton>(*window, "advancedTabButton")->text(), QStringLiteral("配置"));
    QCOMPARE(comboTexts(level), (QStringList{"存储", "最快", "快速", "标准", "最大", "极限"}));
    QCOMPARE(level->currentIndex(), 5);
    QCOMPARE(menuTexts(*window).last(), QStringLiteral("关于Quillon"));
    QCOMPARE(checkedItems(*window), QList<int>{0});
    QCOMPARE(storedLanguage(), QVariant(QStringLiteral("zh_CN")));
    if (haveQtCatalogues())
        QCOMPARE(qtYes(), QStringLiteral("是(&Y)"));
}

void TestLanguage::languageInForceWritesNothing()
{
    storeLanguage(QStringLiteral("en_US"));
    auto window = newWindow();
    QPointer<QMenu> menu = headerMenu(*window);
    // Changed behind the window's back: a write would show.
    storeLanguage(QStringLiteral("marker"));

    chooseLanguage(*window, 2);

    QCOMPARE(storedLanguage(), QVariant(QStringLiteral("marker")));
    QVERIFY2(menu && headerMenu(*window) == menu, "the menu was rebuilt");
    QCOMPARE(checkedItems(*window), QList<int>{2});
    QCOMPARE(widget<QPushButton>(*window, "startButton")->text(), QStringLiteral("Start Making"));
}

void TestLanguage::unusableStoredCode_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("warning");

    const QString notFound = QStringLiteral("Translation file not found:");
    QTest::newRow("no such catalogue") << QString("fr_FR") << notFound;
    QTest::newRow("letter case differs") << QString("EN_US") << notFound;
    QTest::newRow("language only") << QString("en") << notFound;
    // The test bundle carries a resource under this name that is no catalogue.
    QTest::newRow("catalogue unreadable")
        << QString("xx_XX") << QStringLiteral("Failed to load translation file:");
}

void TestLanguage::unusableStoredCode()
{
    QFETCH(QString, code);
    QFETCH(QString, warning);

    storeLanguage(code);
    const QString path = QStringLiteral(":/translations/lang_%1.qm").arg(code);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^%1 \"?%2\"?$")
                                                .arg(QRegularExpression::escape(warning),
                                                     QRegularExpression::escape(path))));
    auto window = newWindow();

    QCOMPARE(checkedItems(*window), QList<int>{0});
    QCOMPARE(storedLanguage(), QVariant(QStringLiteral("zh_CN")));
    QCOMPARE(widget<QPushButton>(*window, "startButton")->text(), QStringLiteral("开始制作"));
}

void TestLanguage::storedEmptyStringLoadsNothing()
{
    storeLanguage(QString());
    auto window = newWindow();

    QCOMPARE(checkedItems(*window), QList<int>{});
    QCOMPARE(storedLanguage().toString(), QString());
    QVERIFY(storedLanguage().isValid());
    QCOMPARE(widget<QPushButton>(*window, "startButton")->text(), QStringLiteral("开始制作"));
}

// The real path: the menu runs modally from the button's handler, and the
// chosen item rebuilds the menu while that loop is still unwinding.
void TestLanguage::menuRebuiltFromItsOwnItem()
{
    auto window = newWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *button = widget<QPushButton>(*window, "menuButton");

    for (const int item : {2, 1, 0}) {
        QPointer<QMenu> shown;
        bool opened = false;
        QTimer::singleShot(0, window.get(), [&] {
            shown = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!shown)
                return;
            opened = true;
            shown->setActiveAction(shown->actions().at(item));
            QTest::keyClick(shown, Qt::Key_Return);
        });
        // Closes a popup the first timer did not handle: a second menu from a
        // click handler of an earlier rebuild that is still connected.
        QTimer safety;
        safety.setSingleShot(true);
        bool stray = false;
        connect(&safety, &QTimer::timeout, [&stray] {
            if (QWidget *popup = QApplication::activePopupWidget()) {
                stray = true;
                popup->close();
            }
        });
        safety.start(3000);
        emit button->clicked();
        safety.stop();

        QVERIFY2(opened, "the menu did not open");
        QVERIFY2(!stray, "one click opened the menu more than once");
        settle();
        QVERIFY2(!shown, "the replaced menu was not disposed of");
        QCOMPARE(checkedItems(*window), QList<int>{item});
        QCOMPARE(storedLanguage(), QVariant(QStringList({"zh_CN", "zh_TW", "en_US"}).at(item)));
    }
    QCOMPARE(widget<QPushButton>(*window, "startButton")->text(), QStringLiteral("开始制作"));
}

void TestLanguage::aboutItemOpensDialogInLanguage()
{
    storeLanguage(QStringLiteral("en_US"));
    auto window = newWindow();

    QPointer<AboutDialog> dialog;
    QString title, version;
    QTimer::singleShot(0, window.get(), [&] {
        dialog = qobject_cast<AboutDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle();
        version = dialog->findChild<QLabel *>(QStringLiteral("versionLabel"))->text();
        QVERIFY(dialog->parentWidget() == window.get());
        dialog->reject();
    });
    headerMenu(*window)->actions().last()->trigger();

    QCOMPARE(title, QStringLiteral("About Quillon"));
    QCOMPARE(version, QStringLiteral("Version: 1.0.7.01"));
    settle();
    QVERIFY2(!dialog, "the dialog outlived its exec");
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
