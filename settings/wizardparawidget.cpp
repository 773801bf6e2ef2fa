// Construction, loading, reading back and page switching of the settings screen.
#include "wizardparawidget.h"

#include "iowidget.h"
#include "settingshooks.h"

#include "core/imagesize.h"
#include "core/startup.h"
#include "core/uitexttable.h"
#include "widgets/checkbox.h"
#include "widgets/choosedialogs.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/edit.h"
#include "widgets/editbox.h"
#include "widgets/numberinput.h"
#include "widgets/numcharinput.h"
#include "widgets/uistyle.h"

#include <QFile>
#include <QHeaderView>
#include <QListWidget>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableView>
#include <QTextStream>
#include <QTimer>

SettingsHooks &settingsHooks()
{
    static SettingsHooks hooks;
    return hooks;
}

namespace {
constexpr int kW = 1800;
constexpr int kH = 950;
const char *const kScrollStyle =
    "QScrollBar:vertical{width:30px;background:transparent;background-color:rgb(246, 248, 248);"
    "margin:2px,2px,2px,2px;padding-top:30px;padding-bottom:30px;}QScrollBar::handle{background:lightgray; "
    "border:2px solid transparent; border-radius:5px;}";
} // namespace

WizardParaWidget::WizardParaWidget(QWidget *parent) : QWidget(parent)
{
    process = new QProcess(this);
    setGeometry(gShowW / 2 - kW / 2, gShowH / 2 - kH / 2, kW, kH); // centred on the screen

    // The captions of the number boxes and check boxes stand on the dark background picture; those
    // the pages colour themselves keep their colour.
    // (The check boxes take it from their palette, which leaves their tick dark on its white square.)
    setStyleSheet(QStringLiteral("QLabel{color:white;}"));
    buildFieldWidgets();
    buildAdvancedControls();
    buildRecordPage();
    buildTabRow();
    autoExposeTimer = new QTimer(this);
    connect(autoExposeTimer, &QTimer::timeout, this, &WizardParaWidget::SlotAutoExposeTimeTimeout);

    // The record page reads RECORD.db through its own connection.
    recordDb = QSqlDatabase::contains(QStringLiteral("dbList"))
                   ? QSqlDatabase::database(QStringLiteral("dbList"), false)
                   : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbList"));

    ioWidget = new IOWidget(this);
    // The clock and calibration-point boxes are windows of their own, like the box's other questions.
    modifyTimeWidget = new ModifyTimeWidget(nullptr);
    calibrationWidget = new ChooseCaliNumWidget(nullptr);
    connect(ioWidget, &IOWidget::namesRequested, this, &WizardParaWidget::SlotShowCustomIONameWidget);
    recordModel = nullptr;
    currentPage = 0;
    simpleDisplay = false;

    // The box's serial number, shown in the corner of the settings screen.
    QFile serial(QStringLiteral("serialNB.txt"));
    if (serial.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&serial);
        in >> serialText;
        serial.close();
    }

    paraGroupDir = QDir(QStringLiteral("./paraGroup"));
    if (!paraGroupDir.exists())
        paraGroupDir.mkpath(QStringLiteral("."));

    ParaGroupUpdateList();
    QPalette caption;
    caption.setColor(QPalette::WindowText, Qt::white);
    for (CheckBox *box : findChildren<CheckBox *>(QString(), Qt::FindDirectChildrenOnly)) {
        box->setPalette(caption);
        fitCheckBoxText(box);
    }
    hide();
}

// A translation longer than its box gets a smaller font instead of being cut at the box's edge (or,
// for the column at the right, at the screen's edge).
void WizardParaWidget::fitCheckBoxText(CheckBox *box) const
{
    static const QRegularExpression size(QStringLiteral("font-size:\\s*(\\d+)px"));
    const int room = qMin(box->width(), width() - box->x());
    QString style = box->styleSheet();
    while (box->sizeHint().width() > room) {
        const QRegularExpressionMatch m = size.match(style);
        const int px = m.hasMatch() ? m.captured(1).toInt() : 0;
        if (px <= 16)
            return;
        style.replace(m.capturedStart(1), m.capturedLength(1), QString::number(px - 1));
        box->setStyleSheet(style);
    }
}

WizardParaWidget::~WizardParaWidget()
{
    // Closing a shown screen takes the focus from a box being typed in, and the box then reports its
    // value: by then this screen is half gone, so its slots must no longer hear the boxes.
    for (EditBox *box : findChildren<EditBox *>())
        box->disconnect(this);
    delete modifyTimeWidget;
    delete calibrationWidget;
}

