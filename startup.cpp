#include "startup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QMessageLogger>

namespace quillon {

namespace {

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
        QMessageLogger().critical().noquote() << "资源系统未初始化！";
        showFallbackNotice();
        return false;
    }

    QFile file(sheetPath);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageLogger().critical().noquote() << "无法打开样式表:" << file.errorString();
        QMessageLogger().critical().noquote() << "当前工作目录:" << QDir::currentPath();
        showFallbackNotice();
        return false;
    }
    const QString styleSheet = QString::fromUtf8(file.readAll());
    file.close();
    if (styleSheet.isEmpty()) {
        QMessageLogger().warning().noquote() << "样式表为空！";
        showFallbackNotice();
        return false;
    }

    qApp->setStyleSheet(styleSheet);
    return true;
}

} // namespace quillon
