#pragma once
// Printing for the pages: the print dialog or the preview, then the protocol or the
// plate on the chosen printer. The printer and its settings are kept between uses.

#include "measure/PlateColours.h"

#include <QObject>

#include <functional>
#include <memory>

class QPrinter;
class QTextDocument;
class QWidget;
class TDialogs;

class TPrintService final : public QObject
{
    Q_OBJECT
public:
    /// `window` is the dialogs' parent (and this object's); `dialogs` shows a failure.
    TPrintService(QWidget *window, TDialogs *dialogs);
    ~TPrintService() override;

    /// The print dialog, then the protocol (code page 1251 bytes as kept); false when
    /// the user cancels or the printer fails (then the error box says so).
    bool printProtocol(const QByteArray &cp1251Protocol);
    void previewProtocol(const QByteArray &cp1251Protocol);
    /// The same for the plate; coloured on `colours` when given.
    bool printPlate(const plate::TValues &values, const QString &title, const std::optional<plate::TRange> &colours);
    void previewPlate(const plate::TValues &values, const QString &title, const std::optional<plate::TRange> &colours);
    /// Any document a page builds, through the preview as the others.
    using TBuild = std::function<std::unique_ptr<QTextDocument>()>;
    void previewDocument(const TBuild &build, const QString &title) { preview(build, title); }
    /// The name the next job goes under: a PDF file is proposed under it
    /// ("2011_12_25_0001.pdf") instead of "print.pdf", in the folder a PDF was printed to
    /// last, else in `folder` (the user's documents), never in the home folder.
    void setDocumentName(const QString &name, const QString &folder);
    /// The PDF file the dialogs propose; empty while they propose a printer.
    QString proposedPdf() const;

private:
    bool print(const TBuild &build, const QString &title);
    void preview(const TBuild &build, const QString &title);
    bool printOn(QPrinter &printer, const TBuild &build, const QString &title);
    QPrinter &printer();

    QWidget *m_window;
    TDialogs *m_dialogs;
    std::unique_ptr<QPrinter> m_printer; ///< made at the first use: asking for printers may take a while
};
