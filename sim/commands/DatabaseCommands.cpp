#include "sim/commands/DatabaseCommands.h"

#include "sim/VirtualInstrument.h"
#include "testdb/BdtImage.h"
#include "testdb/SampleDatabases.h"

TInstrumentDatabase::TInstrumentDatabase(TVirtualInstrument &instrument)
    : QObject(&instrument), m_instrument(instrument), m_image(sampleDeviceImage())
{
    setObjectName(QStringLiteral("database"));
}

void TInstrumentDatabase::setImage(const QByteArray &image)
{
    m_image = image;
    m_nextPage = 0;
    Q_EMIT changed();
}

int TInstrumentDatabase::pageCount() const
{
    return int(wholePageCount(m_image));
}

int TInstrumentDatabase::testSystemCount() const
{
    int count = 0;
    scanRecords(m_image, pageCount(), [&](const TRecordStart &start) {
        if (recordFits(m_image, start.ref))
            ++count;
    });
    return count;
}

void TInstrumentDatabase::answerCount()
{
    m_nextPage = 0;
    // 'R', a byte the PC passes over, then the count as the header holds it.
    m_instrument.send("R " + m_image.mid(bdt::signatureSize, bdt::headerSize - bdt::signatureSize));
}

void TInstrumentDatabase::answerPage()
{
    if (m_nextPage >= pageCount())
        return;
    m_instrument.send('r' + m_image.mid(bdt::headerSize + qsizetype(m_nextPage) * bdt::pageSize, bdt::pageSize));
    ++m_nextPage;
}

void TInstrumentDatabase::beginWriting(int pageCount)
{
    m_announced = pageCount;
    m_incoming.clear();
    if (m_announced == 0)
        takePage(QByteArray());
    else
        m_instrument.send(QByteArrayLiteral("m"));
}

void TInstrumentDatabase::takePage(const QByteArray &page)
{
    if (m_announced < 0)
        return; // no 'M' came first: the page is passed over
    m_incoming += page;
    if (m_incoming.size() / bdt::pageSize >= m_announced) {
        const QByteArray count = QByteArray::number(m_announced).rightJustified(3, ' ');
        m_announced = -1;
        if (m_spoiledPage > 0 && m_spoiledPage * bdt::pageSize <= m_incoming.size()) {
            const qsizetype at = qsizetype(m_spoiledPage - 1) * bdt::pageSize;
            m_incoming[at] = char(m_incoming.at(at) ^ 0x01);
        }
        m_spoiledPage = 0;
        setImage(QByteArray(bdt::signature, bdt::signatureSize) + count + std::exchange(m_incoming, QByteArray()));
    }
    m_instrument.send(QByteArrayLiteral("m"));
}

void installDatabaseCommands(TVirtualInstrument &instrument)
{
    // The database is a child of the instrument and so outlives its commands.
    TInstrumentDatabase *const db = new TInstrumentDatabase(instrument);
    // 'R': the page count of the database.
    instrument.addCommand({'R', 0, [db](TVirtualInstrument &, const QByteArray &) { db->answerCount(); }});
    // 'r': the next page.
    instrument.addCommand({'r', 0, [db](TVirtualInstrument &, const QByteArray &) { db->answerPage(); }});
    // 'M' + page count, high byte first: a new database follows.
    instrument.addCommand({'M', 2, [db](TVirtualInstrument &, const QByteArray &count) {
                               db->beginWriting(static_cast<unsigned char>(count.at(0)) * 256
                                                + static_cast<unsigned char>(count.at(1)));
                           }});
    // 'm' + 528 bytes: one page of the new database.
    instrument.addCommand({'m', bdt::pageSize, [db](TVirtualInstrument &, const QByteArray &page) {
                               db->takePage(page);
                           }});
}

TInstrumentDatabase *databaseOf(const TVirtualInstrument &instrument)
{
    return instrument.findChild<TInstrumentDatabase *>(QStringLiteral("database"), Qt::FindDirectChildrenOnly);
}
