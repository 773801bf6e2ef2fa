// The region editor's page: construction and panel, opening and closing, cameras, slots and picture
// sources, saving the edit table into the live one and the operation-record line of a save.

#include "drawroiwidget.h"

#include "cameradetector.h"
#include "cameraviewlog.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "choosebox.h"
#include "combobox.h"
#include "edit.h"
#include "editorhooks.h"
#include "imagesize.h"
#include "inspectionhooks.h"
#include "paramquery.h"
#include "sqltransaction.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstring>
#include <memory>

namespace {

// Frame-format picture (8-bit gray, or the bytes R, G, B, unused) as an opaque image, deep-copied.
QImage matImage(const cv::Mat &m)
{
    if (m.empty())
        return QImage();
    if (m.type() == CV_8UC4)
        return QImage(m.data, m.cols, m.rows, int(m.step), QImage::Format_RGBX8888).copy();
    if (m.type() == CV_8UC1)
        return QImage(m.data, m.cols, m.rows, int(m.step), QImage::Format_Grayscale8).copy();
    return QImage();
}

} // namespace

DrawROIWidget::DrawROIWidget(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("drawROIWidget"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(gShowW, gShowH);
    buildPanel();
    m_doorTimer = new QTimer(this);
    m_doorTimer->setInterval(200);
    connect(m_doorTimer, &QTimer::timeout, this, &DrawROIWidget::pollSafetyDoor);
    hide();
}

// A number field being typed in finishes its editing while it is destroyed with the page: by then
// the page is half gone, so it must no longer hear the fields.
DrawROIWidget::~DrawROIWidget()
{
    for (Edit *field : findChildren<Edit *>())
        field->disconnect(this);
}

void DrawROIWidget::setCameraViews(const QVector<CammerWidget *> &views)
{
    m_views = views;
    m_updatingPanel = true;
    m_cameraBox->clear();
    for (int c = 0; c < m_views.size(); ++c)
        m_cameraBox->addItem(uiText(43).arg(c + 1));
    m_cameraBox->addItem(uiText(44));
    m_updatingPanel = false;
    if (m_camera >= m_views.size())
        m_camera = 0;
}

CammerWidget *DrawROIWidget::currentView() const
{
    return m_camera >= 0 && m_camera < m_views.size() ? m_views[m_camera] : nullptr;
}

void DrawROIWidget::openPage(bool keepPlace)
{
    for (CammerWidget *v : m_views) {
        if (!v || !v->liveTable || !v->editTable)
            continue;
        v->editTable->copyWhole(*v->liveTable);
        for (int k = 0; k < kViewSlots; ++k)
            for (int j = 0; j < kViewRois; ++j)
                v->editRoiMasks[k][j] = v->roiMasks[k][j].clone();
    }
    m_mode = NoDraw;
    m_polygon.clear();
    m_pressed = false;
    if (!keepPlace) {
        m_source = 0;
        m_shown = 0;
        const int slot = editorCycleHooks().currentSlot ? editorCycleHooks().currentSlot() : 0;
        m_slot = slot >= 0 && slot < gDetectSlotCount ? slot : 0;
        if (!currentView())
            m_camera = 0;
        showAlarmCamera();
    }
    // A preview belongs to the visit that asked for it.
    for (CammerWidget *v : m_views)
        if (v)
            v->previewShown = false;
    resize(gShowW, gShowH);
    move(0, 0);
    refreshPicture();
    refreshPanel();
    show();
    raise();
    m_doorTimer->start();
}

// During an alarm the page opens on the first camera whose NG picture was kept, showing that picture.
void DrawROIWidget::showAlarmCamera()
{
    const EditorCycleHooks &h = editorCycleHooks();
    if (!h.alarmState || h.alarmState() != 2 || !h.imageState)
        return;
    for (int c = 0; c < m_views.size(); ++c) {
        const int code = h.imageState(c, m_slot);
        if (!m_views[c] || (code != 3 && code != 9))
            continue;
        m_camera = c;
        const int kept = m_views[c]->ngCount[m_slot];
        if (kept > 0) {
            m_source = 2;
            m_shown = (kept - 1) % kNgRingSize;
        }
        return;
    }
}

void DrawROIWidget::closePage()
{
    m_mode = NoDraw;
    m_polygon.clear();
    m_pressed = false;
    for (CammerWidget *v : m_views) {
        if (v) {
            v->roiViewState = -1;
            v->previewShown = false;
            v->update();
        }
    }
    m_doorTimer->stop();
    hide();
    if (editorCycleHooks().editorClosed)
        editorCycleHooks().editorClosed();
}

bool DrawROIWidget::setCurrentCamera(int camera)
{
    if (camera < 0 || camera >= m_views.size() || !m_views[camera])
        return false;
    if (CammerWidget *old = currentView())
        old->roiViewState = -1;
    m_camera = camera;
    m_shown = 0;
    m_polygon.clear();
    refreshPicture();
    refreshPanel();
    return true;
}

void DrawROIWidget::setEditSlot(int slot)
{
    if (slot < 0 || slot >= kViewSlots)
        return;
    selectRoi(-1);
    m_slot = slot;
    m_shown = 0;
    m_polygon.clear();
    refreshPicture();
    refreshPanel();
}

void DrawROIWidget::showPicture(int step)
{
    if (m_source == 1) {
        showTemplate(step);
        return;
    }
    const int count = m_source == 2 ? kNgRingSize : m_source == 4 ? alarmPictures().size() : 1;
    if (count > 0)
        m_shown = (m_shown + (step < 0 ? count - 1 : 1)) % count;
    refreshPicture();
}

void DrawROIWidget::setSourceIndex(int index)
{
    if (index != 0 && index != 1 && index != 2 && index != 4)
        return;
    m_source = index;
    m_shown = 0;
    if (index == 4) // newest saved alarm picture first
        m_shown = std::max(0, alarmPictures().size() - 1);
    refreshPicture();
    refreshPanel();
}

// Saved NG pictures of the current camera and slot, oldest first (the saver names them by time).
QVector<QString> DrawROIWidget::alarmPictures() const
{
    QDir dir(QStringLiteral("./alarmimage//camera%1//detect%2//NG").arg(m_camera + 1).arg(m_slot + 1));
    QVector<QString> files;
    const QStringList names = dir.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.bmp"),
                                             QStringLiteral("*.png")},
                                            QDir::Files, QDir::Name);
    for (const QString &n : names)
        files << dir.filePath(n);
    return files;
}

