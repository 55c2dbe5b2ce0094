// The byte image: header count, key texts, the file check, the record scan, the normal
// form and the order of key texts.

#include "TestImages.h"

#include "testdb/BdtImage.h"
#include "testdb/KeyOrder.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using namespace testimg;

class TestBdtImage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void headerCountAllowsLeadingBlanksOnly_data();
    void headerCountAllowsLeadingBlanksOnly();
    void countIsWrittenRightAlignedInThreeColumns();
    void keyTextRunsUpToAndIncludingTheFirstBlank_data();
    void keyTextRunsUpToAndIncludingTheFirstBlank();
    void fileCheckJudgesSignatureThenCountThenFinalPage_data();
    void fileCheckJudgesSignatureThenCountThenFinalPage();
    void scanReportsRecordStartsWithTheirLocators();
    void finalPageInTheMiddleEndsTheRecordItInterrupts();
    void headWithPZeroOrNegativeCountsAsOnePage();
    void scanStopsAtTheEndOfAShortImage();
    void rebuildPutsRecordsInTheGivenOrderAndMovesTheirLocators();
    void rebuildDropsARecordRunningPastTheEnd();
    void rebuildTakesTheLastWholePageAsFinalPageWithItsMark();
    void rebuildRefusesAnImageOfMoreThan999Pages();
    void keyTextsSortDigitsLatinCyrillicLowercaseFirst();
};

void TestBdtImage::headerCountAllowsLeadingBlanksOnly_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("count"); // -1: invalid
    QTest::newRow("two blanks and 7") << QByteArray("  7") << 7;
    QTest::newRow("blank and 42") << QByteArray(" 42") << 42;
    QTest::newRow("137") << QByteArray("137") << 137;
    QTest::newRow("7 and two blanks") << QByteArray("7  ") << -1;
    QTest::newRow("blank 7 blank") << QByteArray(" 7 ") << -1;
    QTest::newRow("three blanks") << QByteArray("   ") << -1;
    QTest::newRow("letter") << QByteArray(" 1x") << -1;
    QTest::newRow("zero byte") << QByteArray(" \0" "5", 3) << -1;
}

void TestBdtImage::headerCountAllowsLeadingBlanksOnly()
{
    QFETCH(QByteArray, field);
    QFETCH(int, count);
    const std::optional<int> read = headerCount("TavBDTS" + field + finalPage());
    QCOMPARE(read.value_or(-1), count);
    QVERIFY(!headerCount("TavBDTS" + field.left(2)).has_value()); // image shorter than 10
}

void TestBdtImage::countIsWrittenRightAlignedInThreeColumns()
{
    QCOMPARE(countField(1), QByteArray("  1"));
    QCOMPARE(countField(42), QByteArray(" 42"));
    QCOMPARE(countField(999), QByteArray("999"));
    QCOMPARE(headerBytes(14), QByteArray("TavBDTS 14"));
    QVERIFY(pageCountFits(999));
    QVERIFY(!pageCountFits(1000));
    QVERIFY(!pageCountFits(0));
}

void TestBdtImage::keyTextRunsUpToAndIncludingTheFirstBlank_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("three letters, 18 blanks") << QByteArray("ABC").leftJustified(21, ' ') << QByteArray("ABC ");
    QTest::newRow("21 letters, no blank") << QByteArray("abcdefghijklmnopqrstu") << QByteArray();
    QTest::newRow("two words") << QByteArray("two words").leftJustified(21, ' ') << QByteArray("two ");
    QTest::newRow("leading blank") << QByteArray(" x").leftJustified(21, ' ') << QByteArray(" ");
    QTest::newRow("cp1251 and zero bytes")
            << QByteArray("\xd2\x00\xc3 \xc3", 5).leftJustified(21, 'q') << QByteArray("\xd2\x00\xc3 ", 4);
}

void TestBdtImage::keyTextRunsUpToAndIncludingTheFirstBlank()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, text);
    QCOMPARE(keyText(field.constData(), 21), text);
}

void TestBdtImage::fileCheckJudgesSignatureThenCountThenFinalPage_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("verdict");
    const QByteArray seven = record("G", "M", "E", 6, 1) + finalPage();
    QTest::newRow("smallest, 538 bytes") << image(finalPage()) << int(TFileCheck::Database);
    QTest::newRow("count '  7', 7 pages") << image(seven, "  7") << int(TFileCheck::Database);
    QTest::newRow("signature in lowercase") << ("tavBDTS  1" + finalPage()) << int(TFileCheck::NoSignature);
    QTest::newRow("empty file") << QByteArray() << int(TFileCheck::NoSignature);
    QTest::newRow("count '7  '") << image(seven, "7  ") << int(TFileCheck::BadCount);
    QTest::newRow("signature only") << QByteArray("TavBDTS") << int(TFileCheck::BadCount);
    QTest::newRow("count 0") << image(finalPage(), "  0") << int(TFileCheck::NoFinalPage);
    QTest::newRow("count 6, page 6 a record page") << image(seven, "  6") << int(TFileCheck::NoFinalPage);
    QTest::newRow("one byte short") << image(seven).chopped(1) << int(TFileCheck::NoFinalPage);
    QTest::newRow("count larger than the file") << image(seven, "999") << int(TFileCheck::NoFinalPage);
}

