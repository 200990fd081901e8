// A real job from the window on Windows (under Wine): the product's bundle
// (the Windows 7-Zip archiver, our module and resource editor) packs a small
// folder with an icon; the output is then started with arguments and its
// icon group and version resource are read back with the system's calls.
// Packing again over an output that is running fails and keeps it.
#include "guitest.h"
#include "terminallog.h"
#include "toolfiles.h"
#include "versioninfo.h"
#include "worker.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

#include <shellapi.h>

namespace {

std::wstring wide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// A string of the version resource's en-US table, as the shell shows it.
QString versionString(const QString &exe, const QString &key)
{
    const std::wstring path = wide(exe);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
        return QStringLiteral("<no version resource>");
    std::vector<char> buffer(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, buffer.data()))
        return QStringLiteral("<unreadable>");
    const std::wstring query =
        (QStringLiteral("\\StringFileInfo\\040904B0\\") + key).toStdWString();
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(buffer.data(), query.c_str(), &value, &length) || !value)
        return QStringLiteral("<missing>");
    return QString::fromWCharArray(static_cast<const wchar_t *>(value)).left(int(length));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestWindowJob : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    QString source;
    QString icon;

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        source = tmp.filePath(QStringLiteral("App 应用"));
        QVERIFY(QDir().mkpath(source + QStringLiteral("/data")));
        QVERIFY(QFile::copy(QStringLiteral(QUILLON_ECHOARGS), source + QStringLiteral("/app.exe")));
        QVERIFY(writeFile(source + QStringLiteral("/data/说明.txt"), "hello\n"));
        // Compresses to almost nothing, unless stored.
        QVERIFY(writeFile(source + QStringLiteral("/data/zeros.bin"), QByteArray(1 << 20, '\0')));
        // An icon of two sizes in a colour the output must show.
        icon = tmp.filePath(QStringLiteral("red.ico"));
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(QColor(200, 30, 30));
        QVERIFY(image.save(icon, "ICO"));
    }

    void init() { isolateSettings(); }

    void jobThroughWindow_data()
    {
        QTest::addColumn<int>("level"); // index of cmbCompression
        QTest::addColumn<bool>("stored");
        QTest::newRow("normal") << 3 << false;
        QTest::newRow("store") << 0 << true;
    }

    void jobThroughWindow()
    {
        QFETCH(int, level);
        QFETCH(bool, stored);
        const QString output = tmp.filePath(QStringLiteral("out 输出 %1").arg(level));
        QVERIFY(QDir().mkpath(output));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        ui->folderLineEdit->setText(source);
        probe.populateMainExeList(source);
        ui->mainExeComboBox->setCurrentIndex(ui->mainExeComboBox->findText("app.exe"));
        ui->outputLineEdit->setText(output);
        ui->iconLineEdit->setText(icon);
        ui->cmbCompression->setCurrentIndex(level);

        QSignalSpy workerLog(probe.worker(), &Worker::logMessage);
        ModalDriver driver;
        driver.answer(QMessageBox::Ok);
        QVERIFY(QMetaObject::invokeMethod(&window, "on_startButton_clicked"));
        QTRY_VERIFY_WITH_TIMEOUT(!driver.seen.isEmpty() && driver.pending() == 0, 240000);
        QStringList lines;
        for (const QList<QVariant> &args : workerLog)
            lines << args.at(0).toString();
        const QString log = lines.join(QLatin1Char('\n'));
        QCOMPARE(driver.seen.size(), 1);
        QVERIFY2(driver.seen[0].title == QStringLiteral("完成"), log.toUtf8().constData());

        // The archiver was run with Windows paths and the folder's "\*"; the
        // line names its copy as built, with forward slashes.
        const QString command = lines.filter(QStringLiteral("执行命令: ")).value(0);
        const QString program = QStringLiteral("执行命令: ") + quillon::privateToolDirectory() +
                                QStringLiteral("/7zr.exe ");
        QVERIFY2(command.startsWith(program), command.toUtf8().constData());
        const QString switches = command.mid(program.size());
        QVERIFY2(switches.contains(QDir::toNativeSeparators(source) + QStringLiteral("\\*")),
                 command.toUtf8().constData());
        QVERIFY2(!switches.contains(QLatin1Char('/')), command.toUtf8().constData());
        // Storing takes the Copy method, without a dictionary.
        QCOMPARE(switches.contains(QStringLiteral(" -mx=0 -m0=Copy -bsp1 -ssc")), stored);
        QCOMPARE(switches.contains(QStringLiteral(" -md=")), !stored);
        const QString exe = output + QStringLiteral("/app.exe");
        QVERIFY2(lines.contains(QStringLiteral("输出文件: ") + QDir::toNativeSeparators(exe)),
                 log.toUtf8().constData());
        // The worker passes the archiver's output on by the read; the pane
        // shows it by the line (Windows' 7-Zip ends its lines with CR LF).
        const QStringList pane = ui->logTextEdit->toPlainText().split(QLatin1Char('\n'));
        QVERIFY2(pane.contains(QStringLiteral("Everything is Ok")), log.toUtf8().constData());
        QVERIFY2(std::none_of(pane.cbegin(), pane.cend(), quillon::TerminalLog::isArchiverProgress),
                 ui->logTextEdit->toPlainText().toUtf8().constData());
        // Stored, the output holds the folder's bytes as they are.
        const qint64 folderBytes =
            (1 << 20) + QFileInfo(source + QStringLiteral("/app.exe")).size();
        QCOMPARE(QFileInfo(output + QStringLiteral("/app.exe")).size() > folderBytes, stored);

        // The output runs: arguments passed through, the program's exit code.
        const QString echo = tmp.filePath(QStringLiteral("args.txt"));
        const QStringList arguments{QStringLiteral("plain"), QStringLiteral("with space"),
                                    QStringLiteral("quote\"inside"), QStringLiteral("中文 参数"),
                                    QString()};
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLON_ECHO_FILE"), QDir::toNativeSeparators(echo));
        run.setProcessEnvironment(env);
        run.start(exe, arguments);
        QVERIFY(run.waitForFinished(120000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 7);
        QFile echoed(echo);
        QVERIFY(echoed.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(echoed.readAll()).split(QLatin1Char('\n')),
                 arguments + QStringList{QString()});

        // The icon group is the chosen icon; the version resource names the
        // main program.
        const std::wstring path = wide(exe);
        QCOMPARE(ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0), 1u);
        HICON large = nullptr;
        QCOMPARE(ExtractIconExW(path.c_str(), 0, &large, nullptr, 1), 1u);
        QVERIFY(large);
        const QImage shown = QImage::fromHICON(large);
        DestroyIcon(large);
        QVERIFY(!shown.isNull());
        QVERIFY2(QColor(shown.pixel(shown.width() / 2, shown.height() / 2)) == QColor(200, 30, 30),
                 lines.filter(QStringLiteral("图标")).join(QLatin1Char('\n')).toUtf8().constData());
        QCOMPARE(versionString(exe, QStringLiteral("OriginalFilename")), QStringLiteral("app.exe"));
        QCOMPARE(versionString(exe, QStringLiteral("InternalName")), QStringLiteral("app"));
        QCOMPARE(versionString(exe, QStringLiteral("FileDescription")),
                 QString::fromLatin1(quillon::kVersionDescription));
        QCOMPARE(versionString(exe, QStringLiteral("FileVersion")),
                 QString::fromLatin1(quillon::kVersionText));
    }

    void runningOutputIsKept()
    {
        const QString output = tmp.filePath(QStringLiteral("running"));
        QVERIFY(QDir().mkpath(output));
        const auto pack = [&output, this](QStringList &lines) {
            Worker worker;
            QSignalSpy log(&worker, &Worker::logMessage);
            QSignalSpy finished(&worker, &Worker::finished);
            worker.createPortableApp(source, tmp.filePath(QStringLiteral("running.7z")), output,
                                     QStringLiteral("app.exe"), QString(), QStringLiteral("1"),
                                     QStringLiteral("LZMA"), QStringLiteral("64K"),
                                     QStringLiteral("1"));
            for (const QList<QVariant> &args : log)
                lines << args.at(0).toString();
            return finished.size() == 1 && finished.at(0).at(0).toBool();
        };
        QStringList lines;
        QVERIFY2(pack(lines), lines.join(QLatin1Char('\n')).toUtf8().constData());
        const QString exe = output + QStringLiteral("/app.exe");
        const QByteArray before = readFile(exe);

        // The output runs (its module waits for the program) while the job
        // packs over it.
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLON_ECHO_FILE"),
                   QDir::toNativeSeparators(tmp.filePath(QStringLiteral("running.txt"))));
        env.insert(QStringLiteral("QUILLON_ECHO_WAIT"), QStringLiteral("8000"));
        run.setProcessEnvironment(env);
        run.start(exe, QStringList());
        QVERIFY(run.waitForStarted(60000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(tmp.filePath(QStringLiteral("running.txt"))), 60000);
        lines.clear();
        const bool packed = pack(lines);
        QVERIFY(run.waitForFinished(60000));
        QCOMPARE(run.exitCode(), 7);
        QVERIFY2(!packed, lines.join(QLatin1Char('\n')).toUtf8().constData());
        QVERIFY2(lines.last().startsWith(QStringLiteral("错误：无法创建输出文件: %1（").arg(exe)),
                 lines.join(QLatin1Char('\n')).toUtf8().constData());
        QVERIFY(readFile(exe) == before);
        QCOMPARE(QDir(output).entryList(QDir::Files), QStringList{QStringLiteral("app.exe")});
    }
};

QUILLON_TEST_MAIN(TestWindowJob)
#include "tst_windowjob.moc"
