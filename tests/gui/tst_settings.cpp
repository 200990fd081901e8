// The settings store across window lifetimes: what loadSettings restores,
// when the form is written, and reset followed by a normal exit.
#include "guitest.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Values = QMap<QString, QVariant>;

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;

    static void store(const Values &values)
    {
        QSettings settings = testSettings();
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            settings.setValue(it.key(), it.value());
        }
    }

    static QStringList entries(QComboBox *box)
    {
        QStringList list;
        for (int i = 0; i < box->count(); ++i) {
            list << box->itemText(i);
        }
        return list;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("app/b.exe"))));
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("app/a.exe"))));
    }

    void init() { isolateSettings(); }

    void load_data()
    {
        QTest::addColumn<Values>("stored");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("current");
        QTest::addColumn<QList<int>>("indexes");
        QTest::addColumn<QList<bool>>("checks");

        const QString app = tmp.filePath(QStringLiteral("app"));
        const QList<bool> defaultChecks{true, false, false, true};
        QTest::newRow("first start")
            << Values{} << QStringList{} << "" << QList<int>{3, 0, 2} << defaultChecks;
        QTest::newRow("stale folder keeps lastExe")
            << Values{{"folderPath", tmp.filePath(QStringLiteral("gone"))}, {"lastExe", "x.exe"}}
            << QStringList{"x.exe"} << "x.exe" << QList<int>{3, 0, 2} << defaultChecks;
        // The list holds no name the job would refuse, stored or listed.
        QTest::newRow("stale folder, lastExe the job refuses")
            << Values{{"folderPath", tmp.filePath(QStringLiteral("gone"))},
                      {"lastExe", "x.exe\nExecuteFile=\"evil.exe"}}
            << QStringList{} << "" << QList<int>{3, 0, 2} << defaultChecks;
        QTest::newRow("stale folder, lastExe with a trailing dot")
            << Values{{"folderPath", tmp.filePath(QStringLiteral("gone"))}, {"lastExe", "app.exe."}}
            << QStringList{} << "" << QList<int>{3, 0, 2} << defaultChecks;
        QTest::newRow("folder lists, lastExe current")
            << Values{{"folderPath", app}, {"lastExe", "b.exe"}} << QStringList{"a.exe", "b.exe"}
            << "b.exe" << QList<int>{3, 0, 2} << defaultChecks;
        QTest::newRow("folder without the stored program")
            << Values{{"folderPath", app}, {"lastExe", "gone.exe"}} << QStringList{"a.exe", "b.exe"}
            << "a.exe" << QList<int>{3, 0, 2} << defaultChecks;
        QTest::newRow("options and checks")
            << Values{{"compressionLevel", 5},   {"compressionMethod", 1}, {"dictionarySize", 4},
                      {"cleanupEnabled", false}, {"encryptContent", true}, {"adminRequired", true},
                      {"tempExtraction", false}}
            << QStringList{} << "" << QList<int>{5, 1, 4} << QList<bool>{false, true, true, false};
        QTest::newRow("index out of range, not a number")
            << Values{{"compressionLevel", 9}, {"compressionMethod", "abc"}, {"dictionarySize", -3}}
            << QStringList{} << "" << QList<int>{-1, 0, -1} << defaultChecks;
    }

    void load()
    {
        QFETCH(Values, stored);
        QFETCH(QStringList, list);
        QFETCH(QString, current);
        QFETCH(QList<int>, indexes);
        QFETCH(QList<bool>, checks);
        store(stored);

        MainWindow window;
        GuiTestProbe probe(&window);
        Ui::MainWindow *ui = probe.ui();
        QCOMPARE(ui->folderLineEdit->text(), stored.value("folderPath").toString());
        QCOMPARE(ui->outputLineEdit->text(), stored.value("outputPath").toString());
        QCOMPARE(ui->iconLineEdit->text(), stored.value("iconPath").toString());
        QCOMPARE(entries(ui->mainExeComboBox), list);
        QCOMPARE(ui->mainExeComboBox->currentText(), current);
        QCOMPARE((QList<int>{ui->cmbCompression->currentIndex(), ui->cmbMethod->currentIndex(),
                             ui->cmbDictSize->currentIndex()}),
                 indexes);
        QCOMPARE((QList<bool>{ui->chkCleanup->isChecked(), ui->chkEncrypt->isChecked(),
                              ui->chkAdmin->isChecked(), ui->chkTemp->isChecked()}),
                 checks);
        if (indexes[0] == -1) {
            // A box without a current entry sends the fallback values.
            QCOMPARE(probe.compressionLevel(), QStringLiteral("5"));
            QCOMPARE(probe.dictionarySize(), QStringLiteral("16M"));
        }
    }

    void changesSurviveARestart()
    {
        const QString app = tmp.filePath(QStringLiteral("app"));
        {
            MainWindow window;
            Ui::MainWindow *ui = GuiTestProbe(&window).ui();
            ui->folderLineEdit->setText(app);
            GuiTestProbe(&window).populateMainExeList(app);
            ui->mainExeComboBox->setCurrentIndex(1);
            ui->outputLineEdit->setText(QStringLiteral("/out/dir"));
            ui->iconLineEdit->setText(QStringLiteral("/icons/x.ico"));
            ui->cmbCompression->setCurrentIndex(0);
            ui->cmbMethod->setCurrentIndex(1);
            ui->cmbDictSize->setCurrentIndex(0);
            ui->chkCleanup->setChecked(false);
            ui->chkTemp->setChecked(false);
            ui->chkAdmin->setChecked(true);
            // Nothing is written while the user only changes the form.
            QVERIFY(formKeys().isEmpty());
        }
        QSettings settings = testSettings();
        QCOMPARE(settings.value(QStringLiteral("lastExe")).toString(), QStringLiteral("b.exe"));
        QCOMPARE(formKeys().size(), 11);

        MainWindow window;
        Ui::MainWindow *ui = GuiTestProbe(&window).ui();
        QCOMPARE(ui->folderLineEdit->text(), app);
        QCOMPARE(ui->mainExeComboBox->currentText(), QStringLiteral("b.exe"));
        QCOMPARE(ui->outputLineEdit->text(), QStringLiteral("/out/dir"));
        QCOMPARE(ui->iconLineEdit->text(), QStringLiteral("/icons/x.ico"));
        QCOMPARE(ui->cmbCompression->currentIndex(), 0);
        QCOMPARE(ui->cmbMethod->currentIndex(), 1);
        QCOMPARE(ui->cmbDictSize->currentIndex(), 0);
        QVERIFY(!ui->chkCleanup->isChecked());
        QVERIFY(!ui->chkTemp->isChecked());
        QVERIFY(ui->chkAdmin->isChecked());
        QVERIFY(!ui->chkEncrypt->isChecked());
    }

    void resetThenClose()
    {
        store(Values{{"folderPath", tmp.filePath(QStringLiteral("app"))},
                     {"outputPath", "/out"},
                     {"iconPath", "/x.ico"},
                     {"lastExe", "a.exe"},
                     {"language", "zh_CN"}});
        {
            MainWindow window;
            Ui::MainWindow *ui = GuiTestProbe(&window).ui();
            ui->cmbCompression->setCurrentIndex(1);
            ui->chkEncrypt->setChecked(true);
            ModalDriver driver;
            driver.answer(QMessageBox::Yes);
            driver.answer(QMessageBox::Ok);
            QVERIFY(QMetaObject::invokeMethod(&window, "on_resetButton_clicked"));
            QCOMPARE(driver.seen.size(), 2);
        }
        // The exit wrote the emptied form back; the language key stays gone.
        QSettings settings = testSettings();
        QVERIFY(!settings.contains(QStringLiteral("language")));
        QCOMPARE(settings.value(QStringLiteral("folderPath")).toString(), QString());
        QCOMPARE(settings.value(QStringLiteral("lastExe")).toString(), QString());

        MainWindow window;
        Ui::MainWindow *ui = GuiTestProbe(&window).ui();
        QVERIFY(ui->folderLineEdit->text().isEmpty());
        QVERIFY(ui->outputLineEdit->text().isEmpty());
        QVERIFY(ui->iconLineEdit->text().isEmpty());
        QCOMPARE(ui->mainExeComboBox->count(), 0);
        QCOMPARE(ui->cmbCompression->currentIndex(), 1);
        QVERIFY(ui->chkEncrypt->isChecked());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
