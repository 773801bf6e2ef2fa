// The region editor's drawing and editing: the button panel, painting, touches that draw, select and
// drag regions, moving, copying and deleting, and the function, parameters and output of a region.

#include "drawroiwidget.h"

#include "cameradetector.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "colorbutton.h"
#include "combobox.h"
#include "edit.h"
#include "editorhooks.h"
#include "imagehelpers.h"
#include "imagesize.h"
#include "sysparam.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QGridLayout>
#include <QLabel>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kPanelWidth = 600;
constexpr int kToolsShare = 57;      // per cent of the panel's width for the region tools' column
constexpr int kPanelTextPx = 22;     // labels and combo boxes of the panel
constexpr int kMinButtonHeight = 48; // a fingertip
constexpr int kMinFieldHeight = kMinButtonHeight + 2; // a fingertip inside the 1 px frame
constexpr int kPanelSpacing = 4;
constexpr int kMaxEditorVertices = 20;
constexpr int kMoveStep = 2;
constexpr int kMinDrawSize = 10; // smaller drags are taken for taps (row 37)
const QColor kFailColour(255, 40, 40); // a region or spot the last pass failed, as the camera view marks it

// The selection flag lives in the region records only while a call needs it, so that selecting a
// region never makes the edit table differ from the live one.
struct SelectedFor
{
    CammerSingleton *t;
    int e;
    SelectedFor(CammerSingleton *table, int entry, bool on) : t(table), e(entry)
    {
        if (t && e >= 0)
            t->rects[e].selected = t->circles[e].selected = t->polygons[e].selected = on;
    }
    ~SelectedFor()
    {
        if (t && e >= 0)
            t->rects[e].selected = t->circles[e].selected = t->polygons[e].selected = false;
    }
};

bool functionEnabled(int f)
{
    const SysParam *p = gSysParam;
    if (!p)
        return f == FuncDefect;
    switch (f) {
    case FuncDefect: return p->enableDefectDetect;
    case FuncSpot: return p->enableSpotDetect;
    case FuncIgnoreArea: return p->enableIgnoreArea;
    case FuncPosition: return p->enableManualLocate;
    case FuncBlackArea: return p->enableBlackArea;
    case FuncWhiteArea: return p->enableWhiteArea;
    case FuncSimilarity: return p->enableSimilarity;
    case FuncWhiteNum: return p->enableWhiteNumber;
    case FuncTemperatureAlarm: return p->tempAlarm;
    case FuncAngleCorrection: return p->angleCorrect;
    default: return false;
    }
}

int clampInt(int v, int lo, int hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

void clampCircle(RoiCircle &c)
{
    CheckInRange(&c.centreX, 1);
    CheckInRange(&c.centreY, 0);
    const int room = std::min({c.centreX - 3, c.centreY - 3, gShowW - 3 - c.centreX, gShowH - 3 - c.centreY});
    c.outerRadius = clampInt(c.outerRadius, 1, std::max(1, room));
    c.updateGeometry();
}

} // namespace

QVector<int> DrawROIWidget::offeredFunctions()
{
    QVector<int> out;
    for (int f = 0; f <= FuncAngleCorrection; ++f)
        if (f != 8 && functionEnabled(f))
            out << f;
    return out;
}

void DrawROIWidget::parameterRange(int function, int which, int *lo, int *hi)
{
    // Rows: function code 0..10, columns: parameter 1..3 as {lo, hi}; lo > hi = not used. The spot
    // function's first parameter is its minimum gray here; its maximum gray is parameter 5.
    static const int ranges[11][3][2] = {
        {{1, 10}, {0, 255}, {0, 1000}},       {{0, 255}, {0, 99999}, {0, 99999}},
        {{0, 255}, {0, 255}, {0, 255}},       {{1, 100}, {1, 32}, {1, 100}},
        {{1, 0}, {0, 255}, {0, 50000}},       {{1, 0}, {0, 255}, {0, 50000}},
        {{1, 0}, {0, 100}, {1, 0}},           {{1, 100}, {0, 255}, {0, 100}},
        {{1, 0}, {1, 0}, {1, 0}},             {{0, 100}, {-40, 600}, {-40, 600}},
        {{1, 2}, {1, 2}, {1, 2}},
    };
    const int f = function >= 0 && function <= 10 && function != 8 ? function : 0;
    if (which == 5) {
        *lo = f == FuncSpot ? 0 : 1;
        *hi = f == FuncSpot ? 255 : 0;
        return;
    }
    const int w = clampInt(which, 1, 3) - 1;
    *lo = ranges[f][w][0];
    *hi = ranges[f][w][1];
}

