#pragma once

#include "terminallog.h"

#include <QMainWindow>
#include <QPoint>
#include <QString>

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
class QButtonGroup;
class QMimeData;
class QSettings;
class QThread;
class QTranslator;
QT_END_NAMESPACE

class Worker;

class MainWindow : public QMainWindow
{
    Q_OBJECT
    friend class GuiTestProbe;

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_selectFolderButton_clicked();
    void on_outputButton_clicked();
    void on_iconButton_clicked();
    void on_startButton_clicked();
    void on_mainExeButton_clicked();
    void on_resetButton_clicked();
    void on_aboutButton_clicked();

    void onMinimizeButtonClicked();
    void onCloseButtonClicked();
    void onTabButtonClicked(int index);

    void onFolderEditingFinished();

    void onWorkerProgress(int value);
    void onWorkerLog(const QString &message);
    void onWorkerFinished(bool success);

    void initLanguage();
    void loadLanguage(const QString &language);
    void updateMenuLanguage();

private:
    void refreshTabState();
    bool confirmExit();

    bool validateInputs();
    void setProcessing(bool processing);
    void populateMainExeList(const QString &folderPath);
    // What choosing a source folder or an icon file does after its dialog.
    void useSourceFolder(const QString &folder);
    void useIconFile(const QString &path);
    // A drop the window takes: one local folder (anywhere), or one .ico file
    // on the settings page. Returns whether it is one; `drop` also uses it.
    bool takesDrop(const QMimeData *data, bool drop);
    bool overOutputField(const QPointF &position) const;
    QString compressionLevelString() const;
    QString compressionMethodString() const;
    QString dictionarySizeString() const;
    // The option boxes' items, from the job's option tables, in the current
    // language.
    void retranslateOptionBoxes();

    // The settings store: the job form's values and the interface language.
    static QSettings openSettings();
    void loadSettings();
    void saveSettings();
    // The log pane shows lines as a terminal would (archiver redraws update
    // one line in place).
    void appendLogLine(const QString &line);
    void clearLog();

    Ui::MainWindow *ui = nullptr;
    QString tempWorkDir;
    QButtonGroup *tabButtonGroup = nullptr;
    bool isDragging = false;
    bool isProcessing = false;
    QPoint dragStartPos;
    QPoint windowStartPos;
    QThread *workerThread = nullptr;
    Worker *worker = nullptr;
    QTranslator *appTranslator = nullptr;
    QTranslator *qtTranslator = nullptr;
    QString currentLanguage;
    quillon::TerminalLog logScreen;
};
