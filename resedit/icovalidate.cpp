#include "ico.h"
#include "worker.h"

bool Worker::validateIcoData(const QByteArray &data)
{
    const quillon::ico::CheckResult result =
        quillon::ico::checkIco(reinterpret_cast<const std::uint8_t *>(data.constData()),
                               static_cast<std::uint64_t>(data.size()));
    emit logMessage(QString::fromStdString(quillon::ico::checkMessage(result)));
    return result.verdict == quillon::ico::Verdict::Ok;
}