int DrawROIWidget::panelWidth()
{
    // Wide enough for the captions of all four languages at a readable size beside fields a finger
    // can hit; a small screen gives the picture the same share as a large one.
    return std::min(kPanelWidth, gShowW * 31 / 100);
}

void DrawROIWidget::buildPanel()
{
    const int width = panelWidth();
    m_panel = new QWidget(this);
    m_panel->setObjectName(QStringLiteral("roiPanel"));
    m_panel->setAutoFillBackground(true);
    m_panel->setGeometry(gShowW - width, 0, width, gShowH);
    m_panel->setFont(uiFont(kPanelTextPx));
    auto *outer = new QVBoxLayout(m_panel);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(kPanelSpacing);
    m_title = new QLabel(m_panel);
    m_title->setObjectName(QStringLiteral("roiTitle"));
    m_title->setFont(uiFont(kPanelTextPx)); // its alarm style sheet would drop the panel's font
    m_title->setWordWrap(true);
    outer->addWidget(m_title);
    // Two columns read top to bottom, left then right, in the order the buttons always had: the
    // region tools with the fields of the selected region, then the templates, the alarm review and
    // leaving. Buttons share out the height the fields leave.
    auto *columns = new QHBoxLayout;
    columns->setSpacing(kPanelSpacing);
    outer->addLayout(columns, 1);
    auto *tools = new QGridLayout;
    auto *review = new QGridLayout;
    for (QGridLayout *g : {tools, review}) {
        g->setSpacing(kPanelSpacing);
        g->setColumnStretch(0, 1);
        g->setColumnStretch(1, 1);
    }
    columns->addLayout(tools, kToolsShare);
    columns->addLayout(review, 100 - kToolsShare);

    QGridLayout *grid = tools;
    int row = 0;
    auto button = [&](int text, int col, int span, auto slot) {
        auto *b = new ColorButton(uiText(text), m_panel, 3);
        b->setMinimumHeight(kMinButtonHeight);
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
        connect(b, &QPushButton::clicked, this, slot);
        grid->addWidget(b, row, col, 1, span);
        grid->setRowStretch(row, 1);
        if (col + span >= 2)
            ++row;
        return b;
    };
    // Two lines of room whatever the text, so that another region's captions never move a row.
    const int labelHeight = std::max(kMinButtonHeight, 2 * QFontMetrics(uiFont(kPanelTextPx)).lineSpacing());
    auto label = [&](const QString &text) {
        auto *l = new QLabel(text, m_panel);
        l->setWordWrap(true);
        l->setFont(uiFont(kPanelTextPx));
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        l->setFixedHeight(labelHeight);
        return l;
    };
    // The title says what the setter looks at during an alarm: whole, on two lines or more where
    // needed (a latched alarm of many cameras), and large enough to read at the machine.
    m_title->setMinimumHeight(labelHeight);
    // A row of fields shares the column's width by `stretch` (first widget, second widget): captions
    // and the longer combo entries get the room, numbers and slot numbers need little.
    auto fieldRow = [&](QWidget *first, int firstStretch, QWidget *second, int secondStretch) {
        auto *line = new QHBoxLayout;
        line->setSpacing(kPanelSpacing);
        line->addWidget(first, firstStretch);
        line->addWidget(second, secondStretch);
        grid->addLayout(line, row++, 0, 1, 2);
    };
    m_cameraBox = new ComboBox(m_panel);
    m_slotBox = new ComboBox(m_panel);
    m_sourceBox = new ComboBox(m_panel);
    m_functionBox = new ComboBox(m_panel);
    for (ComboBox *c : {m_cameraBox, m_slotBox, m_sourceBox, m_functionBox}) {
        c->setFont(uiFont(kPanelTextPx));
        c->listView->setFont(uiFont(kPanelTextPx));
        c->setMinimumHeight(kMinFieldHeight);
        c->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        styleComboBox(c, kMinButtonHeight); // popup entries a fingertip high
        // Entries of 22 px need 4.5:1 highlighted too: white on the default highlight reads at about
        // 3.6:1, on the boxes' darkest cyan at 6.4:1.
        QPalette list = c->listView->palette();
        list.setColor(QPalette::Highlight, QColor(0x00, 0x69, 0x78));
        list.setColor(QPalette::HighlightedText, Qt::white);
        c->listView->setPalette(list);
    }
    grid->addWidget(m_cameraBox, row++, 0, 1, 2);
    for (int k = 0; k < kViewSlots; ++k)
        m_slotBox->addItem(QString::number(k + 1));
    // The last entry, "All Camera", keeps the picture and makes "Don't Detect" act on every camera.
    connect(m_cameraBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int c) {
        if (!m_updatingPanel && c < m_views.size())
            setCurrentCamera(c);
    });
    connect(m_slotBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int k) {
        if (!m_updatingPanel)
            setEditSlot(k);
    });
    m_sourceBox->setObjectName(QStringLiteral("roiSource"));
    for (int r : {673, 52, 60, 674})
        m_sourceBox->addItem(uiText(r));
    fieldRow(m_slotBox, 1, m_sourceBox, 3);
    connect(m_sourceBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        if (!m_updatingPanel)
            setSourceIndex(i == 3 ? 4 : i);
    });
    button(49, 0, 1, [this] { setDrawMode(DrawRect); });
    button(51, 1, 1, [this] { setDrawMode(DrawCircle); });
    button(53, 0, 1, [this] { setDrawMode(DrawPolygon); });
    button(33, 1, 1, [this] { endPolygon(); });
    button(5, 0, 1, [this] { moveSelected(0, -kMoveStep); });
    button(6, 1, 1, [this] { moveSelected(0, kMoveStep); });
    button(7, 0, 1, [this] { moveSelected(-kMoveStep, 0); });
    button(8, 1, 1, [this] { moveSelected(kMoveStep, 0); });
    button(9, 0, 2, [this] { copySelected(); });
    button(55, 0, 1, [this] { deleteSelected(); });
    button(57, 1, 1, [this] { deleteAll(); });
    fieldRow(label(uiText(2)), 1, m_functionBox, 3);
    connect(m_functionBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int i) {
        if (!m_updatingPanel && i >= 0)
            setFunction(m_functionBox->itemData(i).toInt());
    });
    // The number fields type on the digit pad; a typed value is held to the field's range.
    auto numberField = [&](int which) {
        auto *e = new Edit(0, m_panel, 1);
        e->setAlignment(Qt::AlignCenter);
        e->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        // A fingertip high inside the 1 px border (a style sheet's height overrides setMinimumHeight).
        e->setStyleSheet(e->styleSheet() +
                         QStringLiteral("QLineEdit{min-height:%1px;}").arg(kMinFieldHeight - 2));
        connect(e, &QLineEdit::editingFinished, this, [this, e, which] {
            bool ok = false;
            const int typed = e->text().trimmed().toInt(&ok);
            const int lo = e->property("lo").toInt(), hi = e->property("hi").toInt();
            const int v = ok ? clampInt(typed, lo, hi) : e->property("value").toInt();
            e->setProperty("value", v);
            e->setText(QString::number(v));
            if (m_updatingPanel || !ok)
                return;
            if (which == 0)
                setOutput(v);
            else
                setParameter(which, v);
        });
        return e;
    };
    for (int i = 0; i < 5; ++i) {
        m_paramLabels[i] = label(QString());
        m_params[i] = numberField(i + 1);
        // A parameter a region does not use keeps its row: the buttons below never move under the
        // setter's finger when another region is selected.
        for (QWidget *w : {static_cast<QWidget *>(m_paramLabels[i]), static_cast<QWidget *>(m_params[i])}) {
            QSizePolicy policy = w->sizePolicy();
            policy.setRetainSizeWhenHidden(true);
            w->setSizePolicy(policy);
        }
        fieldRow(m_paramLabels[i], 3, m_params[i], 2);
    }
    m_output = numberField(0);
    setNumberField(m_output, 0, 8, 0);
    fieldRow(label(uiText(672)), 3, m_output, 2);

    grid = review;
    row = 0;
    // During an alarm the picture added is the NG one, and adding it deals with the alarm.
    button(48, 0, 1, [this] {
        const bool alarm = editorCycleHooks().alarmState && editorCycleHooks().alarmState() == 2;
        if (alarm)
            addAsTemplate();
        else
            SlotAddTemp();
    });
    button(63, 1, 1, [this] { deleteTemplate(); });
    button(59, 0, 1, [this] { showPicture(-1); });
    button(62, 1, 1, [this] { showPicture(1); });
    button(71, 0, 2, [this] {
        if (ask(138))
            SlotTempDeleteAll();
    });
    button(47, 0, 1, [this] { dontDetect(m_cameraBox->currentIndex() == m_views.size()); });
    button(54, 1, 1, [this] { ignoreAlarmPoint(); });
    button(671, 0, 1, [this] { saveAsOk(); });
    button(56, 1, 1, [this] { deleteIgnorePoints(); });
    button(338, 0, 2, [this] { switchToMould(); });
    m_reCheck = button(61, 0, 2, [this] { SlotReCheck(); });
    m_reCheck->setObjectName(QStringLiteral("reCheckButton"));
    button(121, 0, 1, [this] { SlotSaveData(); });
    button(58, 1, 1, [this] { SlotReturn(); });
}

