// Where the worker keeps its copies of the bundled helper programs, and how
// it makes them. The directory belongs to the current user alone, so no other
// account can plant a program there that the worker would run.
#pragma once

#include <QString>

namespace quillon {

// The per-user directory for helper program copies and per-job work files,
// created on first use with owner-only permissions and checked to be owned
// by the current user. Empty (with `error` filled) when it cannot be made safe.
QString privateToolDirectory(QString *error = nullptr);

enum class BundleCopy
{
    Reused, // an identical copy was already there
    Copied, // the copy was made (or replaced because it differed)
    Failed,
};

// Makes `targetPath` hold exactly the bytes of the bundle resource
// `resourcePath` (":/resources/..."), replacing a copy that differs, and
// gives a fresh copy owner read, write and execute permission.
BundleCopy ensureBundleCopy(const QString &resourcePath, const QString &targetPath);

// A name unique to this process and job, for per-job work files
// ("Quillon_sfx_work" -> "Quillon_sfx_work_<pid>_<n>").
QString uniqueJobName(const QString &stem);

} // namespace quillon
