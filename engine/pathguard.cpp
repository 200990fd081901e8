#include "pathguard.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace quillon {

namespace {

bool sameExistingFile(const QString &a, const QString &b)
{
#ifdef Q_OS_UNIX
    struct stat sa;
    struct stat sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
        ::stat(QFile::encodeName(b).constData(), &sb) == 0) {
        // Catches hard links as well as symbolic ones.
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    return false;
#else
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    return !ca.isEmpty() && ca.compare(cb, Qt::CaseInsensitive) == 0;
#endif
}

} // namespace

bool pathsNameSameFile(const QString &a, const QString &b, Qt::CaseSensitivity nameCase)
{
    if (QDir::cleanPath(a).compare(QDir::cleanPath(b), nameCase) == 0) {
        return true;
    }
    return sameExistingFile(a, b);
}

bool pathsNameSameFile(const QString &a, const QString &b)
{
#ifdef Q_OS_WIN
    return pathsNameSameFile(a, b, Qt::CaseInsensitive);
#else
    return pathsNameSameFile(a, b, Qt::CaseSensitive);
#endif
}

} // namespace quillon
