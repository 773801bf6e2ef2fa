#pragma once
// The one table of the settings screen's widgets: which field of the working copy each widget edits,
// its kind, label row, range, display, place, page, when it is shown and which slot it reaches.
// Building, loading, reading back and visibility all walk this table, so a field is named once.
// GUI thread only.

#include "core/sysparam.h"

#include <QRect>
#include <vector>

class WizardParaWidget;

enum class ParaKind
{
    Edit,          // EditBox: integer in [min, max]
    Check,         // CheckBox: checked = 1
    CheckMinusOne, // CheckBox: checked = 0, unchecked = -1 (motion correction)
    Combo,         // ComboBox: the field takes the current index
    Button         // ColorButton: no field
};

enum class ParaShown
{
    Always,
    Factory,      // only while "Display factory param" is checked
    NotAllParams, // only while "Display all the parameters" is unchecked
    MoldChoice    // only while the machine-type choice is two-colour or turntable
};

struct ParaField
{
    const char *name = ""; // object name of the widget; the field's name where it has one
    int page = 0;          // 0 system, 1 camera, 3 I/O, 4 advanced
    ParaKind kind = ParaKind::Button;
    int labelRow = 0; // caption row, 0 for none
    int32_t SysParam::*scalar = nullptr;
    int32_t (SysParam::*array)[8] = nullptr;
    int element = 0; // element of `array`; -1 = the camera shown on the camera page
    int min = 0, max = 0, displayType = 0, scale = 1, unitRow = 0;
    QRect place;
    ParaShown shown = ParaShown::Always;
    std::vector<int> itemRows;       // combo items taken from text rows
    std::vector<const char *> items; // combo items given literally
    void (WizardParaWidget::*clickSlot)() = nullptr;
    void (WizardParaWidget::*valueSlot)(int) = nullptr;
    bool zeroAllowed = false;

    // The field in `p`, for the camera `camera` when the field is per camera; null for buttons.
    int32_t *ref(SysParam &p, int camera) const;
    // True when the widget writes its field itself (live camera values): Confirm does not read it.
    bool selfWriting() const { return valueSlot != nullptr; }
};

// Every bound widget and button of pages 0, 1, 3 and 4, in building order.
const std::vector<ParaField> &paraFields();
