// quillon-cli: packs a folder into one self-extracting executable with the
// same job as the window, for scripts and CI pipelines.
#include "joboptions.h"
#include "jobtext.h"
#include "terminallog.h"
#include "worker.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

#ifdef Q_OS_WIN
#include <io.h>
#define QUILLON_ISATTY(fd) _isatty(fd)
#define QUILLON_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define QUILLON_ISATTY(fd) isatty(fd)
#define QUILLON_FILENO(f) fileno(f)
#endif

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// The help text; %1, %2 and %3 are the offered levels, methods and
// dictionary sizes with their defaults.
const char HelpText[] =
    "Usage: quillon-cli SOURCE_FOLDER MAIN_PROGRAM OUTPUT_DIR [options]\n"
    "\n"
    "Packs SOURCE_FOLDER into one self-extracting Windows executable in OUTPUT_DIR,\n"
    "named after MAIN_PROGRAM (a file inside SOURCE_FOLDER, started after unpacking).\n"
    "\n"
    "Options:\n"
    "  --icon FILE        icon (.ico) for the output; default: the main program's icon\n"
    "  --level N          compression level %1\n"
    "  --method M         compression method %2\n"
    "  --dict SIZE        dictionary size %3\n"
    "  --keep-archive     keep the intermediate 7z archive as OUTPUT_DIR/NAME.7z, or\n"
    "                     NAME (1).7z, NAME (2).7z, ... when that name is taken\n"
    "  -h, --help         show this help\n"
    "  --version          show the program's name and version\n"
    "\n"
    "The job's log goes to stdout, progress to stderr. Exit status: 0 when the\n"
    "output was written, 1 when the job failed, 2 for bad arguments.\n";

void printOut(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

int usageError(const QString &message)
{
    const QByteArray bytes = QStringLiteral("quillon-cli: %1 (see --help)\n").arg(message).toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    return ExitUsage;
}

// Shows progress on stderr: a redrawn bar on a terminal, one "NN%" line per
// change otherwise (logs of CI runs stay readable). Log lines go to stdout:
// passed through to a terminal, which shows the archiver's redraws itself;
// to a file or a pipe as a terminal would have shown them, each line once
// it is final.
class ProgressView
{
public:
    ProgressView()
        : m_terminal(QUILLON_ISATTY(QUILLON_FILENO(stderr)) != 0),
          m_logToTerminal(QUILLON_ISATTY(QUILLON_FILENO(stdout)) != 0)
    {
    }

    void setValue(int value)
    {
        if (value == m_value) {
            return;
        }
        m_value = value;
        if (m_terminal) {
            draw();
        } else {
            std::fprintf(stderr, "%d%%\n", value);
        }
        std::fflush(stderr);
    }

    // Prints a log line without tearing the bar.
    void log(const QString &line)
    {
        if (m_terminal && m_value >= 0) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        }
        if (m_logToTerminal) {
            printOut(line);
        } else {
            const quillon::TerminalLog::Update update = m_screen.add(line);
            if (update.replaced == 0 && m_pending) {
                printOut(*m_pending);
            }
            for (qsizetype i = 0; i + 1 < update.lines.size(); ++i) {
                printOut(update.lines.at(i));
            }
            m_pending = update.lines.last();
        }
        if (m_terminal && m_value >= 0) {
            draw();
            std::fflush(stderr);
        }
    }

    void finish()
    {
        if (m_pending) {
            printOut(*m_pending);
            m_pending.reset();
        }
        if (m_terminal && m_value >= 0) {
            std::fputc('\n', stderr);
            std::fflush(stderr);
        }
    }

private:
    void draw() const
    {
        constexpr int Width = 40;
        const int filled = qBound(0, m_value, 100) * Width / 100;
        const QByteArray bar = QByteArray(filled, '#') + QByteArray(Width - filled, '-');
        std::fprintf(stderr, "\r[%s] %3d%%", bar.constData(), m_value);
    }

    bool m_terminal;
    bool m_logToTerminal;
    int m_value = -1;
    quillon::TerminalLog m_screen;
    std::optional<QString> m_pending; // the last line, until no message can change it
};

// Moves the finished archive to OUTPUT_DIR/<name>.7z, or "<name> (N).7z" with
// the first N that is free: an existing file is never replaced. Returns the
// path it went to, empty on failure.
QString moveArchiveToFreeName(const QString &archivePath, const QString &outputDir,
                              const QString &baseName)
{
    const QDir dir(outputDir);
    for (int n = 0; n < 10000; ++n) {
        const QString name = n == 0 ? baseName + QStringLiteral(".7z")
                                    : QStringLiteral("%1 (%2).7z").arg(baseName).arg(n);
        const QString candidate = dir.filePath(name);
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink()) {
            continue;
        }
        // Neither call replaces an existing file; one that appeared meanwhile
        // sends us on to the next name.
        if (QFile::rename(archivePath, candidate)) {
            return candidate;
        }
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink()) {
            return QString();
        }
    }
    return QString();
}

bool offered(const quillon::JobOptionList &list, const QString &value)
{
    for (int i = 0; i < list.count; ++i) {
        if (value == QLatin1String(list.items[i].value)) {
            return true;
        }
    }
    return false;
}

// "a, b or c"
QString choices(const quillon::JobOptionList &list)
{
    QString text;
    for (int i = 0; i < list.count; ++i) {
        if (i > 0) {
            text += i + 1 == list.count ? QStringLiteral(" or ") : QStringLiteral(", ");
        }
        text += QLatin1String(list.items[i].value);
    }
    return text;
}