void DrawROIWidget::setNumberField(Edit *field, int lo, int hi, int value)
{
    value = clampInt(value, lo, hi);
    field->setProperty("lo", lo);
    field->setProperty("hi", hi);
    field->setProperty("value", value);
    field->setText(QString::number(value));
}

// During a latched alarm the title first names the alarm as the operation record does (row 151 for
// each camera whose NG picture was kept, the last separator cut off, row 152 after one blank), in
// red.
void DrawROIWidget::refreshTitle(int regions)
{
    QString title =
        uiText(73).arg(m_camera + 1).arg(m_slot + 1) + QStringLiteral(" %1/%2").arg(regions).arg(50);
    const EditorCycleHooks &h = editorCycleHooks();
    const bool alarm = h.alarmState && h.alarmState() == 2;
    if (alarm) {
        QString cameras;
        for (int c = 0; c < m_views.size() && h.imageState; ++c) {
            const int code = h.imageState(c, m_slot);
            if (code == 3 || code == 9)
                cameras += uiText(151).arg(c + 1);
        }
        if (cameras.isEmpty())
            cameras = uiText(151).arg(m_camera + 1);
        cameras.chop(1);
        title = cameras.trimmed() + QLatin1Char(' ') + uiText(152).trimmed() + QLatin1Char('\n') + title;
    }
    m_title->setText(title);
    m_title->setStyleSheet(alarm ? QStringLiteral("QLabel{color:rgb(200,0,0);}") : QString());
}

