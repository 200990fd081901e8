// Helpers shared by the window tests: a probe into MainWindow's private state,
// a driver that answers modal dialogs from the test, and small file helpers.
#pragma once

#include "mainwindow.h"
#include "startup.h"
#include "ui_mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <utility>

class Worker;

#ifdef Q_OS_WIN
// Windows shows its own file dialogs, which are no widgets the driver below
// could answer: the tests answer Qt's (the window's code is the same).
inline const bool guiTestQtDialogs =
    (QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs), true);
#endif

// Reaches MainWindow's private members (a friend of the class).
class GuiTestProbe
{
public:
    explicit GuiTestProbe(MainWindow *window) : w(window) {}

    Ui::MainWindow *ui() const { return w->ui; }
    QString tempWorkDir() const { return w->tempWorkDir; }
    bool isProcessing() const { return w->isProcessing; }
    bool isDragging() const { return w->isDragging; }
    Worker *worker() const { return w->worker; }
    QThread *workerThread() const { return w->workerThread; }
    void setProcessing(bool processing) { w->setProcessing(processing); }
    bool validateInputs() { return w->validateInputs(); }
    void populateMainExeList(const QString &folder) { w->populateMainExeList(folder); }
    QString compressionLevel() const { return w->compressionLevelString(); }
    QString compressionMethod() const { return w->compressionMethodString(); }
    QString dictionarySize() const { return w->dictionarySizeString(); }
    void saveSettings() { w->saveSettings(); }
    // Puts `other` in the worker's place and returns the one that was there;
    // swap the original back before the window is destroyed.
    Worker *swapWorker(Worker *other)
    {
        std::swap(w->worker, other);
        return other;
    }

private:
    MainWindow *w;
};

// One modal window the driver met, as it looked when it appeared.
struct SeenDialog
{
    QString className;
    QString title;
    QString text;
    bool hasParent = false;
    bool mainWindowExisted = false;
    QStringList nameFilters;
    QString directory;
    int options = 0;
};

// Answers modal dialogs while a slot runs its nested event loop: each modal
// widget that appears is recorded and handled by the next queued action.
class ModalDriver
{
public:
    using Action = std::function<void(QWidget *)>;

    ModalDriver()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start();
    }

    void push(Action action) { actions.append(std::move(action)); }

    // Clicks the message box button `button`.
    void answer(QMessageBox::StandardButton button)
    {
        push([button](QWidget *widget) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (box && box->button(button)) {
                box->button(button)->click();
            } else if (auto *dialog = qobject_cast<QDialog *>(widget)) {
                dialog->reject();
            }
        });
    }

    // Picks `path` in a file dialog and accepts it.
    void choose(const QString &path)
    {
        push([path](QWidget *widget) {
            auto *dialog = qobject_cast<QFileDialog *>(widget);
            if (!dialog) {
                if (auto *other = qobject_cast<QDialog *>(widget)) {
                    other->reject();
                }
                return;
            }
            dialog->selectFile(path);
            if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
                edit->setText(path);
            }
            static_cast<QDialog *>(dialog)->accept();
        });
    }

    // Cancels whatever dialog comes next.
    void cancel()
    {
        push([](QWidget *widget) {
            if (auto *dialog = qobject_cast<QDialog *>(widget)) {
                dialog->reject();
            }
        });
    }

    QList<SeenDialog> seen;
    int pending() const { return int(actions.size()); }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal->property("guiTestHandled").toBool() || !modal->isVisible()) {
            return;
        }
        modal->setProperty("guiTestHandled", true);
        SeenDialog record;
        record.className = QString::fromLatin1(modal->metaObject()->className());
        record.title = modal->windowTitle();
        record.hasParent = modal->parentWidget() != nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (qobject_cast<MainWindow *>(top)) {
                record.mainWindowExisted = true;
            }
        }
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            record.text = box->text();
        }
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            record.nameFilters = dialog->nameFilters();
            record.directory = dialog->directory().absolutePath();
            record.options = int(dialog->options());
        }
        seen.append(record);
        QPointer<QWidget> target(modal);
        if (actions.isEmpty()) {
            // Nothing scripted: close it so a test can never hang on a box.
            if (auto *dialog = qobject_cast<QDialog *>(modal)) {
                QTimer::singleShot(0, dialog, &QDialog::reject);
            }
            return;
        }
        Action action = actions.takeFirst();
        QTimer::singleShot(0, modal, [action, target] {
            if (target) {
                action(target);
            }
        });
    }

    QTimer timer;
    QList<Action> actions;
};

// Runs the application's event loop (QCoreApplication::quit only ends a
// running one) until something quits it, or until `limitMs` have passed, in
// which case it returns 42. The limit's timer dies with the call, so it never
// ends a later loop.
inline int runEventLoop(int limitMs)
{
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(42); });
    limit.start(limitMs);
    return QApplication::exec();
}

inline bool writeFile(const QString &path, const QByteArray &data = QByteArray("MZ"))
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

inline QSettings testSettings()
{
    return QSettings(QStringLiteral("Vumo"), QStringLiteral("Quillon"));
}

// The keys of the form in the store (the interface language left out).
inline QStringList formKeys()
{
    QStringList keys = testSettings().allKeys();
    keys.removeAll(QStringLiteral("language"));
    return keys;
}

// Every test starts from an empty store in the test's own location.
inline void isolateSettings()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings settings = testSettings();
    settings.clear();
    settings.sync();
}

// QTEST_MAIN for the tests that run a job: the test program ends the way the
// program does (quillon::endProgram), with the test results as its status.
#define QUILLON_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        int status = 0;                                                                            \
        {                                                                                          \
            QApplication app(argc, argv);                                                          \
            app.setAttribute(Qt::AA_Use96Dpi, true);                                               \
            TestObject test;                                                                       \
            QTEST_SET_MAIN_SOURCE_PATH                                                             \
            status = QTest::qExec(&test, argc, argv);                                              \
        }                                                                                          \
        return quillon::endProgram(status);                                                        \
    }
