#pragma once
// One upload in progress: the packet, how far its data block has been handed to the
// serial control, and whether the next chunk may go yet.

#include "firmware/FirmwareImage.h"

class TFirmwareTransfer
{
public:
    explicit TFirmwareTransfer(TFirmwarePacket packet) : m_packet(std::move(packet)) {}

    const TFirmwarePacket &packet() const { return m_packet; }
    /// The length field: the file's length and six bytes more.
    qint32 firmwareLength() const { return qint32(m_packet.data.size() + tsk::lengthExtra); }
    /// Bytes of the data block; the denominator of the progress.
    qint32 firmwareByteCount() const { return qint32(m_packet.data.size()); }
    /// Sum of the data block's bytes, each 0..255.
    quint32 firmwareChecksum() const { return m_packet.checksum; }
    /// The chunk handed over last.
    const QByteArray &transferBuffer() const { return m_transferBuffer; }

    qint64 byteCount() const { return m_packet.data.size(); }
    qint64 position() const { return m_position; }
    bool complete() const { return m_position >= byteCount(); }

    /// The next chunk may go while the control holds at most one chunk: the line never
    /// idles between chunks, and no more than two chunks ever wait to be sent.
    static bool mayHandOver(qint64 bytesStillQueued) { return bytesStillQueued <= tsk::chunkSize; }

    /// The next chunk, at most tsk::chunkSize bytes, into transferBuffer; the position
    /// moves past it.
    const QByteArray &takeChunk();
    /// Share of the data block handed over, 0..100.
    int progress() const;

private:
    TFirmwarePacket m_packet;
    QByteArray m_transferBuffer;
    qint64 m_position = 0;
};
