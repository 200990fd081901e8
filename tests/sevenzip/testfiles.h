// File helpers of the reader tests that work on real folders.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

// Writes `data` to `path`, making its folder first.
inline bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Incompressible bytes, the same for the same seed.
inline QByteArray pseudoRandom(int size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = char(seed >> 23);
    }
    return out;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Relative paths of everything below `root` ("dir/" for folders), sorted.
inline QStringList listTree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out << QDir(root).relativeFilePath(path) + (it.fileInfo().isDir() ? "/" : "");
    }
    out.sort();
    return out;
}
