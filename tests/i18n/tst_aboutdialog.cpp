// The about box: version, link, rights notice, and its texts per language.
#include "aboutdialog.h"

#include <QDesktopServices>
#include <QLabel>
#include <QTest>
#include <QTranslator>
#include <QUrl>

namespace {

const QString website = QStringLiteral("https://morvane.example");
const QString copyright = QStringLiteral("© 2026 Morvane. All rights reserved.");

QLabel *label(AboutDialog &dialog, const char *name)
{
    QLabel *found = dialog.findChild<QLabel *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no label %s", name);
    return found;
}

} // namespace

// Stands in for the desktop: records what it is asked to open.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void openUrl(const QUrl &url) { opened.append(url); }
};

class TestAboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void version_data();
    void version();
    void textsFollowLanguage_data();
    void textsFollowLanguage();
    void linkOpensOnceThroughDesktop();
    void logoAndIconLoaded();
};

void TestAboutDialog::init()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.7.01"));
}

void TestAboutDialog::version_data()
{
    QTest::addColumn<QString>("applicationVersion");
    QTest::addColumn<QString>("line");

    QTest::newRow("set by the program") << QString("1.0.7.01") << QString("版本: 1.0.7.01");
    QTest::newRow("another version") << QString("2.3") << QString("版本: 2.3");
    QTest::newRow("empty falls back") << QString() << QString("版本: 1.0.7.01");
}

void TestAboutDialog::version()
{
    QFETCH(QString, applicationVersion);
    QFETCH(QString, line);

    QCoreApplication::setApplicationVersion(applicationVersion);
    AboutDialog dialog;
    QCOMPARE(label(dialog, "versionLabel")->text(), line);
}

void TestAboutDialog::textsFollowLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("versionLine");
    QTest::addColumn<QString>("linkText");
    QTest::addColumn<QString>("descriptionStart");

    QTest::newRow("zh_CN") << QString("zh_CN") << QString("关于Quillon")
                           << QString("版本: 1.0.7.01") << QString("访问官方网站 %1")
                           << QString("一款简单易用");
    QTest::newRow("zh_TW") << QString("zh_TW") << QString("關於Quillon")
                           << QString("版本: 1.0.7.01") << QString("造訪官方網站 %1")
                           << QString("一款簡單易用");
    QTest::newRow("en_US") << QString("en_US") << QString("About Quillon")
                           << QString("Version: 1.0.7.01") << QString("Visit official website %1")
                           << QString("A simple and easy-to-use");
}

void TestAboutDialog::textsFollowLanguage()
{
    QFETCH(QString, language);
    QFETCH(QString, title);
    QFETCH(QString, versionLine);
    QFETCH(QString, linkText);
    QFETCH(QString, descriptionStart);

    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/translations/lang_%1.qm").arg(language)));
    QCoreApplication::installTranslator(&translator);
    AboutDialog dialog;
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(label(dialog, "titleLabel")->text(), QStringLiteral("<h2>Quillon</h2>"));
    QCOMPARE(label(dialog, "versionLabel")->text(), versionLine);
    QVERIFY2(label(dialog, "descriptionLabel")->text().startsWith(descriptionStart),
             qPrintable(label(dialog, "descriptionLabel")->text()));
    QCOMPARE(label(dialog, "websiteLabel")->text(),
             QStringLiteral("<a href=\"%1\">%2</a>").arg(website, linkText.arg(website)));
    QCOMPARE(label(dialog, "copyrightLabel")->text(), copyright);
}

// A real click on the link: our handler asks the desktop once; the label
// itself must not open it as well.
void TestAboutDialog::linkOpensOnceThroughDesktop()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "openUrl");

    AboutDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QLabel *link = label(dialog, "websiteLabel");
    QVERIFY(!link->openExternalLinks());
    const QPoint onText(link->contentsRect().left() + 4, link->contentsRect().center().y());
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, onText);

    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(recorder.opened, QList<QUrl>{QUrl(website)});
}

void TestAboutDialog::logoAndIconLoaded()
{
    AboutDialog dialog;
    QVERIFY(!label(dialog, "logoLabel")->pixmap().isNull());
    QVERIFY(!dialog.windowIcon().isNull());
}

QTEST_MAIN(TestAboutDialog)
#include "tst_aboutdialog.moc"
