// Pure text helpers of the packaging job: the archiver command line, the
// archiver output parser and the self-extractor configuration block.
#pragma once

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillon {

// How the archiver expects paths on the platform it runs on.
enum class PathStyle
{
    Windows, // "\" separates names
    Unix,    // "/" separates names; "\" is an ordinary name character
};

// The style of the platform Quillon was built for.
PathStyle nativePathStyle();

// The archiver's source pattern: every entry inside `folderPath`, so the
// folder's content (not the folder itself) lands at the archive root.
// Windows: "C:/app" -> "C:\app\*"; Unix: "/src/app" -> "/src/app/*".
QString archiverSourceSpec(const QString &folderPath, PathStyle style);

// The archiver's arguments for one job, in the order the archiver is given
// them. An empty `dictionarySize` leaves "-md=" out. Level "0" stores: the
// method becomes "Copy" and "-md=" is left out.
QStringList archiverArguments(const QString &archivePath, const QString &folderPath,
                              const QString &compressionLevel, const QString &compressionMethod,
                              const QString &dictionarySize, PathStyle style);

// Turns the archiver's merged output, chunk by chunk, into progress values
// (0 to 45) and log lines. One parser per job.
class ArchiverOutputParser
{
public:
    struct Step
    {
        std::optional<int> progress; // a new progress value to emit
        QString logLine;             // a line to log; empty when there is none
    };

    Step parseArchiverOutput(const QByteArray &chunk);

private:
    QRegularExpression m_percent{QStringLiteral("(\\d+)%")};
    int m_highest = 0;
};

// The configuration block the self-extractor reads after its own image.
QString buildSfxConfig(const QString &mainExeName);

// True when `name` can be a Windows file name at the archive root: not empty,
// no control character, none of <>:"/\|?*, no trailing dot or blank. Such a
// name also cannot break a line or a quoted value of the configuration block.
bool isValidMainProgramName(const QString &name);

} // namespace quillon
