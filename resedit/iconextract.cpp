#include "worker.h"

QByteArray Worker::extractIconFromExe(const QString &) { return QByteArray(); }
