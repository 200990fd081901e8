// quillon-cli, run as a process: argument checks, a whole run, exit codes
// and two packers at once.
#include "jobtext.h"

#include "jobrun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/resource.h>

#include <csignal>
#endif

namespace {

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

QProcess *startCli(const QStringList &args)
{
    auto *process = new QProcess;
    process->start(QStringLiteral(ENGINE_CLI_FIXTURE), args);
    return process;
}

CliRun finish(QProcess *process)
{
    CliRun run;
    if (process->waitForFinished(120000) && process->exitStatus() == QProcess::NormalExit) {
        run.exitCode = process->exitCode();
    }
    run.out = QString::fromUtf8(process->readAllStandardOutput());
    run.err = QString::fromUtf8(process->readAllStandardError());
    delete process;
    return run;
}

CliRun runCli(const QStringList &args)
{
    return finish(startCli(args));
}

QStringList workDirsLeft()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("Quillon_cli_*")}, QDir::AllEntries);
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void help();
    void badArguments_data();
    void badArguments();
    void packs();
    void keepsArchive();
    void storeLevelStores();
    void sameFolderSameBytes();
    void keptArchiveNeverReplacesAFile();
    void terminalBar();
    void failedJobExitsOne();
    void killedJobKeepsPreviousOutput_data();
    void killedJobKeepsPreviousOutput();
    void twoPackersAtOnce();

private:
    QString makeSource(const QString &name);
    QTemporaryDir m_dir;
};

void CliTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString CliTest::makeSource(const QString &name)
{
    const QString folder = m_dir.filePath(name + QStringLiteral("/src"));
    writeFile(folder + QStringLiteral("/app.exe"), "MZ program " + name.toUtf8());
    writeFile(folder + QStringLiteral("/lib/data.txt"), QByteArray(5000, 'd'));
    return folder;
}

void CliTest::help()
{
    const CliRun version = runCli({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out,
             QStringLiteral("quillon-cli %1\n").arg(QStringLiteral(QUILLON_VERSION_TEXT)));
    const CliRun run = runCli({QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith(
        QStringLiteral("Usage: quillon-cli SOURCE_FOLDER MAIN_PROGRAM OUTPUT_DIR")));
}

void CliTest::badArguments_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown option") << QStringList{"--bogus"} << "app.exe"
                                    << "bogus";
    QTest::newRow("level not offered") << QStringList{"--level", "4"} << "app.exe"
                                       << "--level '4'";
    QTest::newRow("method not offered") << QStringList{"--method", "PPMd"} << "app.exe"
                                        << "--method 'PPMd'";
    QTest::newRow("method case matters") << QStringList{"--method", "lzma"} << "app.exe"
                                         << "--method 'lzma'";
    QTest::newRow("dictionary not offered") << QStringList{"--dict", "2M"} << "app.exe"
                                            << "--dict '2M'";
    QTest::newRow("option value missing") << QStringList{"--level"} << "app.exe"
                                          << "level";
    QTest::newRow("option twice") << QStringList{"--level", "1", "--level", "3"} << "app.exe"
                                  << "--level given more than once";
    QTest::newRow("main program missing") << QStringList{} << "nothere.exe"
                                          << "'nothere.exe' not found";
    QTest::newRow("icon missing") << QStringList{"--icon", "/nonexistent/x.ico"} << "app.exe"
                                  << "icon file not found";
    QTest::newRow("main program in a subfolder") << QStringList{} << "lib/data.txt"
                                                 << "not a valid Windows file name";
    QTest::newRow("main program name breaks a line")
        << QStringList{} << "x\"\nExecuteFile=\"lib/data.txt"
        << "not a valid Windows file name";
    QTest::newRow("source folder missing") << QStringList{"@nofolder"} << "app.exe"
                                           << "source folder not found";
    QTest::newRow("too few arguments") << QStringList{"@short"} << "app.exe"
                                       << "got 2 argument(s)";
}

void CliTest::badArguments()
{
    QFETCH(QStringList, extra);
    QFETCH(QString, program);
    QFETCH(QString, message);

    const QString folder = makeSource(QStringLiteral("bad"));
    const QString outputDir = m_dir.filePath(QStringLiteral("bad/out"));
    QStringList args{folder, program, outputDir};
    if (extra == QStringList{QStringLiteral("@nofolder")}) {
        args[0] = m_dir.filePath(QStringLiteral("bad/none"));
    } else if (extra == QStringList{QStringLiteral("@short")}) {
        args.removeLast();
    } else {
        args += extra;
    }
    if (program.contains(QLatin1Char('\n'))) {
        QVERIFY(writeFile(QDir(folder).filePath(program), "MZ"));
    }
    const CliRun run = runCli(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.out.isEmpty());
    QVERIFY2(run.err.startsWith(QStringLiteral("quillon-cli: ")), qPrintable(run.err));
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1 + program.count(QLatin1Char('\n')));
    QVERIFY(!QFile::exists(outputDir));
    QVERIFY(workDirsLeft().isEmpty());
}

