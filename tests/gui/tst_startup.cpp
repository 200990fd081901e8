// Start-up: the style sheet is applied, or each of its three failures is
// logged and announced by the fallback box before any window exists.
#include "guitest.h"
#include "startup.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList capturedLog;

QString openError(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString() : file.errorString();
}

void captureMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Noise of the platform plugins, not of the program: the offscreen one's,
    // and the windows one's about calls Wine leaves unimplemented.
    for (const char *noise : {"propagateSizeHints", "fromWinHICON(), failed to GetIconInfo",
                              "EnableNonClientDpiScaling"}) {
        if (message.contains(QLatin1String(noise)))
            return;
    }
    const char *level = type == QtCriticalMsg  ? "critical"
                        : type == QtWarningMsg ? "warning"
                                               : "other";
    capturedLog << QStringLiteral("%1 [%2] %3")
                       .arg(QLatin1String(level), QLatin1String(context.category), message);
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("empty.css")), QByteArray()));
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("blank.css")), " \n\t\n"));
    }

    void init()
    {
        isolateSettings();
        qApp->setStyleSheet(QString());
        capturedLog.clear();
    }

    void styleSheet_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<QStringList>("log");

        const QString missing = QStringLiteral(":/qss/missing.css");
        QTest::newRow("bundle sheet") << ":/"
                                      << ":/qss/default.css" << true << QStringList{};
        QTest::newRow("white space only")
            << ":/" << tmp.filePath(QStringLiteral("blank.css")) << true << QStringList{};
        QTest::newRow("bundle not registered")
            << tmp.filePath(QStringLiteral("no-bundle")) << ":/qss/default.css" << false
            << QStringList{QStringLiteral("critical [default] 资源系统未初始化！")};
        QTest::newRow("cannot open")
            << ":/" << missing << false
            << QStringList{
                   QStringLiteral("critical [default] 无法打开样式表: %1").arg(openError(missing)),
                   QStringLiteral("critical [default] 当前工作目录: %1").arg(QDir::currentPath())};
        QTest::newRow("empty") << ":/" << tmp.filePath(QStringLiteral("empty.css")) << false
                               << QStringList{QStringLiteral("warning [default] 样式表为空！")};
    }

    void styleSheet()
    {
        QFETCH(QString, root);
        QFETCH(QString, sheet);
        QFETCH(bool, applied);
        QFETCH(QStringList, log);

        ModalDriver driver;
        driver.answer(QMessageBox::Ok);
        const QtMessageHandler previous = qInstallMessageHandler(captureMessages);
        const bool result = quillon::applyApplicationStyleSheet(root, sheet);
        const QStringList startLog = capturedLog;
        // The window comes after the notice, as in main().
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        qInstallMessageHandler(previous);

        QCOMPARE(result, applied);
        QVERIFY2(startLog == log, qPrintable(startLog.join(QLatin1Char('\n'))));
        // Qt reports a style sheet it cannot parse when it is used: none expected.
        for (const QString &line : capturedLog) {
            QVERIFY2(!line.contains(QLatin1String("stylesheet"), Qt::CaseInsensitive),
                     qPrintable(line));
        }
        if (applied) {
            QVERIFY(driver.seen.isEmpty());
            QFile file(sheet);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(qApp->styleSheet(), QString::fromUtf8(file.readAll()));
            return;
        }
        QVERIFY(qApp->styleSheet().isEmpty());
        QCOMPARE(driver.seen.size(), 1);
        const SeenDialog &box = driver.seen[0];
        QCOMPARE(box.className, QStringLiteral("QMessageBox"));
        QCOMPARE(box.title, QStringLiteral("警告"));
        QCOMPARE(box.text, QStringLiteral("无法加载样式表，将使用默认外观。\n"
                                          "这可能会影响应用程序的外观，但功能不受影响。"));
        QVERIFY(!box.hasParent);
        QVERIFY(!box.mainWindowExisted);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
