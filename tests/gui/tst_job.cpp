// A real job started from the window: the product's bundle (the real 7-Zip
// archiver, our self-extractor module and resource editor) on a small folder.
#include "guitest.h"
#include "terminallog.h"
#include "worker.h"

#include <QAbstractTextDocumentLayout>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextEdit>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>

namespace {

// The worker's messages as the log pane shows them.
QStringList shownAsTerminal(const QStringList &messages)
{
    quillon::TerminalLog screen;
    QStringList lines;
    for (const QString &message : messages) {
        const quillon::TerminalLog::Update update = screen.add(message);
        lines.resize(lines.size() - update.replaced);
        lines += update.lines;
    }
    return lines;
}

} // namespace

class TestJob : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    QString source;

    struct Outcome
    {
        QStringList logLines;
        QStringList workerLines;
        QList<int> progress;
        QList<SeenDialog> boxes;
        bool idleWhenBoxShown = false;
        int progressWhenBoxShown = -1;
    };

    // Starts a job from the filled form and waits for its closing box.
    void runJob(MainWindow &window, Outcome &outcome)
    {
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        QSignalSpy workerLog(probe.worker(), &Worker::logMessage);
        QObject::connect(ui->progressBar, &QProgressBar::valueChanged, ui->progressBar,
                         [&outcome](int value) { outcome.progress << value; });
        ModalDriver driver;
        driver.push([&outcome, &probe](QWidget *box) {
            outcome.idleWhenBoxShown =
                !probe.isProcessing() && probe.ui()->startButton->isEnabled() &&
                probe.ui()->resetButton->isEnabled() && probe.ui()->advancedTabButton->isEnabled();
            outcome.progressWhenBoxShown = probe.ui()->progressBar->value();
            qobject_cast<QMessageBox *>(box)->button(QMessageBox::Ok)->click();
        });

        QVERIFY(QMetaObject::invokeMethod(&window, "on_startButton_clicked"));
        // Handed over: the job buttons are off until the worker finishes.
        QVERIFY(probe.isProcessing());
        QVERIFY(!ui->startButton->isEnabled());
        QVERIFY(!ui->menuButton->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!driver.seen.isEmpty() && driver.pending() == 0, 240000);
        QCoreApplication::processEvents();

        outcome.logLines = ui->logTextEdit->toPlainText().split(QLatin1Char('\n'));
        for (const QList<QVariant> &args : workerLog) {
            outcome.workerLines << args.at(0).toString();
        }
        outcome.boxes = driver.seen;
    }

    void fillForm(MainWindow &window, const QString &output, bool cleanup)
    {
        Ui::MainWindow *ui = GuiTestProbe(&window).ui();
        ui->folderLineEdit->setText(source);
        GuiTestProbe(&window).populateMainExeList(source);
        ui->mainExeComboBox->setCurrentIndex(ui->mainExeComboBox->findText("tool.exe"));
        ui->outputLineEdit->setText(output);
        ui->cmbCompression->setCurrentIndex(1);
        ui->chkCleanup->setChecked(cleanup);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        source = tmp.filePath(QStringLiteral("Tool"));
        // The main program: a copy of a real Windows program of ours.
        QVERIFY(QDir().mkpath(source));
        QVERIFY(QFile::copy(QStringLiteral(QUILLON_TEST_MAIN_PROGRAM),
                            source + QStringLiteral("/tool.exe")));
        QVERIFY(writeFile(source + QStringLiteral("/data/readme.txt"), "hello\n"));
        // A name the log pane must show as text, not as markup (Windows holds
        // no '<' in a name; an entity would be turned into one).
#ifdef Q_OS_WIN
        QVERIFY(writeFile(source + QStringLiteral("/data/&lt;i&gt;markup.txt"), "x"));
#else
        QVERIFY(writeFile(source + QStringLiteral("/data/<i>markup.txt"), "x"));
#endif
    }

    void init()
    {
        isolateSettings();
    }

    void successfulJob_data()
    {
        QTest::addColumn<bool>("cleanup");
        QTest::newRow("archive removed") << true;
        QTest::newRow("archive kept") << false;
    }

    void successfulJob()
    {
        QFETCH(bool, cleanup);
        const QString output =
            tmp.filePath(cleanup ? QStringLiteral("out-clean") : QStringLiteral("out-keep"));
        QVERIFY(QDir().mkpath(output));
        MainWindow window;
        window.show();
        fillForm(window, output, cleanup);
        const QString archive = GuiTestProbe(&window).tempWorkDir() + QStringLiteral("/temp.7z");

        Outcome outcome;
        runJob(window, outcome);
        if (QTest::currentTestFailed()) {
            return;
        }
        QCOMPARE(outcome.boxes.size(), 1);
        if (outcome.boxes[0].title != QStringLiteral("完成")) {
            qWarning().noquote() << outcome.logLines.join(QLatin1Char('\n'));
        }
        QCOMPARE(outcome.boxes[0].title, QStringLiteral("完成"));
        QCOMPARE(outcome.boxes[0].text, QStringLiteral("便携应用创建成功！"));
        QVERIFY(outcome.idleWhenBoxShown);
        QCOMPARE(outcome.progressWhenBoxShown, 100);
        QVERIFY(!outcome.progress.isEmpty());
        QCOMPARE(outcome.progress.last(), 100);
        QVERIFY(std::is_sorted(outcome.progress.cbegin(), outcome.progress.cend()));

        // The five lines of the window, then every worker line in its order.
        const QStringList header{
            QStringLiteral("调试信息:"), QStringLiteral("源文件夹: %1").arg(source),
            QStringLiteral("主程序: tool.exe"), QStringLiteral("输出目录: %1").arg(output),
            QStringLiteral("图标路径: ")};
        QCOMPARE(outcome.logLines.mid(0, 5), header);
        QVERIFY(!outcome.workerLines.isEmpty());
        QCOMPARE(outcome.logLines.mid(5), shownAsTerminal(outcome.workerLines));
        // The real archiver redraws its scan and progress lines with
        // backspaces (on Windows: carriage returns, which the trim of a chunk
        // takes away at its edges); the pane shows the result, as its
        // terminal would.
        const QString pane = outcome.logLines.join(QLatin1Char('\n'));
        QVERIFY2(!pane.contains(QLatin1Char('\b')), qPrintable(pane));
#ifndef Q_OS_WIN
        QVERIFY(std::any_of(outcome.workerLines.cbegin(), outcome.workerLines.cend(),
                            [](const QString &line) { return line.contains(QLatin1Char('\b')); }));
#endif
        QVERIFY2(!pane.contains(QStringLiteral("0M Scan")), qPrintable(pane));
        QVERIFY2(outcome.logLines.indexOf(
                     QRegularExpression(QStringLiteral("1 folder, 3 files, \\d+ bytes .*"))) > 5,
                 qPrintable(pane));
        QVERIFY(outcome.logLines.contains(QStringLiteral("Everything is Ok")));
        if (cleanup) {
            QDir().mkpath(QStringLiteral(QUILLON_SCREENSHOT_DIR));
            // The archiver's part of the log at the top of the pane.
            QTextEdit *pane = GuiTestProbe(&window).ui()->logTextEdit;
            const QTextBlock start = pane->document()->find(QStringLiteral("7z进程已启动")).block();
            pane->verticalScrollBar()->setValue(
                int(pane->document()->documentLayout()->blockBoundingRect(start).top()));
            QVERIFY(window.grab().save(QStringLiteral(QUILLON_SCREENSHOT_DIR) +
                                       QStringLiteral("/job-log.png")));
        }

        QFile produced(output + QStringLiteral("/tool.exe"));
        QVERIFY(produced.open(QIODevice::ReadOnly));
        QCOMPARE(produced.read(2), QByteArray("MZ"));
        QVERIFY(produced.size() > QFileInfo(source + QStringLiteral("/tool.exe")).size());
        QCOMPARE(QFile::exists(archive), !cleanup);
    }

    void largeFolderLog()
    {
        // 60 MB that does not compress: the archiver redraws its progress
        // line many times, and the pane keeps none of the redraws.
        const QString large = tmp.filePath(QStringLiteral("Large"));
        QVERIFY(QDir().mkpath(large));
        QVERIFY(QFile::copy(QStringLiteral(QUILLON_TEST_MAIN_PROGRAM),
                            large + QStringLiteral("/tool.exe")));
        quint64 state = 0x2545F4914F6CDD1DULL;
        for (int part = 0; part < 4; ++part) {
            QByteArray data(15 << 20, Qt::Uninitialized);
            for (qsizetype i = 0; i + 8 <= data.size(); i += 8) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                std::memcpy(data.data() + i, &state, 8);
            }
            QVERIFY(writeFile(large + QStringLiteral("/data/part%1.bin").arg(part), data));
        }
        const QString output = tmp.filePath(QStringLiteral("out-large"));
        QVERIFY(QDir().mkpath(output));

        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Ui::MainWindow *ui = GuiTestProbe(&window).ui();
        ui->folderLineEdit->setText(large);
        GuiTestProbe(&window).populateMainExeList(large);
        ui->mainExeComboBox->setCurrentIndex(ui->mainExeComboBox->findText("tool.exe"));
        ui->outputLineEdit->setText(output);
        ui->cmbCompression->setCurrentIndex(1);

        Outcome outcome;
        runJob(window, outcome);
        if (QTest::currentTestFailed()) {
            return;
        }
        const QString pane = outcome.logLines.join(QLatin1Char('\n'));
        QCOMPARE(outcome.boxes.size(), 1);
        QVERIFY2(outcome.boxes[0].title == QStringLiteral("完成"), qPrintable(pane));
        // Messages that leave a progress line last, as a terminal shows them.
        quillon::TerminalLog screen;
        int redraws = 0;
        for (const QString &message : outcome.workerLines) {
            if (quillon::TerminalLog::isArchiverProgress(screen.add(message).lines.last())) {
                ++redraws;
            }
        }
        QVERIFY2(redraws >= 2, qPrintable(outcome.workerLines.join(QLatin1Char('\n'))));
        QCOMPARE(outcome.logLines.mid(5), shownAsTerminal(outcome.workerLines));
        QVERIFY2(std::none_of(outcome.logLines.cbegin(), outcome.logLines.cend(),
                              quillon::TerminalLog::isArchiverProgress),
                 qPrintable(pane));
        QVERIFY2(!pane.contains(QLatin1Char('\b')) && !pane.contains(QLatin1Char('\r')),
                 qPrintable(pane));
        QVERIFY2(outcome.logLines.indexOf(
                     QRegularExpression(QStringLiteral("1 folder, 5 files, \\d+ bytes .*"))) > 5,
                 qPrintable(pane));
        QVERIFY(outcome.logLines.contains(QStringLiteral("Everything is Ok")));

        // The archiver's part of the log at the top of the pane.
        QDir().mkpath(QStringLiteral(QUILLON_SCREENSHOT_DIR));
        QTextEdit *log = ui->logTextEdit;
        const QTextBlock start = log->document()->find(QStringLiteral("7z进程已启动")).block();
        log->verticalScrollBar()->setValue(
            int(log->document()->documentLayout()->blockBoundingRect(start).top()));
        QVERIFY(window.grab().save(QStringLiteral(QUILLON_SCREENSHOT_DIR) +
                                   QStringLiteral("/job-log-60mb.png")));
    }

    void failingJob()
    {
        // The output file's name is taken by a directory: the job fails when
        // it writes the executable.
        const QString output = tmp.filePath(QStringLiteral("out-blocked"));
        QVERIFY(QDir().mkpath(output + QStringLiteral("/tool.exe/inside")));
        MainWindow window;
        window.show();
        fillForm(window, output, true);

        Outcome outcome;
        runJob(window, outcome);
        if (QTest::currentTestFailed()) {
            return;
        }
        QCOMPARE(outcome.boxes.size(), 1);
        QCOMPARE(outcome.boxes[0].title, QStringLiteral("创建失败"));
        QCOMPARE(outcome.boxes[0].text, QStringLiteral("便携应用创建失败，请查看日志了解详情。"));
        QVERIFY(outcome.idleWhenBoxShown);
        QVERIFY(!outcome.workerLines.isEmpty());
        QCOMPARE(outcome.logLines.mid(5), shownAsTerminal(outcome.workerLines));
        QVERIFY2(std::any_of(
                     outcome.workerLines.cbegin(), outcome.workerLines.cend(),
                     [](const QString &line) { return line.startsWith(QStringLiteral("错误：")); }),
                 qPrintable(outcome.workerLines.join(QLatin1Char('\n'))));
        QVERIFY(QFileInfo(output + QStringLiteral("/tool.exe")).isDir());
    }
};

QUILLON_TEST_MAIN(TestJob)
#include "tst_job.moc"
