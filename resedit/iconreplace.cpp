#include "worker.h"

bool Worker::replaceExeIcon(const QString &, const QByteArray &) { return false; }
bool Worker::exeHasUsableIcon(const QString &) { return false; }
