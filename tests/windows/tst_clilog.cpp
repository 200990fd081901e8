// quillon-cli.exe with its log written to a file, as in a CI pipeline: the
// Windows archiver's redraws of a real job leave no progress line in it.
#include "terminallog.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>

class TestCliLog : public QObject
{
    Q_OBJECT

private slots:
    void logFileReadsLikeTheConsole()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString source = tmp.filePath(QStringLiteral("src"));
        QVERIFY(QDir().mkpath(source));
        QVERIFY(QFile::copy(QStringLiteral(QUILLON_ECHOARGS), source + QStringLiteral("/app.exe")));
        // Data that does not compress, enough for many redraws.
        QFile data(source + QStringLiteral("/data.bin"));
        QVERIFY(data.open(QIODevice::WriteOnly));
        quint64 state = 0x9E3779B97F4A7C15ULL;
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (int mb = 0; mb < 40; ++mb) {
            for (qsizetype i = 0; i + 8 <= block.size(); i += 8) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                std::memcpy(block.data() + i, &state, 8);
            }
            QCOMPARE(data.write(block), block.size());
        }
        data.close();

        const QString logFile = tmp.filePath(QStringLiteral("log.txt"));
        QProcess cli;
        cli.setStandardOutputFile(logFile);
        cli.setStandardErrorFile(tmp.filePath(QStringLiteral("progress.txt")));
        cli.start(QStringLiteral(QUILLON_CLI),
                  {source, QStringLiteral("app.exe"), tmp.filePath(QStringLiteral("out")),
                   QStringLiteral("--level"), QStringLiteral("1")});
        QVERIFY(cli.waitForFinished(300000));
        QFile log(logFile);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        QCOMPARE(cli.exitCode(), 0);

        // Lines end with CR LF on Windows; no other carriage return is left.
        QStringList lines = text.split(QLatin1Char('\n'));
        for (QString &line : lines) {
            if (line.endsWith(QLatin1Char('\r'))) {
                line.chop(1);
            }
        }
        QVERIFY2(!lines.join(QLatin1Char('\n')).contains(QLatin1Char('\r')), qPrintable(text));
        QVERIFY2(
            std::none_of(lines.cbegin(), lines.cend(), quillon::TerminalLog::isArchiverProgress),
            qPrintable(text));
        QVERIFY2(lines.contains(QStringLiteral("Everything is Ok")), qPrintable(text));
        QVERIFY2(lines.indexOf(QStringLiteral("7z进程已启动，开始压缩...")) >= 0, qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestCliLog)
#include "tst_clilog.moc"
