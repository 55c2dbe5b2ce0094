#include "firmware/FirmwareTransfer.h"

#include <algorithm>

QByteArray TFirmwareTransfer::takeChunk()
{
    const qint64 count = std::min<qint64>(tsk::chunkSize, byteCount() - m_position);
    if (count <= 0)
        return {};
    const QByteArray chunk = m_packet.data.mid(m_position, count);
    m_position += count;
    return chunk;
}

int TFirmwareTransfer::progress() const
{
    if (byteCount() <= 0)
        return 0;
    return int(std::min<qint64>(100, m_position * 100 / byteCount()));
}
