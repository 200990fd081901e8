// The pure helpers of the job: archiver output parsing, the configuration
// block, the archiver command line and the same-file guard.
#include "jobtext.h"
#include "pathguard.h"
#include "terminallog.h"

#include "jobrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using quillon::ArchiverOutputParser;
using quillon::PathStyle;

class JobTextTest : public QObject
{
    Q_OBJECT

private slots:
    void parser_data();
    void parser();
    void sfxConfig_data();
    void sfxConfig();
    void terminalLog_data();
    void terminalLog();
    void mainProgramName_data();
    void mainProgramName();
    void archiverArguments_data();
    void archiverArguments();
    void sameFileByName_data();
    void sameFileByName();
    void sameFileOnDisk();
};

void JobTextTest::parser_data()
{
    // Chunks are fed to one parser in order; each chunk gives at most one
    // progress value and one log line. -1 in `progress` stands for "none".
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("rising percentages, repeat dropped")
        << QList<QByteArray>{"10%", "35%", "35%", "100%"} << QList<int>{4, 15, -1, 45}
        << QStringList{QString(), QString(), QString(), QString()};
    QTest::newRow("above 100 capped at 45")
        << QList<QByteArray>{"150%"} << QList<int>{45} << QStringList{QString()};
    QTest::newRow("int overflow counts as 0")
        << QList<QByteArray>{"99999999999%"} << QList<int>{-1} << QStringList{"99999999999%"};
    QTest::newRow("largest int does not overflow")
        << QList<QByteArray>{"2147483647%"} << QList<int>{45} << QStringList{QString()};
    QTest::newRow("first match only, lower than highest")
        << QList<QByteArray>{"50%", "20% then 90%"} << QList<int>{22, -1}
        << QStringList{QString(), "20% then 90%"};
    QTest::newRow("0% at start gives nothing, 1% gives 0")
        << QList<QByteArray>{"0%", "1%"} << QList<int>{-1, 0} << QStringList{QString(), QString()};
    QTest::newRow("same value trimmed not logged, lower value logged")
        << QList<QByteArray>{"35%", "  35%\r\n", "40%", " 35% "} << QList<int>{15, -1, 18, -1}
        << QStringList{QString(), QString(), QString(), "35%"};
    QTest::newRow("white space only")
        << QList<QByteArray>{" \r\n\t "} << QList<int>{-1} << QStringList{QString()};
    QTest::newRow("empty chunk") << QList<QByteArray>{QByteArray()} << QList<int>{-1}
                                 << QStringList{QString()};
    QTest::newRow("text with percentage logged whole, control characters kept")
        << QList<QByteArray>{"\b\b 12% 3 + a.txt\n"} << QList<int>{5}
        << QStringList{"\b\b 12% 3 + a.txt"};
    QTest::newRow("backspaces inside are kept")
        << QList<QByteArray>{"5%\b\b\b\b 9%"} << QList<int>{2} << QStringList{"5%\b\b\b\b 9%"};
    QTest::newRow("plain text, UTF-8") << QList<QByteArray>{"Everything is Ok 完成\n"}
                                       << QList<int>{-1} << QStringList{"Everything is Ok 完成"};
}

void JobTextTest::parser()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, progress);
    QFETCH(QStringList, log);

    ArchiverOutputParser parser;
    for (int i = 0; i < chunks.size(); ++i) {
        const ArchiverOutputParser::Step step = parser.parseArchiverOutput(chunks.at(i));
        QCOMPARE(step.progress.value_or(-1), progress.at(i));
        QCOMPARE(step.logLine, log.at(i));
    }
}

void JobTextTest::sfxConfig_data()
{
    QTest::addColumn<QString>("mainExeName");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("utf8Size");

    QTest::newRow("plain") << "app.exe"
                           << "app" << 83;
    QTest::newRow("last suffix only") << "my.tool.exe"
                                      << "my.tool" << 73 + 7 + 11;
    QTest::newRow("no suffix") << "tool"
                               << "tool" << 73 + 4 + 4;
    QTest::newRow("non-ASCII counts bytes") << "程序.exe"
                                            << "程序" << 73 + 6 + 10;
    QTest::newRow("percent digits stay") << "%1app%2.exe"
                                         << "%1app%2" << 73 + 7 + 11;
}