void CliTest::packs()
{
    const QString folder = makeSource(QStringLiteral("packs"));
    const QString outputDir = m_dir.filePath(QStringLiteral("packs/out/new"));
    const CliRun run = runCli({folder, QStringLiteral("app.exe"), outputDir,
                               QStringLiteral("--level"), QStringLiteral("1")});
    QCOMPARE(run.exitCode, 0);
    const QStringList log = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(log.first(), QStringLiteral("开始创建便携应用..."));
    QVERIFY(log.contains(QStringLiteral("压缩级别: 1")));
    QVERIFY(log.contains(QStringLiteral("压缩方法: LZMA")));
    QVERIFY(log.contains(QStringLiteral("字典大小: 16M")));
    const QString output = outputDir + QStringLiteral("/app.exe");
    QCOMPARE(log.last(), QStringLiteral("输出文件: %1").arg(QDir::toNativeSeparators(output)));
    // The archiver's redraws as a terminal shows them: its scan line
    // replaced by the summary, no backspace written.
    QVERIFY2(!run.out.contains(QLatin1Char('\b')), qPrintable(run.out));
    const QRegularExpression summary(QStringLiteral("^1 folder, 2 files, 5016 bytes"));
    QVERIFY2(
        std::any_of(log.cbegin(), log.cend(),
                    [&summary](const QString &line) { return summary.match(line).hasMatch(); }),
        qPrintable(run.out));
    QVERIFY(!run.out.contains(QStringLiteral("0M Scan")));
    // Not a terminal: one plain percentage per line, ending at 100.
    const QStringList progress = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY(progress.contains(QStringLiteral("50%")));
    QCOMPARE(progress.last(), QStringLiteral("100%"));
    QVERIFY(QFileInfo(output).size() > 0);
    // The work directory (with its archive) is gone.
    QVERIFY(workDirsLeft().isEmpty());
    QCOMPARE(QDir(outputDir).entryList(QDir::Files), QStringList{QStringLiteral("app.exe")});
}

void CliTest::keepsArchive()
{
    const QString folder = makeSource(QStringLiteral("keep"));
    const QString outputDir = m_dir.filePath(QStringLiteral("keep/out"));
    const CliRun run =
        runCli({folder, QStringLiteral("app.exe"), outputDir, QStringLiteral("--keep-archive"),
                QStringLiteral("--method"), QStringLiteral("LZMA2"), QStringLiteral("--dict"),
                QStringLiteral("1M")});
    QCOMPARE(run.exitCode, 0);
    const QString archive = outputDir + QStringLiteral("/app.7z");
    QVERIFY(run.out.endsWith(
        QStringLiteral("archive kept: %1\n").arg(QDir::toNativeSeparators(archive))));
    const QMap<QString, qint64> listing = listArchive(archive);
    QCOMPARE(listing.value(QStringLiteral("app.exe")), qint64(15));
    QCOMPARE(listing.value(QStringLiteral("lib/data.txt")), qint64(5000));
    const QByteArray output = readFile(outputDir + QStringLiteral("/app.exe"));
    QVERIFY(output.endsWith(quillon::buildSfxConfig(QStringLiteral("app.exe")).toUtf8() +
                            readFile(archive)));
    QVERIFY(workDirsLeft().isEmpty());
}

