#include "ioframes.h"

#include <algorithm>

quint8 checksum8(const quint8 *bytes, quint16 len)
{
    quint8 sum = 0;
    for (quint16 i = 0; i < len; ++i)
        sum = quint8(sum + bytes[i]);
    return sum;
}

IoCommandFrame IoCommandFrame::make(quint8 command, quint16 value)
{
    IoCommandFrame f;
    f.start = kIoFrameStart;
    f.command = command;
    f.valueLo = quint8(value & 0xFF);
    f.valueHi = quint8(value >> 8);
    f.checksum = checksum8(&f.start, 4);
    f.end = kIoFrameEnd;
    return f;
}

IoReportFrame IoReportFrame::make(quint8 type, const quint8 data[4])
{
    IoReportFrame f;
    f.start = kIoFrameStart;
    f.type = type;
    std::copy(data, data + 4, f.d);
    f.checksum = checksum8(&f.start, 6);
    f.end = kIoFrameEnd;
    return f;
}

IoReportFrame IoReportFrame::status(quint16 inputs, quint16 outputs)
{
    const quint8 d[4] = {quint8(inputs & 0xFF), quint8((inputs >> 8) & 3), quint8(outputs & 0xFF),
                         quint8((outputs >> 8) & 3)};
    return make(kIoReportStatus, d);
}

IoReportFrame IoReportFrame::payload(quint8 type, quint32 word)
{
    const quint8 d[4] = {quint8(word), quint8(word >> 8), quint8(word >> 16), quint8(word >> 24)};
    return make(type, d);
}

bool IoReportFrame::isValid(const quint8 *p)
{
    return p[0] == kIoFrameStart && p[7] == kIoFrameEnd && p[6] == checksum8(p, 6);
}

int IoFrameScanner::append(const quint8 *data, int n)
{
    const int kept = std::clamp(n, 0, kCapacity - m_fill);
    if (kept > 0)
        std::memcpy(m_buffer + m_fill, data, size_t(kept));
    m_fill += kept;
    return kept;
}
