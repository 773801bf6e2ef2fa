#include "cammersingleton.h"

#include "cameraviewdata.h"
#include "imagehelpers.h"
#include "imagesize.h"
#include "inspectionlog.h"
#include "paramquery.h"
#include "sqltransaction.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "zeropages.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Reads a stored value as blank-separated integers; a missing or malformed number reads as 0.
class NumberReader
{
public:
    explicit NumberReader(const QString &text) : m_parts(text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {}
    int next()
    {
        if (m_pos >= m_parts.size())
            return 0;
        bool ok = false;
        const int v = m_parts.at(m_pos++).toInt(&ok);
        return ok ? v : 0;
    }

private:
    QStringList m_parts;
    int m_pos = 0;
};

// The statements run on the main window's one query. A select that fails (no database, no table, a
// damaged page) is told apart from one that finds no row: `readFailed` says so, with the reason.
class RoiStore
{
public:
    explicit RoiStore(int cameraIndex)
        : m_query(paramQuery()), m_table(QStringLiteral("cammer%1").arg(cameraIndex))
    {
        if (!m_query)
            qCWarning(lcInspection) << "no parameter database for region table" << m_table;
    }

    bool selectValue(const QString &name, QString *value)
    {
        if (!run(QStringLiteral("select value from %1 where name=?"), {name})) {
            m_readError = m_query ? m_query->lastError().text() : QStringLiteral("no parameter database");
            if (m_readError.isEmpty())
                m_readError = QStringLiteral("statement failed");
            return false;
        }
        const bool found = m_query->next();
        if (found)
            *value = m_query->value(0).toString();
        else if (m_query->lastError().isValid())
            m_readError = m_query->lastError().text(); // the step failed, e.g. on a damaged page
        m_query->finish();
        return found;
    }

    // False when the select failed; *exists tells whether the row is there.
    bool rowExists(const QString &name, bool *exists)
    {
        *exists = false;
        if (!run(QStringLiteral("select * from %1 where name=?"), {name}))
            return false;
        *exists = m_query->next();
        const bool failed = !*exists && m_query->lastError().isValid();
        m_query->finish();
        return !failed;
    }

    bool insert(const QString &name, const QString &value)
    {
        return run(QStringLiteral("insert into %1 values(?, ?)"), {name, value});
    }
    bool update(const QString &name, const QString &value)
    {
        return run(QStringLiteral("update %1 set value=? where name=?"), {value, name});
    }
    bool remove(const QString &name) { return run(QStringLiteral("delete from %1 where name=?"), {name}); }
    const QString &table() const { return m_table; }
    QString lastError() const
    {
        return m_query ? m_query->lastError().text() : QStringLiteral("no parameter database");
    }
    bool readFailed() const { return !m_readError.isNull(); }
    const QString &readError() const { return m_readError; }

private:
    bool run(const QString &statement, const QStringList &values)
    {
        if (!m_query)
            return false;
        // The table name is built from the camera number only; names and values are bound.
        if (!m_query->prepare(statement.arg(m_table)))
            return false;
        for (const QString &v : values)
            m_query->addBindValue(v);
        return m_query->exec();
    }

    QSqlQuery *m_query;
    QString m_table;
    QString m_readError; // null until a select fails
};

QString detectRowName(int k)
{
    return QStringLiteral("detect%1").arg(k);
}

QString roiRowName(int k, int j)
{
    return QStringLiteral("ROI%1-%2").arg(k).arg(j);
}

void clampX(int *v)
{
    CheckInRange(v, 1);
}

void clampY(int *v)
{
    CheckInRange(v, 0);
}

// Tells the operator, modally, that a stored slot was unusable and loads empty.
void showRoiTableWarning(const QString &text)
{
    if (!gWarnBox)
        return;
    gWarnBox->setMessage(text);
    gWarnBox->exec();
}

void storeMask(CameraViewData *owner, int k, int j, const cv::Mat &mask)
{
    if (owner)
        owner->roiMasks[k][j] = mask;
}

} // namespace

CammerSingleton::CammerSingleton(int index) : cameraIndex(index)
{
    std::fill(std::begin(roiCount), std::end(roiCount), 0);
    for (int *a : {param1, param2, param3, function, shape})
        std::fill(a, a + kRoiEntries, 0);
    std::fill(std::begin(outN), std::end(outN), 0);
    std::fill(&detectPara[0][0], &detectPara[0][0] + kDetectSlots * 8, 0);
}

