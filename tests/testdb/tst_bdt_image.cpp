// The byte image: header count, key texts, the file check, the record scan, the normal
// form and the order of key texts.

#include "TestImages.h"

#include "testdb/BdtFile.h"
#include "testdb/BdtImage.h"
#include "testdb/KeyOrder.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <stdexcept>

using namespace testimg;

namespace {

std::vector<TRecordStart> scan(const QByteArray &img, int n, TScanResult *result = nullptr)
{
    std::vector<TRecordStart> found;
    const TScanResult r = scanRecords(img, n, [&found](const TRecordStart &s) { found.push_back(s); });
    if (result)
        *result = r;
    return found;
}

} // namespace

class TestBdtImage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void headerCountAllowsLeadingBlanksOnly_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<int>("count"); // -1: invalid
        QTest::newRow("two blanks and 7") << QByteArray("  7") << 7;
        QTest::newRow("137") << QByteArray("137") << 137;
        QTest::newRow("7 and two blanks") << QByteArray("7  ") << -1;
        QTest::newRow("three blanks") << QByteArray("   ") << -1;
        QTest::newRow("zero byte") << QByteArray(" \0" "5", 3) << -1;
        QTest::newRow("plus sign") << QByteArray(" +1") << -1;
        QTest::newRow("minus sign") << QByteArray(" -1") << -1;
    }

    void headerCountAllowsLeadingBlanksOnly()
    {
        QFETCH(QByteArray, field);
        QFETCH(int, count);
        QCOMPARE(headerCount("TavBDTS" + field + finalPage()).value_or(-1), count);
        QVERIFY(!headerCount("TavBDTS" + field.left(2)).has_value()); // shorter than a header
    }

    void keyTextRunsUpToAndIncludingTheFirstBlank_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("three letters, 18 blanks") << QByteArray("ABC").leftJustified(21, ' ') << QByteArray("ABC ");
        QTest::newRow("21 letters, no blank") << QByteArray("abcdefghijklmnopqrstu") << QByteArray();
        QTest::newRow("two words") << QByteArray("two words").leftJustified(21, ' ') << QByteArray("two ");
        QTest::newRow("cp1251 and zero bytes")
                << QByteArray("\xd2\x00\xc3 \xc3", 5).leftJustified(21, 'q') << QByteArray("\xd2\x00\xc3 ", 4);
    }

    void keyTextRunsUpToAndIncludingTheFirstBlank()
    {
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, text);
        QCOMPARE(keyText(field.constData(), 21), text);
    }

    void fileCheckJudgesSignatureThenCountThenFinalPage_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("verdict");
        const QByteArray seven = record("G", "M", "E", 6, 1) + finalPage();
        QTest::newRow("smallest, 538 bytes") << image(finalPage()) << int(TFileCheck::Database);
        QTest::newRow("count '  7', 7 pages") << image(seven, "  7") << int(TFileCheck::Database);
        QTest::newRow("signature in lowercase") << ("tavBDTS  1" + finalPage()) << int(TFileCheck::NoSignature);
        QTest::newRow("count '7  '") << image(seven, "7  ") << int(TFileCheck::BadCount);
        QTest::newRow("count 0") << image(finalPage(), "  0") << int(TFileCheck::NoFinalPage);
        QTest::newRow("page N a record page") << image(seven, "  6") << int(TFileCheck::NoFinalPage);
        QTest::newRow("one byte short") << image(seven).chopped(1) << int(TFileCheck::NoFinalPage);
    }

    void fileCheckJudgesSignatureThenCountThenFinalPage()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, verdict);
        QCOMPARE(int(checkDatabaseFile(file)), verdict);
    }

    void scanFindsRecordStartsByMarkAndCount()
    {
        // Page 1: a record whose head says P = 0 (one page). Page 2: outside any record.
        // Pages 3-5: a record of 3. Page 6: announces 3 pages, but page 7 is a final page,
        // so page 8 is judged by its own mark and starts a record whose head says P = -4.
        const QByteArray img = image(record("G", "M", "Zero", 1, 1, 0) + page(0, 2)
                                     + record("Grp", "Mid", "Three", 3, 3) + record("G", "M", "Cut", 1, 4, 3)
                                     + finalPage(5) + record("G", "M", "After", 1, 6, -4) + finalPage(7));
        TScanResult result;
        auto found = scan(img, 9, &result);
        QCOMPARE(result.pagesVisited, 9);
        QCOMPARE(*result.finalPage, finalPage(7)); // the later final page replaces the earlier
        QCOMPARE(int(found.size()), 4);
        QCOMPARE(found[0].ref.pageCount, 1);
        QCOMPARE(found[1].ref.offset, 10 + 528 * 2); // a record of 3 starting at page 3
        QCOMPARE(found[1].ref.pageCount, 3);
        QCOMPARE(found[1].keys, (TKeyTexts{"Grp ", "Mid ", "Three "}));
        QCOMPARE(found[3].ref.offset, 10 + 528 * 7);
        QCOMPARE(found[3].ref.pageCount, 1);

        scan(img, 7, &result);
        QCOMPARE(*result.finalPage, finalPage(5));
    }

    void scanStopsAtTheEndOfAShortImage()
    {
        // Two whole pages, then half of a record page: the scan reports the N it was given
        // but finds nothing in the page that is not whole.
        const QByteArray img = image(record("A", "B", "C", 2, 1, 40) + record("A", "B", "D", 1, 2).left(300));
        TScanResult result;
        const auto found = scan(img, 500, &result);
        QCOMPARE(result.pagesVisited, 500);
        QCOMPARE(int(found.size()), 1);
        QVERIFY(!recordFits(img, found[0].ref)); // P = 40 runs past the end
        QVERIFY(scan(img, -3, &result).empty());
        QCOMPARE(result.pagesVisited, 0);
    }

    void rebuildTakesTheLastWholePageAsFinalPageWithItsMark()
    {
        const QByteArray a = record("G", "M", "A", 1, 10);
        TTSRecordRef refA{10, 1}, past{10, 3};
        // Bytes after the last whole page are not part of the final page; a record that
        // runs past the end is left out and keeps its locator.
        auto form = rebuildNormalForm(image(a + finalPage(3)) + "tail", {&past, &refA});
        QCOMPARE(form->image, QByteArray("TavBDTS  2") + a + finalPage(3));
        QCOMPARE(form->tsCount, 1);
        QCOMPARE(past.offset, 10);

        // A last page with a record mark gets the final mark and nothing else changes, so
        // it can never be read back as a record.
        form = rebuildNormalForm(image(finalPage(3) + a), {});
        QByteArray expected = a;
        qToLittleEndian<quint32>(finalMark, expected.data() + 520);
        QCOMPARE(form->finalPage, expected);
    }

    void aComparisonNamesEveryPageThatDiffersOrIsMissing()
    {
        const QByteArray three = image(page(recordMark, 1) + page(recordMark, 2) + finalPage());
        QCOMPARE(differingPages(three, three), std::vector<int>{});
        QByteArray other = three;
        other[10 + 528 + 527] = char(other.at(10 + 528 + 527) ^ 0x40); // the last byte of page 2
        other += page(0, 4);
        QCOMPARE(differingPages(three, other), (std::vector<int>{2, 4}));
        QCOMPARE(differingPages(other, three), (std::vector<int>{2, 4}));
    }

    void aBdtFileIsReadNoFurtherThanTheLargestImageSignatureFirst()
    {
        // Sparse files of 64 MB: the signature, then nothing but zero bytes.
        QTemporaryDir folder;
        const auto sparse = [&](const QString &name, const QByteArray &start) {
            QFile file(folder.filePath(name));
            file.open(QIODevice::WriteOnly);
            file.write(start);
            file.resize(64 * 1024 * 1024);
            return file.fileName();
        };
        QCOMPARE(readBdtFile(sparse("big.bdt", "TavBDTS999")).size(), 10 + 528 * 999);
        QCOMPARE(readBdtFile(sparse("other.zip", "PK\x03\x04TavBDTS")), QByteArray("PK\x03\x04Tav"));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, readBdtFile(folder.path()));
    }

    void keyTextsSortDigitsLatinCyrillicLowercaseFirst()
    {
        const QStringList expected{"1 ", "9 ", "a ", "A ", "ab ", "Ab ", "abc ", "b ", "B ", "z ",
                                   "а ", "А ", "аб ", "б ", "Б ", "я ", "Я "};
        std::vector<QByteArray> keys;
        for (const QString &s : expected)
            keys.push_back(encodeKeyText(s));
        const std::vector<QByteArray> ordered = keys;
        std::shuffle(keys.begin(), keys.end(), *QRandomGenerator::global());
        std::sort(keys.begin(), keys.end(),
                  [](const QByteArray &x, const QByteArray &y) { return compareKeyTexts(x, y) < 0; });
        QCOMPARE(keys, ordered);

        QVERIFY(compareKeyTexts(QByteArray("x\x01 "), QByteArray("x\x02 ")) != 0); // only equal bytes are equal
    }
};

QTEST_GUILESS_MAIN(TestBdtImage)
#include "tst_bdt_image.moc"
