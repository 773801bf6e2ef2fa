#pragma once
// The two frame formats of the serial I/O board and the scanner that finds board frames in a byte
// stream. Plain functions and data: usable from any thread; a scanner belongs to one thread.

#include <QtGlobal>

#include <cstring>

constexpr quint8 kIoFrameStart = 0x5F;
constexpr quint8 kIoFrameEnd = 0xF5;

// Host commands.
constexpr quint8 kIoCommandSetOutputs = 1;
constexpr quint8 kIoCommandPoll = 2;
constexpr quint8 kIoCommandRequest3 = 3;
constexpr quint8 kIoCommandRequest4 = 4;

// Board frame types.
constexpr quint8 kIoReportStatus = 2;
constexpr quint8 kIoReportReply3 = 3;
constexpr quint8 kIoReportReply4 = 4;

// Sum of `len` bytes modulo 256 (0 for len 0).
quint8 checksum8(const quint8 *bytes, quint16 len);

// Host to board: 5F, command, value (little-endian), sum of the first four bytes, F5.
struct IoCommandFrame
{
    quint8 start;
    quint8 command;
    quint8 valueLo;
    quint8 valueHi;
    quint8 checksum;
    quint8 end;

    static IoCommandFrame make(quint8 command, quint16 value);
    const char *bytes() const { return reinterpret_cast<const char *>(this); }
};
static_assert(sizeof(IoCommandFrame) == 6, "the board reads exactly six bytes");

// Board to host: 5F, type, d0..d3, sum of the first six bytes, F5.
struct IoReportFrame
{
    quint8 start;
    quint8 type;
    quint8 d[4];
    quint8 checksum;
    quint8 end;

    static IoReportFrame make(quint8 type, const quint8 data[4]);
    static IoReportFrame status(quint16 inputs, quint16 outputs);
    static IoReportFrame payload(quint8 type, quint32 word);
    // Start byte, end byte and checksum all right.
    static bool isValid(const quint8 *eightBytes);

    // Type 2: ten input bits and ten echoed output bits.
    quint32 inputs() const { return quint32(d[0] | ((d[1] & 3) << 8)); }
    quint32 echoedOutputs() const { return quint32(d[2] | ((d[3] & 3) << 8)); }
    // Types 3 and 4: little-endian 32-bit payload.
    quint32 payloadWord() const
    {
        return quint32(d[0]) | quint32(d[1]) << 8 | quint32(d[2]) << 16 | quint32(d[3]) << 24;
    }
    const char *bytes() const { return reinterpret_cast<const char *>(this); }
};
static_assert(sizeof(IoReportFrame) == 8, "the board sends exactly eight bytes");

// Collects received bytes in a fixed buffer and hands out every valid board frame in order. Invalid
// bytes are skipped one at a time; a partial frame stays for the next append. Never allocates.
class IoFrameScanner
{
public:
    static constexpr int kCapacity = 1024;

    // Appends what fits of `n` bytes; the rest is dropped. Returns the number of bytes kept.
    int append(const quint8 *data, int n);

    // Calls onFrame(const IoReportFrame &) for every valid frame, when at least 8 bytes wait; leaves
    // fewer than 8 bytes, moved to the front.
    template <class OnFrame> void scan(OnFrame &&onFrame);

    int fill() const { return m_fill; }

private:
    quint8 m_buffer[kCapacity];
    int m_fill = 0;
};

template <class OnFrame> void IoFrameScanner::scan(OnFrame &&onFrame)
{
    if (m_fill < 8)
        return;
    int pos = 0;
    while (m_fill - pos >= 8) {
        if (IoReportFrame::isValid(m_buffer + pos)) {
            IoReportFrame frame;
            std::memcpy(&frame, m_buffer + pos, sizeof frame);
            onFrame(static_cast<const IoReportFrame &>(frame));
            pos += 8;
        } else {
            ++pos;
        }
    }
    m_fill -= pos;
    std::memmove(m_buffer, m_buffer + pos, size_t(m_fill));
}
