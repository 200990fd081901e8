// The job form: main-program list, option mappings, validation, the start
// checks, the browse dialogs, the worker slots and reset.
#include "guitest.h"
#include "worker.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// Takes the worker's place and records the job it is handed (the window
// calls the slot by name, so this class's slot is the one invoked).
class RecordingWorker : public Worker
{
    Q_OBJECT

public:
    QList<QStringList> calls;

public slots:
    void createPortableApp(const QString &folderPath, const QString &archivePath,
                           const QString &outputDir, const QString &mainExeName,
                           const QString &iconPath, const QString &compressionLevel,
                           const QString &compressionMethod, const QString &dictionarySize,
                           const QString &cleanupTempArchive)
    {
        calls << QStringList{folderPath,        archivePath,    outputDir,
                             mainExeName,       iconPath,       compressionLevel,
                             compressionMethod, dictionarySize, cleanupTempArchive};
    }
};

class TestJobForm : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;
    QString root;

    QString at(const QString &relative) const
    {
        QString path = relative;
        return path.replace(QStringLiteral("$T"), root);
    }

    static void invokeSlot(MainWindow *window, const char *slot)
    {
        QVERIFY(QMetaObject::invokeMethod(window, slot));
    }

    static QStringList entries(QComboBox *box)
    {
        QStringList list;
        for (int i = 0; i < box->count(); ++i) {
            list << box->itemText(i);
        }
        return list;
    }

    // Drags `paths` from another program over the middle of `target` and
    // drops them there: the events reach the window's platform window as a
    // file manager's drag does. Returns whether the drop was taken.
    static bool dropOnto(QWidget *target, const QStringList &paths)
    {
        QMimeData data;
        QList<QUrl> urls;
        QStringList text;
        for (const QString &path : paths) {
            urls << QUrl::fromLocalFile(path);
            text << urls.last().toString();
        }
        data.setUrls(urls);
        // File managers offer the paths as text too, which a line edit takes.
        data.setText(text.join(QLatin1Char('\n')));
        QWindow *window = target->window()->windowHandle();
        const QPoint pos = target->mapTo(target->window(), target->rect().center());
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QDragEnterEvent enter(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &enter);
        QDragMoveEvent move(pos, actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &move);
        if (!enter.isAccepted() || !move.isAccepted()) {
            QDragLeaveEvent leave;
            QCoreApplication::sendEvent(window, &leave);
            return false;
        }
        QDropEvent drop(QPointF(pos), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &drop);
        return drop.isAccepted();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        root = tmp.path();
        QVERIFY(writeFile(at("$T/src/app.exe")));
        QVERIFY(writeFile(at("$T/src/APP.EXE")));
        QVERIFY(writeFile(at("$T/src/tool.portable.exe")));
        QVERIFY(writeFile(at("$T/src/bin/helper.exe")));
        QVERIFY(writeFile(at("$T/src/..dots.exe")));
#ifdef Q_OS_WIN
        // Hidden on Windows is an attribute, not a leading dot.
        QVERIFY(SetFileAttributesW(reinterpret_cast<const wchar_t *>(
                                       QDir::toNativeSeparators(at("$T/src/..dots.exe")).utf16()),
                                   FILE_ATTRIBUTE_HIDDEN));
#endif
        QVERIFY(writeFile(at("$T/other/outside.exe")));
        QVERIFY(writeFile(at("$T/file.txt"), "text"));
        QVERIFY(QDir().mkpath(at("$T/empty")));
        QVERIFY(QDir().mkpath(at("$T/out")));
        // An icon Qt can decode, and a file that only claims to be one.
        QImage icon(32, 32, QImage::Format_ARGB32);
        icon.fill(Qt::darkGreen);
        QVERIFY(icon.save(at("$T/good.ico"), "ICO"));
        QVERIFY(writeFile(at("$T/bad.ico"), "not an icon"));
    }

    void init()
    {
        isolateSettings();
    }

    void mainExeList_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("lastExe");
        QTest::addColumn<QString>("previous");
        QTest::addColumn<QStringList>("expectedList");
        QTest::addColumn<QString>("expectedCurrent");

        const QStringList files{"b.exe",      "A.exe",          "c.EXE",
                                "readme.txt", "sub/nested.exe", ".hidden.exe"};
        const QStringList listed{"A.exe", "b.exe", "c.EXE"};
        QTest::newRow("ordinal order, first current") << files << ""
                                                      << "" << listed << "A.exe";
        QTest::newRow("lastExe made current") << files << "b.exe"
                                              << "" << listed << "b.exe";
        QTest::newRow("stale lastExe") << files << "gone.exe"
                                       << "" << listed << "A.exe";
        QTest::newRow("lastExe matches case exactly") << files << "B.exe"
                                                      << "" << listed << "A.exe";
        QTest::newRow("previous choice kept") << files << ""
                                              << "c.EXE" << listed << "c.EXE";
        QTest::newRow("lastExe before previous") << files << "b.exe"
                                                 << "c.EXE" << listed << "b.exe";
        QTest::newRow("no programs") << QStringList{"readme.txt", "sub/x.exe"} << "x.exe"
                                     << "x.exe" << QStringList{} << "";
#ifndef Q_OS_WIN
        // Windows' own file systems refuse these names.
        QTest::newRow("names Windows cannot hold left out")
            << QStringList{"ok.exe",         "a:b.exe",
                           "q\"uote.exe",    "x\"\nExecuteFile=\"ok.exe",
                           "tab\tname.exe",  "pipe|.exe",
                           "ask?.exe",       "star*.exe",
                           "lt<.exe",        "gt>.exe",
                           "back\\slash.exe"}
            << ""
            << "" << QStringList{"ok.exe"} << "ok.exe";