void DrawROIWidget::refreshPanel()
{
    m_updatingPanel = true;
    if (m_cameraBox->currentIndex() != m_views.size())
        m_cameraBox->setCurrentIndex(m_camera);
    m_slotBox->setCurrentIndex(m_slot);
    m_sourceBox->setCurrentIndex(m_source == 4 ? 3 : m_source);
    const CammerWidget *v = currentView();
    const int n = v && v->editTable ? v->editTable->roiCount[m_slot] : 0;
    refreshTitle(n);
    m_functionBox->clear();
    const bool selected = v && m_selected >= 0 && m_selected < n;
    const int e = selected ? CammerSingleton::entry(m_slot, m_selected) : -1;
    const int f = selected ? v->editTable->function[e] : -1;
    // Codes the table does not know act as a defect region.
    const int ff = f >= 0 && f <= 10 && f != 8 ? f : 0;
    static const int captions[11] = {25, 15, 17, 21, 392, 393, 398, 521, 25, 570, 583};
    for (int code : offeredFunctions()) {
        m_functionBox->addItem(uiText(captions[code]), code);
        if (code == ff)
            m_functionBox->setCurrentIndex(m_functionBox->count() - 1);
    }
    // A region whose function is not offered now (its enabling setting was switched off) still says
    // what it checks; that entry cannot be picked, so only an offered function can replace it.
    if (selected && m_functionBox->findData(ff) < 0) {
        m_functionBox->addItem(uiText(captions[ff]), ff);
        if (auto *model = qobject_cast<QStandardItemModel *>(m_functionBox->model()))
            model->item(m_functionBox->count() - 1)->setFlags(Qt::NoItemFlags);
        m_functionBox->setCurrentIndex(m_functionBox->count() - 1);
    }
    m_functionBox->setEnabled(selected);
    static const int names[11][3] = {{22, 23, 24}, {10, 13, 14}, {16, 16, 16}, {20, 16, 16}, {0, 11, 24},
                                     {0, 10, 24},  {0, 362, 0}, {22, 10, 522}, {0, 0, 0}, {571, 569, 568},
                                     {20, 16, 16}};
    for (int i = 0; i < 3; ++i) {
        int lo = 1, hi = 0;
        if (selected)
            parameterRange(f, i + 1, &lo, &hi);
        const bool used = lo <= hi;
        m_paramLabels[i]->setVisible(used);
        m_params[i]->setVisible(used);
        if (!used)
            continue;
        m_paramLabels[i]->setText(uiText(names[ff][i]));
        const int *params[] = {v->editTable->param1, v->editTable->param2, v->editTable->param3};
        setNumberField(m_params[i], lo, hi, f == FuncSpot && i == 0 ? params[0][e] & 0xff : params[i][e]);
    }
    const bool spot = selected && f == FuncSpot;
    m_paramLabels[4]->setVisible(spot);
    m_params[4]->setVisible(spot);
    if (spot) {
        m_paramLabels[4]->setText(uiText(11));
        setNumberField(m_params[4], 0, 255, (v->editTable->param1[e] >> 8) & 0xff);
    }
    const bool circle = selected && v->editTable->shape[e] == ShapeCircle;
    m_paramLabels[3]->setVisible(circle);
    m_params[3]->setVisible(circle);
    if (circle) {
        m_paramLabels[3]->setText(uiText(28));
        setNumberField(m_params[3], 0, std::max(0, v->editTable->circles[e].outerRadius - 1),
                       v->editTable->circles[e].innerRadius);
    }
    m_output->setEnabled(selected);
    setNumberField(m_output, 0, 8, selected ? v->editTable->outN[m_selected] : 0);
    m_updatingPanel = false;
}

