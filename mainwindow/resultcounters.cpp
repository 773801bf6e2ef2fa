#include "resultcounters.h"

#include "atomicfile.h"
#include "databaserestore.h"
#include "devewizard.h"
#include "mainwindowlog.h"
#include "savefailimagethread.h"

#include <QFile>
#include <QRegularExpression>
#include <QVector>

namespace {

const QString kCountFile = QStringLiteral("count.txt");
constexpr qint64 kCountLimit = 100000000;

// A sound file holds sixteen numbers of at most ten digits: anything much longer is not one.
constexpr qint64 kMaxCountFileBytes = 4096;

int checkedCount(qint64 value)
{
    return value < 0 || value > kCountLimit ? 0 : int(value);
}

QVector<int> currentCounts()
{
    QVector<int> counts;
    for (int i = 0; i < 8; ++i)
        counts << gCameraTotalCount[i].load() << gCameraNgCount[i].load();
    return counts;
}

// What count.txt holds as far as this run knows; empty until it is read or written (nothing is then
// known to compare with, and a window that never read the file must not overwrite it).
QVector<int> &storedCounts()
{
    static QVector<int> counts;
    return counts;
}

} // namespace

void readResultCounts(const QString &path)
{
    QVector<int> counts(16, 0);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        for (int i = 0; i < 8; ++i) {
            gCameraTotalCount[i] = 0;
            gCameraNgCount[i] = 0;
        }
        storedCounts() = counts;
        return;
    }
    const QByteArray content = file.read(kMaxCountFileBytes + 1);
    file.close();
    static const QRegularExpression kDecimal(QStringLiteral("^[+-]?[0-9]+$"));
    bool damaged = content.size() > kMaxCountFileBytes;
    int taken = 0;
    for (const QByteArray &token : content.simplified().split(' ')) {
        if (token.isEmpty())
            continue;
        if (!kDecimal.match(QString::fromLatin1(token)).hasMatch()) {
            damaged = true;
            break;
        }
        // Too many digits for 64 bits is as absurd a count as any other above the limit.
        bool ok = false;
        const qint64 value = token.toLongLong(&ok);
        if (taken < 16)
            counts[taken++] = ok ? checkedCount(value) : 0;
    }
    for (int i = 0; i < 8; ++i) {
        gCameraTotalCount[i] = counts[2 * i];
        gCameraNgCount[i] = counts[2 * i + 1];
    }
    if (!damaged) {
        storedCounts() = counts;
        return;
    }
    const QString kept = keepDamagedDatabase(path);
    qCWarning(lcMainWindow).noquote() << path << "is damaged; counters read up to the damage:"
                                      << (kept.isEmpty() ? QStringLiteral("it could not be moved aside")
                                                         : QStringLiteral("kept as ") + kept);
    storedCounts() = QVector<int>(16, -1); // no counter is negative: the next check writes a sound file
}

bool writeResultCounts(const QString &path)
{
    // One snapshot: the saver thread may count meanwhile, and the file must say what is remembered.
    const QVector<int> counts = currentCounts();
    QByteArray text;
    for (const int count : counts)
        text += QByteArray::number(count) + ' ';
    QString error;
    if (writeFileAtomically(path, text, {}, &error)) {
        storedCounts() = counts;
        return true;
    }
    qCWarning(lcMainWindow) << path << "not written:" << error;
    return false;
}

bool writeResultCountsIfChanged(const QString &path)
{
    if (storedCounts().isEmpty() || currentCounts() == storedCounts())
        return true;
    return writeResultCounts(path);
}

void DeVeWizard::CountRead()
{
    readResultCounts(kCountFile);
}

void DeVeWizard::CountWrite()
{
    writeResultCounts(kCountFile);
}

void DeVeWizard::CountWriteIfChanged()
{
    writeResultCountsIfChanged(kCountFile);
}