#endif
    }

    void mainExeList()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, lastExe);
        QFETCH(QString, previous);
        QFETCH(QStringList, expectedList);
        QFETCH(QString, expectedCurrent);

        QTemporaryDir folder;
        for (const QString &file : files) {
            QVERIFY(writeFile(folder.filePath(file)));
        }
        testSettings().setValue(QStringLiteral("lastExe"), lastExe);

        MainWindow window;
        GuiTestProbe probe(&window);
        QComboBox *box = probe.ui()->mainExeComboBox;
        if (!previous.isEmpty()) {
            box->addItem(previous);
            box->setCurrentIndex(box->count() - 1);
        }
        probe.populateMainExeList(folder.path());

        QStringList listedNow;
        for (int i = 0; i < box->count(); ++i) {
            listedNow << box->itemText(i);
            QVERIFY(box->itemIcon(i).isNull());
            QVERIFY(!box->itemData(i).isValid());
        }
        QCOMPARE(listedNow, expectedList);
        QCOMPARE(box->currentText(), expectedCurrent);
    }

    void optionMappings_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("expected");
        const QStringList levels{"0", "1", "3", "5", "7", "9"};
        for (int i = 0; i < levels.size(); ++i) {
            QTest::addRow("level %d", i) << "cmbCompression" << i << levels[i];
        }
        QTest::newRow("level none") << "cmbCompression" << -1 << "5";
        QTest::newRow("method LZMA") << "cmbMethod" << 0 << "LZMA";
        QTest::newRow("method LZMA2") << "cmbMethod" << 1 << "LZMA2";
        QTest::newRow("method none") << "cmbMethod" << -1 << "LZMA";
        const QStringList sizes{"64K", "1M", "16M", "32M", "64M"};
        for (int i = 0; i < sizes.size(); ++i) {
            QTest::addRow("dictionary %d", i) << "cmbDictSize" << i << sizes[i];
        }
        QTest::newRow("dictionary none") << "cmbDictSize" << -1 << "16M";
    }

    void optionMappings()
    {
        QFETCH(QString, box);
        QFETCH(int, index);
        QFETCH(QString, expected);
        MainWindow window;
        GuiTestProbe probe(&window);
        auto *combo = window.findChild<QComboBox *>(box);
        QVERIFY(combo);
        combo->setCurrentIndex(index);
        QCOMPARE(combo->currentIndex(), index);
        const QString actual = box == QLatin1String("cmbCompression") ? probe.compressionLevel()
                               : box == QLatin1String("cmbMethod")    ? probe.compressionMethod()
                                                                      : probe.dictionarySize();
        QCOMPARE(actual, expected);
    }

    void validation_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("message");

        QTest::newRow("no folder") << ""
                                   << "app.exe"
                                   << "$T/out"
                                   << "请选择源文件夹！";
        QTest::newRow("folder missing") << "$T/missing"
                                        << "app.exe"
                                        << "$T/out"
                                        << "源文件夹不存在或不可访问！";
        QTest::newRow("folder is a file") << "$T/file.txt"
                                          << "app.exe"
                                          << "$T/out"
                                          << "源文件夹不存在或不可访问！";
        QTest::newRow("no main program") << "$T/empty"
                                         << ""
                                         << "$T/out"
                                         << "请选择主程序！";
        QTest::newRow("main program gone")
            << "$T/src"
            << "gone.exe"
            << "$T/out"
            << "选择的主程序不存在于源文件夹中！\n请重新选择主程序。";
        QTest::newRow("main program only in a sub-folder")
            << "$T/src"
            << "helper.exe"
            << "$T/out"
            << "选择的主程序不存在于源文件夹中！\n请重新选择主程序。";
        QTest::newRow("no output") << "$T/src"
                                   << "app.exe"
                                   << ""
                                   << "请选择输出目录！";
        QTest::newRow("output is a file") << "$T/src"
                                          << "app.exe"
                                          << "$T/file.txt"
                                          << "输出路径已存在但不是目录（例如 C:/Output）！";
        QTest::newRow("valid") << "$T/src"
                               << "app.exe"
                               << "$T/out"
                               << "";
    }

    void validation()
    {
        QFETCH(QString, folder);
        QFETCH(QString, exe);
        QFETCH(QString, output);
        QFETCH(QString, message);

        MainWindow window;
        GuiTestProbe probe(&window);
        probe.ui()->folderLineEdit->setText(at(folder));
        if (!exe.isEmpty()) {
            probe.ui()->mainExeComboBox->addItem(exe);
        }
        probe.ui()->outputLineEdit->setText(at(output));

        ModalDriver driver;
        driver.answer(QMessageBox::Ok);
        const bool ok = probe.validateInputs();

        QCOMPARE(ok, message.isEmpty());
        if (message.isEmpty()) {
            QVERIFY(driver.seen.isEmpty());
        } else {
            QCOMPARE(driver.seen.size(), 1);
            QCOMPARE(driver.seen[0].className, QStringLiteral("QMessageBox"));
            QCOMPARE(driver.seen[0].title, QStringLiteral("警告"));
            QCOMPARE(driver.seen[0].text, message);
            QVERIFY(driver.seen[0].hasParent);
        }
    }

    void createDirectoryQuestion_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("passes");
        QTest::addColumn<QString>("warning");
        QTest::newRow("no") << "$T/new-no/a/b" << int(QMessageBox::No) << false << "";
        QTest::newRow("yes, parents made")
            << "$T/new-yes/a/b" << int(QMessageBox::Yes) << true << "";
        QTest::newRow("yes, cannot create")
            << "$T/file.txt/sub" << int(QMessageBox::Yes) << false << "无法创建输出目录：%1";
    }

    void createDirectoryQuestion()
    {
        QFETCH(QString, output);
        QFETCH(int, answer);
        QFETCH(bool, passes);
        QFETCH(QString, warning);

        MainWindow window;
        GuiTestProbe probe(&window);
        probe.ui()->folderLineEdit->setText(at("$T/src"));
        probe.ui()->mainExeComboBox->addItem(QStringLiteral("app.exe"));
        probe.ui()->outputLineEdit->setText(at(output));

        ModalDriver driver;
        driver.answer(QMessageBox::StandardButton(answer));
        driver.answer(QMessageBox::Ok);
        QCOMPARE(probe.validateInputs(), passes);
        QCOMPARE(QFileInfo(at(output)).isDir(), passes);

        const QString native = QDir::toNativeSeparators(at(output));
        QCOMPARE(driver.seen.size(), warning.isEmpty() ? 1 : 2);
        QCOMPARE(driver.seen[0].title, QStringLiteral("创建目录"));
        QCOMPARE(driver.seen[0].text, QStringLiteral("输出目录 %1 不存在，是否创建？").arg(native));
        if (!warning.isEmpty()) {
            QCOMPARE(driver.seen[1].title, QStringLiteral("警告"));
            QCOMPARE(driver.seen[1].text, warning.arg(native));
        }
    }

    void startRefusals_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("logsFailure");

        const QString sameLocation = QStringLiteral("输出目录与源主程序位置相同，生成的文件会覆盖"
                                                    "原始主程序。\n请选择其他输出目录。");
        QTest::newRow("validation fails") << "app.exe"
                                          << ""
                                          << "警告"
                                          << "请选择输出目录！" << true;
        QTest::newRow("output is the source folder") << "app.exe"
                                                     << "$T/src"
                                                     << "错误" << sameLocation << false;
        QTest::newRow("same folder, trailing slash") << "app.exe"
                                                     << "$T/src/"
                                                     << "错误" << sameLocation << false;
        QTest::newRow("same folder through ..") << "app.exe"
                                                << "$T/out/../src"
                                                << "错误" << sameLocation << false;
        QTest::newRow("complete base name keeps inner dots") << "tool.portable.exe"
                                                             << "$T/src"
                                                             << "错误" << sameLocation << false;
    }

    void startRefusals()
    {
        QFETCH(QString, exe);
        QFETCH(QString, output);
        QFETCH(QString, title);
        QFETCH(QString, message);
        QFETCH(bool, logsFailure);

        MainWindow window;
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        ui->folderLineEdit->setText(at("$T/src"));
        ui->mainExeComboBox->addItem(exe);
        ui->mainExeComboBox->setCurrentIndex(0);
        ui->outputLineEdit->setText(at(output));
        ui->logTextEdit->setPlainText(QStringLiteral("earlier line"));
        ui->progressBar->setValue(70);

        ModalDriver driver;
        driver.answer(QMessageBox::Ok);
        invokeSlot(&window, "on_startButton_clicked");

        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].title, title);
        QCOMPARE(driver.seen[0].text, message);
        QVERIFY(!probe.isProcessing());
        QVERIFY(ui->startButton->isEnabled());
        QCOMPARE(ui->progressBar->value(), 70);
        const QString expectedLog = logsFailure
                                        ? QStringLiteral("earlier line\n输入验证失败，操作中止")
                                        : QStringLiteral("earlier line");
        QCOMPARE(ui->logTextEdit->toPlainText(), expectedLog);
    }

    void sameFileUnderAnotherCaseIsRefused()
    {
        // A case-insensitive file system resolves "APP.exe" (the output) to the
        // source "APP.EXE": Windows' own does; elsewhere a link of that name
        // stands in for such a mount.
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath(QStringLiteral("APP.EXE"))));
#ifndef Q_OS_WIN
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("APP.EXE")),
                            dir.filePath(QStringLiteral("APP.exe"))));
