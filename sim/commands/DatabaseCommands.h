#pragma once
// The instrument's database of test systems and the commands that hand it over page by
// page ('R', then 'r' for each page) and take a new one ('M' with the page count, then
// 'm' with each page). It starts with the sample database of the demonstration.

#include <QByteArray>
#include <QObject>

class TVirtualInstrument;

/// The database the instrument holds; a child of the instrument.
class TInstrumentDatabase : public QObject
{
    Q_OBJECT
public:
    explicit TInstrumentDatabase(TVirtualInstrument &instrument);

    /// Header and pages, as a .bdt file holds them.
    QByteArray image() const { return m_image; }
    void setImage(const QByteArray &image);
    int pageCount() const;
    int testSystemCount() const;

    /// 'R': the count reply; the next 'r' sends page 1.
    void answerCount();
    /// 'r': the next page, nothing after the last one.
    void answerPage();
    /// 'M': that many pages follow.
    void beginWriting(int pageCount);
    /// 'm': one page; after the last announced page the pages become the database.
    void takePage(const QByteArray &page);
    /// The next writing keeps page `page` (from 1) with one byte changed, as a failing
    /// memory cell would, and still answers 'm' to it; 0 for none.
    void spoilPageOfNextWriting(int page) { m_spoiledPage = page; }

Q_SIGNALS:
    void changed();

private:
    TVirtualInstrument &m_instrument;
    QByteArray m_image;
    int m_nextPage = 0;     ///< 0-based page the next 'r' sends
    int m_announced = -1;   ///< pages announced by 'M'; -1 when no writing runs
    QByteArray m_incoming;  ///< pages of the writing so far
    int m_spoiledPage = 0;  ///< page (from 1) the next writing keeps wrongly; 0 for none
};

void installDatabaseCommands(TVirtualInstrument &instrument);
TInstrumentDatabase *databaseOf(const TVirtualInstrument &instrument);
