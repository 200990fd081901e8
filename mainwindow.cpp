#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "joboptions.h"
#include "jobtext.h"
#include "pathguard.h"
#include "settingskeys.h"
#include "worker.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsDropShadowEffect>
#include <QImage>
#include <QImageReader>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTranslator>
#include <QUrl>

namespace {

// Creates a fresh "Quillon_<yyyyMMddhhmmss>" directory under the system
// temporary directory. Another instance started in the same second already
// owns that name, so a suffix keeps the two apart: mkdir fails on an existing
// directory, which makes the claim atomic.
QString createWorkDirectory()
{
    const QString base = QDir::tempPath() + QStringLiteral("/Quillon_") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
    QDir().mkpath(QDir::tempPath());
    const QString pid = QString::number(QCoreApplication::applicationPid());
    QString candidate = base;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (attempt == 1) {
            candidate = base + QLatin1Char('_') + pid;
        } else if (attempt > 1) {
            candidate = base + QLatin1Char('_') + pid + QLatin1Char('_') + QString::number(attempt);
        }
        if (QDir().mkdir(candidate)) {
            return candidate;
        }
    }
    return candidate;
}

void selectExactEntry(QComboBox *box, const QString &text)
{
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        box->setCurrentIndex(index);
    }
}

} // namespace

QSettings MainWindow::openSettings()
{
    return QSettings(QString::fromLatin1(Settings::organization),
                     QString::fromLatin1(Settings::application));
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    appTranslator = new QTranslator(this);
    qtTranslator = new QTranslator(this);

    ui->setupUi(this);
    retranslateOptionBoxes();
    // The archiver's redraws replace the last line many times a second.
    ui->logTextEdit->setUndoRedoEnabled(false);

    workerThread = new QThread(this);
    worker = new Worker;
    worker->moveToThread(workerThread);
    connect(worker, &Worker::progressChanged, this, &MainWindow::onWorkerProgress);
    connect(worker, &Worker::logMessage, this, &MainWindow::onWorkerLog);
    connect(worker, &Worker::finished, this, &MainWindow::onWorkerFinished);
    workerThread->start();

    tabButtonGroup = new QButtonGroup(this);
    tabButtonGroup->addButton(ui->basicTabButton, 0);
    tabButtonGroup->addButton(ui->advancedTabButton, 1);
    connect(tabButtonGroup, &QButtonGroup::buttonClicked, tabButtonGroup,
            [this](QAbstractButton *button) {
                ui->stackedWidget->setCurrentIndex(tabButtonGroup->id(button));
                refreshTabState();
            });

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(20.0);
    shadow->setColor(QColor(0, 0, 0, 80));
    shadow->setOffset(0.0, 0.0);
    ui->centralwidget->setGraphicsEffect(shadow);

    ui->stackedWidget->setCurrentIndex(0);
    loadSettings();
    refreshTabState();

    ui->progressBar->setRange(0, 100);
    ui->progressBar->setValue(0);

    connect(ui->folderLineEdit, &QLineEdit::editingFinished, this,
            &MainWindow::onFolderEditingFinished);
    // A folder or icon dropped anywhere on the window, the path fields
    // included (they would take the dropped path as text).
    setAcceptDrops(true);
    for (QLineEdit *edit : {ui->folderLineEdit, ui->outputLineEdit, ui->iconLineEdit}) {
        edit->installEventFilter(this);
    }

    connect(ui->minButton, &QPushButton::clicked, this, &MainWindow::onMinimizeButtonClicked);
    connect(ui->closeButton, &QPushButton::clicked, this, &MainWindow::onCloseButtonClicked);

    updateMenuLanguage();

    tempWorkDir = createWorkDirectory();

    initLanguage();
}

MainWindow::~MainWindow()
{
    // Closing moves the focus off the fields: nothing of the form may answer
    // once it is gone.
    disconnect(ui->folderLineEdit, nullptr, this, nullptr);
    for (QLineEdit *edit : {ui->folderLineEdit, ui->outputLineEdit, ui->iconLineEdit}) {
        edit->removeEventFilter(this);
    }
    workerThread->quit();
    workerThread->wait();
    delete worker;
    worker = nullptr;

    saveSettings();

    QDir workDir(tempWorkDir);
    if (!tempWorkDir.isEmpty() && workDir.exists()) {
        workDir.removeRecursively();
    }

    delete ui;
    ui = nullptr;
}