#endif

        MainWindow window;
        GuiTestProbe probe(&window);
        probe.ui()->folderLineEdit->setText(dir.path());
        probe.ui()->mainExeComboBox->addItem(QStringLiteral("APP.EXE"));
        probe.ui()->outputLineEdit->setText(dir.path());

        ModalDriver driver;
        driver.answer(QMessageBox::Ok);
        invokeSlot(&window, "on_startButton_clicked");

        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].title, QStringLiteral("错误"));
        QVERIFY(driver.seen[0].text.startsWith(QStringLiteral("输出目录与源主程序位置相同")));
        QVERIFY(!probe.isProcessing());
        QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("APP.EXE"))).size(), qint64(2));
    }

    void startIgnoredWhileProcessing()
    {
        MainWindow window;
        GuiTestProbe probe(&window);
        probe.setProcessing(true);
        probe.ui()->logTextEdit->setPlainText(QStringLiteral("job running"));
        ModalDriver driver;
        invokeSlot(&window, "on_startButton_clicked");
        QCoreApplication::processEvents();
        QVERIFY(driver.seen.isEmpty());
        QCOMPARE(probe.ui()->logTextEdit->toPlainText(), QStringLiteral("job running"));
        probe.setProcessing(false);
    }

    void folderPicker()
    {
        MainWindow window;
        GuiTestProbe probe(&window);
        ModalDriver driver;
        driver.choose(at("$T/src"));
        invokeSlot(&window, "on_selectFolderButton_clicked");

        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].title, QStringLiteral("选择源文件夹"));
        QVERIFY(driver.seen[0].options & QFileDialog::ShowDirsOnly);
        QCOMPARE(probe.ui()->folderLineEdit->text(), at("$T/src"));
        // Hidden files (here "..dots.exe") are not listed. On a file system
        // that ignores case, "APP.EXE" was written into "app.exe".