void CliTest::storeLevelStores()
{
    // Level 0 stores the files as they are: the Copy method, no dictionary,
    // the output about as large as the folder and the module together.
    const QString folder = makeSource(QStringLiteral("store"));
    QVERIFY(writeFile(folder + QStringLiteral("/lib/zeros.bin"), QByteArray(1 << 20, '\0')));
    const QString outputDir = m_dir.filePath(QStringLiteral("store/out"));
    const CliRun run =
        runCli({folder, QStringLiteral("app.exe"), outputDir, QStringLiteral("--level"),
                QStringLiteral("0"), QStringLiteral("--method"), QStringLiteral("LZMA2"),
                QStringLiteral("--keep-archive")});
    QCOMPARE(run.exitCode, 0);
    const QString command =
        run.out.split(QLatin1Char('\n')).filter(QStringLiteral("执行命令: ")).value(0);
    QVERIFY2(command.contains(QStringLiteral(" -mx=0 -m0=Copy -bsp1 -ssc")), qPrintable(command));
    QVERIFY2(!command.contains(QStringLiteral("-md=")), qPrintable(command));

    const QString archive = outputDir + QStringLiteral("/app.7z");
    QProcess list;
    list.start(QStringLiteral(ENGINE_TEST_ARCHIVER),
               {QStringLiteral("l"), QStringLiteral("-slt"), archive});
    QVERIFY(list.waitForFinished(60000));
    QCOMPARE(list.exitCode(), 0);
    const QStringList methods =
        QString::fromUtf8(list.readAllStandardOutput())
            .split(QLatin1Char('\n'))
            .filter(QRegularExpression(QStringLiteral("^Method = \\S"))); // folders: none
    QVERIFY(!methods.isEmpty());
    QCOMPARE(methods.filter(QRegularExpression(QStringLiteral("^Method = Copy\\s*$"))), methods);

    qint64 files = 0;
    for (const QString &name : {QStringLiteral("app.exe"), QStringLiteral("lib/data.txt"),
                                QStringLiteral("lib/zeros.bin")}) {
        files += QFileInfo(folder + QLatin1Char('/') + name).size();
    }
    const qint64 module = QFileInfo(QStringLiteral(ENGINE_FAKE_MODULE)).size();
    const qint64 output = QFileInfo(outputDir + QStringLiteral("/app.exe")).size();
    QVERIFY2(
        output > files + module && output < files + module + 64 * 1024,
        qPrintable(
            QStringLiteral("output %1, files %2, module %3").arg(output).arg(files).arg(module)));
    QVERIFY(readFile(outputDir + QStringLiteral("/app.exe")).endsWith(readFile(archive)));
}

void CliTest::sameFolderSameBytes()
{
    // Outputs are reproducible: packing the same folder again gives the same
    // file, byte for byte (the release test checks it with the product's
    // module, icon and version resource).
    const QString folder = makeSource(QStringLiteral("repro"));
    QVERIFY(writeFile(folder + QStringLiteral("/lib/more.txt"), QByteArray(70000, 'm')));
    QByteArray outputs[2];
    for (int i = 0; i < 2; ++i) {
        const QString outputDir = m_dir.filePath(QStringLiteral("repro/out%1").arg(i));
        const CliRun run = runCli({folder, QStringLiteral("app.exe"), outputDir,
                                   QStringLiteral("--method"), QStringLiteral("LZMA2")});
        QCOMPARE(run.exitCode, 0);
        outputs[i] = readFile(outputDir + QStringLiteral("/app.exe"));
        QVERIFY(!outputs[i].isEmpty());
    }
    QVERIFY(outputs[0] == outputs[1]);
}

void CliTest::keptArchiveNeverReplacesAFile()
{
    // The output directory is the source folder and the main program's name
    // ends in .7z: the kept archive's first name is the main program's own.
    const QString folder = m_dir.filePath(QStringLiteral("keepclash"));
    QVERIFY(writeFile(folder + QStringLiteral("/tool.7z"), "MZ tool"));
    QVERIFY(writeFile(folder + QStringLiteral("/tool (1).7z"), "older archive"));
    const CliRun run =
        runCli({folder, QStringLiteral("tool.7z"), folder, QStringLiteral("--keep-archive")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(folder + QStringLiteral("/tool.7z")), QByteArray("MZ tool"));
    QCOMPARE(readFile(folder + QStringLiteral("/tool (1).7z")), QByteArray("older archive"));
    const QString kept = folder + QStringLiteral("/tool (2).7z");
    QVERIFY2(
        run.out.endsWith(QStringLiteral("archive kept: %1\n").arg(QDir::toNativeSeparators(kept))),
        qPrintable(run.out));
    QCOMPARE(listArchive(kept).value(QStringLiteral("tool.7z")), qint64(7));
    QVERIFY(readFile(folder + QStringLiteral("/tool.exe")).endsWith(readFile(kept)));
}

void CliTest::terminalBar()
{
#ifdef Q_OS_UNIX
    // On a terminal (script(1) gives one) the bar keeps its width as it fills.
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    if (script.isEmpty()) {
        QSKIP("script(1) not found");
    }
    const QString folder = makeSource(QStringLiteral("bar"));
    const QString outputDir = m_dir.filePath(QStringLiteral("bar/out"));
    QStringList command{QStringLiteral(ENGINE_CLI_FIXTURE), folder, QStringLiteral("app.exe"),
                        outputDir};
    for (QString &word : command) {
        word = QStringLiteral("'%1'").arg(word);
    }
    QProcess process;
    process.start(script, {QStringLiteral("-qefc"), command.join(QLatin1Char(' ')),
                           QStringLiteral("/dev/null")});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    const QString screen = QString::fromUtf8(process.readAllStandardOutput());
    const QRegularExpression frame(QStringLiteral("\\r\\[([^\\]]*)\\] +(\\d+)%"));
    QList<int> values;
    for (auto it = frame.globalMatch(screen); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString bar = match.captured(1);
        const int value = match.captured(2).toInt();
        QCOMPARE(bar.size(), 40);
        QCOMPARE(int(bar.count(QLatin1Char('#'))), value * 40 / 100);
        QVERIFY(bar.startsWith(QString(value * 40 / 100, QLatin1Char('#'))));
        values << value;
    }
    QVERIFY2(values.contains(50) && values.contains(100), qPrintable(screen));
#else
    QSKIP("script(1) is a Unix program");
#endif
}

void CliTest::failedJobExitsOne()
{
    // The output would replace the main program: the job refuses.
    const QString folder = makeSource(QStringLiteral("same"));
    const CliRun run = runCli({folder, QStringLiteral("app.exe"), folder});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.out.trimmed().endsWith(
        QStringLiteral("错误：输出文件与源主程序路径相同，已中止以避免覆盖原始程序")));
    QCOMPARE(readFile(folder + QStringLiteral("/app.exe")), QByteArray("MZ program same"));
    QVERIFY(workDirsLeft().isEmpty());
}

