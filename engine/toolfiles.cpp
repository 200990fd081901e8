#include "toolfiles.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace quillon {

namespace {

void setError(QString *error, const QString &text)
{
    if (error) {
        *error = text;
    }
}

#ifdef Q_OS_UNIX
QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Checks (and where it is ours, repairs) the directory at `path`: a real
// directory, not a symbolic link, owned by the current user, closed to group
// and others.
bool secureDirectory(const QString &path, QString *error)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0) {
        setError(error, QStringLiteral("%1（%2）").arg(path, errnoText()));
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        setError(error, QStringLiteral("%1（是符号链接）").arg(path));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        setError(error, QStringLiteral("%1（不是目录）").arg(path));
        return false;
    }
    if (st.st_uid != ::geteuid()) {
        setError(error, QStringLiteral("%1（不属于当前用户）").arg(path));
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        if (::chmod(native.constData(), 0700) != 0) {
            setError(error, QStringLiteral("%1（%2）").arg(path, errnoText()));
            return false;
        }
        // Look again: the mode must really be owner-only now.
        if (::lstat(native.constData(), &st) != 0 || S_ISLNK(st.st_mode) ||
            st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
            setError(error, QStringLiteral("%1（其他用户可以访问）").arg(path));
            return false;
        }
    }
    return true;
}
#endif

// Replaces `target` by `source` in one step, so nobody ever sees a partly
// written file under the target name.
bool renameOver(const QString &source, const QString &target)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(source).utf16()),
                       reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(target).utf16()),
                       MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(QFile::encodeName(source).constData(),
                       QFile::encodeName(target).constData()) == 0;
#endif
}

bool sameContent(const QString &path, const QByteArray &expected)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != expected.size()) {
        return false;
    }
    return file.readAll() == expected;
}

} // namespace

QString privateToolDirectory(QString *error)
{
#ifdef Q_OS_UNIX
    const QString path =
        QDir::tempPath() + QStringLiteral("/quillon-%1").arg(static_cast<qulonglong>(::geteuid()));
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        setError(error, QStringLiteral("%1（%2）").arg(path, errnoText()));
        return QString();
    }
    if (!secureDirectory(path, error)) {
        return QString();
    }
    return path;
#else
    // The temporary directory is per user on Windows already.
    const QString path = QDir::tempPath() + QStringLiteral("/Quillon");
    if (!QDir().mkpath(path)) {
        setError(error, QStringLiteral("%1（无法创建目录）").arg(path));
        return QString();
    }
    return path;
#endif
}

BundleCopy ensureBundleCopy(const QString &resourcePath, const QString &targetPath)
{
    QFile resource(resourcePath);
    if (!resource.open(QIODevice::ReadOnly)) {
        return BundleCopy::Failed;
    }
    const QByteArray bytes = resource.readAll();
    if (sameContent(targetPath, bytes)) {
        return BundleCopy::Reused;
    }

    // Write beside the target under a private name, then rename over it:
    // concurrent jobs never see a half-written program.
    const QFileInfo target(targetPath);
    QString written;
    {
        QTemporaryFile temp(target.absolutePath() + QLatin1Char('/') + target.fileName() +
                            QStringLiteral(".XXXXXX"));
        if (!temp.open()) {
            return BundleCopy::Failed;
        }
        if (temp.write(bytes) != bytes.size() || !temp.flush()) {
            return BundleCopy::Failed;
        }
        temp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                            QFileDevice::ExeOwner);
        temp.setAutoRemove(false);
        written = temp.fileName();
        // close() keeps the handle open; only the destructor releases it, and
        // Windows renames no open file.
    }
    if (!renameOver(written, targetPath)) {
        QFile::remove(written);
        return BundleCopy::Failed;
    }
    return BundleCopy::Copied;
}

QString uniqueJobName(const QString &stem)
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("%1_%2_%3")
        .arg(stem)
        .arg(QCoreApplication::applicationPid())
        .arg(counter.fetchAndAddRelaxed(1) + 1);
}

} // namespace quillon