#ifdef Q_OS_WIN
        const QString first = QStringLiteral("app.exe");
        QCOMPARE(probe.ui()->mainExeComboBox->count(), 2);
#else
        const QString first = QStringLiteral("APP.EXE");
        QCOMPARE(probe.ui()->mainExeComboBox->count(), 3);
#endif
        QCOMPARE(probe.ui()->mainExeComboBox->currentText(), first);
        QSettings settings = testSettings();
        QCOMPARE(settings.value(QStringLiteral("folderPath")).toString(), at("$T/src"));
        QCOMPARE(settings.value(QStringLiteral("lastExe")).toString(), first);
        QCOMPARE(settings.value(QStringLiteral("compressionLevel")).toInt(), 3);
    }

    void typedFolder_data()
    {
        QTest::addColumn<QString>("chosenFirst"); // with the dialog; empty: none
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("folder"); // the folder in force afterwards

        const int enter = Qt::Key_Return;
        const int tab = Qt::Key_Tab;
        QTest::newRow("another folder, Enter") << "$T/other"
                                               << "$T/src" << enter << "$T/src";
        QTest::newRow("another folder, Tab") << "$T/other"
                                             << "$T/src" << tab << "$T/src";
        QTest::newRow("folder after a restart") << ""
                                                << "$T/src" << enter << "$T/src";
        QTest::newRow("no such folder") << "$T/other"
                                        << "$T/missing" << enter << "$T/other";
        QTest::newRow("a file") << "$T/other"
                                << "$T/file.txt" << tab << "$T/other";
        QTest::newRow("nothing chosen, no such folder") << ""
                                                        << "$T/missing" << enter << "";
#ifdef Q_OS_WIN
        QTest::newRow("native separators") << "$T/other"
                                           << "native:$T/src" << enter << "$T/src";
#endif
    }

    void typedFolder()
    {
        QFETCH(QString, chosenFirst);
        QFETCH(QString, typed);
        QFETCH(int, key);
        QFETCH(QString, folder);

        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        if (!chosenFirst.isEmpty()) {
            ModalDriver driver;
            driver.choose(at(chosenFirst));
            invokeSlot(&window, "on_selectFolderButton_clicked");
            QCOMPARE(ui->folderLineEdit->text(), at(chosenFirst));
            QApplication::setActiveWindow(&window);
            QVERIFY(QTest::qWaitForWindowActive(&window));
        }
        const QStringList listBefore = entries(ui->mainExeComboBox);
        const QStringList keysBefore = formKeys();

        QString text = at(typed);
        if (text.startsWith(QLatin1String("native:"))) {
            text = QDir::toNativeSeparators(text.mid(7));
        }
        ui->folderLineEdit->setFocus();
        QTRY_VERIFY(ui->folderLineEdit->hasFocus());
        ui->folderLineEdit->selectAll();
        QTest::keyClicks(ui->folderLineEdit, text);
        QTest::keyClick(ui->folderLineEdit, Qt::Key(key));
        if (key == Qt::Key_Tab) {
            QTRY_VERIFY(!ui->folderLineEdit->hasFocus());
        }

        QSettings settings = testSettings();
        if (at(folder) == at(typed).remove(QStringLiteral("native:"))) {
            // As if chosen with the dialog: stored, listed, the form saved.
            QCOMPARE(ui->folderLineEdit->text(), at(folder));
            QCOMPARE(settings.value(QStringLiteral("folderPath")).toString(), at(folder));
            QDir dir(at(folder));
            QStringList listed =
                dir.entryList(QStringList{QStringLiteral("*.exe")}, QDir::Files, QDir::Name);
            QCOMPARE(entries(ui->mainExeComboBox), listed);
            QCOMPARE(ui->mainExeComboBox->currentText(), listed.value(0));
            QCOMPARE(settings.value(QStringLiteral("lastExe")).toString(), listed.value(0));
            QCOMPARE(settings.value(QStringLiteral("compressionLevel")).toInt(), 3);
        } else {
            // Nothing changes but the field's text.
            QCOMPARE(ui->folderLineEdit->text(), text);
            QCOMPARE(entries(ui->mainExeComboBox), listBefore);
            QCOMPARE(formKeys(), keysBefore);
            QCOMPARE(settings.value(QStringLiteral("folderPath")).toString(),
                     folder.isEmpty() ? QString() : at(folder));
        }
    }

    void dropOnWindow_data()
    {
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<bool>("settingsPage");
        QTest::addColumn<QString>("target"); // object name of the widget under the drop
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QString>("folder"); // the source folder afterwards
        QTest::addColumn<QString>("icon");   // the icon field afterwards
        QTest::addColumn<QString>("message");

        const QStringList src{"$T/src"};
        const QStringList good{"$T/good.ico"};
        QTest::newRow("folder on the log") << src << false << "logTextEdit" << true << "$T/src"
                                           << "old.ico"
                                           << "";
        QTest::newRow("folder on the folder field")
            << src << false << "folderLineEdit" << true << "$T/src"
            << "old.ico"
            << "";
        QTest::newRow("folder on the start button")
            << src << false << "startButton" << true << "$T/src"
            << "old.ico"
            << "";
        QTest::newRow("folder on the settings page")
            << src << true << "cmbMethod" << true << "$T/src"
            << "old.ico"
            << "";
        QTest::newRow("icon on the icon field") << good << true << "iconLineEdit" << true << ""
                                                << "$T/good.ico"
                                                << "";
        QTest::newRow("icon on the settings page") << good << true << "chkCleanup" << true << ""
                                                   << "$T/good.ico"
                                                   << "";
        QTest::newRow("undecodable icon")
            << QStringList{"$T/bad.ico"} << true << "frame" << true << ""
            << "old.ico"
            << "无法加载图标文件！";
        QTest::newRow("icon on the basic page") << good << false << "logTextEdit" << false << ""
                                                << "old.ico"
                                                << "";
        QTest::newRow("icon on the output field")
            << good << false << "outputLineEdit" << false << ""
            << "old.ico"
            << "";
        QTest::newRow("folder on the output field")
            << src << false << "outputLineEdit" << false << ""
            << "old.ico"
            << "";
        QTest::newRow("other file") << QStringList{"$T/file.txt"} << true << "frame" << false << ""
                                    << "old.ico"
                                    << "";
        QTest::newRow("two folders")
            << QStringList{"$T/src", "$T/other"} << false << "logTextEdit" << false << ""
            << "old.ico"
            << "";
        QTest::newRow("missing folder")
            << QStringList{"$T/missing"} << false << "logTextEdit" << false << ""
            << "old.ico"
            << "";
    }

    void dropOnWindow()
    {
        QFETCH(QStringList, dropped);
        QFETCH(bool, settingsPage);
        QFETCH(QString, target);
        QFETCH(bool, taken);
        QFETCH(QString, folder);
        QFETCH(QString, icon);
        QFETCH(QString, message);

        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        ui->iconLineEdit->setText(QStringLiteral("old.ico"));
        if (settingsPage) {
            ui->advancedTabButton->click();
            QCOMPARE(ui->stackedWidget->currentWidget(), ui->advancedPage);
        }
        QWidget *widget = window.findChild<QWidget *>(target);
        QVERIFY(widget && widget->isVisible());
        QStringList paths;
        for (const QString &path : dropped) {
            paths << at(path);
        }

        ModalDriver driver;
        driver.answer(QMessageBox::Ok);
        QCOMPARE(dropOnto(widget, paths), taken);
        QCoreApplication::processEvents();
        if (!message.isEmpty()) {
            QTRY_COMPARE(driver.seen.size(), 1);
            QCOMPARE(driver.seen[0].title, QStringLiteral("错误"));
            QCOMPARE(driver.seen[0].text, message);
        } else {
            QVERIFY(driver.seen.isEmpty());
        }

        QSettings settings = testSettings();
        QCOMPARE(ui->folderLineEdit->text(), folder.isEmpty() ? QString() : at(folder));
        QCOMPARE(ui->iconLineEdit->text(), at(icon));
        QVERIFY(ui->outputLineEdit->text().isEmpty());
        if (!folder.isEmpty()) {
            QCOMPARE(settings.value(QStringLiteral("folderPath")).toString(), at(folder));
            QCOMPARE(ui->mainExeComboBox->currentText(),
                     settings.value(QStringLiteral("lastExe")).toString());
            QVERIFY(ui->mainExeComboBox->findText(QStringLiteral("app.exe")) >= 0);
        } else if (icon != QLatin1String("old.ico")) {
            QCOMPARE(settings.value(QStringLiteral("iconPath")).toString(), at(icon));
        } else {
            QVERIFY(formKeys().isEmpty());
            QCOMPARE(ui->mainExeComboBox->count(), 0);
        }
    }

    void dropRefusedWhileProcessing()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        GuiTestProbe probe(&window);
        probe.setProcessing(true);
        QVERIFY(!dropOnto(probe.ui()->logTextEdit, QStringList{at("$T/src")}));
        QCoreApplication::processEvents();
        QVERIFY(probe.ui()->folderLineEdit->text().isEmpty());
        QVERIFY(formKeys().isEmpty());
        probe.setProcessing(false);
    }

    void cancelledDialogsChangeNothing_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::newRow("folder") << "on_selectFolderButton_clicked";
        QTest::newRow("main program") << "on_mainExeButton_clicked";
        QTest::newRow("output") << "on_outputButton_clicked";
        QTest::newRow("icon") << "on_iconButton_clicked";
    }

    void cancelledDialogsChangeNothing()
    {
        QFETCH(QString, slot);
        MainWindow window;
        GuiTestProbe probe(&window);
        probe.ui()->folderLineEdit->setText(at("$T/src"));
        probe.ui()->outputLineEdit->setText(at("$T/out"));
        probe.ui()->iconLineEdit->setText(at("$T/good.ico"));
        ModalDriver driver;
        driver.cancel();
        invokeSlot(&window, slot.toLatin1().constData());

        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].className, QStringLiteral("QFileDialog"));
        QCOMPARE(probe.ui()->folderLineEdit->text(), at("$T/src"));
        QCOMPARE(probe.ui()->outputLineEdit->text(), at("$T/out"));
        QCOMPARE(probe.ui()->iconLineEdit->text(), at("$T/good.ico"));
        QCOMPARE(probe.ui()->mainExeComboBox->count(), 0);
        QVERIFY(formKeys().isEmpty());
    }

    void mainExePicker_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("current");

        QTest::newRow("in the folder") << "$T/src"
                                       << "$T/src/app.exe"
                                       << ""
                                       << "app.exe";
        QTest::newRow("in a sub-folder") << "$T/src"
                                         << "$T/src/bin/helper.exe"
                                         << ""
                                         << "helper.exe";
        QTest::newRow("name starting with two dots") << "$T/src"
                                                     << "$T/src/..dots.exe"
                                                     << ""
                                                     << "..dots.exe";
        QTest::newRow("beside the folder") << "$T/src"
                                           << "$T/other/outside.exe"
                                           << "选择的主程序必须在源文件夹内！"
                                           << "";
        QTest::newRow("folder missing") << "$T/missing"
                                        << "$T/src/app.exe"
                                        << "选择的主程序必须在源文件夹内！"
                                        << "";
    }

    void mainExePicker()
    {
        QFETCH(QString, folder);
        QFETCH(QString, chosen);
        QFETCH(QString, message);
        QFETCH(QString, current);

        MainWindow window;
        GuiTestProbe probe(&window);
        probe.ui()->folderLineEdit->setText(at(folder));
        ModalDriver driver;
        driver.choose(at(chosen));
        driver.answer(QMessageBox::Ok);
        invokeSlot(&window, "on_mainExeButton_clicked");

        QVERIFY(driver.seen.size() >= 1);
        QCOMPARE(driver.seen[0].title, QStringLiteral("选择主程序"));
        QCOMPARE(driver.seen[0].nameFilters, QStringList{QStringLiteral("可执行文件 (*.exe)")});
        if (message.isEmpty()) {
            QCOMPARE(driver.seen.size(), 1);
            QCOMPARE(driver.seen[0].directory, at(folder));
            QCOMPARE(probe.ui()->mainExeComboBox->currentText(), current);
            QCOMPARE(probe.ui()->mainExeComboBox->findText(current), 0);
            QCOMPARE(testSettings().value(QStringLiteral("lastExe")).toString(), current);
            QCOMPARE(testSettings().value(QStringLiteral("folderPath")).toString(), at(folder));
        } else {
            QCOMPARE(driver.seen.size(), 2);
            QCOMPARE(driver.seen[1].title, QStringLiteral("警告"));
            QCOMPARE(driver.seen[1].text, message);
            QCOMPARE(probe.ui()->mainExeComboBox->count(), 0);
            QVERIFY(formKeys().isEmpty());
        }
    }

