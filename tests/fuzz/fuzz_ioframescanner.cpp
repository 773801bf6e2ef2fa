// libFuzzer target for the I/O board frame scanner: arbitrary bytes, cut into arbitrary reads.
//
// Input layout: a length byte L, then up to 5 * L bytes that arrive as one read; repeated. Reads
// longer than the free space overflow the scanner's buffer on purpose.
//
// Checked on every input: the scanner never holds more than its capacity, leaves fewer than 8 bytes
// after a scan, hands out only valid frames; and when nothing had to be dropped, it hands out exactly
// the frames a plain left-to-right search over the whole stream finds.

#include "ioframes.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

std::vector<IoReportFrame> referenceFrames(const std::vector<quint8> &stream)
{
    std::vector<IoReportFrame> frames;
    size_t pos = 0;
    while (pos + 8 <= stream.size()) {
        const quint8 *p = stream.data() + pos;
        const bool valid =
            p[0] == 0x5F && p[7] == 0xF5 && quint8(p[0] + p[1] + p[2] + p[3] + p[4] + p[5]) == p[6];
        if (valid) {
            IoReportFrame f;
            std::memcpy(&f, p, 8);
            frames.push_back(f);
            pos += 8;
        } else {
            ++pos;
        }
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    IoFrameScanner scanner;
    std::vector<quint8> stream;
    std::vector<IoReportFrame> found;
    bool dropped = false;
    size_t pos = 0;
    while (pos < size) {
        const size_t want = size_t(data[pos++]) * 5;
        const size_t n = want < size - pos ? want : size - pos;
        const int kept = scanner.append(data + pos, int(n));
        check(kept >= 0 && size_t(kept) <= n);
        dropped |= size_t(kept) != n;
        stream.insert(stream.end(), data + pos, data + pos + n);
        pos += n;
        check(scanner.fill() <= IoFrameScanner::kCapacity);
        const int before = scanner.fill();
        scanner.scan([&](const IoReportFrame &f) {
            check(IoReportFrame::isValid(reinterpret_cast<const quint8 *>(&f)));
            found.push_back(f);
        });
        check(before < 8 ? scanner.fill() == before : scanner.fill() < 8);
    }
    if (!dropped) {
        const std::vector<IoReportFrame> expected = referenceFrames(stream);
        check(expected.size() == found.size());
        for (size_t i = 0; i < found.size(); ++i)
            check(std::memcmp(&expected[i], &found[i], 8) == 0);
    }
    return 0;
}
