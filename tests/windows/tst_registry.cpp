// The window's settings on Windows: stored in the registry under
// HKCU\Software\Vumo\Quillon, read there with the system's calls, and
// restored by the next window.
#include "guitest.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <vector>

#include <windows.h>

namespace {

const wchar_t *const kStoreKey = L"Software\\Vumo\\Quillon";

struct RegistryValue
{
    DWORD type = REG_NONE;
    QString text;
    DWORD number = 0;
};

bool readValue(const QString &name, RegistryValue &value)
{
    const std::wstring wname = name.toStdWString();
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kStoreKey, wname.c_str(), RRF_RT_ANY, &value.type, nullptr,
                     &size) != ERROR_SUCCESS)
        return false;
    std::vector<BYTE> data(size + sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, kStoreKey, wname.c_str(), RRF_RT_ANY, nullptr, data.data(),
                     &size) != ERROR_SUCCESS)
        return false;
    if (value.type == REG_DWORD)
        std::memcpy(&value.number, data.data(), sizeof value.number);
    else if (value.type == REG_SZ)
        value.text = QString::fromWCharArray(reinterpret_cast<const wchar_t *>(data.data()));
    return true;
}

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir tmp;

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("app/main.exe"))));
        QVERIFY(writeFile(tmp.filePath(QStringLiteral("app/other.exe"))));
    }

    void init() { isolateSettings(); }

    void roundTrip()
    {
        const QString folder = QDir::toNativeSeparators(tmp.filePath(QStringLiteral("app")));
        const QString output = QStringLiteral("C:\\输出 目录");
        {
            MainWindow window;
            GuiTestProbe probe(&window);
            probe.ui()->folderLineEdit->setText(folder);
            probe.populateMainExeList(folder);
            probe.ui()->mainExeComboBox->setCurrentIndex(
                probe.ui()->mainExeComboBox->findText(QStringLiteral("other.exe")));
            probe.ui()->outputLineEdit->setText(output);
            probe.ui()->cmbCompression->setCurrentIndex(5);
            probe.ui()->chkCleanup->setChecked(false);
            probe.saveSettings();
        }

        RegistryValue value;
        QVERIFY(readValue(QStringLiteral("folderPath"), value));
        QCOMPARE(value.type, DWORD(REG_SZ));
        QCOMPARE(value.text, folder);
        QVERIFY(readValue(QStringLiteral("outputPath"), value));
        QCOMPARE(value.text, output);
        QVERIFY(readValue(QStringLiteral("lastExe"), value));
        QCOMPARE(value.text, QStringLiteral("other.exe"));
        QVERIFY(readValue(QStringLiteral("compressionLevel"), value));
        QCOMPARE(value.type, DWORD(REG_DWORD));
        QCOMPARE(value.number, DWORD(5));
        QVERIFY(readValue(QStringLiteral("cleanupEnabled"), value));
        QCOMPARE(value.text, QStringLiteral("false"));
        QVERIFY(readValue(QStringLiteral("language"), value));
        QCOMPARE(value.text, QStringLiteral("zh_CN"));

        MainWindow again;
        GuiTestProbe probe(&again);
        QCOMPARE(probe.ui()->folderLineEdit->text(), folder);
        QCOMPARE(probe.ui()->outputLineEdit->text(), output);
        QCOMPARE(probe.ui()->mainExeComboBox->currentText(), QStringLiteral("other.exe"));
        QCOMPARE(probe.ui()->cmbCompression->currentIndex(), 5);
        QVERIFY(!probe.ui()->chkCleanup->isChecked());
        QVERIFY(probe.ui()->chkTemp->isChecked());

        // Reset empties the key itself.
        ModalDriver driver;
        driver.answer(QMessageBox::Yes);
        driver.answer(QMessageBox::Ok);
        QVERIFY(QMetaObject::invokeMethod(&again, "on_resetButton_clicked"));
        QTRY_COMPARE(driver.pending(), 0);
        QVERIFY(!readValue(QStringLiteral("folderPath"), value));
        QVERIFY(!readValue(QStringLiteral("compressionLevel"), value));
    }
};

QTEST_MAIN(TestRegistry)
#include "tst_registry.moc"
