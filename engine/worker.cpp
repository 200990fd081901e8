#include "worker.h"

Worker::Worker(QObject *parent) : QObject(parent) {}

void Worker::createPortableApp(const QString &, const QString &, const QString &, const QString &,
                               const QString &, const QString &, const QString &, const QString &,
                               const QString &)
{
    emit finished(false);
}