void WizardParaWidget::buildFieldWidgets()
{
    const QFont comboFont = uiFont(25);
    for (const ParaField &f : paraFields()) {
        QWidget *w = nullptr;
        switch (f.kind) {
        case ParaKind::Edit: {
            auto *box = new EditBox(f.min, f.max, this, uiText(f.labelRow),
                                    f.unitRow ? uiText(f.unitRow) : QString(), f.displayType, f.scale);
            box->setZeroAllowed(f.zeroAllowed);
            if (f.valueSlot)
                connect(box, &EditBox::valueChanged, this, f.valueSlot);
            w = box;
            break;
        }
        case ParaKind::Check:
        case ParaKind::CheckMinusOne: {
            int row = f.labelRow;
            if (f.scalar == &SysParam::syncParams && gSysParam &&
                (gSysParam->machineType == 1 || gSysParam->machineType == 2))
                row = 514;
            w = new CheckBox(this, uiText(row));
            break;
        }
        case ParaKind::Combo: {
            auto *combo = new ComboBox(this);
            combo->setFont(comboFont);
            int pos = 0;
            for (const char *item : f.items)
                combo->addItem(QString::fromUtf8(item), pos++);
            for (int row : f.itemRows)
                combo->addItem(uiText(row), pos++);
            styleComboBox(combo, 50);
            w = combo;
            break;
        }
        case ParaKind::Button: {
            auto *button = new ColorButton(uiText(f.labelRow), this, 3);
            if (f.clickSlot)
                connect(button, &QAbstractButton::clicked, this, f.clickSlot);
            w = button;
            break;
        }
        }
        w->setObjectName(QString::fromLatin1(f.name));
        w->setGeometry(f.place);
        m_entries.append({&f, w});
        m_widgets.insert(QString::fromLatin1(f.name), w);

        // The language combo sits on page 0 right after "Reset Count"; built here to keep that order.
        if (f.clickSlot == &WizardParaWidget::ResetTotal) {
            languageCombo = new ComboBox(this);
            languageCombo->setFont(comboFont);
            // The languages' own names, shown alike in every language.
            const QStringList names = {QStringLiteral("简体中文"), QStringLiteral("English"),
                                       QStringLiteral("繁體中文"), QStringLiteral("日文")};
            for (int lang = 0; lang < 4; ++lang)
                languageCombo->addItem(names[lang], lang);
            styleComboBox(languageCombo, 50);
            languageCombo->setGeometry(1640, 175, 150, 55);
            connect(languageCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                    &WizardParaWidget::SlotChangeLan);
        }
    }
    machineTypeCombo = qobject_cast<ComboBox *>(m_widgets.value(QStringLiteral("machineTypeEdit")));
    detectMoldCombo = qobject_cast<ComboBox *>(m_widgets.value(QStringLiteral("detectMold")));
    connect(machineTypeCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &WizardParaWidget::SlotChangeSysFun);
    showFactoryParamBox = qobject_cast<CheckBox *>(m_widgets.value(QStringLiteral("showFactoryParam")));
    showAllParamsBox = qobject_cast<CheckBox *>(m_widgets.value(QStringLiteral("showAllParams")));
    autoWdrBox = qobject_cast<CheckBox *>(m_widgets.value(QStringLiteral("autoWDR")));
    connect(autoWdrBox, &QCheckBox::stateChanged, this, &WizardParaWidget::SetAutoWDR);
    tempAlarmBox = qobject_cast<CheckBox *>(m_widgets.value(QStringLiteral("tempAlarm")));
    connect(tempAlarmBox, &QAbstractButton::toggled, this, &WizardParaWidget::on_checkBox_high_warm_clicked);
    exposureBox = qobject_cast<EditBox *>(m_widgets.value(QStringLiteral("exposeTime")));
    gainBox = qobject_cast<EditBox *>(m_widgets.value(QStringLiteral("adjustPlus")));
    sharpBox = qobject_cast<EditBox *>(m_widgets.value(QStringLiteral("sharp")));
    contrastBox = qobject_cast<EditBox *>(m_widgets.value(QStringLiteral("contrast")));
    gammaBox = qobject_cast<EditBox *>(m_widgets.value(QStringLiteral("gamma")));
    distanceBox = qobject_cast<EditBox *>(m_widgets.value(QStringLiteral("distance")));
    temperatureRangeBox = qobject_cast<EditBox *>(m_widgets.value(QStringLiteral("temperatureRange")));
    displayModeButton = qobject_cast<ColorButton *>(m_widgets.value(QStringLiteral("displayModeButton")));
}

