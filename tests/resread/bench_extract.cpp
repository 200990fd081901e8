// Benchmark of extractIconFromExe on a large executable: a small icon group
// in front of a 1 GiB overlay (a sparse file). The copy should read only the
// headers, the resource tree and the group's images, so time and memory stay
// flat whatever the file size. Prints the figures; run by
// bench/resread_extract.sh.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

#include "iconfixtures.h"
#include "pebuilder.h"
#include "worker.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    using quillon::pe::kRtGroupIcon;
    using quillon::pe::kRtIcon;
    const std::vector<testpe::Res> resources = {
        {testpe::id(kRtIcon), testpe::id(1), 0x409, testicon::blob(4264, 1)},
        {testpe::id(kRtIcon), testpe::id(2), 0x409, testicon::blob(16936, 2)},
        {testpe::id(kRtIcon), testpe::id(3), 0x409, testicon::blob(67624, 3)},
        {testpe::id(kRtGroupIcon), testpe::id(1), 0x409,
         testicon::group(
             {{32, 32, 0, 0, 32, 0, 1}, {64, 64, 0, 0, 32, 0, 2}, {128, 128, 0, 0, 32, 0, 3}})},
    };
    const auto image = testpe::build(resources);
    const qint64 overlay = qint64(1) << 30;
    const QString path = dir.filePath("large.exe");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char *>(image.data()), qint64(image.size())) < 0 ||
        !file.resize(qint64(image.size()) + overlay))
        return 1;
    file.close();

    Worker worker;
    const int rounds = 50;
    qint64 bytes = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        bytes = worker.extractIconFromExe(path).size();
    const double ms = double(timer.nsecsElapsed()) / 1e6 / rounds;
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("file size: %lld MiB\n", (long long)(QFileInfo(path).size() >> 20));
    std::printf("ICO bytes: %lld\n", (long long)bytes);
    std::printf("extractIconFromExe: %.3f ms per call (%d calls)\n", ms, rounds);
    std::printf("peak RSS: %ld MiB\n", usage.ru_maxrss / 1024);
    return bytes > 0 ? 0 : 1;
}
