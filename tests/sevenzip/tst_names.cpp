// Stored names to extraction paths: what is refused, what Windows mapping does.
#include "names.h"

#include <QtTest>

using quillon::sevenzip::mapEntryName;
using quillon::sevenzip::NameMapping;

class TestNames : public QObject
{
    Q_OBJECT
private slots:
    void mapping_data();
    void mapping();
};

void TestNames::mapping_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("expected");

    // Refused in both mappings.
    const char *refused[] = {"../evil",
                             "a/../../evil",
                             "a/..",
                             "/etc/passwd",
                             "//server/share",
                             "\\\\server\\share\\x",
                             "\\\\?\\C:\\x",
                             "\\evil",
                             "C:/evil",
                             "c:evil",
                             "..\\evil",
                             "a\\..\\..\\b",
                             "",
                             ".",
                             "./",
                             "a/../b"};
    for (const char *name : refused)
        for (bool windows : {false, true})
            QTest::addRow("refused %s %s", name, windows ? "win" : "host")
                << QString::fromUtf8(name) << windows << false << QString();

    auto ok = [](const char *tag, const char *stored, bool windows, const char *expected) {
        QTest::newRow(tag) << QString::fromUtf8(stored) << windows << true
                           << QString::fromUtf8(expected);
    };
    ok("plain", "dir/sub/file.txt", false, "dir/sub/file.txt");
    ok("dot and empty components dropped", "./a//b/./c/", false, "a/b/c");
    ok("dots inside names kept", "a..b/..c/c..", false, "a..b/..c/c..");
    ok("host keeps specials", "ab:c*?<>|\".txt", false, "ab:c*?<>|\".txt");
    ok("host keeps backslash", "a\\b", false, "a\\b");
    ok("host keeps device names", "CON.txt", false, "CON.txt");
    ok("host keeps trailing dot", "name.", false, "name.");
    ok("non-ASCII", "中文/crème 😀.txt", true, "中文/crème 😀.txt");
    ok("win specials", "ab:c*d?e<f>g|h\"i.txt", true, "ab_c_d_e_f_g_h_i.txt");
    ok("win control chars",
       "a\x01\x1F"
       "b",
       true, "a__b");
    ok("win backslash is not a separator", "dir\\file", true, "dir_file");
    ok("win trailing dots and spaces", "name. .", true, "name___");
    ok("win trailing in folder", "dir./x ", true, "dir_/x_");
    ok("win CON", "CON", true, "_CON");
    ok("win con.txt", "sub/con.txt", true, "sub/_con.txt");
    ok("win nul.tar.gz", "Nul.tar.gz", true, "_Nul.tar.gz");
    ok("win COM1", "COM1", true, "_COM1");
    ok("win lpt9.log", "lpt9.log", true, "_lpt9.log");
    ok("win CONIN$", "conin$", true, "_conin$");
    ok("win CONOUT$.x", "CONOUT$.x", true, "_CONOUT$.x");
    ok("win COM0 allowed", "COM0", true, "COM0");
    ok("win COM10 allowed", "COM10", true, "COM10");
    ok("win CONSOLE allowed", "CONSOLE", true, "CONSOLE");
    ok("win AUXfile allowed", "AUXfile", true, "AUXfile");
    ok("win CON. becomes CON_", "CON.", true, "CON_");
}

void TestNames::mapping()
{
    QFETCH(QString, stored);
    QFETCH(bool, windows);
    QFETCH(bool, accepted);
    QFETCH(QString, expected);
    std::string out;
    const bool result =
        mapEntryName(stored.toStdString(), windows ? NameMapping::Windows : NameMapping::Host, out);
    QCOMPARE(result, accepted);
    if (accepted)
        QCOMPARE(QString::fromStdString(out), expected);
}

QTEST_APPLESS_MAIN(TestNames)
#include "tst_names.moc"