void WizardParaWidget::buildAdvancedControls()
{
    const QFont font = uiFont(25);
    paraGroupNameEdit = new Edit(6, this);
    paraGroupNameEdit->setFont(font);
    paraGroupNameEdit->setGeometry(30, 115, 250, 60);
    paraGroupCombo = new ComboBox(this);
    paraGroupCombo->setFont(font);
    styleComboBox(paraGroupCombo, 60);
    paraGroupCombo->setGeometry(30, 180, 250, 60);
    connect(paraGroupCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &WizardParaWidget::SlotParaGroupChange);

    const bool japanese = gLanguage == 3;
    newPasswordEdit = new Edit(5, this);
    confirmPasswordEdit = new Edit(5, this);
    newPasswordEdit->setGeometry(japanese ? 1130 : 1020, 115, japanese ? 195 : 250, 50);
    confirmPasswordEdit->setGeometry(japanese ? 1425 : 1370, 115, japanese ? 195 : 250, 50);
    for (Edit *e : {newPasswordEdit, confirmPasswordEdit}) {
        e->setFont(font);
        e->setEchoMode(QLineEdit::Password);
    }

    saveImagesBox = new CheckBox(this, uiText(201));
    saveImagesBox->setObjectName(QStringLiteral("saveFrameImages"));
    saveImagesBox->setGeometry(930, 445, 880, 50);
    m_advancedExtras = {paraGroupNameEdit, paraGroupCombo, newPasswordEdit, confirmPasswordEdit,
                        saveImagesBox};
}

void WizardParaWidget::buildRecordPage()
{
    recordDateList = new QListWidget(this);
    recordDateList->setFont(uiFont(25));
    recordDateList->setGeometry(5, 50, 200, 795);
    connect(recordDateList, &QListWidget::itemClicked, this, &WizardParaWidget::UpdateRecord);
    recordTable = new QTableView(this);
    recordTable->setFont(uiFont(25));
    recordTable->setGeometry(205, 50, 1600, 795);
    recordTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    recordTable->verticalScrollBar()->setStyleSheet(QString::fromLatin1(kScrollStyle));
}

void WizardParaWidget::buildTabRow()
{
    struct Tab
    {
        int row;
        void (WizardParaWidget::*slot)();
    };
    const Tab tabs[6] = {{215, &WizardParaWidget::SlotToCommon},  {128, &WizardParaWidget::SlotToCamera},
                         {262, &WizardParaWidget::SlotToNetwork}, {266, &WizardParaWidget::SlotToIO},
                         {205, &WizardParaWidget::SlotToAdvance}, {121, &WizardParaWidget::accept}};
    for (int i = 0; i < 6; ++i) {
        auto *button = new ColorButton(uiText(tabs[i].row), this, 3);
        button->setGeometry(45 + 300 * i, 845, 210, 90);
        connect(button, &QAbstractButton::clicked, this, tabs[i].slot);
        tabButtons.append(button);
    }
}

void WizardParaWidget::loadCameraBoxes(int camera)
{
    for (const auto &entry : m_entries) {
        const ParaField &f = *entry.first;
        if (f.kind == ParaKind::Edit && f.element < 0)
            if (int32_t *v = f.ref(*gSysParamEdit, camera))
                static_cast<EditBox *>(entry.second)->setValue(*v);
    }
}

void WizardParaWidget::loadPageValues()
{
    cameraIndex = 0;
    simpleDisplay = false;
    if (displayModeButton)
        displayModeButton->setText(uiText(300));

    for (const auto &entry : m_entries) {
        const ParaField &f = *entry.first;
        int32_t *v = f.ref(*gSysParamEdit, 0);
        if (!v)
            continue;
        switch (f.kind) {
        case ParaKind::Edit:
            static_cast<EditBox *>(entry.second)->setValue(*v);
            break;
        case ParaKind::Check:
            static_cast<CheckBox *>(entry.second)->setChecked(*v != 0);
            break;
        case ParaKind::CheckMinusOne:
            static_cast<CheckBox *>(entry.second)->setChecked(*v + 1 != 0);
            break;
        case ParaKind::Combo: {
            auto *combo = static_cast<ComboBox *>(entry.second);
            combo->setCurrentIndex(*v >= 0 && *v < combo->count() ? *v : -1);
            break;
        }
        case ParaKind::Button:
            break;
        }
    }
    if (bool *flag = settingsHooks().saveFrameImages ? settingsHooks().saveFrameImages() : nullptr)
        saveImagesBox->setChecked(*flag);
    languageCombo->setCurrentIndex(gLanguage >= 0 && gLanguage < 4 ? gLanguage : -1);

    // Typed names and passwords of an earlier visit are not shown again.
    paraGroupNameEdit->clear();
    paraGroupCombo->setCurrentIndex(paraGroupCombo->count() > 0 ? 0 : -1);
    newPasswordEdit->clear();
    confirmPasswordEdit->clear();
    paraGroupNameEdit->clear();
    const int group = gSysParam ? gSysParam->paraGroupIndex : 0;
    paraGroupCombo->setCurrentIndex(group >= 0 && group < paraGroupCombo->count() ? group : -1);

    DoChangePage();
}

