// Renders the styled window under a real X server (run through xvfb-run) to
// PNG files a person can look at, and checks the pixels that show the look:
// the white panel, the drop shadow around it, the accent colour.
#include "guitest.h"
#include "startup.h"

#include <QPainter>
#include <QScreen>
#include <QTest>

namespace {

QImage composeOnDesktop(const QPixmap &window)
{
    // What a compositing desktop shows: the translucent window over a plain
    // light background.
    QImage image(window.size() * window.devicePixelRatio(), QImage::Format_RGB32);
    image.fill(QColor(0xdd, 0xe3, 0xea));
    QPainter painter(&image);
    painter.drawPixmap(0, 0, window);
    painter.end();
    return image;
}

int lightness(const QImage &image, const QPoint &point)
{
    return QColor(image.pixel(point)).lightness();
}

} // namespace

class TestScreenshot : public QObject
{
    Q_OBJECT

private:
    QDir outDir{QStringLiteral(QUILLON_SCREENSHOT_DIR)};

    bool save(const QImage &image, const QString &name)
    {
        const QString path = outDir.filePath(name);
        qInfo().noquote() << "screenshot:" << path;
        return image.save(path, "PNG");
    }

private slots:
    void initTestCase()
    {
        isolateSettings();
        QVERIFY(QDir().mkpath(outDir.absolutePath()));
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "run this test under a real X server (xvfb-run)");
        QVERIFY(quillon::applyApplicationStyleSheet());
    }

    void mainWindow()
    {
        MainWindow window;
        Ui::MainWindow *ui = GuiTestProbe(&window).ui();
        ui->folderLineEdit->setText(QStringLiteral("/home/user/Apps/Tool"));
        ui->outputLineEdit->setText(QStringLiteral("/home/user/Desktop"));
        ui->mainExeComboBox->addItem(QStringLiteral("tool.exe"));
        ui->logTextEdit->setPlainText(QStringLiteral("调试信息:\n源文件夹: /home/user/Apps/Tool\n"
                                                     "主程序: tool.exe"));
        ui->progressBar->setValue(45);
        window.move(40, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(300);

        const QImage composed = composeOnDesktop(window.grab());
        QVERIFY(save(composed, QStringLiteral("mainwindow-basic.png")));
        const QRect geometry = window.frameGeometry();
        const QImage screen = window.screen()
                                  ->grabWindow(0, geometry.x() - 20, geometry.y() - 20,
                                               geometry.width() + 40, geometry.height() + 40)
                                  .toImage();
        QVERIFY(save(screen, QStringLiteral("mainwindow-basic-xserver.png")));

        // The panel is white; the shadow darkens the margin next to it and
        // fades out towards the window's edge.
        const int midY = composed.height() / 2;
        const QPoint inPanel = ui->frameMain->mapTo(
            &window, QPoint(ui->frameMain->width() / 2, ui->frameMain->height() - 8));
        QCOMPARE(QColor(composed.pixel(inPanel)), QColor(Qt::white));
        const int background = QColor(0xdd, 0xe3, 0xea).lightness();
        QVERIFY2(lightness(composed, QPoint(8, midY)) < background - 4, "no shadow by the panel");
        QVERIFY(lightness(composed, QPoint(0, midY)) > lightness(composed, QPoint(8, midY)));
        // The start button carries the accent colour.
        const QPoint inStart = ui->startButton->mapTo(&window, QPoint(6, 6));
        QCOMPARE(QColor(composed.pixel(inStart)), QColor(0x00, 0xb6, 0x88));

        QTest::mouseClick(ui->advancedTabButton, Qt::LeftButton);
        ui->chkEncrypt->setChecked(true);
        QTest::qWait(200);
        const QImage advanced = composeOnDesktop(window.grab());
        QVERIFY(save(advanced, QStringLiteral("mainwindow-advanced.png")));
        // The check box indicator comes from the style sheet's images.
        const QPoint box = ui->chkCleanup->mapTo(&window, QPoint(0, ui->chkCleanup->height() / 2));
        bool accentFound = false;
        for (int dx = 0; dx < 24 && !accentFound; ++dx) {
            for (int dy = -6; dy <= 6 && !accentFound; ++dy) {
                accentFound =
                    QColor(advanced.pixel(box + QPoint(dx, dy))) == QColor(0x00, 0xb6, 0x88);
            }
        }
        QVERIFY2(accentFound, "check box indicator not drawn from the style sheet image");
    }

    void exitQuestion()
    {
        MainWindow window;
        window.move(40, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ModalDriver driver;
        driver.push([this](QWidget *box) {
            QTest::qWait(200);
            save(composeOnDesktop(box->grab()), QStringLiteral("exit-question.png"));
            qobject_cast<QMessageBox *>(box)->button(QMessageBox::No)->click();
        });
        QTimer::singleShot(0, GuiTestProbe(&window).ui()->closeButton, &QPushButton::click);
        QCOMPARE(runEventLoop(5000), 42);
        QCOMPARE(driver.seen.size(), 1);
        QVERIFY(QFile::exists(outDir.filePath(QStringLiteral("exit-question.png"))));
    }
};

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
