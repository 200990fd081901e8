// The interface catalogues against the texts the code really uses.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    QString type; // empty when finished
};

const QStringList checkedContexts = {QStringLiteral("MainWindow"), QStringLiteral("AboutDialog")};
const QStringList translatedLanguages = {QStringLiteral("zh_TW"), QStringLiteral("en_US")};

QList<Message> readTs(const QString &path, QString *error)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            current = Message();
            current.context = context;
        } else if (xml.name() == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            current.type = xml.attributes().value(QLatin1String("type")).toString();
            current.translation = xml.readElementText();
            messages.append(current);
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

// Placeholders as QString::arg sees them (%1 to %99, also %L1), sorted.
QStringList placeholders(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("%L?\\d{1,2}"));
    QStringList found;
    for (auto it = pattern.globalMatch(text); it.hasNext();)
        found.append(it.next().captured());
    found.sort();
    return found;
}

} // namespace

class TestCatalogues : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyTextTranslated_data();
    void everyTextTranslated();
    void compiledCatalogues_data();
    void compiledCatalogues();

private:
    QTemporaryDir workDir;
    QHash<QString, QList<Message>> current; // language -> messages after lupdate
};

void TestCatalogues::initTestCase()
{
    QVERIFY2(workDir.isValid(), qPrintable(workDir.errorString()));

    QStringList sources;
    const QDir sourceDir(QStringLiteral(QUILLON_SOURCE_DIR));
    const QStringList listed =
        QStringLiteral(QUILLON_WINDOW_SOURCES).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    static const QRegularExpression codeFile(QStringLiteral("\\.(cpp|h|ui)$"));
    for (const QString &entry : listed) {
        const QString path = sourceDir.absoluteFilePath(entry);
        if (codeFile.match(path).hasMatch() && QFile::exists(path))
            sources.append(path);
    }
    QVERIFY2(sources.size() >= 4, qPrintable(sources.join(QLatin1Char(' '))));

    for (const QString &language : translatedLanguages) {
        // lupdate merges the code's texts into a copy of the committed catalogue:
        // a text that is new or changed in the code comes out unfinished.
        const QString name = QStringLiteral("lang_%1.ts").arg(language);
        const QString copy = workDir.filePath(name);
        QVERIFY(QFile::copy(QDir(QStringLiteral(QUILLON_TRANSLATIONS_DIR)).filePath(name), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);

        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(QUILLON_LUPDATE),
                      QStringList{QStringLiteral("-locations"), QStringLiteral("none")} + sources +
                          QStringList{QStringLiteral("-ts"), copy});
        QVERIFY2(lupdate.waitForFinished(120000), qPrintable(lupdate.errorString()));
        const QByteArray output = lupdate.readAll();
        QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
                 output.constData());

        QString error;
        const QList<Message> messages = readTs(copy, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        for (const QString &context : checkedContexts) {
            const bool found = std::any_of(messages.begin(), messages.end(),
                                           [&](const Message &m) { return m.context == context; });
            QVERIFY2(found, qPrintable(QStringLiteral("lupdate found no text of %1").arg(context)));
        }
        current.insert(language, messages);
    }
}

void TestCatalogues::everyTextTranslated_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translation");
    QTest::addColumn<QString>("type");

    for (const QString &language : translatedLanguages) {
        for (const Message &m : current.value(language)) {
            if (!checkedContexts.contains(m.context) || m.type == QLatin1String("obsolete") ||
                m.type == QLatin1String("vanished"))
                continue;
            const QString row = QStringLiteral("%1/%2/%3").arg(language, m.context, m.source);
            QTest::newRow(qPrintable(row)) << m.source << m.translation << m.type;
        }
    }
}

void TestCatalogues::everyTextTranslated()
{
    QFETCH(QString, source);
    QFETCH(QString, translation);
    QFETCH(QString, type);

    QVERIFY2(type.isEmpty(), qPrintable(QStringLiteral("translation is %1").arg(type)));
    QVERIFY(!translation.isEmpty());
    QCOMPARE(placeholders(translation), placeholders(source));
    QCOMPARE(translation.count(QLatin1Char('\n')), source.count(QLatin1Char('\n')));
}

void TestCatalogues::compiledCatalogues_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected"); // empty: the catalogue has no message for it

    struct Row
    {
        const char *language, *context, *source, *expected;
    };
    const Row rows[] = {
        // Simplified Chinese shows the source texts: its catalogue is empty.
        {"zh_CN", "MainWindow", "开始制作", ""},
        {"zh_TW", "MainWindow", "开始制作", "開始製作"},
        {"en_US", "MainWindow", "开始制作", "Start Making"},
        {"zh_TW", "AboutDialog", "版本: %1", "版本: %1"},
        {"en_US", "AboutDialog", "版本: %1", "Version: %1"},
        // Each language keeps its own name in every catalogue.
        {"zh_TW", "MainWindow", "简体中文", "简体中文"},
        {"zh_TW", "MainWindow", "English", "English"},
        {"en_US", "MainWindow", "简体中文", "简体中文"},
        {"en_US", "MainWindow", "繁體中文", "繁體中文"},
        {"en_US", "MainWindow", "English", "English"},
        {"zh_TW", "MainWindow", "LZMA2", "LZMA2"},
        {"en_US", "MainWindow", "64 KB", "64 KB"},
    };
    for (const Row &r : rows)
        QTest::newRow(qPrintable(
            QStringLiteral("%1 %2").arg(QLatin1String(r.language), QString::fromUtf8(r.source))))
            << QString::fromLatin1(r.language) << QString::fromLatin1(r.context)
            << QString::fromUtf8(r.source) << QString::fromUtf8(r.expected);
}

// The .qm files the build embeds, as the window loads them.
void TestCatalogues::compiledCatalogues()
{
    QFETCH(QString, language);
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, expected);

    const QString path = QStringLiteral(":/translations/lang_%1.qm").arg(language);
    QVERIFY2(QFile::exists(path), qPrintable(path));
    QTranslator translator;
    QVERIFY(translator.load(path));
    QCOMPARE(translator.language(), language);
    QCOMPARE(translator.translate(context.toLatin1().constData(), source.toUtf8().constData()),
             expected);
}

QTEST_GUILESS_MAIN(TestCatalogues)
#include "tst_catalogues.moc"