void WizardParaWidget::storeWidgetValues(SysParam &p) const
{
    for (const auto &entry : m_entries) {
        const ParaField &f = *entry.first;
        if (f.selfWriting())
            continue;
        int32_t *v = f.ref(p, cameraIndex);
        if (!v)
            continue;
        switch (f.kind) {
        case ParaKind::Edit:
            *v = static_cast<EditBox *>(entry.second)->value();
            break;
        case ParaKind::Check:
            *v = static_cast<CheckBox *>(entry.second)->isChecked() ? 1 : 0;
            break;
        case ParaKind::CheckMinusOne:
            *v = static_cast<CheckBox *>(entry.second)->isChecked() ? 0 : -1;
            break;
        case ParaKind::Combo: {
            // A stored value without an item (a port 9, a mould choice 3) must survive Confirm.
            const int index = static_cast<ComboBox *>(entry.second)->currentIndex();
            if (index >= 0)
                *v = index;
            break;
        }
        case ParaKind::Button:
            break;
        }
    }
}

void WizardParaWidget::setStatusText(const QString &text)
{
    if (auto *box = qobject_cast<EditBox *>(m_widgets.value(QStringLiteral("reMoldTimes"))))
        box->setText(text);
}

bool WizardParaWidget::entryVisible(const ParaField &f) const
{
    if (f.page != currentPage)
        return false;
    switch (f.shown) {
    case ParaShown::Always:
        return true;
    case ParaShown::Factory:
        return showFactoryParamBox->isChecked();
    case ParaShown::NotAllParams:
        return !showAllParamsBox->isChecked();
    case ParaShown::MoldChoice:
        return machineTypeCombo->currentIndex() == 1 || machineTypeCombo->currentIndex() == 2;
    }
    return false;
}

void WizardParaWidget::hidePads()
{
    if (gNumberInput)
        gNumberInput->HideUpdate();
    if (gNumCharInput)
        gNumCharInput->HideUpdate();
}

void WizardParaWidget::DoChangePage()
{
    hidePads();
    for (const auto &entry : m_entries)
        entry.second->setVisible(entryVisible(*entry.first));
    languageCombo->setVisible(currentPage == 0);
    for (QWidget *w : m_advancedExtras)
        w->setVisible(currentPage == 4);
    recordDateList->setVisible(currentPage == 5);
    recordTable->setVisible(currentPage == 5);
    for (ColorButton *b : tabButtons)
        b->show();
    update();
}

void WizardParaWidget::SlotToCommon()
{
    if (currentPage == 0)
        return;
    currentPage = 0;
    DoChangePage();
}

void WizardParaWidget::SlotToCamera()
{
    if (currentPage == 1)
        return;
    currentPage = 1;
    DoChangePage();
}

void WizardParaWidget::SlotToIO()
{
    if (currentPage == 3)
        return;
    if (!settingsHooks().isAdvancedUser || !settingsHooks().isAdvancedUser())
        return;
    currentPage = 3;
    DoChangePage();
}

void WizardParaWidget::SlotToAdvance()
{
    if (currentPage == 4)
        return;
    if (!settingsHooks().isAdvancedUser || !settingsHooks().isAdvancedUser())
        return;
    currentPage = 4;
    DoChangePage();
}

void WizardParaWidget::SlotChangeSysFun(int index)
{
    detectMoldCombo->hide();
    if (currentPage == 3 && (index == 1 || index == 2))
        detectMoldCombo->show();
}

void WizardParaWidget::SlotShowIOWidget()
{
    if (ioWidget) {
        ioWidget->show();
        ioWidget->raise();
    }
}

void WizardParaWidget::showEvent(QShowEvent *event)
{
    loadPageValues();
    QWidget::showEvent(event);
}

void WizardParaWidget::hideEvent(QHideEvent *event)
{
    hidePads();
    currentPage = 0;
    DoChangePage();
    QWidget::hideEvent(event);
}
