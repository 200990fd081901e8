#include "aboutdialog.h"
#include "ui_aboutdialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>

namespace {
const char *const fallbackVersion = "1.0.7.01";
const char *const websiteAddress = "https://morvane.example";
// The rights notice reads the same in every interface language.
const char *const copyrightNotice = "\u00a9 2026 Morvane. All rights reserved.";
} // namespace

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui(new Ui::AboutDialog)
{
    ui->setupUi(this);

    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty())
        version = QString::fromLatin1(fallbackVersion);
    ui->versionLabel->setText(tr("版本: %1").arg(version));

    ui->copyrightLabel->setText(QString::fromUtf8(copyrightNotice));

    // Both placeholders in one step, so a "%" in the translated text is never
    // taken for a placeholder of the format.
    const QString address = QString::fromLatin1(websiteAddress);
    ui->websiteLabel->setText(
        QStringLiteral("<a href=\"%1\">%2</a>").arg(address, tr("访问官方网站 %1").arg(address)));
    connect(ui->websiteLabel, &QLabel::linkActivated, this, &AboutDialog::openLink);
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

void AboutDialog::openLink(const QString &link)
{
    QDesktopServices::openUrl(QUrl(link, QUrl::TolerantMode));
}
