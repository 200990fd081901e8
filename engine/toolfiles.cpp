#include "toolfiles.h"

namespace quillon {

QString privateToolDirectory(QString *) { return QString(); }
BundleCopy ensureBundleCopy(const QString &, const QString &) { return BundleCopy::Failed; }
QString uniqueJobName(const QString &stem) { return stem; }

} // namespace quillon
