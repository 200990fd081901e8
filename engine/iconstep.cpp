#include "worker.h"

// Icon and version step: placeholder until the resource editing lands.
Worker::IconChoice Worker::selectIcon(const QString &, const QString &)
{
    IconChoice choice;
    choice.useIcon = false;
    return choice;
}

void Worker::applyIconAndVersion(const QString &, const QString &, const IconChoice &) {}
