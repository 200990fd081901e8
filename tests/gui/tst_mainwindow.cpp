// The window shell: state after construction, tabs, dragging, the close
// paths, the language change event, the worker thread and the work directory.
#include "guitest.h"
#include "worker.h"

#include <QCloseEvent>
#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <memory>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { isolateSettings(); }

    void stateAfterConstruction()
    {
        MainWindow window;
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();

        QCOMPARE(ui->stackedWidget->currentIndex(), 0);
        QVERIFY(ui->basicTabButton->isChecked());
        QVERIFY(!ui->advancedTabButton->isChecked());
        QVERIFY(ui->chkTemp->isChecked());
        QVERIFY(ui->chkCleanup->isChecked());
        QVERIFY(!ui->chkEncrypt->isChecked());
        QVERIFY(!ui->chkAdmin->isChecked());
        // With an empty store the option boxes show the stored defaults.
        QCOMPARE(ui->cmbCompression->currentIndex(), 3);
        QCOMPARE(ui->cmbMethod->currentIndex(), 0);
        QCOMPARE(ui->cmbDictSize->currentIndex(), 2);
        QCOMPARE(ui->mainExeComboBox->count(), 0);
        QVERIFY(ui->logTextEdit->isReadOnly());
        QCOMPARE(ui->progressBar->minimum(), 0);
        QCOMPARE(ui->progressBar->maximum(), 100);
        QCOMPARE(ui->progressBar->value(), 0);
        QVERIFY(!probe.isProcessing());

        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        auto *shadow =
            qobject_cast<QGraphicsDropShadowEffect *>(ui->centralwidget->graphicsEffect());
        QVERIFY(shadow);
        QCOMPARE(shadow->blurRadius(), 20.0);
        QCOMPARE(shadow->color(), QColor(0, 0, 0, 80));
        QCOMPARE(shadow->offset(), QPointF(0.0, 0.0));

        // The form's texts, combo items and size limits.
        QCOMPARE(ui->startButton->text(), QStringLiteral("开始制作"));
        QCOMPARE(ui->advancedTabButton->text(), QStringLiteral("配置"));
        QCOMPARE(ui->cmbCompression->count(), 6);
        QCOMPARE(ui->cmbCompression->itemText(3), QStringLiteral("标准"));
        QCOMPARE(ui->cmbDictSize->count(), 5);
        QCOMPARE(ui->cmbMethod->itemText(1), QStringLiteral("LZMA2"));
        QCOMPARE(ui->frameMenu->maximumWidth(), 60);
        QCOMPARE(ui->resetButton->maximumWidth(), 200);

        // The worker lives on its own running thread.
        QVERIFY(probe.workerThread()->isRunning());
        QCOMPARE(probe.worker()->thread(), probe.workerThread());
        QVERIFY(probe.workerThread() != QThread::currentThread());

        const QString dir = probe.tempWorkDir();
        QVERIFY(QFileInfo(dir).isDir());
        QCOMPARE(QFileInfo(dir).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
        QVERIFY2(QRegularExpression(QStringLiteral("^Quillon_\\d{14}(_\\d+)*$"))
                     .match(QFileInfo(dir).fileName())
                     .hasMatch(),
                 qPrintable(dir));
    }

    void workDirectoryRemovedAndNeverShared()
    {
        // Windows created in the same second must not share one directory:
        // the first to close would remove the other's archive.
        auto first = std::make_unique<MainWindow>();
        auto second = std::make_unique<MainWindow>();
        const QString firstDir = GuiTestProbe(first.get()).tempWorkDir();
        const QString secondDir = GuiTestProbe(second.get()).tempWorkDir();
        QVERIFY(firstDir != secondDir);
        QVERIFY(QFileInfo(firstDir).fileName().startsWith(QStringLiteral("Quillon_")));
        QVERIFY(writeFile(secondDir + QStringLiteral("/temp.7z"), "7z"));

        first.reset();
        QVERIFY(!QFileInfo::exists(firstDir));
        QVERIFY(QFile::exists(secondDir + QStringLiteral("/temp.7z")));
        second.reset();
        QVERIFY(!QFileInfo::exists(secondDir));
    }

    void tabButtons()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Ui::MainWindow *ui = GuiTestProbe(&window).ui();

        QTest::mouseClick(ui->advancedTabButton, Qt::LeftButton);
        QCOMPARE(ui->stackedWidget->currentIndex(), 1);
        QVERIFY(ui->advancedTabButton->isChecked());
        QVERIFY(!ui->basicTabButton->isChecked());

        QTest::mouseClick(ui->basicTabButton, Qt::LeftButton);
        QCOMPARE(ui->stackedWidget->currentIndex(), 0);
        QVERIFY(ui->basicTabButton->isChecked());

        QVERIFY(QMetaObject::invokeMethod(&window, "onTabButtonClicked", Q_ARG(int, 1)));
        QCOMPARE(ui->stackedWidget->currentIndex(), 1);
    }

    void processingStateDisablesJobButtons()
    {
        MainWindow window;
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        const QList<QWidget *> jobButtons{
            ui->startButton, ui->selectFolderButton, ui->outputButton,
            ui->iconButton,  ui->mainExeButton,      ui->resetButton,
            ui->menuButton,  ui->basicTabButton,     ui->advancedTabButton};
        const QList<QWidget *> untouched{ui->folderLineEdit, ui->mainExeComboBox, ui->cmbMethod,
                                         ui->chkAdmin,       ui->chkEncrypt,      ui->minButton,
                                         ui->closeButton,    ui->logTextEdit};
        probe.setProcessing(true);
        QVERIFY(probe.isProcessing());
        for (QWidget *w : jobButtons) {
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        }
        for (QWidget *w : untouched) {
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        }
        probe.setProcessing(false);
        for (QWidget *w : jobButtons) {
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        }
    }

    void drag_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("moves");
        QTest::newRow("header, left") << "headerFrame" << int(Qt::LeftButton) << true;
        QTest::newRow("title label, left") << "title_label" << int(Qt::LeftButton) << true;
        QTest::newRow("menu strip, left") << "frameMenu" << int(Qt::LeftButton) << true;
        QTest::newRow("header, right") << "headerFrame" << int(Qt::RightButton) << false;
        QTest::newRow("page input, left") << "frame_2" << int(Qt::LeftButton) << false;
        QTest::newRow("logo button, left") << "logo" << int(Qt::LeftButton) << false;
    }

    void drag()
    {
        QFETCH(QString, target);
        QFETCH(int, button);
        QFETCH(bool, moves);

        MainWindow window;
        window.move(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *widget = window.findChild<QWidget *>(target);
        QVERIFY(widget);
        // An empty spot: the strip's lower part, the header's middle.
        QPoint local = widget->rect().center();
        if (target == QLatin1String("frameMenu")) {
            local = QPoint(widget->width() / 2, widget->height() - 10);
        } else if (target == QLatin1String("frame_2")) {
            local = QPoint(2, 2);
        }
        const QPoint start = window.frameGeometry().topLeft();
        const auto mouseButton = Qt::MouseButton(button);

        QTest::mousePress(widget, mouseButton, Qt::NoModifier, local);
        QMouseEvent moveEvent(QEvent::MouseMove, QPointF(local),
                              QPointF(widget->mapToGlobal(local + QPoint(37, 21))), Qt::NoButton,
                              mouseButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &moveEvent);
        const QPoint expected = moves ? start + QPoint(37, 21) : start;
        QTRY_COMPARE(window.frameGeometry().topLeft(), expected);
        QTest::mouseRelease(widget, mouseButton, Qt::NoModifier, local);
        QVERIFY(!GuiTestProbe(&window).isDragging());

        // After the release, moves without the left button held do nothing.
        const QPoint afterRelease = window.frameGeometry().topLeft();
        QMouseEvent idleMove(QEvent::MouseMove, QPointF(local),
                             QPointF(widget->mapToGlobal(local + QPoint(80, 80))), Qt::NoButton,
                             Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &idleMove);
        QCoreApplication::processEvents();
        QCOMPARE(window.frameGeometry().topLeft(), afterRelease);
    }

    void closeButtonWhenIdle_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("quits");
        QTest::newRow("yes") << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << int(QMessageBox::No) << false;
    }

    void closeButtonWhenIdle()
    {
        QFETCH(int, answer);
        QFETCH(bool, quits);
        MainWindow window;
        window.show();
        ModalDriver driver;
        driver.answer(QMessageBox::StandardButton(answer));

        // quit() only ends a running event loop, so run one: the timer's exit
        // code tells whether the window quit it.
        QTimer::singleShot(0, GuiTestProbe(&window).ui()->closeButton, &QPushButton::click);
        const int code = runEventLoop(3000);

        QCOMPARE(code, quits ? 0 : 42);
        QCOMPARE(driver.seen.size(), 1);
        QCOMPARE(driver.seen[0].title, QStringLiteral("确认退出"));
        QCOMPARE(driver.seen[0].text, QStringLiteral("确定要退出 Quillon 吗？"));
        QVERIFY(driver.seen[0].hasParent);
        QCOMPARE(window.isVisible(), !quits);
    }

    void closingWhileProcessingIsRefused()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        GuiTestProbe probe(&window);
        probe.setProcessing(true);
        ModalDriver driver;
        driver.answer(QMessageBox::Ok);
        driver.answer(QMessageBox::Ok);

        QTimer::singleShot(0, probe.ui()->closeButton, &QPushButton::click);
        QCOMPARE(runEventLoop(1500), 42);

        // The system close command (Alt+F4) is refused the same way.
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());

        QCOMPARE(driver.seen.size(), 2);
        for (const SeenDialog &box : driver.seen) {
            QCOMPARE(box.title, QStringLiteral("正在处理"));
            QCOMPARE(box.text, QStringLiteral("正在生成便携程序，请等待处理完成后再退出。"));
        }

        // Minimising still works while a job runs.
        QTest::mouseClick(probe.ui()->minButton, Qt::LeftButton);
        QTRY_VERIFY(window.windowState() & Qt::WindowMinimized);
        probe.setProcessing(false);
    }

    void closeEventWhenIdleAsksNothing()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ModalDriver driver;
        QVERIFY(window.close());
        QVERIFY(!window.isVisible());
        QCoreApplication::processEvents();
        QVERIFY(driver.seen.isEmpty());
    }

    void languageChangeRetranslates()
    {
        MainWindow window;
        Ui::MainWindow *ui = GuiTestProbe(&window).ui();
        ui->startButton->setText(QStringLiteral("stale"));
        ui->cmbCompression->setItemText(0, QStringLiteral("stale"));
        ui->cmbCompression->setCurrentIndex(4);
        ui->folderLineEdit->setText(QStringLiteral("/kept"));

        QEvent change(QEvent::LanguageChange);
        QApplication::sendEvent(&window, &change);

        QCOMPARE(ui->startButton->text(), QStringLiteral("开始制作"));
        QCOMPARE(ui->cmbCompression->itemText(0), QStringLiteral("存储"));
        QCOMPARE(ui->cmbCompression->currentIndex(), 4);
        QCOMPARE(ui->folderLineEdit->text(), QStringLiteral("/kept"));
        QVERIFY(ui->menuButton->menu());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
