// libFuzzer target for the receiving side of a TCP session: arbitrary bytes from a peer, cut into
// arbitrary reads.
//
// Input layout: a length byte L, then up to 97 * L + 1 bytes that arrive as one read; repeated.
//
// Checked on every input: the receiver never holds more than it was given nor more than its limits; every
// picture it rebuilds fits in the body it came from; and, when neither run hit a limit, feeding the
// same bytes as one read gives exactly the same messages as the cut reads.

#include "tcpreceive.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

struct Run
{
    QStringList messages;
    bool failed = false;
};

QString describe(const CTask_FormData &task, qint64 bodySize)
{
    QString s = task.url + '|' + task.uuid + '|' + QStringList(task.data.keys()).join(',');
    for (auto it = task.images.cbegin(); it != task.images.cend(); ++it) {
        const cv::Mat &m = it.value();
        check(m.depth() == CV_8U && (m.channels() == 1 || m.channels() == 3));
        check(qint64(m.total() * m.elemSize()) <= bodySize);
        s += QStringLiteral("|%1:%2x%3x%4").arg(it.key()).arg(m.cols).arg(m.rows).arg(m.channels());
    }
    for (auto it = task.rawParts.cbegin(); it != task.rawParts.cend(); ++it)
        s += QStringLiteral("|raw%1:%2").arg(it.key()).arg(it.value().size());
    return s;
}

HttpLikeReceiver makeReceiver(Run &run)
{
    HttpLikeReceiver receiver(1);
    receiver.onTiming = [](const QString &, const char *slot, const QVariantList &) {
        check(slot != nullptr);
    };
    receiver.onComplete = [&run](SCI_ExecObj_Recv &m) {
        if (m.parseBody())
            run.messages << describe(m.toTask(), m.bodyData().size());
    };
    return receiver;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Run cut, whole;
    QByteArray stream;
    {
        HttpLikeReceiver receiver = makeReceiver(cut);
        size_t pos = 0;
        while (pos < size) {
            const size_t want = size_t(data[pos++]) * 97 + 1;
            const size_t n = want < size - pos ? want : size - pos;
            const char *read = reinterpret_cast<const char *>(data + pos);
            stream.append(read, int(n));
            receiver.feed(read, int(n));
            check(receiver.heldBytes() <= stream.size());
            check(receiver.heldBytes() <=
                  HttpLikeReceiver::kMaxHeadBytes + HttpLikeReceiver::kMaxBodyBytes + qint64(n));
            pos += n;
        }
        cut.failed = receiver.failed();
    }
    {
        HttpLikeReceiver receiver = makeReceiver(whole);
        receiver.feed(stream);
        whole.failed = receiver.failed();
    }
    if (!cut.failed && !whole.failed)
        check(cut.messages == whole.messages);
    return 0;
}
