#include "worker.h"

bool Worker::writeVersionInfo(const QString &, const QString &) { return false; }
