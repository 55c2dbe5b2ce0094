#pragma once
// The reader page "Ридер ОП": the optical density table fetched from the instrument,
// shown in the grid, saved to files and handed to the spreadsheet program.

#include "common/Dialogs.h"
#include "common/WorkPage.h"

#include <QByteArray>
#include <QDateTime>
#include <QWidget>

class QCheckBox;
class QFrame;
class QPushButton;
class QTableWidget;
class TLine;
class TOleContainer;
class TPageHost;
class TPlateLegend;
class TPrintService;
class TShadowPanel;
class TODTableExchange;
namespace plate {
struct TWorkbookResult;
}

class TReaderPage : public QWidget, public TWorkPage
{
    Q_OBJECT
public:
    TReaderPage(TPageHost &host, TLine &link, QWidget *parent = nullptr);

    // ---- State ------------------------------------------------------------------------
    /// The last complete table, as received, its code byte replaced by a blank; the
    /// only copy that is saved or exported. Emptied when a new table is requested.
    QByteArray odTableText;
    QByteArray odInstrumentName; ///< the name the instrument sent for the last table
    QDateTime odReadAt;          ///< when the last table arrived
    QString excelTempPath;       ///< the workbook handed to the spreadsheet program last
    TFileDialogState odlgOpenFileToExcel;

    // ---- Components -------------------------------------------------------------------
    TShadowPanel *RzPanel6 = nullptr;
    QFrame *RzPanel7 = nullptr;
    QTableWidget *StringGrid1 = nullptr;
    QPushButton *btnReadOP = nullptr, *btnSaveOP = nullptr, *btnCreateExcel = nullptr,
                *btnFileToExcel = nullptr;
    QCheckBox *chckAutoReadOP = nullptr, *chckAutoSaveOP = nullptr;
    TOleContainer *OleContainer1 = nullptr;
    // Beyond the instrument's own: the plate in colour, and the plate on paper.
    QCheckBox *chckColourScale = nullptr; ///< "Цветовая шкала"
    TPlateLegend *plateLegend = nullptr;
    QPushButton *btnPrintOP = nullptr;    ///< "Печать…"
    QPushButton *btnOpenFolder = nullptr; ///< "Открыть папку": where the automatic saves go

    // ---- Handlers ---------------------------------------------------------------------
    void btnReadOPClick();
    void btnSaveOPClick();
    void btnCreateExcelClick();
    void btnFileToExcelClick();
    void btnPrintOPClick();
    /// The value cells coloured on the legend's scale while "Цветовая шкала" is
    /// ticked; the values and every file stay as they are.
    void RefreshPlateColours();
    void ReplyODMeasured();                      // 'G', a notice the line heard
    void ReplyODTable(const QByteArray &table);  // 'D', whole
    void ReplyODFileName(const QByteArray &reply); // '2', whole

    void SetUpGrid();
    /// Arriving here asks for 115200 and sets the grid up.
    void Enter() override;
    QPushButton *ReadButton() const override { return btnReadOP; }
    QPushButton *SaveButton() const override { return btnSaveOP; }
    /// The request of the button and of automatic reception: it goes to the line.
    void RequestODTable();
    /// The line's turn has come: the last table goes and 'G' is sent.
    void BeginODTable();
    /// The table's exchange, which the line serves.
    const TODTableExchange &exchange() const { return *m_exchange; }

Q_SIGNALS:
    /// A table was accepted: its bytes as kept and when it arrived.
    void tableAccepted(const QByteArray &table, const QDateTime &readAt);
    /// The instrument named the table accepted last (code page 1251 bytes).
    void tableNamed(const QByteArray &table, const QByteArray &cp1251Name);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateLayout();
    void ConnectHandlers();
    void ConnectExchange();
    /// A length of the page's drawing for the font it shows.
    int px(int designPx) const;
    /// The columns and rows share the grid's room; the drawn sizes are the least.
    void FitGridToItsRoom(const QSize &room);
    void ClearODValues(); // the grid's value cells; captions stay
    /// Opens a workbook just made with the spreadsheet program, or reports why not.
    void HandOver(const plate::TWorkbookResult &book);

    TPageHost &m_host;
    TLine &m_link;
    TPrintService *m_printService = nullptr; ///< made at the first print
    TODTableExchange *m_exchange = nullptr; ///< the table and its name, one request at a time
};