void JobTextTest::sfxConfig()
{
    QFETCH(QString, mainExeName);
    QFETCH(QString, title);
    QFETCH(int, utf8Size);

    const QString block = quillon::buildSfxConfig(mainExeName);
    const QString expected = QStringLiteral(";!@Install@!UTF-8!\nTitle=\"") + title +
                             QStringLiteral("\"\nProgress=\"no\"\nExecuteFile=\"") + mainExeName +
                             QStringLiteral("\"\n;!@InstallEnd@!\n");
    QCOMPARE(block, expected);
    const QByteArray bytes = block.toUtf8();
    QCOMPARE(bytes.size(), utf8Size);
    QVERIFY(!bytes.contains('\r'));
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
}

void JobTextTest::terminalLog_data()
{
    // Messages as the job emits them (archiver chunks trimmed by the parser)
    // and the lines a terminal would show after all of them.
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("shown");

    const QString scan =
        QStringLiteral("\b").repeated(10) + QString(10, ' ') + QStringLiteral("\b").repeated(10);
    const QString erase18 =
        QStringLiteral("\b").repeated(18) + QString(18, ' ') + QStringLiteral("\b").repeated(18);
    QTest::newRow("plain lines, blanks kept")
        << QStringList{"one", "图标路径: "} << QStringList{"one", "图标路径: "};
    QTest::newRow("scan line redrawn in one chunk")
        << QStringList{"Scanning the drive:\n  0M Scan " + scan + "1 folder, 2 files"}
        << QStringList{"Scanning the drive:", "1 folder, 2 files"};
    QTest::newRow("redraw across chunks")
        << QStringList{"7z进程已启动，开始压缩...", "Add new data\n\n  0%",
                       "\b\b\b\b    \b\b\b\b  0% + src/big.bin", erase18 + "  1% + src/big.bin",
                       erase18 + " 99% + src/big.bin"}
        << QStringList{"7z进程已启动，开始压缩...", "Add new data", "", " 99% + src/big.bin"};
    QTest::newRow("erased line then new text")
        << QStringList{"  5% + a", "\b\b\b\b\b\b\b\b        \b\b\b\b\b\b\b\b", "Everything is Ok"}
        << QStringList{"", "Everything is Ok"};
    QTest::newRow("chunk cut inside the erasing blanks")
        << QStringList{"  1% + abc", "\b\b\b\b\b\b\b\b\b\b", "\b  2% + abc"}
        << QStringList{"  2% + abc"};
    QTest::newRow("backspace never leaves the line")
        << QStringList{"first", "ab\nc", "\b\b\bX"} << QStringList{"first", "ab", "X"};
    QTest::newRow("carriage return inside a message")
        << QStringList{"10% done\r20%"} << QStringList{"20% done"};
    QTest::newRow("job line after a redraw starts its own line")
        << QStringList{"abc\b\bXY", "压缩包创建成功，大小: 1 字节"}
        << QStringList{"aXY", "压缩包创建成功，大小: 1 字节"};
    QTest::newRow("job line takes a progress line's place")
        << QStringList{"  0%", "压缩包创建成功，大小: 1 字节"}
        << QStringList{"压缩包创建成功，大小: 1 字节"};
    // Windows' 7-Zip erases with "\r", blanks, "\r": at a chunk's edge the
    // trim takes that away, so each redraw arrives as a message of its own.
    QTest::newRow("windows redraws cut at the erasing")
        << QStringList{"7z进程已启动，开始压缩...",
                       "Add new data to archive: 4 files, 96 bytes (1 KiB)\r\n\r\n  0%",
                       "26% + ___.bin",
                       "68% + ___.bin",
                       "99% 4 + app.exe",
                       "Files read from disk: 4\r\nArchive size: 512 bytes (1 KiB)\r\n"
                       "Everything is Ok"}
        << QStringList{"7z进程已启动，开始压缩...",
                       "Add new data to archive: 4 files, 96 bytes (1 KiB)",
                       "",
                       "Files read from disk: 4",
                       "Archive size: 512 bytes (1 KiB)",
                       "Everything is Ok"};
    QTest::newRow("windows redraws inside one chunk")
        << QStringList{"  0%\r    \r 26% + ___.bin\r             \r 99% 4 + app.exe"}
        << QStringList{" 99% 4 + app.exe"};
    QTest::newRow("windows erasing kept at the end of a chunk")
        << QStringList{"  7% + a.bin\r            \r\r\nFiles read from disk: 1",
                       "Everything is Ok"}
        << QStringList{"", "Files read from disk: 1", "Everything is Ok"};
    QTest::newRow("windows scan line cut at the erasing")
        << QStringList{"Scanning the drive:\r\n  0M Scan", "1 folder, 3 files, 7 bytes (1 KiB)",
                       "Creating archive: C:\\t\\temp.7z"}
        << QStringList{"Scanning the drive:", "1 folder, 3 files, 7 bytes (1 KiB)",
                       "Creating archive: C:\\t\\temp.7z"};
    QTest::newRow("lines that only start with digits stay")
        << QStringList{"2 files, 30 bytes (1 KiB)", "64-bit locale=C", "5%off.txt", "next"}
        << QStringList{"2 files, 30 bytes (1 KiB)", "64-bit locale=C", "5%off.txt", "next"};
    QTest::newRow("tab and other control characters")
        << QStringList{"a\tb\x1b[K"} << QStringList{"a       b[K"};
    QTest::newRow("first message may not continue anything")
        << QStringList{"\b\bstart"} << QStringList{"start"};
}