void TestBdtImage::fileCheckJudgesSignatureThenCountThenFinalPage()
{
    QFETCH(QByteArray, file);
    QFETCH(int, verdict);
    QCOMPARE(int(checkDatabaseFile(file)), verdict);
}

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

void TestBdtImage::scanReportsRecordStartsWithTheirLocators()
{
    const QByteArray img = image(record("Grp", "Mid", "One", 1, 1) + page(0, 2)
                                 + record("Grp", "Mid", "Three", 3, 3) + finalPage(4));
    TScanResult result;
    const auto found = scan(img, 6, &result);
    QCOMPARE(result.pagesVisited, 6);
    QCOMPARE(result.finalPage.value_or(QByteArray()), finalPage(4));
    QCOMPARE(int(found.size()), 2);
    QCOMPARE(found[0].ref.offset, 10);
    QCOMPARE(found[0].ref.pageCount, 1);
    // A record of 3 pages starting at page k = 3: offset 10 + 528 * 2.
    QCOMPARE(found[1].ref.offset, 10 + 528 * 2);
    QCOMPARE(found[1].ref.pageCount, 3);
    QCOMPARE(found[1].keys[0], QByteArray("Grp "));
    QCOMPARE(found[1].keys[1], QByteArray("Mid "));
    QCOMPARE(found[1].keys[2], QByteArray("Three "));
}

void TestBdtImage::finalPageInTheMiddleEndsTheRecordItInterrupts()
{
    // A record announces 3 pages, but its second page is a final page: the third page
    // is judged by its own mark and starts a record.
    QByteArray pages = record("A", "B", "C", 1, 1, 3) + finalPage(5) + record("A", "B", "D", 1, 2);
    pages += finalPage(6);
    TScanResult result;
    const auto found = scan(image(pages), 4, &result);
    QCOMPARE(int(found.size()), 2);
    QCOMPARE(found[1].ref.offset, 10 + 528 * 2);
    QCOMPARE(*result.finalPage, finalPage(6)); // the later final page replaces the earlier

    scan(image(pages), 3, &result);
    QCOMPARE(*result.finalPage, finalPage(5));
}

void TestBdtImage::headWithPZeroOrNegativeCountsAsOnePage()
{
    for (const qint32 p : {0, -1, qint32(0x80000000)}) {
        const QByteArray img = image(record("A", "B", "C", 1, 1, p) + record("A", "B", "D", 1, 2)
                                     + finalPage());
        const auto found = scan(img, 3);
        QCOMPARE(int(found.size()), 2);
        QCOMPARE(found[0].ref.pageCount, 1);
        QCOMPARE(found[1].keys[2], QByteArray("D "));
    }
}

void TestBdtImage::scanStopsAtTheEndOfAShortImage()
{
    // Two whole pages, then half of a record page: the scan reports the N it was given
    // but finds nothing in the page that is not whole.
    const QByteArray img = image(record("A", "B", "C", 2, 1, 40) + record("A", "B", "D", 1, 2).left(300));
    TScanResult result;
    const auto found = scan(img, 500, &result);
    QCOMPARE(result.pagesVisited, 500);
    QCOMPARE(int(found.size()), 1);
    QVERIFY(!recordFits(img, found[0].ref)); // P = 40 runs past the end
    QCOMPARE(int(scan(img, -3, &result).size()), 0);
    QCOMPARE(result.pagesVisited, 0);
}

void TestBdtImage::rebuildPutsRecordsInTheGivenOrderAndMovesTheirLocators()
{
    const QByteArray c = record("G", "M", "C", 2, 30);
    const QByteArray a = record("G", "M", "A", 1, 10);
    const QByteArray b = record("G", "M", "B", 3, 20);
    const QByteArray img = image(c + page(7, 1) + a + b + finalPage(8));
    TTSRecordRef refC{10, 2}, refA{10 + 528 * 3, 1}, refB{10 + 528 * 4, 3};

    const std::optional<TNormalForm> form = rebuildNormalForm(img, {&refA, &refB, &refC});
    QVERIFY(form);
    QCOMPARE(form->pageCount, 7);
    QCOMPARE(form->tsCount, 3);
    QCOMPARE(form->image, QByteArray("TavBDTS  7") + a + b + c + finalPage(8));
    QCOMPARE(refA.offset, 10);
    QCOMPARE(refB.offset, 10 + 528);
    QCOMPARE(refC.offset, 10 + 528 * 4);
    QCOMPARE(refB.pageCount, 3);
}