QString choicesWithDefault(const quillon::JobOptionList &list)
{
    return QStringLiteral("%1 (default %2)").arg(choices(list), QLatin1String(list.defaultValue()));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vumo"));
    QCoreApplication::setApplicationName(QStringLiteral("quillon-cli"));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption icon(QStringLiteral("icon"), QString(), QStringLiteral("FILE"));
    using quillon::kCompressionLevels;
    using quillon::kCompressionMethods;
    using quillon::kDictionarySizes;
    const QCommandLineOption level(QStringLiteral("level"), QString(), QStringLiteral("N"),
                                   QLatin1String(kCompressionLevels.defaultValue()));
    const QCommandLineOption method(QStringLiteral("method"), QString(), QStringLiteral("M"),
                                    QLatin1String(kCompressionMethods.defaultValue()));
    const QCommandLineOption dict(QStringLiteral("dict"), QString(), QStringLiteral("SIZE"),
                                  QLatin1String(kDictionarySizes.defaultValue()));
    const QCommandLineOption keepArchive(QStringLiteral("keep-archive"), QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    parser.addOptions({help, version, icon, level, method, dict, keepArchive});

    if (!parser.parse(QCoreApplication::arguments())) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(help)) {
        const QByteArray text =
            QString::fromLatin1(HelpText)
                .arg(choicesWithDefault(kCompressionLevels),
                     choicesWithDefault(kCompressionMethods), choicesWithDefault(kDictionarySizes))
                .toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("quillon-cli %s\n", QUILLON_VERSION_TEXT);
        return 0;
    }
    for (const QCommandLineOption *single : {&icon, &level, &method, &dict}) {
        if (parser.values(*single).size() > 1) {
            return usageError(
                QStringLiteral("option --%1 given more than once").arg(single->names().last()));
        }
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 3) {
        return usageError(QStringLiteral("expected SOURCE_FOLDER MAIN_PROGRAM OUTPUT_DIR, got %1 "
                                         "argument(s)")
                              .arg(positional.size()));
    }
    const QString levelValue = parser.value(level);
    if (!offered(kCompressionLevels, levelValue)) {
        return usageError(QStringLiteral("bad --level '%1': use %2")
                              .arg(levelValue, choices(kCompressionLevels)));
    }
    const QString methodValue = parser.value(method);
    if (!offered(kCompressionMethods, methodValue)) {
        return usageError(QStringLiteral("bad --method '%1': use %2")
                              .arg(methodValue, choices(kCompressionMethods)));
    }
    const QString dictValue = parser.value(dict);
    if (!offered(kDictionarySizes, dictValue)) {
        return usageError(
            QStringLiteral("bad --dict '%1': use %2").arg(dictValue, choices(kDictionarySizes)));
    }

    const QString folderPath = QFileInfo(positional.at(0)).absoluteFilePath();
    if (!QFileInfo(folderPath).isDir()) {
        return usageError(QStringLiteral("source folder not found: %1").arg(positional.at(0)));
    }
    const QString mainExeName = positional.at(1);
    if (mainExeName.isEmpty() || !QFileInfo(QDir(folderPath).filePath(mainExeName)).isFile()) {
        return usageError(
            QStringLiteral("main program '%1' not found in %2").arg(mainExeName, positional.at(0)));
    }
    if (!quillon::isValidMainProgramName(mainExeName)) {
        return usageError(
            QStringLiteral("main program name '%1' is not a valid Windows file name (no folder, "
                           "control character, <>:\"/\\|?* or trailing dot or blank)")
                .arg(mainExeName));
    }
    if (positional.at(2).isEmpty()) {
        return usageError(QStringLiteral("empty OUTPUT_DIR"));
    }
    const QString outputDir = QFileInfo(positional.at(2)).absoluteFilePath();
    if (QFileInfo::exists(outputDir) && !QFileInfo(outputDir).isDir()) {
        return usageError(
            QStringLiteral("output path is not a directory: %1").arg(positional.at(2)));
    }
    QString iconPath;
    if (parser.isSet(icon)) {
        iconPath = QFileInfo(parser.value(icon)).absoluteFilePath();
        if (!QFileInfo(iconPath).isFile()) {
            return usageError(QStringLiteral("icon file not found: %1").arg(parser.value(icon)));
        }
    }

    // The archive lives in a work directory of our own, removed at exit.
    QTemporaryDir workDir(QDir::tempPath() + QStringLiteral("/Quillon_cli_XXXXXX"));
    if (!workDir.isValid()) {
        std::fprintf(stderr, "quillon-cli: cannot create a temporary work directory: %s\n",
                     qPrintable(workDir.errorString()));
        return ExitFailed;
    }
    const QString archivePath = workDir.filePath(QStringLiteral("temp.7z"));
    const bool keep = parser.isSet(keepArchive);

    ProgressView progress;
    bool success = false;
    Worker worker;
    QObject::connect(&worker, &Worker::progressChanged, &worker,
                     [&progress](int value) { progress.setValue(value); });
    QObject::connect(&worker, &Worker::logMessage, &worker,
                     [&progress](const QString &line) { progress.log(line); });
    QObject::connect(&worker, &Worker::finished, &worker, [&success](bool ok) { success = ok; });
    worker.createPortableApp(folderPath, archivePath, outputDir, mainExeName, iconPath, levelValue,
                             methodValue, dictValue,
                             keep ? QStringLiteral("0") : QStringLiteral("1"));
    progress.finish();

    if (success && keep) {
        const QString kept = moveArchiveToFreeName(archivePath, outputDir,
                                                   QFileInfo(mainExeName).completeBaseName());
        if (kept.isEmpty()) {
            std::fprintf(stderr, "quillon-cli: cannot keep the archive in %s\n",
                         qPrintable(QDir::toNativeSeparators(outputDir)));
            return ExitFailed;
        }
        printOut(QStringLiteral("archive kept: %1").arg(QDir::toNativeSeparators(kept)));
    }
    return success ? 0 : ExitFailed;
}