// --- Window shell ------------------------------------------------------------

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const QPoint pos = event->position().toPoint();
        const QPoint inHeader = ui->headerFrame->mapFrom(this, pos);
        const QPoint inMenu = ui->frameMenu->mapFrom(this, pos);
        if (ui->headerFrame->rect().contains(inHeader) || ui->frameMenu->rect().contains(inMenu)) {
            isDragging = true;
            dragStartPos = event->globalPosition().toPoint();
            windowStartPos = frameGeometry().topLeft();
            event->accept();
            return;
        }
    }
    QMainWindow::mousePressEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && isDragging) {
        isDragging = false;
        event->accept();
        return;
    }
    QMainWindow::mouseReleaseEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (isDragging && (event->buttons() & Qt::LeftButton)) {
        move(windowStartPos + (event->globalPosition().toPoint() - dragStartPos));
        event->accept();
        return;
    }
    QMainWindow::mouseMoveEvent(event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (isProcessing) {
        QMessageBox::warning(this, tr("正在处理"), tr("正在生成便携程序，请等待处理完成后再退出。"),
                             QMessageBox::Ok);
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange && ui) {
        ui->retranslateUi(this);
        retranslateOptionBoxes();
        updateMenuLanguage();
    }
    QMainWindow::changeEvent(event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!overOutputField(event->position()) && takesDrop(event->mimeData(), false)) {
        event->acceptProposedAction();
    }
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event)
{
    if (!overOutputField(event->position()) && takesDrop(event->mimeData(), false)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void MainWindow::dropEvent(QDropEvent *event)
{
    if (!overOutputField(event->position()) && takesDrop(event->mimeData(), true)) {
        event->acceptProposedAction();
    }
}

bool MainWindow::overOutputField(const QPointF &position) const
{
    // A folder dropped there would be taken for the output directory.
    const QWidget *under = childAt(position.toPoint());
    return under && (under == ui->outputLineEdit || ui->outputLineEdit->isAncestorOf(under));
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        // Files are the window's: a path field never takes a file's URL as
        // text. Other drags (plain text) go to the field.
        auto *drop = static_cast<QDropEvent *>(event);
        if (!drop->mimeData()->hasUrls()) {
            break;
        }
        if (watched != ui->outputLineEdit &&
            takesDrop(drop->mimeData(), event->type() == QEvent::Drop)) {
            drop->acceptProposedAction();
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::takesDrop(const QMimeData *data, bool drop)
{
    // The browse buttons are off while a job runs; so are drops.
    if (isProcessing || !data || !data->hasUrls() || data->urls().size() != 1) {
        return false;
    }
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile()) {
        return false;
    }
    const QString path = QDir::cleanPath(url.toLocalFile());
    const QFileInfo info(path);
    const bool settingsPage = ui->stackedWidget->currentWidget() == ui->advancedPage;
    const bool folder = info.isDir();
    const bool icon = settingsPage && info.isFile() &&
                      info.suffix().compare(QLatin1String("ico"), Qt::CaseInsensitive) == 0;
    if (drop && (folder || icon)) {
        // After the drop has returned to the source (a refused icon shows a
        // box, which must not hold up the file manager's drag).
        QMetaObject::invokeMethod(
            this,
            [this, path, folder] {
                if (isProcessing) {
                    return;
                }
                if (folder) {
                    useSourceFolder(path);
                } else {
                    useIconFile(path);
                }
            },
            Qt::QueuedConnection);
    }
    return folder || icon;
}

void MainWindow::onMinimizeButtonClicked()
{
    showMinimized();
}

void MainWindow::onCloseButtonClicked()
{
    if (confirmExit()) {
        QCoreApplication::quit();
    }
}

void MainWindow::onTabButtonClicked(int index)
{
    ui->stackedWidget->setCurrentIndex(index);
    refreshTabState();
}

void MainWindow::refreshTabState()
{
    const bool enabled = !isProcessing;
    ui->advancedTabButton->setEnabled(enabled);
    ui->chkAdmin->setEnabled(enabled);
    ui->chkEncrypt->setEnabled(enabled);
    if (isProcessing && ui->stackedWidget->currentIndex() != 0) {
        ui->stackedWidget->setCurrentIndex(0);
        ui->basicTabButton->setChecked(true);
    }
    ui->chkAdmin->repaint();
    ui->chkEncrypt->repaint();
}

bool MainWindow::confirmExit()
{
    if (isProcessing) {
        QMessageBox::warning(this, tr("正在处理"), tr("正在生成便携程序，请等待处理完成后再退出。"),
                             QMessageBox::Ok);
        return false;
    }
    const auto answer = QMessageBox::question(this, tr("确认退出"), tr("确定要退出 Quillon 吗？"),
                                              QMessageBox::Yes | QMessageBox::No);
    return answer == QMessageBox::Yes;
}

// --- Job form ----------------------------------------------------------------

void MainWindow::appendLogLine(const QString &line)
{
    // Plain text, one paragraph per line: a path or tool output holding markup
    // is shown as written, never interpreted.
    const quillon::TerminalLog::Update update = logScreen.add(line);
    QTextDocument *document = ui->logTextEdit->document();
    QScrollBar *scrollBar = ui->logTextEdit->verticalScrollBar();
    const bool atBottom = scrollBar->value() >= scrollBar->maximum();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    if (update.replaced > 0) {
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else if (!document->isEmpty()) {
        cursor.insertBlock();
    }
    for (qsizetype i = 0; i < update.lines.size(); ++i) {
        if (i > 0) {
            cursor.insertBlock();
        }
        cursor.insertText(update.lines.at(i));
    }
    if (atBottom) {
        scrollBar->setValue(scrollBar->maximum());
    }
}

void MainWindow::clearLog()
{
    ui->logTextEdit->clear();
    logScreen.clear();
}

void MainWindow::populateMainExeList(const QString &folderPath)
{
    const QString previous = ui->mainExeComboBox->currentText();
    ui->mainExeComboBox->clear();

    QDir dir(folderPath);
    const QStringList names =
        dir.entryList(QStringList{QStringLiteral("*.exe")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        // A name Windows cannot hold would be refused by the job.
        if (quillon::isValidMainProgramName(name)) {
            ui->mainExeComboBox->addItem(name);
        }
    }

    const QString lastExe = Settings::lastExe.read(openSettings()).toString();
    if (!lastExe.isEmpty() &&
        ui->mainExeComboBox->findText(lastExe, Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0) {
        selectExactEntry(ui->mainExeComboBox, lastExe);
        return;
    }
    if (!previous.isEmpty()) {
        selectExactEntry(ui->mainExeComboBox, previous);
    }
}

void MainWindow::on_selectFolderButton_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(this, tr("选择源文件夹"), QString(),
                                                             QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) {
        return;
    }
    useSourceFolder(folder);
}

void MainWindow::onFolderEditingFinished()
{
    const QString folder = QDir::fromNativeSeparators(ui->folderLineEdit->text());
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        useSourceFolder(folder);
    }
}

void MainWindow::useSourceFolder(const QString &folder)
{
    ui->folderLineEdit->setText(folder);
    {
        QSettings settings = openSettings();
        Settings::folderPath.write(settings, folder);
        settings.sync();
    }
    populateMainExeList(folder);
    saveSettings();
}

void MainWindow::on_mainExeButton_clicked()
{
    if (ui->folderLineEdit->text().isEmpty()) {
        QMessageBox::warning(this, tr("警告"), tr("请先选择源文件夹！"), QMessageBox::Ok);
        return;
    }
    const QString chosen = QFileDialog::getOpenFileName(
        this, tr("选择主程序"), ui->folderLineEdit->text(), tr("可执行文件 (*.exe)"));
    if (chosen.isEmpty()) {
        return;
    }

    const QString canonicalFolder = QFileInfo(ui->folderLineEdit->text()).canonicalFilePath();
    const QString canonicalFile = QFileInfo(chosen).canonicalFilePath();
    const QString relative = QDir(canonicalFolder).relativeFilePath(canonicalFile);
    // Only a leading ".." component leaves the folder; a file whose name merely
    // starts with two dots ("..setup.exe") is inside.
    const bool leavesFolder =
        relative == QLatin1String("..") || relative.startsWith(QLatin1String("../"));
    const bool inside = !canonicalFolder.isEmpty() && !canonicalFile.isEmpty() && !leavesFolder &&
                        QDir::isRelativePath(relative);
    if (!inside) {
        QMessageBox::warning(this, tr("警告"), tr("选择的主程序必须在源文件夹内！"),
                             QMessageBox::Ok);
        return;
    }

    const QString name = QFileInfo(chosen).fileName();
    if (!quillon::isValidMainProgramName(name)) {
        // The list holds no name the job would refuse.
        return;
    }
    if (ui->mainExeComboBox->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        ui->mainExeComboBox->addItem(name);
    }
    selectExactEntry(ui->mainExeComboBox, name);
    {
        QSettings settings = openSettings();
        Settings::lastExe.write(settings, name);
        settings.sync();
    }
    saveSettings();
}

void MainWindow::on_outputButton_clicked()
{
    QString start = ui->outputLineEdit->text();
    if (start.isEmpty()) {
        start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    }
    const QString dir = QFileDialog::getExistingDirectory(this, tr("选择输出目录"), start,
                                                          QFileDialog::ShowDirsOnly |
                                                              QFileDialog::DontResolveSymlinks);
    if (dir.isEmpty()) {
        return;
    }
    ui->outputLineEdit->setText(dir);
    saveSettings();
}

void MainWindow::on_iconButton_clicked()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr("选择图标文件"), QString(), tr("图标文件 (*.ico)"));
    if (path.isEmpty()) {
        return;
    }
    useIconFile(path);
}

void MainWindow::useIconFile(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (reader.read().isNull()) {
        QMessageBox::warning(this, tr("错误"), tr("无法加载图标文件！"), QMessageBox::Ok);
        return;
    }
    ui->iconLineEdit->setText(path);
    saveSettings();
}

QString MainWindow::compressionLevelString() const
{
    return QLatin1String(quillon::kCompressionLevels.valueAt(ui->cmbCompression->currentIndex()));
}

QString MainWindow::compressionMethodString() const
{
    return QLatin1String(quillon::kCompressionMethods.valueAt(ui->cmbMethod->currentIndex()));
}

QString MainWindow::dictionarySizeString() const
{
    return QLatin1String(quillon::kDictionarySizes.valueAt(ui->cmbDictSize->currentIndex()));
}

void MainWindow::retranslateOptionBoxes()
{
    const auto fill = [](QComboBox *box, const quillon::JobOptionList &list) {
        for (int i = 0; i < list.count; ++i) {
            const QString label = tr(list.items[i].label);
            if (i < box->count()) {
                box->setItemText(i, label);
            } else {
                box->addItem(label);
            }
        }
    };
    fill(ui->cmbCompression, quillon::kCompressionLevels);
    fill(ui->cmbMethod, quillon::kCompressionMethods);
    fill(ui->cmbDictSize, quillon::kDictionarySizes);
}

bool MainWindow::validateInputs()
{
    const QString folder = ui->folderLineEdit->text();
    if (folder.isEmpty()) {
        QMessageBox::warning(this, tr("警告"), tr("请选择源文件夹！"), QMessageBox::Ok);
        return false;
    }
    if (!QFileInfo(folder).isDir()) {
        QMessageBox::warning(this, tr("警告"), tr("源文件夹不存在或不可访问！"), QMessageBox::Ok);
        return false;
    }
    const QString mainExe = ui->mainExeComboBox->currentText();
    if (mainExe.isEmpty()) {
        QMessageBox::warning(this, tr("警告"), tr("请选择主程序！"), QMessageBox::Ok);
        return false;
    }
    if (!QFile::exists(QDir(folder).filePath(mainExe))) {
        QMessageBox::warning(this, tr("警告"),
                             tr("选择的主程序不存在于源文件夹中！\n请重新选择主程序。"),
                             QMessageBox::Ok);
        return false;
    }
    const QString output = ui->outputLineEdit->text();
    if (output.isEmpty()) {
        QMessageBox::warning(this, tr("警告"), tr("请选择输出目录！"), QMessageBox::Ok);
        return false;
    }
    const QFileInfo outputInfo(output);
    if (outputInfo.exists() && !outputInfo.isDir()) {
        QMessageBox::warning(this, tr("警告"), tr("输出路径已存在但不是目录（例如 C:/Output）！"),
                             QMessageBox::Ok);
        return false;
    }
    if (!outputInfo.exists()) {
        const QString nativeOutput = QDir::toNativeSeparators(output);
        const auto answer = QMessageBox::question(
            this, tr("创建目录"), tr("输出目录 %1 不存在，是否创建？").arg(nativeOutput),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            return false;
        }
        if (!QDir().mkpath(output)) {
            QMessageBox::warning(this, tr("警告"), tr("无法创建输出目录：%1").arg(nativeOutput),
                                 QMessageBox::Ok);
            return false;
        }
    }
    return true;
}

void MainWindow::on_startButton_clicked()
{
    if (isProcessing) {
        return;
    }
    if (!validateInputs()) {
        appendLogLine(tr("输入验证失败，操作中止"));
        return;
    }

    const QString folderPath = QDir(ui->folderLineEdit->text()).absolutePath();
    const QString outputDir = QDir(ui->outputLineEdit->text()).absolutePath();
    const QString mainExeName = ui->mainExeComboBox->currentText();

    const QString sourceProgram = QDir(folderPath).filePath(mainExeName);
    if (!QFile::exists(sourceProgram)) {
        QMessageBox::warning(this, tr("错误"), tr("主程序不存在：%1").arg(sourceProgram),
                             QMessageBox::Ok);
        return;
    }

    const QString outputFile = QDir(outputDir).filePath(QFileInfo(mainExeName).completeBaseName() +
                                                        QStringLiteral(".exe"));
    if (quillon::pathsNameSameFile(QDir::cleanPath(sourceProgram), QDir::cleanPath(outputFile))) {
        QMessageBox::warning(this, tr("错误"),
                             tr("输出目录与源主程序位置相同，生成的文件会覆盖原始主程序。\n"
                                "请选择其他输出目录。"),
                             QMessageBox::Ok);
        return;
    }

    setProcessing(true);
    ui->progressBar->setValue(0);
    clearLog();

    const QString archivePath = tempWorkDir + QStringLiteral("/temp.7z");
    const QString iconPath = ui->iconLineEdit->text();

    appendLogLine(tr("调试信息:"));
    appendLogLine(tr("源文件夹: %1").arg(folderPath));
    appendLogLine(tr("主程序: %1").arg(mainExeName));
    appendLogLine(tr("输出目录: %1").arg(outputDir));
    appendLogLine(tr("图标路径: %1").arg(iconPath));

    const QString cleanupTempArchive =
        ui->chkCleanup->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    const QString dictionarySize = dictionarySizeString();
    const QString compressionMethod = compressionMethodString();
    const QString compressionLevel = compressionLevelString();

    QMetaObject::invokeMethod(worker, "createPortableApp", Qt::AutoConnection,
                              Q_ARG(QString, folderPath), Q_ARG(QString, archivePath),
                              Q_ARG(QString, outputDir), Q_ARG(QString, mainExeName),
                              Q_ARG(QString, iconPath), Q_ARG(QString, compressionLevel),
                              Q_ARG(QString, compressionMethod), Q_ARG(QString, dictionarySize),
                              Q_ARG(QString, cleanupTempArchive));
}

void MainWindow::setProcessing(bool processing)
{
    isProcessing = processing;
    const bool enabled = !processing;
    ui->startButton->setEnabled(enabled);
    ui->selectFolderButton->setEnabled(enabled);
    ui->outputButton->setEnabled(enabled);
    ui->iconButton->setEnabled(enabled);
    ui->mainExeButton->setEnabled(enabled);
    ui->resetButton->setEnabled(enabled);
    ui->menuButton->setEnabled(enabled);
    ui->basicTabButton->setEnabled(enabled);
    ui->advancedTabButton->setEnabled(enabled);
}

void MainWindow::onWorkerProgress(int value)
{
    ui->progressBar->setValue(value);
}

void MainWindow::onWorkerLog(const QString &message)
{
    appendLogLine(message);
}

void MainWindow::onWorkerFinished(bool success)
{
    setProcessing(false);
    if (success) {
        QMessageBox::information(this, tr("完成"), tr("便携应用创建成功！"), QMessageBox::Ok);
    } else {
        QMessageBox::warning(this, tr("创建失败"), tr("便携应用创建失败，请查看日志了解详情。"),
                             QMessageBox::Ok);
    }
}

void MainWindow::on_resetButton_clicked()
{
    const auto answer =
        QMessageBox::question(this, tr("重置确认"), tr("确定要重置所有设置吗？\n此操作无法撤销。"),
                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        return;
    }
    ui->folderLineEdit->clear();
    ui->outputLineEdit->clear();
    ui->iconLineEdit->clear();
    ui->mainExeComboBox->clear();
    clearLog();
    ui->progressBar->setValue(0);

    {
        QSettings settings = openSettings();
        settings.clear();
        settings.sync();
    }

    QMessageBox::information(this, tr("重置成功"), tr("所有设置已恢复为默认值。"), QMessageBox::Ok);
}

// --- Settings ----------------------------------------------------------------

void MainWindow::loadSettings()
{
    QSettings settings = openSettings();
    ui->folderLineEdit->setText(Settings::folderPath.read(settings).toString());
    ui->outputLineEdit->setText(Settings::outputPath.read(settings).toString());
    ui->iconLineEdit->setText(Settings::iconPath.read(settings).toString());

    const QString folder = ui->folderLineEdit->text();
    if (!folder.isEmpty() && QDir(folder).exists()) {
        populateMainExeList(folder);
        const QString lastExe = Settings::lastExe.read(settings).toString();
        if (!lastExe.isEmpty()) {
            selectExactEntry(ui->mainExeComboBox, lastExe);
        }
    } else {
        const QString lastExe = Settings::lastExe.read(settings).toString();
        if (quillon::isValidMainProgramName(lastExe)) {
            ui->mainExeComboBox->addItem(lastExe);
            ui->mainExeComboBox->setCurrentIndex(ui->mainExeComboBox->count() - 1);
        }
    }

    ui->cmbCompression->setCurrentIndex(Settings::compressionLevel.read(settings).toInt());
    ui->cmbMethod->setCurrentIndex(Settings::compressionMethod.read(settings).toInt());
    ui->cmbDictSize->setCurrentIndex(Settings::dictionarySize.read(settings).toInt());

    ui->chkCleanup->setChecked(Settings::cleanupEnabled.read(settings).toBool());
    ui->chkEncrypt->setChecked(Settings::encryptContent.read(settings).toBool());
    ui->chkAdmin->setChecked(Settings::adminRequired.read(settings).toBool());
    ui->chkTemp->setChecked(Settings::tempExtraction.read(settings).toBool());
}

void MainWindow::saveSettings()
{
    QSettings settings = openSettings();
    Settings::folderPath.write(settings, ui->folderLineEdit->text());
    Settings::outputPath.write(settings, ui->outputLineEdit->text());
    Settings::iconPath.write(settings, ui->iconLineEdit->text());
    Settings::lastExe.write(settings, ui->mainExeComboBox->currentText());
    Settings::compressionLevel.write(settings, ui->cmbCompression->currentIndex());
    Settings::compressionMethod.write(settings, ui->cmbMethod->currentIndex());
    Settings::dictionarySize.write(settings, ui->cmbDictSize->currentIndex());
    Settings::cleanupEnabled.write(settings, ui->chkCleanup->isChecked());
    Settings::encryptContent.write(settings, ui->chkEncrypt->isChecked());
    Settings::adminRequired.write(settings, ui->chkAdmin->isChecked());
    Settings::tempExtraction.write(settings, ui->chkTemp->isChecked());
}