void JobTextTest::terminalLog()
{
    QFETCH(QStringList, messages);
    QFETCH(QStringList, shown);
    // Applies each update as the log pane does.
    quillon::TerminalLog log;
    QStringList lines;
    for (const QString &message : messages) {
        const quillon::TerminalLog::Update update = log.add(message);
        QVERIFY(update.replaced == 0 || update.replaced == 1);
        QVERIFY(update.replaced <= lines.size());
        lines.resize(lines.size() - update.replaced);
        lines += update.lines;
    }
    QCOMPARE(lines, shown);
}

void JobTextTest::mainProgramName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");

    QTest::newRow("plain") << "app.exe" << true;
    QTest::newRow("non-ASCII") << "程序.exe" << true;
    QTest::newRow("blank inside, leading dot") << ".my app.exe" << true;
    QTest::newRow("no suffix") << "tool" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("line break and quote") << "x\"\nExecuteFile=\"other.exe" << false;
    QTest::newRow("carriage return") << "app\r.exe" << false;
    QTest::newRow("tab") << "app\t.exe" << false;
    QTest::newRow("DEL") << "app\x7f.exe" << false;
    for (const char c : {'<', '>', ':', '"', '/', '\\', '|', '?', '*'}) {
        QTest::addRow("reserved %c", c) << QStringLiteral("a%1b.exe").arg(QLatin1Char(c)) << false;
    }
    QTest::newRow("trailing dot") << "app.exe." << false;
    QTest::newRow("trailing blank") << "app.exe " << false;
    QTest::newRow("dot dot") << ".." << false;
}

void JobTextTest::mainProgramName()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(quillon::isValidMainProgramName(name), valid);
}

void JobTextTest::archiverArguments_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("dict");
    QTest::addColumn<QStringList>("expected");

    const int win = int(PathStyle::Windows);
    const int unix = int(PathStyle::Unix);
    QTest::newRow("unix uses a forward slash")
        << unix << "/src/app"
        << "5"
        << "LZMA"
        << "16M" << QStringList{"a",     "-t7z",     "/tmp/w/temp.7z", "/src/app/*", "-r",
                                "-mx=5", "-m0=LZMA", "-md=16M",        "-bsp1",      "-ssc"};
    QTest::newRow("windows converts separators") << win << "C:/Users/me/app"
                                                 << "5"
                                                 << "LZMA"
                                                 << "64K"
                                                 << QStringList{"a",
                                                                "-t7z",
                                                                "C:\\tmp\\w\\temp.7z",
                                                                "C:\\Users\\me\\app\\*",
                                                                "-r",
                                                                "-mx=5",
                                                                "-m0=LZMA",
                                                                "-md=64K",
                                                                "-bsp1",
                                                                "-ssc"};
    QTest::newRow("windows drive root keeps two backslashes")
        << win << "D:/"
        << "5"
        << "LZMA"
        << "1M" << QStringList{"a",        "-t7z",   "C:\\tmp\\w\\temp.7z",
                               "D:\\\\*",  "-r",     "-mx=5",
                               "-m0=LZMA", "-md=1M", "-bsp1",
                               "-ssc"};
    QTest::newRow("empty dictionary left out")
        << unix << "/src/app"
        << "5"
        << "LZMA"
        << "" << QStringList{"a",     "-t7z",     "/tmp/w/temp.7z", "/src/app/*", "-r",
                             "-mx=5", "-m0=LZMA", "-bsp1",          "-ssc"};
    // -m0 wins over -mx: storing takes the Copy method, which has no dictionary.
    QTest::newRow("store copies, no dictionary")
        << unix << "/src/app"
        << "0"
        << "LZMA"
        << "16M" << QStringList{"a",     "-t7z",     "/tmp/w/temp.7z", "/src/app/*", "-r",
                                "-mx=0", "-m0=Copy", "-bsp1",          "-ssc"};
    QTest::newRow("store with LZMA2 chosen")
        << win << "C:/app"
        << "0"
        << "LZMA2"
        << "64M" << QStringList{"a",          "-t7z",  "C:\\tmp\\w\\temp.7z",
                                "C:\\app\\*", "-r",    "-mx=0",
                                "-m0=Copy",   "-bsp1", "-ssc"};
    QTest::newRow("fastest keeps method and dictionary")
        << unix << "/src/app"
        << "1"
        << "LZMA"
        << "64K" << QStringList{"a",     "-t7z",     "/tmp/w/temp.7z", "/src/app/*", "-r",
                                "-mx=1", "-m0=LZMA", "-md=64K",        "-bsp1",      "-ssc"};
    QTest::newRow("ultra keeps method and dictionary")
        << unix << "/src/app"
        << "9"
        << "LZMA2"
        << "64M" << QStringList{"a",     "-t7z",      "/tmp/w/temp.7z", "/src/app/*", "-r",
                                "-mx=9", "-m0=LZMA2", "-md=64M",        "-bsp1",      "-ssc"};
}