QImage DrawROIWidget::pictureOf(int source, int index) const
{
    const CammerWidget *v = currentView();
    if (!v)
        return QImage();
    switch (source) {
    case 0: {
        if (v->grabBuffer().empty() || v->imageWidth <= 0)
            return QImage();
        const bool colour = v->frameBytes == 4 * v->pixelCount;
        cv::Mat frame(v->imageHeight, v->imageWidth, colour ? CV_8UC4 : CV_8UC1,
                      const_cast<uchar *>(v->grabBuffer().data()));
        return matImage(frame);
    }
    case 1:
        if (index >= 0 && index < kMaxTemplates && v->templatePresent[m_slot][index])
            return matImage(v->templates[m_slot][index]);
        return QImage();
    case 2:
        return index >= 0 && index < kNgRingSize ? matImage(v->ngRing[m_slot][index]) : QImage();
    case 4: {
        const QVector<QString> files = alarmPictures();
        return index >= 0 && index < files.size() ? QImage(files[index]) : QImage();
    }
    default:
        return QImage();
    }
}

void DrawROIWidget::refreshPicture()
{
    QImage image = pictureOf(m_source, m_shown);
    const QSize room = pictureArea().size().toSize();
    m_picture = image.isNull() || room.isEmpty()
                    ? QImage()
                    : image.scaled(room, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    update();
}

bool DrawROIWidget::hasUnsavedChanges() const
{
    for (const CammerWidget *v : m_views)
        if (v && v->liveTable && v->editTable
            && std::memcmp(v->liveTable, v->editTable, sizeof(CammerSingleton)) != 0)
            return true;
    return false;
}

// Two-colour and turntable machines inspect both moulds with the regions of the first pair.
void DrawROIWidget::copySlotsForMachineType()
{
    if (!gSysParam || (gSysParam->machineType != 1 && gSysParam->machineType != 2))
        return;
    for (CammerWidget *v : m_views) {
        if (!v || !v->editTable)
            continue;
        CammerSingleton &t = *v->editTable;
        for (int k = 0; k < 2; ++k) {
            const int to = k + 2;
            t.copySlot(k, to);
            for (int j = 0; j < kRoisPerSlot; ++j) {
                v->editRoiMasks[to][j] = v->editRoiMasks[k][j].clone();
            }
        }
    }
}

void DrawROIWidget::SlotSaveData()
{
    copySlotsForMachineType();
    const QString line = recordLine();
    QVector<CammerWidget *> changed;
    for (CammerWidget *v : m_views) {
        if (v && v->liveTable && v->editTable &&
            std::memcmp(v->liveTable, v->editTable, sizeof(CammerSingleton)) != 0)
            changed << v;
    }
    bool allSaved = true;
    if (!changed.isEmpty()) {
        // Every table of one Save in one transaction: a kill or a power cut leaves PARAM.db with all
        // the old regions or all the new ones. Templates are built and boxes shown only after it.
        SqlTransaction transaction(paramQuery(), QStringLiteral("region save"));
        for (CammerWidget *v : qAsConst(changed)) {
            v->liveTable->copyWhole(*v->editTable);
            for (int k = 0; k < kViewSlots; ++k)
                for (int j = 0; j < kViewRois; ++j)
                    v->roiMasks[k][j] = v->editRoiMasks[k][j].clone();
            if (transaction.writable())
                v->liveTable->saveRoiTable();
        }
        allSaved = transaction.finish();
    }
    for (CammerWidget *v : qAsConst(changed)) {
        if (v->detector) {
            for (int k = 0; k < gDetectSlotCount && k < kViewSlots; ++k) {
                if (!gSysParam || !gSysParam->slotEnabled[k])
                    continue;
                v->detector->buildRegistrationTemplate(k);
                v->detector->createPositionTemplate(k);
                v->detector->trainTemplates(k);
            }
        }
        qCInfo(lcCameraView) << "regions of camera" << v->cameraIndex + 1
                             << (allSaved ? "saved" : "in force, not saved");
    }
    if (!line.isEmpty())
        record(line);
    // The regions rule until the next start either way; the setter must know they will not come back.
    if (!allSaved)
        warn(uiText(741));
}

void DrawROIWidget::SlotReturn()
{
    if (hasUnsavedChanges() && ask(72))
        SlotSaveData();
    closePage();
    if (gAreaCheckActive) {
        gAreaCheckActive = false;
        if (editorCycleHooks().BackTrain)
            editorCycleHooks().BackTrain();
    }
    if (editorCycleHooks().alarmState) {
        int &state = editorCycleHooks().alarmState();
        if (state == 3)
            state = 0;
    }
    if (editorCycleHooks().ChangeCammer)
        editorCycleHooks().ChangeCammer();
}

bool DrawROIWidget::ask(int row, const QString &arg)
{
    const QString text = arg.isNull() ? uiText(row) : uiText(row).arg(arg);
    std::unique_ptr<ChooseBox> local;
    ChooseBox *box = gChooseBox;
    if (!box) {
        local = std::make_unique<ChooseBox>(this);
        box = local.get();
    }
    box->setMessage(text);
    return box->exec() == 1;
}

void DrawROIWidget::warn(const QString &text)
{
    qCInfo(lcCameraView) << "editor:" << text;
    std::unique_ptr<WarnBox> local;
    WarnBox *box = gWarnBox;
    if (!box) {
        local = std::make_unique<WarnBox>(this);
        box = local.get();
    }
    box->setMessage(text);
    box->exec();
}

void DrawROIWidget::record(const QString &line)
{
    if (inspectionHooks().InsertRecord)
        inspectionHooks().InsertRecord(line);
}

namespace {

QString shapeName(int shape)
{
    return uiText(shape == ShapeCircle ? 75 : shape == ShapePolygon ? 76 : 74);
}

QString functionName(int f)
{
    switch (f) {
    case FuncSpot: return uiText(15);
    case FuncIgnoreArea: return uiText(17);
    case FuncPosition: return uiText(21);
    case FuncBlackArea: return uiText(392);
    case FuncWhiteArea: return uiText(393);
    case FuncSimilarity: return uiText(398);
    case FuncWhiteNum: return uiText(521);
    case FuncTemperatureAlarm: return uiText(570);
    case FuncAngleCorrection: return uiText(583);
    default: return uiText(25);
    }
}

QString changed(int row, int from, int to)
{
    return from == to ? QString() : uiText(row).arg(from).arg(to);
}

} // namespace

// What changed in region j of the edited slot between the live and the edit table.
QString DrawROIWidget::changeText(int j) const
{
    const CammerWidget *v = currentView();
    const CammerSingleton &o = *v->liveTable, &n = *v->editTable;
    const int e = CammerSingleton::entry(m_slot, j);
    const int oldCount = o.roiCount[m_slot], newCount = n.roiCount[m_slot];
    if (j >= oldCount)
        return uiText(80).arg(shapeName(n.shape[e])).arg(j + 1).arg(functionName(n.function[e]));
    if (j >= newCount)
        return uiText(81).arg(shapeName(o.shape[e])).arg(j + 1).arg(functionName(o.function[e]));
    QString func;
    if (o.function[e] != n.function[e])
        func = uiText(82) + functionName(o.function[e]) + uiText(83) + functionName(n.function[e]);
    QString params;
    const int p1 = o.param1[e], q1 = n.param1[e], p2 = o.param2[e], q2 = n.param2[e];
    const int p3 = o.param3[e], q3 = n.param3[e];
    if (p1 != q1 || p2 != q2 || p3 != q3) {
        switch (n.function[e]) {
        case FuncSpot:
            params = uiText(89)
                         .arg(changed(85, p1 & 0xff, q1 & 0xff), changed(86, (p1 >> 8) & 0xff, (q1 >> 8) & 0xff),
                              changed(87, p2, q2), changed(88, p3, q3));
            break;
        case FuncPosition:
            params = uiText(93).arg(changed(91, p1, q1), changed(92, p2, q2), changed(90, p3, q3));
            break;
        default:
            params = uiText(97).arg(changed(96, p1, q1), changed(94, p2, q2), changed(95, p3, q3));
            break;
        }
    }
    const bool moved = o.shape[e] != n.shape[e]
                       || std::memcmp(&o.rects[e].screenRect, &n.rects[e].screenRect, sizeof(QRect)) != 0
                       || o.circles[e].centreX != n.circles[e].centreX
                       || o.circles[e].centreY != n.circles[e].centreY
                       || o.circles[e].outerRadius != n.circles[e].outerRadius
                       || o.circles[e].innerRadius != n.circles[e].innerRadius
                       || o.polygons[e].count != n.polygons[e].count
                       || std::memcmp(o.polygons[e].points, n.polygons[e].points,
                                      sizeof(QPoint) * size_t(std::max(0, n.polygons[e].count))) != 0;
    const bool outChanged = j < kRoisPerSlot && o.outN[j] != n.outN[j];
    if (func.isEmpty() && params.isEmpty() && !moved && !outChanged)
        return QString();
    if (func.isEmpty())
        func = uiText(84) + functionName(n.function[e]);
    return uiText(99).arg(shapeName(n.shape[e])).arg(j + 1).arg(func, params, moved ? uiText(98) : QString());
}

QString DrawROIWidget::recordLine() const
{
    const CammerWidget *v = currentView();
    if (!v || !v->liveTable || !v->editTable)
        return QString();
    QString parts;
    const int count = std::max(v->liveTable->roiCount[m_slot], v->editTable->roiCount[m_slot]);
    for (int j = 0; j < count && j < kRoisPerSlot; ++j)
        parts += changeText(j);
    if (parts.isEmpty())
        return QString();
    return uiText(73).arg(m_camera + 1).arg(m_slot + 1) + parts;
}
