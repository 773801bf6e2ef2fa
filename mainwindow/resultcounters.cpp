#include "resultcounters.h"

#include "atomicfile.h"
#include "devewizard.h"
#include "mainwindowlog.h"
#include "savefailimagethread.h"

#include <QFile>
#include <QTextStream>

namespace {

const QString kCountFile = QStringLiteral("count.txt");
constexpr quint32 kCountLimit = 100000000;

int checkedCount(int value)
{
    return quint32(value) > kCountLimit ? 0 : value;
}

} // namespace

void readResultCounts(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        for (int i = 0; i < 8; ++i) {
            gCameraTotalCount[i] = 0;
            gCameraNgCount[i] = 0;
        }
        return;
    }
    QTextStream stream(&file);
    for (int i = 0; i < 8; ++i) {
        // A number the stream cannot read leaves 0, as do the ones after it.
        int total = 0;
        int ng = 0;
        stream >> total >> ng;
        gCameraTotalCount[i] = checkedCount(total);
        gCameraNgCount[i] = checkedCount(ng);
    }
}

bool writeResultCounts(const QString &path)
{
    QByteArray text;
    for (int i = 0; i < 8; ++i)
        text += QByteArray::number(gCameraTotalCount[i].load()) + ' ' + QByteArray::number(gCameraNgCount[i].load()) + ' ';
    QString error;
    if (writeFileAtomically(path, text, {}, &error))
        return true;
    qCWarning(lcMainWindow) << path << "not written:" << error;
    return false;
}

void DeVeWizard::CountRead()
{
    readResultCounts(kCountFile);
}

void DeVeWizard::CountWrite()
{
    writeResultCounts(kCountFile);
}
