#pragma once
// WizardParaWidget: the settings screen. Every value widget edits one field of the working copy
// gSysParamEdit; "Confirm" (accept) compares, records, saves and applies it. The widgets come from
// the one table in parafields.h. GUI thread only.

#include "parafields.h"

#include <QDir>
#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QVector>
#include <QWidget>

class CheckBox;
class ColorButton;
class ComboBox;
class Edit;
class EditBox;
class IOWidget;
class QListWidget;
class QListWidgetItem;
class QProcess;
class QSqlQueryModel;
class QTableView;
class QTimer;
class WidgetChangeCamera;

class WizardParaWidget : public QWidget
{
    Q_OBJECT
public:
    explicit WizardParaWidget(QWidget *parent);
    ~WizardParaWidget() override;

    // Fills every widget from the working copy (camera 0, simple display off) and lays out the page.
    void loadPageValues();
    // Writes the value of every widget that Confirm reads into `p` (the live camera boxes write
    // themselves). A combo without a current item keeps the value already in `p`.
    void storeWidgetValues(SysParam &p) const;
    // Replaces the caption of the "Re-Mold" box.
    void setStatusText(const QString &text);

    // The widget built for table entry `name` (its field name), null when there is none.
    QWidget *fieldWidget(const QString &name) const { return m_widgets.value(name); }

    int currentPage = 0;
    int cameraIndex = 0;
    bool simpleDisplay = false;
    // The camera an automatic exposure was started on.
    int autoExposeCamera = 0;
    QString serialText;
    QSqlDatabase recordDb;
    QDir paraGroupDir;
    QTimer *autoExposeTimer = nullptr;
    QProcess *process = nullptr;
    IOWidget *ioWidget = nullptr;
    QWidget *modifyTimeWidget = nullptr;
    QWidget *calibrationWidget = nullptr;
    QSqlQueryModel *recordModel = nullptr;

    QVector<ColorButton *> tabButtons;
    ComboBox *languageCombo = nullptr;
    ComboBox *machineTypeCombo = nullptr;
    ComboBox *detectMoldCombo = nullptr;
    ComboBox *paraGroupCombo = nullptr;
    CheckBox *showFactoryParamBox = nullptr;
    CheckBox *showAllParamsBox = nullptr;
    CheckBox *saveImagesBox = nullptr;
    EditBox *exposureBox = nullptr;
    EditBox *gainBox = nullptr;
    EditBox *sharpBox = nullptr;
    EditBox *contrastBox = nullptr;
    EditBox *gammaBox = nullptr;
    EditBox *distanceBox = nullptr;
    EditBox *temperatureRangeBox = nullptr;
    CheckBox *autoWdrBox = nullptr;
    CheckBox *tempAlarmBox = nullptr;
    ColorButton *displayModeButton = nullptr;
    Edit *paraGroupNameEdit = nullptr;
    Edit *newPasswordEdit = nullptr;
    Edit *confirmPasswordEdit = nullptr;
    QListWidget *recordDateList = nullptr;
    QTableView *recordTable = nullptr;

    // Camera positions: the main window's window, opened by the camera page's "reordering" button;
    // null until the main window sets it.
    WidgetChangeCamera *changeCameraWidget = nullptr;

public slots:
    void DoChangePage();
    void SlotToCommon();
    void SlotToCamera();
    void SlotToIO();
    void SlotToAdvance();
    void SlotToRecord();
    void SlotToNetwork();
    void SlotShowIOWidget();
    void SlotShowCustomIONameWidget();
    void SlotChangeSysFun(int index);
    void accept();

    // Camera page (live tuning).
    void SetExposeTime(int value);
    void SetAdjust(int value);
    void SetSharp(int value);
    void SetContrast(int value);
    void SetGamma(int value);
    void SetDistance(int value);
    void SetTemperature(int value);
    void SetAutoWDR(int state);
    void SetAutoExp(int value);
    int GetoutSet();
    void color_mode_actived(int index);
    void on_checkBox_high_warm_clicked(bool checked);
    void SlotChangeCamera();
    void SlotChangeShowMode();
    void SlotRestoreDefaultSettings();
    void SlotAutoExposeTime();
    void SlotAutoExposeTimeTimeout();
    void SlotTuneCamera();

    // Parameter groups.
    void ParaGroupUpdateList();
    void SlotParaGroupChange(int index);
    void SlotParaGroupBackup();
    void SlotParaGroupRestore();
    void SlotParaGroupDelete();
    void SlotRestoreFactorySet();

    // Actions built by their own screens; until then they do nothing visible.
    void ChangePwd();
    void SlotChangeLan(int index);
    void SlotShutDown();
    void SlotExit();
    void SlotModifyTime();
    void SlotCalibration();
    void ResetTotal();
    void SlotToVerion();
    void SlotUpdateApp();
    void SlotExportData();
    void UpdateRecord(QListWidgetItem *item);

    // Record page: clears today's record after two advanced-login checks; no control calls it.
    void SlotClearRecord();

    // The hardware page (wizardhardware.cpp): the "Hardware" button of the advanced page asks the
    // main window for it; the settings stay open beneath, with their unconfirmed edits.
    void SlotShowHardware();

signals:
    // The main window's I/O names page is asked for (SlotShowCustomIONameWidget).
    void customIONamesRequested();
    // The main window's hardware page is asked for (SlotShowHardware).
    void hardwareRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildFieldWidgets();
    void buildAdvancedControls();
    void buildRecordPage();
    void buildTabRow();
    // Loads the per-camera boxes from camera `camera` of the working copy (their slots re-apply).
    void loadCameraBoxes(int camera);
    bool entryVisible(const ParaField &f) const;
    void fitCheckBoxText(CheckBox *box) const;
    static void hidePads();
    // After a confirmed change: cameras, templates, notes and the menu bar after a saved change.
    void applyConfirmedChanges(const SysParam &before, bool motionChanged);

    // Widgets of the table, in table order, and by name.
    QVector<QPair<const ParaField *, QWidget *>> m_entries;
    QHash<QString, QWidget *> m_widgets;
    // Page 4 controls that bind no field.
    QVector<QWidget *> m_advancedExtras;
};