QRectF DrawROIWidget::pictureArea() const
{
    if (gShowW <= 0 || gShowH <= 0)
        return QRectF();
    const double scale = std::min({1.0, double(width() - panelWidth()) / gShowW, double(height()) / gShowH});
    return scale > 0.0 ? QRectF(0.0, 0.0, gShowW * scale, gShowH * scale) : QRectF();
}

QPoint DrawROIWidget::toScreen(const QPointF &onPage) const
{
    const QRectF area = pictureArea();
    if (area.isEmpty())
        return onPage.toPoint();
    return QPointF(onPage.x() * gShowW / area.width(), onPage.y() * gShowH / area.height()).toPoint();
}

void DrawROIWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const QRectF area = pictureArea();
    if (area.isEmpty())
        return;
    if (!m_picture.isNull())
        p.drawImage(area.topLeft(), m_picture);
    p.setClipRect(area);
    // From here on in screen coordinates, as the regions are kept.
    p.scale(area.width() / gShowW, area.height() / gShowH);
    CammerWidget *v = currentView();
    if (!v || !v->editTable)
        return;
    paintPassResults(p, *v);
    CammerSingleton *t = v->editTable;
    const int n = clampInt(t->roiCount[m_slot], 0, kRoisPerSlot);
    // Regions judged by the last pass show its verdict as the camera view does; regions drawn since
    // have not been judged yet.
    const int judged = v->liveTable ? clampInt(v->liveTable->roiCount[m_slot], 0, kRoisPerSlot) : 0;
    for (int j = 0; j < n; ++j) {
        const int e = CammerSingleton::entry(m_slot, j);
        SelectedFor sel(t, e, j == m_selected);
        const bool failed = j < judged && j < kViewRois && !v->roiPass[m_slot][j];
        const QColor colour = t->function[e] == FuncIgnoreArea ? QColor(Qt::blue)
                              : failed                         ? kFailColour
                                                               : QColor(Qt::green);
        p.setPen(QPen(colour, 3));
        if (t->shape[e] == ShapeCircle)
            t->circles[e].draw(&p);
        else if (t->shape[e] == ShapePolygon)
            t->polygons[e].draw(&p);
        else
            t->rects[e].draw(&p);
        const QRect label = t->shape[e] == ShapeCircle ? t->circles[e].screenRect
                            : t->shape[e] == ShapePolygon ? t->polygons[e].screenRect
                                                          : t->rects[e].screenRect;
        p.setPen(Qt::yellow);
        p.drawText(label.topLeft() + QPoint(4, 16), QString::number(j + 1));
    }
    paintPolygonInProgress(p);
}

// What the last pass found (its spots) and, after a parameter change in the panel, what the region's
// new parameters find on the template: the same marks the camera view draws, on the editor's picture.
void DrawROIWidget::paintPassResults(QPainter &p, const CammerWidget &v) const
{
    if (v.imageWidth <= 0 || v.imageHeight <= 0)
        return;
    p.save();
    p.scale(double(gShowW) / v.imageWidth, double(gShowH) / v.imageHeight);
    v.paintPassMarks(p, m_slot);
    p.restore();
}

void DrawROIWidget::paintPolygonInProgress(QPainter &p) const
{
    if (m_mode != DrawPolygon || m_polygon.isEmpty())
        return;
    p.setPen(QPen(Qt::cyan, 2));
    p.drawPolyline(m_polygon.constData(), m_polygon.size());
    for (const QPoint &pt : m_polygon)
        p.drawEllipse(pt, 4, 4);
}

void DrawROIWidget::setDrawMode(DrawMode mode)
{
    m_mode = mode;
    m_polygon.clear();
    update();
}

int DrawROIWidget::selectedRoi() const
{
    return m_selected;
}

void DrawROIWidget::selectRoi(int roi)
{
    const CammerWidget *v = currentView();
    const int n = v && v->editTable ? v->editTable->roiCount[m_slot] : 0;
    m_selected = roi >= 0 && roi < n ? roi : -1;
    if (CammerWidget *view = currentView()) {
        view->editSlot = m_slot;
        view->selectedRoi = m_selected;
    }
    refreshPanel();
    update();
}

