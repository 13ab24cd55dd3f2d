#include "tools/helpdoc/HelpDocument.h"

#include <QtTest>

#include <QFile>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Run
{
    int exitCode = -1;
    QString errors;
};

Run runTool(const QStringList& arguments)
{
    QProcess tool;
    tool.setProgram(qEnvironmentVariable("QUELLMARK_BINARY_DIR") + QStringLiteral("/bin/quellmark-helpdoc"));
    tool.setArguments(arguments);
    tool.start();
    if (!tool.waitForFinished(120000) || tool.exitStatus() != QProcess::NormalExit)
        return {};
    return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardError())};
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

enum class Hue
{
    Green,
    Orange,
    Red
};

// Counts clearly coloured pixels of one hue; text, rules and grey shading have none.
int colouredPixels(const QImage& image, Hue hue)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.hsvSaturation() < 150 || colour.value() < 120)
                continue;
            const int h = colour.hsvHue();
            if ((hue == Hue::Green && h >= 90 && h <= 150) || (hue == Hue::Orange && h >= 20 && h <= 45) ||
                (hue == Hue::Red && (h <= 10 || h >= 350)))
                ++count;
        }
    }
    return count;
}

QString pageText(QPdfDocument& pdf, int page)
{
    return pdf.getAllText(page).text().simplified();
}

} // namespace

class TestHelpDocument : public QObject
{
    Q_OBJECT

private slots:
    void emojiLength_data();
    void emojiLength();
    void printsMarkdownWithColourEmoji();
    void printsPlainTextWithoutColour();
    void longTextLosesNoLineAtPageBreaks();
    void failuresLeaveTheOutputAlone_data();
    void failuresLeaveTheOutputAlone();
};

void TestHelpDocument::emojiLength_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("length");

    QTest::newRow("check mark") << QStringLiteral("✅ x") << 0 << 1;
    QTest::newRow("question mark") << QStringLiteral("❓") << 0 << 1;
    QTest::newRow("circle with selector") << QStringLiteral("⭕️") << 0 << 2;
    QTest::newRow("diamond, outside the BMP") << QStringLiteral("🔸 Safari") << 0 << 2;
    QTest::newRow("diamond after text") << QStringLiteral("ab🔸") << 2 << 2;
    QTest::newRow("skin tone") << QStringLiteral("👍🏽!") << 0 << 4;
    QTest::newRow("joined sequence") << QStringLiteral("👩‍💻") << 0 << 5;
    QTest::newRow("flag") << QStringLiteral("🇩🇪🇫") << 0 << 4;
    QTest::newRow("text symbol with selector") << QStringLiteral("©️") << 0 << 2;
    QTest::newRow("text symbol alone") << QStringLiteral("© 2024") << 0 << 0;
    QTest::newRow("heavy check mark is text") << QStringLiteral("✔") << 0 << 0;
    QTest::newRow("letter") << QStringLiteral("a✅") << 0 << 0;
    QTest::newRow("arrow, a plain character") << QStringLiteral("→") << 0 << 0;
    QTest::newRow("past the end") << QStringLiteral("✅") << 1 << 0;
    QTest::newRow("lone surrogate") << QString(QChar(0xd83d)) << 0 << 0;
}

void TestHelpDocument::emojiLength()
{
    QFETCH(QString, text);
    QFETCH(int, at);
    QFETCH(int, length);
    QCOMPARE(HelpDocument::emojiLength(text, at), qsizetype(length));
}

void TestHelpDocument::printsMarkdownWithColourEmoji()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("guide.md"));
    const QString output = dir.filePath(QStringLiteral("guide.pdf"));
    QVERIFY(writeFile(source, "# Marks\n\n"
                              "| Mark | Meaning |\n|---|---|\n| \xe2\x9c\x85 | registered |\n"
                              "| \xf0\x9f\x94\xb8 | quarantined |\n| \xe2\xad\x95\xef\xb8\x8f | absent |\n\n"
                              "Inline `\xe2\x9c\x85 code` and\n\n```\nFilename,Provenance ID\n```\n"));
    const Run run = runTool({source, output});
    QCOMPARE(run.exitCode, 0);

    QPdfDocument pdf;
    QCOMPARE(pdf.load(output), QPdfDocument::Error::None);
    QCOMPARE(pdf.pageCount(), 1);
    const QSizeF page = pdf.pagePointSize(0);
    QVERIFY2(qAbs(page.width() - 595.3) < 1 && qAbs(page.height() - 841.9) < 1, "A4 portrait");
    const QString text = pageText(pdf, 0);
    for (const char* word :
         {"Marks", "registered", "quarantined", "absent", "code", "Filename,Provenance ID", "1 / 1"})
        QVERIFY2(text.contains(QLatin1String(word)), word);
    QVERIFY2(!text.contains(QStringLiteral("✅")), "emoji are pictures, not text the PDF fonts cannot draw");

    const QImage image = pdf.render(0, QSize(595 * 2, 842 * 2));
    QVERIFY(colouredPixels(image, Hue::Green) > 50);
    QVERIFY(colouredPixels(image, Hue::Orange) > 10);
    QVERIFY(colouredPixels(image, Hue::Red) > 20);
}

