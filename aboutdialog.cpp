#include "aboutdialog.h"
#include "ui_aboutdialog.h"

// Placeholder until the about box lands.
AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
}

AboutDialog::~AboutDialog() { delete ui; }
