#include "jobtext.h"

#include <QFileInfo>

namespace quillon {

PathStyle nativePathStyle()
{
#ifdef Q_OS_WIN
    return PathStyle::Windows;
#else
    return PathStyle::Unix;
#endif
}

namespace {

QString toStyle(QString path, PathStyle style)
{
    if (style == PathStyle::Windows) {
        path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    }
    return path;
}

} // namespace

QString archiverSourceSpec(const QString &folderPath, PathStyle style)
{
    const QLatin1String tail =
        style == PathStyle::Windows ? QLatin1String("\\*") : QLatin1String("/*");
    return toStyle(folderPath + tail, style);
}

QStringList archiverArguments(const QString &archivePath, const QString &folderPath,
                              const QString &compressionLevel, const QString &compressionMethod,
                              const QString &dictionarySize, PathStyle style)
{
    QStringList args;
    args << QStringLiteral("a") << QStringLiteral("-t7z") << toStyle(archivePath, style)
         << archiverSourceSpec(folderPath, style) << QStringLiteral("-r")
         << QStringLiteral("-mx=") + compressionLevel;
    // With -m0 the method wins over -mx: storing needs the Copy method, which
    // takes no dictionary (the archiver refuses one).
    const bool store = compressionLevel == QLatin1String("0");
    args << QStringLiteral("-m0=") + (store ? QStringLiteral("Copy") : compressionMethod);
    if (!store && !dictionarySize.isEmpty()) {
        args << QStringLiteral("-md=") + dictionarySize;
    }
    args << QStringLiteral("-bsp1") << QStringLiteral("-ssc");
    return args;
}

ArchiverOutputParser::Step ArchiverOutputParser::parseArchiverOutput(const QByteArray &chunk)
{
    Step step;
    if (chunk.isEmpty()) {
        return step;
    }
    const QString text = QString::fromLocal8Bit(chunk);
    const QRegularExpressionMatch match = m_percent.match(text);
    if (match.hasMatch()) {
        const int percent = match.captured(1).toInt(); // 0 when it does not fit an int
        if (m_highest < percent) {
            m_highest = percent;
            // 64-bit so a huge percentage cannot overflow; capped at 45.
            const qint64 scaled = qint64(percent) * 45;
            step.progress = scaled > 4599 ? 45 : int(scaled / 100);
        }
    }
    const QString trimmed = text.trimmed();
    if (!trimmed.isEmpty() && trimmed != QString::number(m_highest) + QLatin1Char('%')) {
        step.logLine = trimmed;
    }
    return step;
}

QString buildSfxConfig(const QString &mainExeName)
{
    const QString title = QFileInfo(mainExeName).completeBaseName();
    QString block;
    block += QStringLiteral(";!@Install@!UTF-8!\n");
    block += QStringLiteral("Title=\"") + title + QStringLiteral("\"\n");
    block += QStringLiteral("Progress=\"no\"\n");
    block += QStringLiteral("ExecuteFile=\"") + mainExeName + QStringLiteral("\"\n");
    block += QStringLiteral(";!@InstallEnd@!\n");
    return block;
}

bool isValidMainProgramName(const QString &name)
{
    if (name.isEmpty() || name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' '))) {
        return false;
    }
    for (const QChar ch : name) {
        if (ch.category() == QChar::Other_Control || QStringView(u"<>:\"/\\|?*").contains(ch)) {
            return false;
        }
    }
    return true;
}

} // namespace quillon
