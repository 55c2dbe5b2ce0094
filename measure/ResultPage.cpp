// The results page: the protocol of results, fetched by its announced length, shown
// in the memo, kept in the working file and saved under a chosen or automatic name.

#include "app/MainLoritS_TreeTS.h"
#include "link/TMSComm.h"
#include "measure/MeasureData.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <stdexcept>

const QString TFormMainLoritS_D7::protocolWorkFile = QStringLiteral("MSTempProtokol.txt");

namespace {
/// Five announced digits as the length: leading blanks and a sign are allowed, as
/// the instrument's firmware prints numbers; anything else is an error for the box.
qint32 announcedLength(const QByteArray &digits)
{
    const auto fail = [&digits] {
        return std::runtime_error(
            QStringLiteral("\"%1\" не является целым числом.").arg(fromCp1251(digits)).toStdString());
    };
    qsizetype at = 0;
    while (at < digits.size() && digits.at(at) == ' ')
        ++at;
    const bool negative = at < digits.size() && digits.at(at) == '-';
    if (at < digits.size() && (digits.at(at) == '-' || digits.at(at) == '+'))
        ++at;
    if (at == digits.size())
        throw fail();
    qint32 value = 0;
    for (; at < digits.size(); ++at) {
        const char digit = digits.at(at);
        if (digit < '0' || digit > '9')
            throw fail();
        value = value * 10 + (digit - '0');
    }
    return negative ? -value : value;
}

QString memoText(const QByteArray &bytes)
{
    // Lines break at CR, LF or CR LF.
    QString text = fromCp1251(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}
} // namespace

void TFormMainLoritS_D7::btnReadProtokolClick()
{
    if (!MSComm1->PortOpen()) {
        ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    if (LineBusy()) {
        ShowStatus(LineBusyText());
        return;
    }
    replyBuffer.clear();
    protocolFileName.clear();
    SendToDevice(QByteArrayLiteral("g"));
    ++protocolLengthsAwaited;
}

void TFormMainLoritS_D7::RequestProtocol()
{
    protocolLength = 0;
    SendToDevice(QByteArrayLiteral("g"));
    ++protocolLengthsAwaited;
}

void TFormMainLoritS_D7::ReplyResultsReady()
{
    MeasurementNotice(QStringLiteral("Результаты измерений готовы"), chckAutoReadRes, m_autoProtocolDeferred,
                      &TFormMainLoritS_D7::RequestProtocol);
}

void TFormMainLoritS_D7::ReplyProtocolLength()
{
    if (protocolLengthsAwaited < 1) {
        replyBuffer.clear();
        return;
    }
    if (replyBuffer.size() < 6)
        return;
    --protocolLengthsAwaited;
    // Consumed before it is read: a length that is no number reaches the error box
    // and does not hold up the replies behind it.
    const QByteArray digits = replyBuffer.mid(1, 5);
    replyBuffer.remove(0, 6);
    protocolLength = announcedLength(digits);
    if (protocolLength < 1)
        return;
    protocolFileName.clear();
    SendToDevice(QByteArrayLiteral("d"));
}

void TFormMainLoritS_D7::ReplyProtocolText()
{
    // The text comes in pieces; only the announced length tells it is complete.
    if (protocolLength < 1) {
        replyBuffer.clear(); // no protocol is awaited
        return;
    }
    if (replyBuffer.size() < protocolLength)
        return;
    // The code byte and the last byte are not part of the text. The reply is consumed
    // before any file is written, so that a failed write does not swallow the
    // replies that follow.
    // The protocol is kept in memory and shown from there: a working file that cannot
    // be written (a full disk, a read-only folder) must not lose or falsify it.
    protocolBuffer = replyBuffer.mid(1, qMax(0, protocolLength - 2));
    replyBuffer.remove(0, protocolLength);
    protocolLength = 0;
    Memo1->setPlainText(memoText(protocolBuffer));
    btnSaveProtokol->setEnabled(true);
    // A working file that fails has its message; the automatic save does not depend
    // on it, since it works from the protocol in memory.
    try {
        writeWholeFile(programFolder + protocolWorkFile, protocolBuffer);
    } catch (const std::exception &error) {
        ReportError(QString::fromUtf8(error.what()));
    }
    if (chckAutoSaveRes->isChecked())
        SaveProtocolAutomatically();
}

void TFormMainLoritS_D7::SaveProtocolAutomatically()
{
    const QString shownName = writeIntoFolder(programFolder, protocol::autoFileName(protocolBuffer),
                                              protocolBuffer,
                                              QStringLiteral("Из протокола получено недопустимое имя файла"),
                                              QStringLiteral("протокол не записан."));
    protocolFileName = shownName;
    ShowStatus(QStringLiteral("Протокол записан в файл: ") + shownName);
}

void TFormMainLoritS_D7::btnSaveProtokolClick()
{
    if (!dialogs()->executeSave(this, sdlgSaveTavDat))
        return;
    // The protocol received last, whatever the memo shows now.
    writeWholeFile(sdlgSaveTavDat.fileName, protocolBuffer);
    ShowStatus(QStringLiteral("Данные записаны в файл."));
}

void TFormMainLoritS_D7::btnClrMemo1Click()
{
    Memo1->clear();
}
