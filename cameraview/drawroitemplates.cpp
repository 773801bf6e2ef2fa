// The region editor's templates and ignore masks: adding the current picture as a template, browsing,
// deleting one or all, and painting the NG spots into the slot's ignore mask.

#include "drawroiwidget.h"

#include "cameradetector.h"
#include "cameraviewlog.h"
#include "cammerwidget.h"
#include "editorhooks.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

namespace {

// Largest spot area (image pixels) one "Ignore Alarm P" may hide: a bigger NG area is a real fault
// the operator must not wave away (row 115).
constexpr int kIgnoreAreaLimit = 10000;

} // namespace

void DrawROIWidget::SlotAddTemp()
{
    CammerWidget *v = currentView();
    if (!v)
        return;
    const int limit = std::clamp(gTemplateLimit, 0, kMaxTemplates);
    if (v->templateCount[m_slot] >= limit) {
        warn(limit == 1 ? uiText(258) : uiText(670).arg(limit));
        return;
    }
    if (!v->SaveReTrainImage(m_slot)) {
        warn(uiText(670).arg(limit));
        return;
    }
    if (v->detector)
        v->detector->trainTemplates(m_slot);
    if (editorCycleHooks().sendSyncTempList)
        editorCycleHooks().sendSyncTempList(QJsonObject{{"camera", m_camera}, {"detect", m_slot}});
    qCInfo(lcCameraView) << "camera" << m_camera + 1 << "slot" << m_slot + 1 << "template added, now"
                         << v->templateCount[m_slot];
    refreshPicture();
}

void DrawROIWidget::showTemplate(int step)
{
    CammerWidget *v = currentView();
    if (!v)
        return;
    m_source = 1;
    // Next present template in the direction of step, wrapping round.
    int n = m_shown;
    for (int i = 0; i < kMaxTemplates; ++i) {
        n = (n + (step < 0 ? -1 : 1) + kMaxTemplates) % kMaxTemplates;
        if (v->templatePresent[m_slot][n])
            break;
    }
    if (v->templatePresent[m_slot][n])
        m_shown = n;
    v->currentTemplate = m_shown;
    const QFileInfo file(v->templateFile(m_slot, m_shown));
    gTemplateTimeText = file.exists() ? file.lastModified().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                      : QString();
    refreshPicture();
    refreshPanel();
}

bool DrawROIWidget::deleteTemplate()
{
    CammerWidget *v = currentView();
    if (!v)
        return false;
    const int n = m_source == 1 ? m_shown : v->currentTemplate;
    if (n <= 0 || n >= kMaxTemplates) { // the first template is replaced by resampling only
        warn(uiText(68));
        return false;
    }
    if (!v->templatePresent[m_slot][n] || !ask(69))
        return false;
    QFile::remove(v->templateFile(m_slot, n));
    v->templatePresent[m_slot][n] = 0;
    v->templates[m_slot][n] = cv::Mat();
    v->templateCount[m_slot] = std::max(0, v->templateCount[m_slot] - 1);
    if (v->detector)
        v->detector->trainTemplates(m_slot);
    record(uiText(70).arg(m_camera + 1).arg(n + 1));
    showTemplate(-1);
    return true;
}

void DrawROIWidget::SlotTempDeleteAll()
{
    CammerWidget *v = currentView();
    if (!v)
        return;
    for (int n = 0; n < kMaxTemplates; ++n) {
        QFile::remove(v->templateFile(m_slot, n));
        v->templatePresent[m_slot][n] = 0;
        if (n > 0)
            v->templates[m_slot][n] = cv::Mat();
    }
    // Template 0 keeps its buffer (the detector reads its size) but no longer counts as stored.
    if (!v->templates[m_slot][0].empty())
        v->templates[m_slot][0].setTo(0);
    v->templateCount[m_slot] = 0;
    m_shown = 0;
    qCInfo(lcCameraView) << "camera" << m_camera + 1 << "slot" << m_slot + 1 << "templates deleted";
    refreshPicture();
}

bool DrawROIWidget::ignoreAlarmPoint()
{
    CammerWidget *v = currentView();
    if (!v || v->ignoreMasks[m_slot].empty())
        return false;
    cv::Mat &mask = v->ignoreMasks[m_slot];
    const cv::Rect image(0, 0, mask.cols, mask.rows);
    QVector<cv::Rect> spots;
    long area = 0;
    for (int j = 0; j < kViewRois; ++j) {
        const int count = std::clamp(v->spots[m_slot][j][0].x1, 0, kMaxSpots - 1);
        for (int i = 1; i <= count; ++i) {
            const SpotRecord &s = v->spots[m_slot][j][i];
            const cv::Rect r = cv::Rect(cv::Point(s.x1, s.y1), cv::Point(s.x2 + 1, s.y2 + 1)) & image;
            if (r.area() > 0) {
                spots << r;
                area += r.area();
            }
        }
    }
    if (spots.isEmpty())
        return false;
    if (area > kIgnoreAreaLimit) {
        warn(uiText(115).arg(kIgnoreAreaLimit));
        return false;
    }
    if (!ask(113))
        return false;
    for (const cv::Rect &r : spots)
        mask(r).setTo(255);
    if (!v->saveIgnoreMask(m_slot)) {
        qCWarning(lcCameraView) << "camera" << m_camera + 1 << "ignore mask of slot" << m_slot + 1
                                << "not written";
        return false;
    }
    record(uiText(114).arg(m_camera + 1));
    update();
    return true;
}

bool DrawROIWidget::deleteIgnorePoints()
{
    CammerWidget *v = currentView();
    if (!v || v->ignoreMasks[m_slot].empty() || !ask(116))
        return false;
    v->ignoreMasks[m_slot].setTo(0);
    if (!v->saveIgnoreMask(m_slot))
        return false;
    record(uiText(117).arg(m_camera + 1));
    return true;
}
