#pragma once

#include <QDialog>

QT_BEGIN_NAMESPACE
namespace Ui {
class AboutDialog;
}
QT_END_NAMESPACE

// The about box: logo, product name, version, description, the maker's web
// address and the rights notice. Built anew each time it is shown.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

private slots:
    void openLink(const QString &link);

private:
    Ui::AboutDialog *ui = nullptr;
};