void CliTest::twoPackersAtOnce()
{
    QString folders[2];
    QString outputs[2];
    QProcess *processes[2];
    for (int i = 0; i < 2; ++i) {
        const QString name = QStringLiteral("twice%1").arg(i);
        folders[i] = makeSource(name);
        QByteArray filler;
        for (int n = 0; n < 300000; ++n) {
            filler += QByteArray::number(n * (i + 3));
        }
        QVERIFY(writeFile(folders[i] + QStringLiteral("/big.bin"), filler));
        outputs[i] = m_dir.filePath(name + QStringLiteral("/out"));
    }
    for (int i = 0; i < 2; ++i) {
        processes[i] = startCli(
            {folders[i], QStringLiteral("app.exe"), outputs[i], QStringLiteral("--keep-archive")});
    }
    for (int i = 0; i < 2; ++i) {
        const CliRun run = finish(processes[i]);
        QCOMPARE(run.exitCode, 0);
        const QString archive = outputs[i] + QStringLiteral("/app.7z");
        const QByteArray output = readFile(outputs[i] + QStringLiteral("/app.exe"));
        QVERIFY(output.endsWith(quillon::buildSfxConfig(QStringLiteral("app.exe")).toUtf8() +
                                readFile(archive)));
        QCOMPARE(listArchive(archive).value(QStringLiteral("big.bin")),
                 QFileInfo(folders[i] + QStringLiteral("/big.bin")).size());
    }
}

void CliTest::killedJobKeepsPreviousOutput_data()
{
    QTest::addColumn<bool>("previous");
    QTest::newRow("no previous output") << false;
    QTest::newRow("previous output") << true;
}

void CliTest::killedJobKeepsPreviousOutput()
{
#ifdef Q_OS_UNIX
    // A file size limit one byte short of the output: the packer is killed
    // (SIGXFSZ) while it writes the output's last piece.
    QFETCH(bool, previous);
    const QString name = QStringLiteral("killed-%1").arg(previous);
    const QString folder = makeSource(name);
    const QString outputDir = m_dir.filePath(name + QStringLiteral("/out"));
    const QString output = outputDir + QStringLiteral("/app.exe");
    const QStringList args{folder, QStringLiteral("app.exe"), outputDir};
    // A temporary folder of its own: the killed packer leaves its work
    // directory there.
    const QString temp = m_dir.filePath(name + QStringLiteral("/tmp"));
    QVERIFY(QDir().mkpath(temp));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), temp);
    const auto pack = [&args, &environment](rlim_t limit) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setChildProcessModifier([limit] {
            const rlimit fileSize{limit, limit};
            setrlimit(RLIMIT_FSIZE, &fileSize);
            std::signal(SIGXFSZ, SIG_DFL);
        });
        process.start(QStringLiteral(ENGINE_CLI_FIXTURE), args);
        process.waitForFinished(120000);
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    // The helper copies made once, so the limited run writes the output only.
    QCOMPARE(pack(RLIM_INFINITY), 0);
    const qint64 outputSize = QFileInfo(output).size();
    QVERIFY(outputSize > 1);
    const QByteArray yesterday = "yesterday's good output";
    if (previous) {
        QVERIFY(writeFile(output, yesterday));
    } else {
        QVERIFY(QFile::remove(output));
    }
    QCOMPARE(pack(static_cast<rlim_t>(outputSize - 1)), -1);
    if (previous) {
        QVERIFY(readFile(output) == yesterday);
    } else {
        QVERIFY(!QFileInfo::exists(output));
    }
#else
    QSKIP("file size limits are POSIX");
#endif
}

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