// A new region of `shape` at the end of the edited slot with the first offered function; -1 (row 36
// shown) when the slot is full.
int DrawROIWidget::addRegion(int shape)
{
    CammerWidget *v = currentView();
    if (!v || !v->editTable)
        return -1;
    CammerSingleton *t = v->editTable;
    const int j = t->roiCount[m_slot];
    if (j >= kRoisPerSlot) {
        warn(uiText(36));
        return -1;
    }
    const int e = CammerSingleton::entry(m_slot, j);
    const QVector<int> offered = offeredFunctions();
    t->function[e] = offered.isEmpty() ? FuncDefect : offered.first();
    int lo, hi;
    int *params[] = {t->param1, t->param2, t->param3};
    static const int defaults[3] = {3, 30, 50};
    for (int i = 0; i < 3; ++i) {
        parameterRange(t->function[e], i + 1, &lo, &hi);
        params[i][e] = lo <= hi ? clampInt(defaults[i], lo, hi) : 0;
    }
    t->shape[e] = shape;
    t->rects[e] = RoiRect();
    t->circles[e] = RoiCircle();
    t->polygons[e].count = 0;
    t->rects[e].setScale(v->displayScaleX, v->displayScaleY);
    t->circles[e].setScale(v->displayScaleX, v->displayScaleY);
    t->polygons[e].setScale(v->displayScaleX, v->displayScaleY);
    t->roiCount[m_slot] = j + 1;
    return j;
}

// Puts region roi back inside the screen, derives its image geometry and mask.
void DrawROIWidget::finishRegionEdit(int roi)
{
    CammerWidget *v = currentView();
    if (!v || !v->editTable || roi < 0 || roi >= kRoisPerSlot)
        return;
    CammerSingleton *t = v->editTable;
    const int e = CammerSingleton::entry(m_slot, roi);
    cv::Mat mask;
    if (t->shape[e] == ShapeCircle) {
        clampCircle(t->circles[e]);
        t->circles[e].updateImageGeometry();
        mask = t->circles[e].mask();
    } else if (t->shape[e] == ShapePolygon) {
        RoiPolygon &g = t->polygons[e];
        for (int i = 0; i < g.count && i < kMaxPolygonPoints; ++i) {
            CheckInRange(&g.points[i].rx(), 1);
            CheckInRange(&g.points[i].ry(), 0);
        }
        g.updateImagePoints();
        g.updateBounds();
        mask = g.mask();
    } else {
        RoiRect &r = t->rects[e];
        r.screenRect = r.screenRect.normalized();
        CheckInRange(&r.screenRect, false);
        r.updateImageRect();
        mask = r.mask();
    }
    v->editRoiMasks[m_slot][roi] = mask;
}

bool DrawROIWidget::regionContains(int roi, QPoint p) const
{
    const CammerWidget *v = currentView();
    const int e = CammerSingleton::entry(m_slot, roi);
    const CammerSingleton *t = v->editTable;
    if (t->shape[e] == ShapeCircle)
        return t->circles[e].hitTest(p);
    if (t->shape[e] == ShapePolygon)
        return t->polygons[e].hitTest(p);
    return t->rects[e].hitTest(p);
}

void DrawROIWidget::mousePressEvent(QMouseEvent *event)
{
    pressAt(toScreen(event->localPos()));
}

void DrawROIWidget::mouseMoveEvent(QMouseEvent *event)
{
    dragTo(toScreen(event->localPos()));
}

void DrawROIWidget::mouseReleaseEvent(QMouseEvent *event)
{
    releaseAt(toScreen(event->localPos()));
}

void DrawROIWidget::pressAt(QPoint p)
{
    CammerWidget *v = currentView();
    if (!v || !v->editTable)
        return;
    m_pressed = true;
    m_pressPoint = m_lastPoint = p;
    m_dragRoi = -1;
    m_dragHandle = -1;
    if (m_mode == DrawPolygon) {
        if (m_polygon.size() >= kMaxEditorVertices) {
            m_pressed = false;
            warn(uiText(35));
            return;
        }
        CheckInRange(&p.rx(), 1);
        CheckInRange(&p.ry(), 0);
        m_polygon << p;
        update();
        return;
    }
    if (m_mode != NoDraw)
        return;
    CammerSingleton *t = v->editTable;
    if (m_selected >= 0) {
        const int e = CammerSingleton::entry(m_slot, m_selected);
        SelectedFor sel(t, e, true);
        int h = -1;
        const bool hit = t->shape[e] == ShapeCircle    ? t->circles[e].hitRing(p, &h)
                         : t->shape[e] == ShapePolygon ? t->polygons[e].hitVertex(p, &h)
                                                       : t->rects[e].hitHandle(p, &h);
        if (hit) {
            m_dragRoi = m_selected;
            m_dragHandle = h;
            return;
        }
    }
    // The region drawn last lies on top.
    for (int j = t->roiCount[m_slot] - 1; j >= 0; --j) {
        if (regionContains(j, p)) {
            if (j != m_selected)
                selectRoi(j);
            m_dragRoi = j;
            return;
        }
    }
    selectRoi(-1);
}