void JobTextTest::archiverArguments()
{
    QFETCH(int, style);
    QFETCH(QString, folder);
    QFETCH(QString, level);
    QFETCH(QString, method);
    QFETCH(QString, dict);
    QFETCH(QStringList, expected);

    const PathStyle pathStyle = PathStyle(style);
    const QString archive = pathStyle == PathStyle::Windows ? QStringLiteral("C:/tmp/w/temp.7z")
                                                            : QStringLiteral("/tmp/w/temp.7z");
    QCOMPARE(quillon::archiverArguments(archive, folder, level, method, dict, pathStyle), expected);
}

void JobTextTest::sameFileByName_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("caseInsensitive");
    QTest::addColumn<bool>("same");

    QTest::newRow("identical") << "/x/app/app.exe"
                               << "/x/app/app.exe" << false << true;
    QTest::newRow("dot segments") << "/x/app/./sub/../app.exe"
                                  << "/x/app/app.exe" << false << true;
    QTest::newRow("doubled slash") << "/x//app/app.exe"
                                   << "/x/app/app.exe" << false << true;
    QTest::newRow("case differs, case-sensitive") << "/x/app/APP.exe"
                                                  << "/x/app/app.exe" << false << false;
    QTest::newRow("case differs, Windows rule") << "C:/Apps/APP.exe"
                                                << "c:/apps/app.exe" << true << true;
    QTest::newRow("different names") << "/x/app/app.exe"
                                     << "/x/app/app2.exe" << true << false;
}

void JobTextTest::sameFileByName()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, caseInsensitive);
    QFETCH(bool, same);

    QCOMPARE(
        quillon::pathsNameSameFile(a, b, caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive),
        same);
}

void JobTextTest::sameFileOnDisk()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath(QStringLiteral("src/app.exe"));
    QVERIFY(writeFile(program, "program"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("other.exe")), "other"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("src")), dir.filePath(QStringLiteral("link"))));

    // A symbolic link to the folder, and a hard link to the file.
    QVERIFY(quillon::pathsNameSameFile(program, dir.filePath(QStringLiteral("link/app.exe"))));
#ifdef Q_OS_UNIX
    QVERIFY(::link(QFile::encodeName(program).constData(),
                   QFile::encodeName(dir.filePath(QStringLiteral("hard.exe"))).constData()) == 0);
    QVERIFY(quillon::pathsNameSameFile(program, dir.filePath(QStringLiteral("hard.exe"))));
#endif
    QVERIFY(!quillon::pathsNameSameFile(program, dir.filePath(QStringLiteral("other.exe"))));
    // A path that does not exist yet is compared by name only.
    QVERIFY(!quillon::pathsNameSameFile(program, dir.filePath(QStringLiteral("new.exe"))));
}

QTEST_GUILESS_MAIN(JobTextTest)
#include "tst_jobtext.moc"