void TestBdtImage::rebuildDropsARecordRunningPastTheEnd()
{
    const QByteArray a = record("G", "M", "A", 1, 10);
    const QByteArray img = image(a + finalPage());
    TTSRecordRef refA{10, 1}, past{10, 3}, beyond{10 + 528 * 5, 1};
    const auto form = rebuildNormalForm(img, {&past, &refA, &beyond});
    QVERIFY(form);
    QCOMPARE(form->image, QByteArray("TavBDTS  2") + a + finalPage());
    QCOMPARE(form->tsCount, 1);
    QCOMPARE(past.offset, 10); // left as it was
    QCOMPARE(beyond.offset, 10 + 528 * 5);

    // An image of the header alone still gets a final page.
    const auto bare = rebuildNormalForm("TavBDTS  0", {});
    QVERIFY(bare);
    QCOMPARE(bare->image.size(), 538);
    QCOMPARE(qFromLittleEndian<quint32>(bare->image.constData() + 10 + 520), finalMark);
}

void TestBdtImage::rebuildTakesTheLastWholePageAsFinalPageWithItsMark()
{
    const QByteArray a = record("G", "M", "A", 1, 10);
    // Trailing bytes after the last whole page are not part of the final page.
    auto form = rebuildNormalForm(image(a + finalPage(3)) + "tail", {});
    QCOMPARE(form->finalPage, finalPage(3));
    QCOMPARE(form->image, QByteArray("TavBDTS  1") + finalPage(3));

    // A last page with a record mark gets the final mark and nothing else changes, so
    // it can never be read back as a record.
    form = rebuildNormalForm(image(finalPage(3) + a), {});
    QByteArray expected = a;
    qToLittleEndian<quint32>(finalMark, expected.data() + 520);
    QCOMPARE(form->finalPage, expected);
}

void TestBdtImage::rebuildRefusesAnImageOfMoreThan999Pages()
{
    const QByteArray big = record("G", "M", "Big", 998, 1);
    const QByteArray one = record("G", "M", "One", 1, 2);
    const QByteArray img = image(big + one + finalPage());
    TTSRecordRef bigRef{10, 998}, oneRef{10 + 528 * 998, 1};

    const auto fits = rebuildNormalForm(img, {&bigRef});
    QVERIFY(fits);
    QCOMPARE(fits->image.left(10), QByteArray("TavBDTS999"));
    QCOMPARE(fits->image.size(), 10 + 528 * 999);

    bigRef.offset = 10;
    QVERIFY(!rebuildNormalForm(img, {&oneRef, &bigRef}));
    QCOMPARE(oneRef.offset, 10 + 528 * 998); // nothing moved
}

void TestBdtImage::keyTextsSortDigitsLatinCyrillicLowercaseFirst()
{
    const QStringList expected{
        QStringLiteral("1 "), QStringLiteral("9 "), QStringLiteral("a "), QStringLiteral("A "),
        QStringLiteral("ab "), QStringLiteral("Ab "), QStringLiteral("abc "), QStringLiteral("b "),
        QStringLiteral("B "), QStringLiteral("z "), QStringLiteral("а "), QStringLiteral("А "),
        QStringLiteral("аб "), QStringLiteral("б "), QStringLiteral("Б "), QStringLiteral("я "),
        QStringLiteral("Я "),
    };
    std::vector<QByteArray> keys;
    for (const QString &s : expected)
        keys.push_back(encodeKeyText(s));
    const std::vector<QByteArray> ordered = keys;
    std::shuffle(keys.begin(), keys.end(), *QRandomGenerator::global());
    std::sort(keys.begin(), keys.end(),
              [](const QByteArray &x, const QByteArray &y) { return compareKeyTexts(x, y) < 0; });
    QCOMPARE(keys, ordered);

    // Only equal bytes compare equal.
    QCOMPARE(compareKeyTexts(QByteArray("\xc0 "), QByteArray("\xc0 ")), 0);
    QVERIFY(compareKeyTexts(QByteArray("x\x01 "), QByteArray("x\x02 ")) != 0);
    QCOMPARE(decodeKeyText(QByteArray("\xd2\xd1 ")), QStringLiteral("ТС "));
}

QTEST_GUILESS_MAIN(TestBdtImage)
#include "tst_bdt_image.moc"