#ifndef Q_OS_WIN
    void mainExePickerLeavesOutRefusedNames()
    {
        // Windows' own file systems cannot hold such a name.
        QTemporaryDir folder;
        const QString name = QStringLiteral("run:me.exe");
        QVERIFY(writeFile(folder.filePath(name)));
        QVERIFY(writeFile(folder.filePath(QStringLiteral("ok.exe"))));
        MainWindow window;
        GuiTestProbe probe(&window);
        probe.ui()->folderLineEdit->setText(folder.path());
        probe.populateMainExeList(folder.path());
        QCOMPARE(entries(probe.ui()->mainExeComboBox), QStringList{QStringLiteral("ok.exe")});
        ModalDriver driver;
        driver.choose(folder.filePath(name));
        invokeSlot(&window, "on_mainExeButton_clicked");

        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(entries(probe.ui()->mainExeComboBox), QStringList{QStringLiteral("ok.exe")});
        QCOMPARE(probe.ui()->mainExeComboBox->currentText(), QStringLiteral("ok.exe"));
        QVERIFY(formKeys().isEmpty());
    }
#endif

    void mainExePickerNeedsFolder()
    {
        MainWindow window;
        ModalDriver driver;
        driver.answer(QMessageBox::Ok);
        invokeSlot(&window, "on_mainExeButton_clicked");
        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].title, QStringLiteral("警告"));
        QCOMPARE(driver.seen[0].text, QStringLiteral("请先选择源文件夹！"));
    }

    void outputPicker()
    {
        MainWindow window;
        GuiTestProbe probe(&window);
        probe.ui()->outputLineEdit->setText(at("$T/empty"));
        ModalDriver driver;
        driver.choose(at("$T/out"));
        invokeSlot(&window, "on_outputButton_clicked");

        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].title, QStringLiteral("选择输出目录"));
        QCOMPARE(driver.seen[0].directory, at("$T/empty"));
        QVERIFY(driver.seen[0].options & QFileDialog::ShowDirsOnly);
        QVERIFY(driver.seen[0].options & QFileDialog::DontResolveSymlinks);
        QCOMPARE(probe.ui()->outputLineEdit->text(), at("$T/out"));
        QCOMPARE(testSettings().value(QStringLiteral("outputPath")).toString(), at("$T/out"));
    }

    void iconPicker_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("decodable icon") << "$T/good.ico" << true;
        QTest::newRow("not an icon") << "$T/bad.ico" << false;
    }

    void iconPicker()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, accepted);
        MainWindow window;
        GuiTestProbe probe(&window);
        probe.ui()->iconLineEdit->setText(QStringLiteral("old.ico"));
        ModalDriver driver;
        driver.choose(at(chosen));
        driver.answer(QMessageBox::Ok);
        invokeSlot(&window, "on_iconButton_clicked");

        QCOMPARE(driver.seen[0].title, QStringLiteral("选择图标文件"));
        QCOMPARE(driver.seen[0].nameFilters, QStringList{QStringLiteral("图标文件 (*.ico)")});
        if (accepted) {
            QCOMPARE(driver.seen.size(), 1);
            QCOMPARE(probe.ui()->iconLineEdit->text(), at(chosen));
            QCOMPARE(testSettings().value(QStringLiteral("iconPath")).toString(), at(chosen));
        } else {
            QCOMPARE(driver.seen.size(), 2);
            QCOMPARE(driver.seen[1].title, QStringLiteral("错误"));
            QCOMPARE(driver.seen[1].text, QStringLiteral("无法加载图标文件！"));
            QCOMPARE(probe.ui()->iconLineEdit->text(), QStringLiteral("old.ico"));
            QVERIFY(formKeys().isEmpty());
        }
    }

    void jobHandedOver_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("method");
        QTest::addColumn<int>("dictionary");
        QTest::addColumn<bool>("cleanup");
        // Folder, output, main program, icon, level, method, dictionary, flag
        // (the archive path is the window's own).
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("level 5, LZMA, 16M, clean up")
            << "$T/src"
            << "app.exe"
            << "$T/out"
            << "" << 3 << 0 << 2 << true
            << QStringList{"$T/src", "$T/out", "app.exe", "", "5", "LZMA", "16M", "1"};
        QTest::newRow("level 0, LZMA2, 64K, keep")
            << "$T/src"
            << "APP.EXE"
            << "$T/out"
            << "$T/good.ico" << 0 << 1 << 0 << false
            << QStringList{"$T/src", "$T/out", "APP.EXE", "$T/good.ico", "0", "LZMA2", "64K", "0"};
        QTest::newRow("level 1, 1M")
            << "$T/src"
            << "tool.portable.exe"
            << "$T/out"
            << "" << 1 << 1 << 1 << true
            << QStringList{"$T/src", "$T/out", "tool.portable.exe", "", "1", "LZMA2", "1M", "1"};
        QTest::newRow("level 3, 32M")
            << "$T/src"
            << "app.exe"
            << "$T/out"
            << "" << 2 << 0 << 3 << false
            << QStringList{"$T/src", "$T/out", "app.exe", "", "3", "LZMA", "32M", "0"};
        QTest::newRow("level 7, 64M, paths cleaned")
            << "$T/out/../src/"
            << "app.exe"
            << "$T/src/../out/"
            << "" << 4 << 0 << 4 << true
            << QStringList{"$T/src", "$T/out", "app.exe", "", "7", "LZMA", "64M", "1"};
        QTest::newRow("level 9") << "$T/src"
                                 << "app.exe"
                                 << "$T/out"
                                 << "" << 5 << 1 << 2 << true
                                 << QStringList{"$T/src", "$T/out", "app.exe", "",
                                                "9",      "LZMA2",  "16M",     "1"};
    }

    void jobHandedOver()
    {
        QFETCH(QString, folder);
        QFETCH(QString, exe);
        QFETCH(QString, output);
        QFETCH(QString, icon);
        QFETCH(int, level);
        QFETCH(int, method);
        QFETCH(int, dictionary);
        QFETCH(bool, cleanup);
        QFETCH(QStringList, expected);

        MainWindow window;
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        ui->folderLineEdit->setText(at(folder));
        ui->mainExeComboBox->addItem(exe);
        ui->mainExeComboBox->setCurrentIndex(0);
        ui->outputLineEdit->setText(at(output));
        ui->iconLineEdit->setText(at(icon));
        ui->cmbCompression->setCurrentIndex(level);
        ui->cmbMethod->setCurrentIndex(method);
        ui->cmbDictSize->setCurrentIndex(dictionary);
        ui->chkCleanup->setChecked(cleanup);

        RecordingWorker recorder;
        Worker *original = probe.swapWorker(&recorder);
        ModalDriver driver;
        invokeSlot(&window, "on_startButton_clicked");
        probe.swapWorker(original);
        probe.setProcessing(false);

        QVERIFY(driver.seen.isEmpty());
        QCOMPARE(recorder.calls.size(), 1);
        QStringList want;
        for (const QString &value : expected) {
            want << at(value);
        }
        want.insert(1, probe.tempWorkDir() + QStringLiteral("/temp.7z"));
        QCOMPARE(recorder.calls.first(), want);
    }

    void logPaneRedraws_data()
    {
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("pane");

        const QString erase = QStringLiteral("\b\b\b\b    \b\b\b\b");
        QTest::newRow("backspaces")
            << QStringList{"7z进程已启动，开始压缩...", "Add new data\n\n  0%",
                           erase + "  5% + a.bin",
                           QStringLiteral("\b").repeated(12) + " 60% + a.bin",
                           "压缩包创建成功，大小: 9 字节"}
            << "7z进程已启动，开始压缩...\nAdd new data\n\n压缩包创建成功，大小: 9 字节";
        // Windows' 7-Zip erases with carriage returns, which the trim of a
        // chunk takes away where they stand at its edge.
        QTest::newRow("carriage returns trimmed away")
            << QStringList{"7z进程已启动，开始压缩...",
                           "Add new data\r\n\r\n  0%",
                           "5% + a.bin",
                           "60% + a.bin",
                           "99% 1 + a.bin",
                           "Files read from disk: 1\r\nEverything is Ok"}
            << "7z进程已启动，开始压缩...\nAdd new data\n\nFiles read from disk: 1\n"
               "Everything is Ok";
    }

    void logPaneRedraws()
    {
        // The archiver's redraws update one line in place, across messages,
        // and its progress line is gone once the next line comes.
        QFETCH(QStringList, messages);
        QFETCH(QString, pane);
        MainWindow window;
        GuiTestProbe probe(&window);
        for (const QString &line : messages) {
            QVERIFY(QMetaObject::invokeMethod(&window, "onWorkerLog", Q_ARG(QString, line)));
        }
        QCOMPARE(probe.ui()->logTextEdit->toPlainText(), pane);
        QCOMPARE(probe.ui()->logTextEdit->document()->blockCount(),
                 int(pane.count(QLatin1Char('\n'))) + 1);
    }

    void workerSlots()
    {
        MainWindow window;
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        probe.setProcessing(true);

        QVERIFY(QMetaObject::invokeMethod(&window, "onWorkerProgress", Q_ARG(int, 45)));
        QCOMPARE(ui->progressBar->value(), 45);
        // Lines are paragraphs of plain text: markup in a path stays visible.
        for (const QString &line :
             {QStringLiteral("第一行"), QStringLiteral("<b>x</b> & y"), QStringLiteral("")}) {
            QVERIFY(QMetaObject::invokeMethod(&window, "onWorkerLog", Q_ARG(QString, line)));
        }
        QCOMPARE(ui->logTextEdit->toPlainText(), QStringLiteral("第一行\n<b>x</b> & y\n"));
        QCOMPARE(ui->logTextEdit->document()->blockCount(), 3);
    }

    void workerFinished_data()
    {
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("success") << true << "完成"
                                 << "便携应用创建成功！";
        QTest::newRow("failure") << false << "创建失败"
                                 << "便携应用创建失败，请查看日志了解详情。";
    }

    void workerFinished()
    {
        QFETCH(bool, success);
        QFETCH(QString, title);
        QFETCH(QString, text);
        MainWindow window;
        GuiTestProbe probe(&window);
        probe.setProcessing(true);
        probe.ui()->logTextEdit->setPlainText(QStringLiteral("kept"));
        probe.ui()->progressBar->setValue(95);

        ModalDriver driver;
        bool enabledDuringBox = false;
        driver.push([&](QWidget *box) {
            enabledDuringBox = probe.ui()->startButton->isEnabled() && !probe.isProcessing();
            qobject_cast<QMessageBox *>(box)->button(QMessageBox::Ok)->click();
        });
        QVERIFY(QMetaObject::invokeMethod(&window, "onWorkerFinished", Q_ARG(bool, success)));

        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].title, title);
        QCOMPARE(driver.seen[0].text, text);
        QVERIFY(enabledDuringBox);
        QCOMPARE(probe.ui()->logTextEdit->toPlainText(), QStringLiteral("kept"));
        QCOMPARE(probe.ui()->progressBar->value(), 95);
    }

    void reset_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("no") << int(QMessageBox::No);
        QTest::newRow("yes") << int(QMessageBox::Yes);
    }

    void reset()
    {
        QFETCH(int, answer);
        const bool confirmed = answer == QMessageBox::Yes;
        {
            QSettings settings = testSettings();
            settings.setValue(QStringLiteral("folderPath"), at("$T/src"));
            settings.setValue(QStringLiteral("outputPath"), at("$T/out"));
            settings.setValue(QStringLiteral("lastExe"), QStringLiteral("app.exe"));
            settings.setValue(QStringLiteral("language"), QStringLiteral("zh_CN"));
        }
        MainWindow window;
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        ui->iconLineEdit->setText(at("$T/good.ico"));
        ui->cmbCompression->setCurrentIndex(5);
        ui->chkEncrypt->setChecked(true);
        ui->chkCleanup->setChecked(false);
        ui->logTextEdit->setPlainText(QStringLiteral("log"));
        ui->progressBar->setValue(100);
        const QStringList keysBefore = testSettings().allKeys();

        ModalDriver driver;
        driver.answer(QMessageBox::StandardButton(answer));
        driver.answer(QMessageBox::Ok);
        invokeSlot(&window, "on_resetButton_clicked");

        QCOMPARE(driver.seen.size(), confirmed ? 2 : 1);
        QCOMPARE(driver.seen[0].title, QStringLiteral("重置确认"));
        QCOMPARE(ui->folderLineEdit->text().isEmpty(), confirmed);
        QCOMPARE(ui->outputLineEdit->text().isEmpty(), confirmed);
        QCOMPARE(ui->iconLineEdit->text().isEmpty(), confirmed);
        QCOMPARE(ui->mainExeComboBox->count() == 0, confirmed);
        QCOMPARE(ui->logTextEdit->toPlainText().isEmpty(), confirmed);
        QCOMPARE(ui->progressBar->value(), confirmed ? 0 : 100);
        // Options and check boxes are never reset.
        QCOMPARE(ui->cmbCompression->currentIndex(), 5);
        QVERIFY(ui->chkEncrypt->isChecked());
        QVERIFY(!ui->chkCleanup->isChecked());
        if (confirmed) {
            QCOMPARE(driver.seen[1].title, QStringLiteral("重置成功"));
            QVERIFY(formKeys().isEmpty());
        } else {
            QCOMPARE(testSettings().allKeys(), keysBefore);
        }
    }
};

QTEST_MAIN(TestJobForm)
#include "tst_jobform.moc"