void DrawROIWidget::dragTo(QPoint p)
{
    CammerWidget *v = currentView();
    if (!m_pressed || !v || !v->editTable)
        return;
    const QPoint from = m_lastPoint;
    m_lastPoint = p;
    if (m_mode != NoDraw || m_dragRoi < 0) {
        update();
        return;
    }
    CammerSingleton *t = v->editTable;
    const int e = CammerSingleton::entry(m_slot, m_dragRoi);
    if (m_dragHandle < 0) {
        moveSelected(p.x() - from.x(), p.y() - from.y());
        return;
    }
    if (t->shape[e] == ShapeCircle)
        t->circles[e].dragHandle(m_dragHandle, from, p);
    else if (t->shape[e] == ShapePolygon)
        t->polygons[e].movePoint(m_dragHandle, from, p, v->displayScaleX, v->displayScaleY);
    else
        t->rects[e].dragHandle(m_dragHandle, from, p);
    finishRegionEdit(m_dragRoi);
    update();
}

void DrawROIWidget::releaseAt(QPoint p)
{
    if (!m_pressed)
        return;
    dragTo(p);
    m_pressed = false;
    if (m_mode != DrawRect && m_mode != DrawCircle) {
        if (m_dragRoi >= 0)
            refreshPanel();
        return;
    }
    const QPoint a = m_pressPoint;
    const int radius = int(std::lround(std::hypot(double(p.x() - a.x()), double(p.y() - a.y()))));
    if ((m_mode == DrawRect && (std::abs(p.x() - a.x()) < kMinDrawSize || std::abs(p.y() - a.y()) < kMinDrawSize))
        || (m_mode == DrawCircle && radius < kMinDrawSize)) {
        warn(uiText(37));
        return;
    }
    const int j = addRegion(m_mode == DrawRect ? ShapeRect : ShapeCircle);
    if (j < 0)
        return;
    CammerSingleton *t = currentView()->editTable;
    const int e = CammerSingleton::entry(m_slot, j);
    if (m_mode == DrawRect) {
        t->rects[e].screenRect = QRect(a, p).normalized();
    } else {
        t->circles[e].centreX = a.x();
        t->circles[e].centreY = a.y();
        t->circles[e].outerRadius = radius;
        t->circles[e].innerRadius = 0;
    }
    finishRegionEdit(j);
    m_mode = NoDraw;
    selectRoi(j);
}

bool DrawROIWidget::endPolygon()
{
    if (m_mode != DrawPolygon || m_polygon.size() < 3) {
        warn(uiText(37));
        return false;
    }
    const int j = addRegion(ShapePolygon);
    if (j < 0)
        return false;
    CammerWidget *v = currentView();
    const int e = CammerSingleton::entry(m_slot, j);
    RoiPolygon &g = v->editTable->polygons[e];
    g.count = m_polygon.size();
    for (int i = 0; i < g.count; ++i)
        g.points[i] = m_polygon[i];
    g.setScale(v->displayScaleX, v->displayScaleY);
    finishRegionEdit(j);
    m_polygon.clear();
    m_mode = NoDraw;
    selectRoi(j);
    return true;
}

void DrawROIWidget::moveSelected(int dx, int dy)
{
    CammerWidget *v = currentView();
    if (!v || !v->editTable || m_selected < 0)
        return;
    CammerSingleton *t = v->editTable;
    const int e = CammerSingleton::entry(m_slot, m_selected);
    if (t->shape[e] == ShapeCircle) {
        t->circles[e].centreX += dx;
        t->circles[e].centreY += dy;
    } else if (t->shape[e] == ShapePolygon) {
        // The whole outline moves only as far as its outermost vertex may go.
        RoiPolygon &g = t->polygons[e];
        int minX = gShowW, minY = gShowH, maxX = 0, maxY = 0;
        for (int i = 0; i < g.count; ++i) {
            minX = std::min(minX, g.points[i].x());
            maxX = std::max(maxX, g.points[i].x());
            minY = std::min(minY, g.points[i].y());
            maxY = std::max(maxY, g.points[i].y());
        }
        dx = clampInt(dx, 3 - minX, gShowW - 3 - maxX);
        dy = clampInt(dy, 3 - minY, gShowH - 3 - maxY);
        for (int i = 0; i < g.count; ++i)
            g.points[i] += QPoint(dx, dy);
    } else {
        t->rects[e].screenRect.translate(dx, dy);
        CheckInRange(&t->rects[e].screenRect, true);
    }
    finishRegionEdit(m_selected);
    update();
}