void TestHelpDocument::printsPlainTextWithoutColour()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("plain.md"));
    const QString output = dir.filePath(QStringLiteral("plain.pdf"));
    QVERIFY(writeFile(source, "# Plain\n\n| a | b |\n|---|---|\n| c | d |\n\n```\ncode\n```\n"));
    QCOMPARE(runTool({source, output}).exitCode, 0);
    QPdfDocument pdf;
    QCOMPARE(pdf.load(output), QPdfDocument::Error::None);
    const QImage image = pdf.render(0, QSize(595 * 2, 842 * 2));
    QCOMPARE(colouredPixels(image, Hue::Green), 0);
    QCOMPARE(colouredPixels(image, Hue::Orange), 0);
    QCOMPARE(colouredPixels(image, Hue::Red), 0);
}

void TestHelpDocument::longTextLosesNoLineAtPageBreaks()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("long.md"));
    const QString output = dir.filePath(QStringLiteral("long.pdf"));
    constexpr int kLines = 240;
    QByteArray markdown = "# Long\n\n";
    for (int line = 1; line <= kLines; ++line)
        markdown += "Line " + QByteArray::number(line) + " ends here.\n\n";
    QVERIFY(writeFile(source, markdown));
    QCOMPARE(runTool({source, output}).exitCode, 0);

    QPdfDocument pdf;
    QCOMPARE(pdf.load(output), QPdfDocument::Error::None);
    const int pages = pdf.pageCount();
    QVERIFY(pages >= 3);
    QString all;
    for (int page = 0; page < pages; ++page) {
        const QString text = pageText(pdf, page);
        const QString footer = QStringLiteral("%1 / %2").arg(page + 1).arg(pages);
        QVERIFY2(text.endsWith(footer), qPrintable(footer));
        all += text + QLatin1Char(' ');
    }
    for (int line = 1; line <= kLines; ++line) {
        const QString needle = QStringLiteral("Line %1 ends here.").arg(line);
        QVERIFY2(all.count(needle) == 1, qPrintable(needle));
    }
    QVERIFY(pageText(pdf, 0).contains(QStringLiteral("Line 1 ends here.")));
    QVERIFY(pageText(pdf, pages - 1).contains(QStringLiteral("Line %1 ends here.").arg(kLines)));
}

void TestHelpDocument::failuresLeaveTheOutputAlone_data()
{
    QTest::addColumn<QStringList>("arguments"); // "DIR" stands for the temporary folder
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing guide") << QStringList{QStringLiteral("DIR/none.md"),
                                                  QStringLiteral("DIR/out.pdf")}
                                   << 1 << QStringLiteral("cannot read");
    QTest::newRow("guide is a folder") << QStringList{QStringLiteral("DIR"), QStringLiteral("DIR/out.pdf")}
                                       << 1 << QStringLiteral("cannot read");
    QTest::newRow("output folder missing")
        << QStringList{QStringLiteral("DIR/guide.md"), QStringLiteral("DIR/no/such/out.pdf")} << 1
        << QStringLiteral("cannot write");
    QTest::newRow("no arguments") << QStringList() << 2 << QStringLiteral("Usage");
    QTest::newRow("one argument") << QStringList{QStringLiteral("DIR/guide.md")} << 2
                                  << QStringLiteral("Usage");
}

void TestHelpDocument::failuresLeaveTheOutputAlone()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeFile(dir.filePath(QStringLiteral("guide.md")), "# Guide\n"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("out.pdf")), "earlier"));
    arguments.replaceInStrings(QStringLiteral("DIR"), dir.path());

    const Run run = runTool(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
    QFile earlier(dir.filePath(QStringLiteral("out.pdf")));
    QVERIFY(earlier.open(QIODevice::ReadOnly));
    QCOMPARE(earlier.readAll(), QByteArray("earlier"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden).size(), 2);
}

QTEST_MAIN(TestHelpDocument)
#include "tst_helpdocument.moc"
