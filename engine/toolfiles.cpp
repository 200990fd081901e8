#include "toolfiles.h"

#include "atomicfile.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <string>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
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

    // Written beside the target under a private name, then renamed over it:
    // concurrent jobs never see a half-written program. A link found at the
    // target is replaced, never followed.
    AtomicWriteOptions options;
    options.followLink = false;
    options.mode = 0700;
    int systemError = 0;
    const std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
#ifdef Q_OS_WIN
    const std::string path = targetPath.toStdString(); // UTF-8
#else
    const std::string path = QFile::encodeName(targetPath).toStdString();
#endif
    if (writeFileAtomically(path, data, systemError, options).failed()) {
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
