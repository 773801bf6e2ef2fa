// The region editor's alarm review: what the operator says the alarm was, written as the imageState
// code of the alarm slot for each camera dealt with, and the re-check of the cameras not dealt with.
//
// Codes (the machine cycle's CheckNG reports 4 to 6 as the alarm's clearing method):
//   4  "Don't Detect": this mould (or product) is not judged, for one camera or all cameras
//   5  "Add As Temp": the NG picture becomes a template of the slot
//   6  re-detection switched to the mould slot (the product alarm is left to the mould check)
//   7  save the picture as OK; 10 when an NG picture of that camera is still waiting to be saved
// Each of them also sets the view's alarm-handled mark of the slot, so that the re-check skips it.

#include "drawroiwidget.h"

#include "cameradetector.h"
#include "cameraviewlog.h"
#include "cammerwidget.h"
#include "editorhooks.h"
#include "iolink.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QTimer>

int DrawROIWidget::alarmSlot() const
{
    const int s = editorCycleHooks().currentSlot ? editorCycleHooks().currentSlot() : m_slot;
    return s >= 0 && s < kViewSlots ? s : m_slot;
}

// A single-camera action during an alarm needs the camera whose picture was kept as NG (row 107).
bool DrawROIWidget::onAlarmCamera()
{
    const EditorCycleHooks &h = editorCycleHooks();
    if (!h.alarmState || h.alarmState() != 2 || !h.imageState)
        return true;
    const int code = h.imageState(m_camera, alarmSlot());
    if (code == 3 || code == 9)
        return true;
    warn(uiText(107));
    return false;
}

void DrawROIWidget::reviewDone(int code, bool allCameras)
{
    const int slot = alarmSlot();
    for (int c = 0; c < m_views.size(); ++c) {
        if (!m_views[c] || (!allCameras && c != m_camera))
            continue;
        if (editorCycleHooks().imageState) {
            int &state = editorCycleHooks().imageState(c, slot);
            state = code == 7 && state == 9 ? 10 : code;
        }
        m_views[c]->alarmHandled[slot] = true;
    }
    qCInfo(lcCameraView) << "alarm of slot" << slot + 1 << "dealt with, code" << code
                         << (allCameras ? "all cameras" : "camera") << m_camera + 1;
}

bool DrawROIWidget::dontDetect(bool allCameras)
{
    if (!currentView() || (!allCameras && !onAlarmCamera()))
        return false;
    const bool product = alarmSlot() % 2 == 0;
    if (allCameras ? !ask(product ? 100 : 102) : !ask(105, QString::number(m_camera + 1)))
        return false;
    reviewDone(4, allCameras);
    record(allCameras ? uiText(product ? 101 : 103) : uiText(106).arg(m_camera + 1));
    return true;
}

bool DrawROIWidget::addAsTemplate()
{
    CammerWidget *v = currentView();
    if (!v || !onAlarmCamera() || !ask(108))
        return false;
    const int before = v->templateCount[m_slot];
    SlotAddTemp();
    if (v->templateCount[m_slot] == before)
        return false;
    reviewDone(5, false);
    record(uiText(109).arg(m_camera + 1));
    return true;
}

bool DrawROIWidget::switchToMould()
{
    if (!currentView() || !ask(338))
        return false;
    reviewDone(6, true);
    record(uiText(338));
    return true;
}

bool DrawROIWidget::saveAsOk()
{
    if (!currentView() || !onAlarmCamera())
        return false;
    reviewDone(7, false);
    return true;
}

void DrawROIWidget::SlotReCheck()
{
    const int slot = alarmSlot();
    const EditorCycleHooks &h = editorCycleHooks();
    for (int c = 0; c < m_views.size(); ++c) {
        CammerWidget *v = m_views[c];
        if (!v || v->alarmHandled[slot])
            continue;
        if (h.RunAlgorithm)
            h.RunAlgorithm(c, slot);
    }
    if (h.CheckNG)
        h.CheckNG();
    refreshPicture();
}

void DrawROIWidget::pollSafetyDoor()
{
    if (!gSafetyDoorOpened || !isVisible())
        return;
    gSafetyDoorOpened = false;
    const int state = editorCycleHooks().alarmState ? editorCycleHooks().alarmState() : 0;
    if (gSysParam && gSysParam->safetyDoorClearsAlarm && state == 2) {
        qCInfo(lcCameraView) << "safety door opened during the alarm: re-check";
        SlotReCheck();
    }
}