void *CammerSingleton::operator new(std::size_t size)
{
    void *p = std::calloc(1, size);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void CammerSingleton::operator delete(void *p)
{
    std::free(p);
}

void CammerSingleton::copyWhole(const CammerSingleton &from)
{
    if (&from != this)
        copySparsePages(this, &from, sizeof(CammerSingleton));
}

bool CammerSingleton::loadRoiTable(CameraViewData *owner)
{
    RoiStore store(cameraIndex);
    const float sx = owner ? owner->displayScaleX : 0.0f;
    const float sy = owner ? owner->displayScaleY : 0.0f;

    auto applyDefaults = [&](int k, int j) {
        const int i = entry(k, j);
        param1[i] = 3;
        param2[i] = 25;
        param3[i] = 100;
        function[i] = FuncDefect;
        shape[i] = ShapeRect;
        outN[j] = 0;
        rects[i].screenRect.setCoords(50, 50, 100, 100);
        rects[i].setScale(sx, sy);
        rects[i].updateImageRect();
        storeMask(owner, k, j, rects[i].mask());
    };

    // What could not be read is unknown, not empty: the table is left with no regions and the caller
    // must not judge this camera. Nothing is written into a table that cannot be read.
    auto readFailed = [&] {
        if (!store.readFailed())
            return false;
        qCCritical(lcInspection).noquote() << "region table" << store.table() << "of camera"
                                           << cameraIndex + 1 << "cannot be read:" << store.readError();
        std::fill(std::begin(roiCount), std::end(roiCount), 0);
        return true;
    };

    for (int k = 0; k < kDetectSlots; ++k) {
        QString value;
        if (!store.selectValue(detectRowName(k), &value)) {
            if (readFailed())
                return false;
            roiCount[k] = 0;
            store.insert(detectRowName(k), QStringLiteral("0"));
        } else {
            NumberReader numbers(value);
            roiCount[k] = numbers.next();
            for (int &p : detectPara[k])
                p = numbers.next();
        }
        // A negative count would index outside the table just like one above 50.
        if (roiCount[k] < 0 || roiCount[k] > kRoisPerSlot) {
            qCWarning(lcInspection) << "camera" << cameraIndex << "slot" << k << "has region count"
                                    << roiCount[k];
            showRoiTableWarning(uiText(0));
            roiCount[k] = 0;
            continue;
        }
        for (int j = 0; j < roiCount[k]; ++j) {
            if (!store.selectValue(roiRowName(k, j), &value)) {
                if (readFailed())
                    return false;
                applyDefaults(k, j);
                continue;
            }
            const int i = entry(k, j);
            NumberReader numbers(value);
            param1[i] = numbers.next();
            param2[i] = numbers.next();
            param3[i] = numbers.next();
            function[i] = numbers.next();
            shape[i] = numbers.next();
            const int out = numbers.next();
            outN[j] = (out >= 0 && out <= 3) ? out : 0;
            const int n = numbers.next();
            switch (shape[i]) {
            case ShapePolygon: {
                if (n < 1 || n > kMaxPolygonPoints) {
                    applyDefaults(k, j);
                    break;
                }
                RoiPolygon &poly = polygons[i];
                for (int v = 0; v < n; ++v) {
                    int x = numbers.next();
                    clampX(&x);
                    int y = numbers.next();
                    clampY(&y);
                    poly.points[v] = QPoint(x, y);
                }
                poly.count = n;
                poly.setScale(sx, sy);
                poly.updateImagePoints();
                storeMask(owner, k, j, poly.mask());
                break;
            }
            case ShapeRect: {
                int x1 = numbers.next(), y1 = numbers.next();
                clampX(&x1);
                clampY(&y1);
                int x2 = numbers.next(), y2 = numbers.next();
                clampX(&x2);
                clampY(&y2);
                rects[i].screenRect.setCoords(x1, y1, x2, y2);
                rects[i].setScale(sx, sy);
                rects[i].updateImageRect();
                storeMask(owner, k, j, rects[i].mask());
                break;
            }
            case ShapeCircle: {
                RoiCircle &circle = circles[i];
                int cx = numbers.next(), cy = numbers.next();
                clampX(&cx);
                clampY(&cy);
                circle.centreX = cx;
                circle.centreY = cy;
                const int r = numbers.next();
                // The editor never draws a circle larger than the screen; a bigger stored radius
                // (up to 65535) would ask for a mask of gigabytes.
                circle.outerRadius = std::min(r & 0xFFFF, std::max(gShowW, gShowH));
                circle.innerRadius = r >> 16;
                circle.updateGeometry();
                circle.setScale(sx, sy);
                circle.updateImageGeometry();
                storeMask(owner, k, j, circle.mask());
                break;
            }
            default:
                break;
            }
        }
    }
    return true;
}

namespace {

QString geometryText(const CammerSingleton &t, int i)
{
    QString text;
    switch (t.shape[i]) {
    case ShapeRect: {
        const QRect &r = t.rects[i].screenRect;
        text = QStringLiteral("0 %1 %2 %3 %4").arg(r.left()).arg(r.top()).arg(r.right()).arg(r.bottom());
        break;
    }
    case ShapeCircle: {
        const RoiCircle &c = t.circles[i];
        const qint64 packed = qint64(c.innerRadius) * 65536 + c.outerRadius;
        text = QStringLiteral("0 %1 %2 %3").arg(c.centreX).arg(c.centreY).arg(packed);
        break;
    }
    case ShapePolygon: {
        const RoiPolygon &p = t.polygons[i];
        const int n = std::clamp(p.count, 0, kMaxPolygonPoints);
        text.reserve(8 + n * 10);
        text += QString::number(n) + QLatin1Char(' ');
        for (int v = 0; v < n; ++v) {
            text += QString::number(p.points[v].x()) + QLatin1Char(' ');
            text += QString::number(p.points[v].y()) + QLatin1Char(' ');
        }
        break;
    }
    default:
        break;
    }
    return text;
}

QString roiRowText(const CammerSingleton &t, int k, int j)
{
    const int i = CammerSingleton::entry(k, j);
    QString text;
    for (int v : {t.param1[i], t.param2[i], t.param3[i], t.function[i], t.shape[i], t.outN[j]})
        text += QString::number(v) + QLatin1Char(' ');
    return text + geometryText(t, i);
}

} // namespace

bool CammerSingleton::saveRoiTable()
{
    RoiStore store(cameraIndex);
    // Alone (the editor saves a camera, the Confirm copies a slot) or inside the caller's action: a
    // kill between two rows must not leave a slot count with another number of regions behind it.
    SqlTransaction transaction(paramQuery(), QStringLiteral("region table ") + store.table());
    // The first statement that fails ends the save: nothing more is written and the action rolls back.
    auto written = [&](bool ok) {
        if (!ok && transaction.writable()) {
            qCWarning(lcInspection).noquote()
                << "region table" << store.table() << "not saved:" << store.lastError();
            transaction.fail();
        }
        return transaction.writable();
    };
    for (int k = 0; k < kDetectSlots && transaction.writable(); ++k) {
        QStringList slotNumbers{QString::number(roiCount[k])};
        for (int p : detectPara[k])
            slotNumbers << QString::number(p);
        if (!written(store.update(detectRowName(k), slotNumbers.join(QLatin1Char(' ')))))
            break;

        const int count = std::clamp(roiCount[k], 0, kRoisPerSlot);
        for (int j = 0; j < count; ++j) {
            const QString name = roiRowName(k, j);
            const QString text = roiRowText(*this, k, j);
            bool exists = false;
            if (!written(store.rowExists(name, &exists)) ||
                !written(exists ? store.update(name, text) : store.insert(name, text)))
                break;
        }
        if (roiCount[k] <= kRoisPerSlot - 1) {
            for (int j = count; j < kRoisPerSlot && transaction.writable(); ++j) {
                const QString name = roiRowName(k, j);
                bool exists = false;
                if (written(store.rowExists(name, &exists)) && exists)
                    written(store.remove(name));
            }
        }
    }
    return transaction.finish();
}

void CammerSingleton::copySlot(int from, int to)
{
    roiCount[to] = roiCount[from];
    std::copy(std::begin(detectPara[from]), std::end(detectPara[from]), std::begin(detectPara[to]));
    for (int j = 0; j < kRoisPerSlot; ++j) {
        const int a = entry(from, j);
        const int b = entry(to, j);
        param1[b] = param1[a];
        param2[b] = param2[a];
        param3[b] = param3[a];
        function[b] = function[a];
        shape[b] = shape[a];
        rects[b] = rects[a];
        circles[b] = circles[a];
        polygons[b] = polygons[a];
    }
}
