#include "worker.h"

bool Worker::validateIcoData(const QByteArray &) { return false; }
