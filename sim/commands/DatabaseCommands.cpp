#include "sim/commands/DatabaseCommands.h"

#include "sim/VirtualInstrument.h"
#include "testdb/BdtImage.h"
#include "testdb/SampleDatabases.h"

#include <memory>

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

namespace {

/// 'R': the page count of the database.
class TCountCommand final : public TInstrumentCommand
{
public:
    explicit TCountCommand(TInstrumentDatabase &db) : m_db(db) {}
    char code() const override { return 'R'; }
    void execute(TVirtualInstrument &, const QByteArray &) override { m_db.answerCount(); }

private:
    TInstrumentDatabase &m_db;
};

/// 'r': the next page.
class TPageCommand final : public TInstrumentCommand
{
public:
    explicit TPageCommand(TInstrumentDatabase &db) : m_db(db) {}
    char code() const override { return 'r'; }
    void execute(TVirtualInstrument &, const QByteArray &) override { m_db.answerPage(); }

private:
    TInstrumentDatabase &m_db;
};

/// 'M' + page count, high byte first: a new database follows.
class TAnnounceCommand final : public TInstrumentCommand
{
public:
    explicit TAnnounceCommand(TInstrumentDatabase &db) : m_db(db) {}
    char code() const override { return 'M'; }
    int parameterLength() const override { return 2; }
    void execute(TVirtualInstrument &, const QByteArray &p) override
    {
        m_db.beginWriting(static_cast<unsigned char>(p.at(0)) * 256 + static_cast<unsigned char>(p.at(1)));
    }

private:
    TInstrumentDatabase &m_db;
};

/// 'm' + 528 bytes: one page of the new database.
class TWritePageCommand final : public TInstrumentCommand
{
public:
    explicit TWritePageCommand(TInstrumentDatabase &db) : m_db(db) {}
    char code() const override { return 'm'; }
    int parameterLength() const override { return bdt::pageSize; }
    void execute(TVirtualInstrument &, const QByteArray &page) override { m_db.takePage(page); }

private:
    TInstrumentDatabase &m_db;
};

} // namespace

void installDatabaseCommands(TVirtualInstrument &instrument)
{
    auto *db = new TInstrumentDatabase(instrument);
    instrument.addCommand(std::make_unique<TCountCommand>(*db));
    instrument.addCommand(std::make_unique<TPageCommand>(*db));
    instrument.addCommand(std::make_unique<TAnnounceCommand>(*db));
    instrument.addCommand(std::make_unique<TWritePageCommand>(*db));
}

TInstrumentDatabase *databaseOf(const TVirtualInstrument &instrument)
{
    return instrument.findChild<TInstrumentDatabase *>(QStringLiteral("database"), Qt::FindDirectChildrenOnly);
}
