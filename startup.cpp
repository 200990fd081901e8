#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QMessageLogger>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace quillon {

namespace {

// Diagnostics go to the "default" category without file, line or function.
QMessageLogger logger()
{
    return QMessageLogger(nullptr, 0, nullptr, "default");
}

void showFallbackNotice()
{
    // Fixed texts: no translator is installed yet.
    QMessageBox::warning(nullptr, QStringLiteral("警告"),
                         QStringLiteral("无法加载样式表，将使用默认外观。\n"
                                        "这可能会影响应用程序的外观，但功能不受影响。"),
                         QMessageBox::Ok);
}

} // namespace

bool applyApplicationStyleSheet(const QString &bundleRoot, const QString &sheetPath)
{
    if (!QFile::exists(bundleRoot)) {
        logger().critical().noquote() << "资源系统未初始化！";
        showFallbackNotice();
        return false;
    }

    QFile file(sheetPath);
    if (!file.open(QIODevice::ReadOnly)) {
        logger().critical().noquote() << "无法打开样式表:" << file.errorString();
        logger().critical().noquote() << "当前工作目录:" << QDir::currentPath();
        showFallbackNotice();
        return false;
    }
    const QString styleSheet = QString::fromUtf8(file.readAll());
    file.close();
    if (styleSheet.isEmpty()) {
        logger().warning().noquote() << "样式表为空！";
        showFallbackNotice();
        return false;
    }

    qApp->setStyleSheet(styleSheet);
    return true;
}

int endProgram(int status)
{
#ifdef Q_OS_WIN
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
#endif
    return status;
}

} // namespace quillon
