#include "core/AttributeReader.h"
#include "tests/support/TestTree.h"

#include <QtTest>

class TestAttributeReader : public QObject
{
    Q_OBJECT

private slots:
    void presence();
};

void TestAttributeReader::presence()
{
    TestTree tree;
    QVERIFY2(tree.isValid(), tree.problem());
    const QString f = tree.file(QStringLiteral("a"));
    tree.setProvenance(f, QByteArray::fromHex("0102"));
    const auto r = provenancePresent(f);
    QVERIFY(r);
    QVERIFY(*r);
}

QTEST_GUILESS_MAIN(TestAttributeReader)
#include "tst_attributereader.moc"