bool DrawROIWidget::copySelected()
{
    CammerWidget *v = currentView();
    if (!v || m_selected < 0) {
        warn(uiText(65));
        return false;
    }
    if (!ask(38))
        return false;
    CammerSingleton *t = v->editTable;
    const int from = CammerSingleton::entry(m_slot, m_selected);
    const int shape = t->shape[from];
    const int j = addRegion(shape);
    if (j < 0)
        return false;
    const int e = CammerSingleton::entry(m_slot, j);
    t->function[e] = t->function[from];
    t->param1[e] = t->param1[from];
    t->param2[e] = t->param2[from];
    t->param3[e] = t->param3[from];
    t->rects[e] = t->rects[from];
    t->circles[e] = t->circles[from];
    t->polygons[e] = t->polygons[from];
    m_selected = j;
    moveSelected(20, 20);
    selectRoi(j);
    return true;
}

bool DrawROIWidget::deleteSelected()
{
    CammerWidget *v = currentView();
    if (!v || m_selected < 0) {
        warn(uiText(65));
        return false;
    }
    if (!ask(66))
        return false;
    CammerSingleton *t = v->editTable;
    const int n = t->roiCount[m_slot];
    // Later regions move down one place so that the numbers stay without gaps.
    for (int j = m_selected; j + 1 < n; ++j) {
        const int a = CammerSingleton::entry(m_slot, j), b = a + 1;
        t->function[a] = t->function[b];
        t->param1[a] = t->param1[b];
        t->param2[a] = t->param2[b];
        t->param3[a] = t->param3[b];
        t->shape[a] = t->shape[b];
        t->rects[a] = t->rects[b];
        t->circles[a] = t->circles[b];
        t->polygons[a] = t->polygons[b];
        v->editRoiMasks[m_slot][j] = v->editRoiMasks[m_slot][j + 1];
    }
    v->editRoiMasks[m_slot][n - 1] = cv::Mat();
    t->roiCount[m_slot] = n - 1;
    selectRoi(-1);
    return true;
}

bool DrawROIWidget::deleteAll()
{
    CammerWidget *v = currentView();
    if (!v || !ask(67))
        return false;
    for (int j = 0; j < kRoisPerSlot; ++j)
        v->editRoiMasks[m_slot][j] = cv::Mat();
    v->editTable->roiCount[m_slot] = 0;
    selectRoi(-1);
    return true;
}

bool DrawROIWidget::setFunction(int function)
{
    CammerWidget *v = currentView();
    if (!v || m_selected < 0 || !offeredFunctions().contains(function))
        return false;
    CammerSingleton *t = v->editTable;
    const int e = CammerSingleton::entry(m_slot, m_selected);
    t->function[e] = function;
    int *params[] = {t->param1, t->param2, t->param3};
    for (int i = 0; i < 3; ++i) {
        int lo, hi;
        parameterRange(function, i + 1, &lo, &hi);
        if (function == FuncSpot && i == 0)
            params[0][e] = clampInt(params[0][e], 0, 0xffff);
        else if (lo <= hi)
            params[i][e] = clampInt(params[i][e], lo, hi);
    }
    refreshPanel();
    update();
    return true;
}

void DrawROIWidget::setParameter(int which, int value)
{
    CammerWidget *v = currentView();
    if (!v || m_selected < 0)
        return;
    CammerSingleton *t = v->editTable;
    const int e = CammerSingleton::entry(m_slot, m_selected);
    if (which == 4) { // inner radius of a ring
        if (t->shape[e] == ShapeCircle) {
            t->circles[e].innerRadius = value;
            finishRegionEdit(m_selected);
            update();
        }
        return;
    }
    int lo, hi;
    parameterRange(t->function[e], which, &lo, &hi);
    if (lo > hi)
        return;
    value = clampInt(value, lo, hi);
    // The spot function keeps its gray range in one number: minimum in bits 0-7, maximum in 8-15.
    if (t->function[e] == FuncSpot && which == 1)
        value = (t->param1[e] & 0xff00) | value;
    else if (which == 5)
        value = (t->param1[e] & 0xff) | (value << 8);
    which = which == 5 ? 1 : which;
    int *params[] = {t->param1, t->param2, t->param3};
    params[which - 1][e] = value;
    v->editSlot = m_slot;
    v->selectedRoi = m_selected;
    // The view previews the region on its template with the new value.
    if (which == 1)
        v->SlotMinWH(value);
    else if (which == 2)
        v->SlotSensitivity(value);
    else
        v->SlotArea(value);
    update();
}

void DrawROIWidget::setOutput(int output)
{
    CammerWidget *v = currentView();
    if (v && m_selected >= 0)
        v->editTable->outN[m_selected] = clampInt(output, 0, 8);
}
