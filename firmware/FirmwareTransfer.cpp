#include "firmware/FirmwareTransfer.h"

#include <algorithm>

const QByteArray &TFirmwareTransfer::takeChunk()
{
    const qint64 count = std::min<qint64>(tsk::chunkSize, byteCount() - m_position);
    m_transferBuffer = count > 0 ? m_packet.data.mid(m_position, count) : QByteArray();
    m_position += std::max<qint64>(0, count);
    return m_transferBuffer;
}

int TFirmwareTransfer::progress() const
{
    if (byteCount() <= 0)
        return 0;
    return int(std::min<qint64>(100, m_position * 100 / byteCount()));
}
