// Every byte from the instrument is gathered here and handed to the job that owns the
// reply's first byte; every byte to the instrument leaves through SendToDevice.

#include "app/MainLoritS_TreeTS.h"
#include "link/TMSComm.h"
#include "testdb/BDTSTransfer.h"

namespace {
/// The longest reply the instrument sends: a protocol whose five-digit length is
/// 99999 bytes, its code and last byte included.
constexpr qsizetype maxReplyLength = 99999;
} // namespace

void TFormMainLoritS_D7::BuildReplyTable()
{
    replyHandlers.fill(nullptr);
    const auto handle = [this](char code, void (TFormMainLoritS_D7::*handler)()) {
        replyHandlers[static_cast<unsigned char>(code)] = [this, handler] { (this->*handler)(); };
    };
    handle('B', &TFormMainLoritS_D7::ContactReplyReceived);
    handle('L', &TFormMainLoritS_D7::ReplyProgramStarted); // the instrument's program runs
    replyHandlers['R'] = [this] { bdtsTransfer->ReplyPageCount(); };   // database page count
    replyHandlers['r'] = [this] { bdtsTransfer->ReplyPage(); };        // one database page
    replyHandlers['m'] = [this] { bdtsTransfer->ReplyPageWritten(); }; // database page written
    handle('D', &TFormMainLoritS_D7::ReplyODTable);        // optical density table
    handle('G', &TFormMainLoritS_D7::ReplyODMeasured);     // notice: densities measured
    handle('2', &TFormMainLoritS_D7::ReplyODFileName);     // file name for the table
    handle('N', &TFormMainLoritS_D7::ReplyProtocolLength); // protocol length
    handle('d', &TFormMainLoritS_D7::ReplyProtocolText);   // protocol text
    handle('g', &TFormMainLoritS_D7::ReplyResultsReady);   // notice: results ready
}

void TFormMainLoritS_D7::MSComm1Comm()
{
    // Bytes that arrive while the instrument's line is down wait in the queue.
    if (!UpdateLinkState())
        return;
    if (MSComm1->InBufferCount() == 0)
        return;
    const QByteArray input = MSComm1->Input();
    // An empty read still counts as one byte, 0x00.
    const QByteArray piece = input.isEmpty() ? QByteArray(1, '\0') : input;
    bdtsTransfer->BytesArrived(piece.size());
    replyBuffer += piece;
    // More bytes arrived meanwhile: the next event goes on gathering.
    if (MSComm1->InBufferCount() != 0)
        return;
    DispatchReplies();
}

void TFormMainLoritS_D7::DispatchReplies()
{
    // A reply of known length ends there; its handler takes exactly its bytes and
    // leaves what follows, which is the next reply and is handed on at once. A handler
    // that takes nothing is waiting for more bytes.
    while (!replyBuffer.isEmpty()) {
        const char code = replyBuffer.at(0);
        const auto &handler = replyHandlers[static_cast<unsigned char>(code)];
        if (!handler) {
            replyBuffer.clear();
            break;
        }
        const qsizetype before = replyBuffer.size();
        try {
            handler();
        } catch (...) {
            // The error goes to the error box; the replies behind the failed one are
            // still handed on, once the box is dealt with.
            if (!replyBuffer.isEmpty())
                QMetaObject::invokeMethod(this, [this] { Guarded([this] { DispatchReplies(); }); },
                                          Qt::QueuedConnection);
            throw;
        }
        if (replyBuffer.size() >= before)
            break;
        // A one-byte notice or contact reply is no part of a database page, whenever
        // it comes: the reading does not count it.
        if (QByteArrayView("GgBL").contains(code))
            bdtsTransfer->NoticeTaken();
    }
    // No reply is this long: noise that began with a reply code would otherwise
    // gather for ever.
    if (replyBuffer.size() > maxReplyLength)
        replyBuffer.clear();
}

void TFormMainLoritS_D7::SendToDevice(const QByteArray &bytes)
{
    MSComm1->setOutput(bytes);
}
