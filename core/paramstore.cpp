#include "paramstore.h"

#include "paramquery.h"

#include "atomicfile.h"
#include "corelog.h"
#include "sqltransaction.h"
#include "uitexttable.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstring>
#include <vector>

QString gIoPointNames[8];
char gCameraSerials[8][100];
QString gCameraSerialRows[8];

namespace {

// One number of a stored row: a word of the record, or one of the two values that are not plain
// words (the machine type is read into machineType but written from machineTypeEdit, so that a new
// type takes effect at the next start; the language lives in gLanguage).
struct StoredNumber
{
    enum Kind : uint8_t
    {
        Word,
        MachineType,
        Language
    };
    Kind kind;
    uint16_t offset; // byte offset of the word in SysParam (Word only)
};

struct StoredRow
{
    QString key;
    std::vector<StoredNumber> numbers; // in position order; empty for the password row
    bool isPassword = false;
};

constexpr StoredNumber word(size_t offset, int index = 0)
{
    return {StoredNumber::Word, static_cast<uint16_t>(offset + 4 * index)};
}
#define W(field) word(offsetof(SysParam, field))
#define WA(field, i) word(offsetof(SysParam, field), i)
#define SPARE W(spare)

std::vector<StoredNumber> range(size_t offset, int first, int count)
{
    std::vector<StoredNumber> v;
    for (int i = 0; i < count; ++i)
        v.push_back(word(offset, first + i));
    return v;
}
#define RANGE(field, first, count) range(offsetof(SysParam, field), first, count)

std::vector<StoredNumber> join(std::initializer_list<std::vector<StoredNumber>> parts)
{
    std::vector<StoredNumber> v;
    for (const auto &p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}

// Every stored row, in the order the save writes them. Load and save both walk this table, so that a
// number can never be read from one position and written to another.
const std::vector<StoredRow> &storedRows()
{
    static const std::vector<StoredRow> rows = {
        {QStringLiteral("trigInDelay"), RANGE(trigInDelay, 0, 8)},
        {QStringLiteral("exposeTime"), RANGE(exposeTime, 0, 4)},
        {QStringLiteral("sharp"), RANGE(sharp, 0, 4)},
        {QStringLiteral("contrast"), RANGE(contrast, 0, 4)},
        {QStringLiteral("adjustPlus"), RANGE(adjustPlus, 0, 4)},
        {QStringLiteral("numFailDetect"),
         {{StoredNumber::MachineType, 0},
          W(detectMold),
          W(autoExp),
          W(autoWDR),
          SPARE,
          W(enableBlackArea),
          W(enableWhiteArea),
          W(enableSimilarity)}},
        {QStringLiteral("numAllDetect"), RANGE(gamma, 0, 8)},
        {QStringLiteral("isPswUsed"), {W(isPswUsed)}},
        {QStringLiteral("password"), {}, true},
        {QStringLiteral("system1"),
         {W(semiAuto), W(enableProdDetect), W(syncParams), W(motionCorrect), W(stopClampOnStop),
          W(preCutTime), W(reMoldTimes), W(okRecordMax), SPARE}},
        {QStringLiteral("system2"),
         {W(cutEjectorOnClamp),
          W(templateNum),
          W(minSpot),
          W(ngRecordMax),
          W(ejectorPulse),
          W(clampPulse),
          W(ejectorPulseOnProdNg),
          W(cutClampAfterMoldOk),
          W(noEjectorCtrlInProd),
          W(pswNoDetect),
          W(pswAddTemplate),
          SPARE,
          {StoredNumber::Language, 0},
          W(output4Use),
          W(maxOffset),
          W(screenOffTime),
          W(frameSpeed),
          W(inputTimeout)}},
        {QStringLiteral("system3"),
         {W(input4Use), W(safetyDoorClearsAlarm), W(diffAmplify), W(enableDefectDetect), W(enableSpotDetect),
          W(enableIgnoreArea), W(enableManualLocate), W(showAllParams), W(autoLogoutTime), W(reserved151),
          W(safetyDoorTrigger)}},
        {QStringLiteral("system4"), {W(templateAutoUpdate), W(filterSize), W(alarmArea)}},
        {QStringLiteral("system5"), join({RANGE(exposeTime, 4, 2),
                                          RANGE(adjustPlus, 4, 2),
                                          RANGE(sharp, 4, 2),
                                          RANGE(contrast, 4, 2),
                                          {W(okNgPulse), W(rotateAngle), W(cutEjectorOnProdAlarm),
                                           W(useExtTrigger), W(cutClampOnMoldAlarm)}})},
        {QStringLiteral("system6"),
         join({RANGE(exposeTime, 6, 2),
               RANGE(adjustPlus, 6, 2),
               RANGE(sharp, 6, 2),
               RANGE(contrast, 6, 2),
               {W(debounceTime), W(enableStatistics), W(reserved158), W(pswStopDetect)}})},
        {QStringLiteral("system7"), {W(ioPort),         W(colorCamera),
                                     W(grayChannel),    W(showManualSnap),
                                     WA(outputInit, 0), WA(outputInit, 1),
                                     WA(outputInit, 2), W(noLensOpt),
                                     WA(outputInit, 3), W(showFactoryParam),
                                     W(ngTemplate),     W(reserved207),
                                     W(showRoiLive),    SPARE,
                                     WA(outputInit, 4), WA(outputInit, 5),
                                     WA(outputInit, 6), WA(outputInit, 7),
                                     W(reserved100),    W(enableWhiteNumber)}},
        {QStringLiteral("system8"), join({{W(detectCount)},
                                          RANGE(detCheckMask, 0, 8),
                                          RANGE(detCutMode, 0, 8),
                                          {W(cutEjectorAfterProdOk), W(useLog), W(matchBrightness)}})},
        {QStringLiteral("system9"), join({RANGE(detTrigSource, 0, 8),
                                          {SPARE, W(tempAlarm)},
                                          RANGE(distance, 0, 8),
                                          {W(reserved308), W(tempWaveform)}})},
        {QStringLiteral("system10"),
         join({RANGE(inputNameIdx, 0, 8), RANGE(outputNameIdx, 0, 8), RANGE(temperatureRange, 0, 4)})},
        {QStringLiteral("system11"),
         join({RANGE(tempLow, 0, 8), RANGE(tempHigh, 0, 8), RANGE(temperatureRange, 4, 4)})},
        {QStringLiteral("system12"), join({{W(angleCorrect)}, std::vector<StoredNumber>(19, SPARE)})},
    };
    return rows;
}

// The rows in the order the loader reads them; spare takes the last of its positions read (system12).
const QStringList kLoadOrder = {
    QStringLiteral("trigInDelay"),   QStringLiteral("exposeTime"),   QStringLiteral("adjustPlus"),
    QStringLiteral("numFailDetect"), QStringLiteral("numAllDetect"), QStringLiteral("isPswUsed"),
    QStringLiteral("password"),      QStringLiteral("system1"),      QStringLiteral("system2"),
    QStringLiteral("system3"),       QStringLiteral("system4"),      QStringLiteral("sharp"),
    QStringLiteral("contrast"),      QStringLiteral("system5"),      QStringLiteral("system6"),
    QStringLiteral("system7"),       QStringLiteral("system8"),      QStringLiteral("system9"),
    QStringLiteral("system10"),      QStringLiteral("system11"),     QStringLiteral("system12")};

// Inserted when a database from an older program version lacks them; output 2 idles closed.
QString defaultRowText(const QString &key)
{
    if (key == QLatin1String("system7"))
        return QStringLiteral("0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0");
    if (key == QLatin1String("system8") || key == QLatin1String("system9") ||
        key == QLatin1String("system10") || key == QLatin1String("system11") ||
        key == QLatin1String("system12"))
        return QStringLiteral("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    return QString();
}

// A stored row is a few hundred characters; a replaced database must not make us split megabytes.
constexpr int kMaxRowText = 4096;
// "name.txt" holds eight short lines; "sysadd.txt" one number.
constexpr qint64 kMaxNameFile = 64 * 1024;
constexpr qint64 kMaxGroupFile = 64;

const QString kSelect = QStringLiteral("select value from sysparam where name=?");
const QString kInsert = QStringLiteral("insert into sysparam values(?, ?)");
const QString kUpdate = QStringLiteral("update sysparam set value=? where name=?");

void putWord(SysParam *p, uint16_t offset, int32_t value)
{
    std::memcpy(reinterpret_cast<char *>(p) + offset, &value, sizeof value);
}

int32_t getWord(const SysParam *p, uint16_t offset)
{
    int32_t value;
    std::memcpy(&value, reinterpret_cast<const char *>(p) + offset, sizeof value);
    return value;
}

bool selectValue(QSqlQuery &query, const QString &key, QString *value)
{
    query.prepare(kSelect);
    query.addBindValue(key);
    const bool found = query.exec() && query.next();
    if (found)
        *value = query.value(0).toString();
    // An open select would keep the database's read lock until the next statement on this query.
    query.finish();
    return found;
}

void insertRow(QSqlQuery &query, const QString &key, const QString &value)
{
    query.prepare(kInsert);
    query.addBindValue(key);
    query.addBindValue(value);
    if (!query.exec())
        qCWarning(lcCore).noquote() << "could not insert row" << key << query.lastError().text();
}

// Numbers are separated by blanks; runs of blanks do not shift later positions, and a missing or
// malformed number reads as 0.
void readNumbers(SysParam *p, const StoredRow &row, const QString &text)
{
    const QStringList parts =
        text.left(kMaxRowText).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (size_t i = 0; i < row.numbers.size(); ++i) {
        bool ok = false;
        int32_t value = i < size_t(parts.size()) ? parts.at(int(i)).toInt(&ok, 10) : 0;
        if (!ok)
            value = 0;
        const StoredNumber &n = row.numbers[i];
        switch (n.kind) {
        case StoredNumber::Word:
            putWord(p, n.offset, value);
            break;
        case StoredNumber::MachineType:
            p->machineType = value;
            break;
        case StoredNumber::Language:
            gLanguage = value;
            break;
        }
    }
}

QString writeNumbers(const SysParam *p, const StoredRow &row)
{
    QStringList parts;
    for (const StoredNumber &n : row.numbers) {
        int32_t value = 0;
        switch (n.kind) {
        case StoredNumber::Word:
            value = getWord(p, n.offset);
            break;
        case StoredNumber::MachineType:
            value = p->machineTypeEdit;
            break;
        case StoredNumber::Language:
            value = gLanguage;
            break;
        }
        parts.append(QString::number(value));
    }
    return parts.join(QLatin1Char(' '));
}

// Copies a Latin-1 text into a fixed slot, NUL-terminated, the rest cleared.
void copyFixed(char *slot, size_t slotSize, const QByteArray &text)
{
    std::memset(slot, 0, slotSize);
    std::memcpy(slot, text.constData(), qMin(size_t(text.size()), slotSize - 1));
}

void readGroupIndex(SysParam *p)
{
    p->paraGroupIndex = 0;
    QFile file(QStringLiteral("sysadd.txt"));
    if (file.open(QIODevice::ReadOnly)) {
        static const QRegularExpression kNumber(QStringLiteral("^\\s*([+-]?\\d+)"));
        const QRegularExpressionMatch m = kNumber.match(QString::fromLatin1(file.read(kMaxGroupFile)));
        bool ok = false;
        const int value = m.hasMatch() ? m.captured(1).toInt(&ok) : 0;
        p->paraGroupIndex = ok ? value : 0;
        return;
    }
    QString error;
    if (!writeFileAtomically(QStringLiteral("sysadd.txt"), "0", {}, &error))
        qCWarning(lcCore).noquote() << error;
}

void readIoPointNames(const SysParam *p)
{
    QFile file(QStringLiteral("name.txt"));
    if (file.open(QIODevice::ReadOnly)) {
        const QStringList lines = QString::fromUtf8(file.read(kMaxNameFile)).split(QLatin1Char('\n'));
        for (int i = 0; i < 8; ++i) {
            QString name = i < lines.size() ? lines.at(i) : QString();
            if (name.endsWith(QLatin1Char('\r')))
                name.chop(1);
            gIoPointNames[i] = name;
        }
        return;
    }
    static const int kDefaultRows[3][8] = {
        {301, 302, 303, 304, 305, 306, 307, 304},
        {301, 302, 376, 377, 305, 378, 307, 304},
        {379, 380, 381, 382, 378, 306, 307, 304},
    };
    for (int i = 0; i < 8; ++i) {
        gIoPointNames[i] = p->machineType >= 0 && p->machineType <= 2
                               ? uiText(kDefaultRows[p->machineType][i], gLanguage)
                               : QString();
    }
}

void readCameraSerials(SysParam *p, QSqlQuery &snQuery)
{
    p->cameraSnCount = 0;
    for (int i = 0; i < 8; ++i) {
        const QString key = QStringLiteral("serialNB%1").arg(i);
        QString value;
        if (selectValue(snQuery, key, &value)) {
            gCameraSerialRows[i] = value;
            // "0" and other short texts mean no camera; the slot keeps what it had.
            const QByteArray text = value.toLatin1();
            if (text.size() >= 9 && text.size() <= 99) {
                copyFixed(gCameraSerials[i], sizeof gCameraSerials[i], text);
                ++p->cameraSnCount;
            }
        } else {
            copyFixed(gCameraSerials[i], sizeof gCameraSerials[i], QByteArrayLiteral("0"));
            gCameraSerialRows[i] = QStringLiteral("0");
            insertRow(snQuery, key, QStringLiteral("0"));
        }
    }
}

// Stands in for the main window's queries while there is none: every statement fails.
QSqlQuery &queryOrNone(QSqlQuery *query)
{
    static QSqlQuery *none = new QSqlQuery(QSqlDatabase());
    return query ? *query : *none;
}

} // namespace

void loadSysParam(SysParam *p)
{
    loadSysParam(p, queryOrNone(paramQuery()), queryOrNone(snQuery()));
}

void loadSysParam(SysParam *p, QSqlQuery &paramQuery, QSqlQuery &snQuery)
{
    readGroupIndex(p);

    const std::vector<StoredRow> &rows = storedRows();
    for (const QString &key : kLoadOrder) {
        const StoredRow &row =
            *std::find_if(rows.begin(), rows.end(), [&](const StoredRow &r) { return r.key == key; });
        QString value;
        if (!selectValue(paramQuery, key, &value)) {
            const QString inserted = defaultRowText(key);
            if (!inserted.isEmpty())
                insertRow(paramQuery, key, inserted);
            continue;
        }
        if (row.isPassword) {
            const QByteArray text = value.toLatin1();
            if (text.size() <= 99)
                copyFixed(p->password, sizeof p->password, text);
        } else {
            readNumbers(p, row, value);
        }
    }

    applySysParamLoadRules(p);
    readIoPointNames(p);
    readCameraSerials(p, snQuery);
}

bool saveSysParam(const SysParam *p)
{
    return saveSysParam(p, queryOrNone(paramQuery()));
}

bool saveSysParam(const SysParam *p, QSqlQuery &paramQuery)
{
    // One transaction: a power cut between two rows must not leave, say, a new machine type with the
    // old slot rows. Inside a larger action (the settings' Confirm) the rows join its transaction.
    SqlTransaction transaction(&paramQuery, QStringLiteral("parameter save"));
    bool allWritten = true;
    for (const StoredRow &row : storedRows()) {
        if (!transaction.writable())
            return false;
        const QString value = row.isPassword
                                  ? QString::fromLatin1(p->password, int(strnlen(p->password, 100)))
                                  : writeNumbers(p, row);
        paramQuery.prepare(kUpdate);
        paramQuery.addBindValue(value);
        paramQuery.addBindValue(row.key);
        if (!paramQuery.exec()) {
            // The file keeps the whole set it had: nothing more is written and the action rolls back.
            qCWarning(lcCore).noquote() << "could not save row" << row.key << paramQuery.lastError().text();
            transaction.fail();
        } else if (paramQuery.numRowsAffected() == 0) {
            // A row lost from the table drops this setting at every save: no row is made up here, but
            // the caller hears that the setting was not stored. The other rows are kept.
            allWritten = false;
            qCWarning(lcCore).noquote() << "could not save row" << row.key << ": no such row";
        }
    }
    paramQuery.finish();
    return transaction.finish() && allWritten;
}

bool saveParamGroupIndex(const SysParam *p)
{
    QString error;
    if (writeFileAtomically(QStringLiteral("sysadd.txt"), QByteArray::number(p->paraGroupIndex) + '\n', {},
                            &error))
        return true;
    qCWarning(lcCore).noquote() << "parameter group number not saved:" << error;
    return false;
}

void ensureSysParamKey(const QString &key)
{
    ensureSysParamKey(key, queryOrNone(paramQuery()));
}

void ensureSysParamKey(const QString &key, QSqlQuery &paramQuery)
{
    QString value;
    if (!selectValue(paramQuery, key, &value))
        insertRow(paramQuery, key, QStringLiteral("0"));
}
