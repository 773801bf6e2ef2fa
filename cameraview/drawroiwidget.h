#pragma once
// The region editor: the page where the setter teaches a camera. It shows one camera's picture (live,
// a template, a recent NG frame or a saved alarm picture) with the regions of the edited slot, lets the
// regions be drawn, selected, dragged, moved, copied, deleted and parameterised by touch on the view's
// edit table, saves them into the live table, keeps the templates and ignore masks, and after an alarm
// lets the operator review the NG picture, re-check and say what the alarm was. GUI thread only.
//
// Split by concern: drawroiwidget.cpp (page, cameras, picture sources, saving, record line),
// drawroiedit.cpp (touches, shapes, handles and the parameter panel), drawroitemplates.cpp (templates
// and ignore masks), drawroireview.cpp (alarm review and re-check).

#include <QImage>
#include <QPoint>
#include <QVector>
#include <QWidget>

class CammerWidget;
class ComboBox;
class QLabel;
class QPushButton;
class Edit;

class DrawROIWidget : public QWidget
{
    Q_OBJECT
public:
    // Built hidden, full screen (gShowW x gShowH); the main window hands it the camera views.
    explicit DrawROIWidget(QWidget *parent);
    ~DrawROIWidget() override;

    // The views the editor works on, in camera order (null entries are skipped).
    void setCameraViews(const QVector<CammerWidget *> &views);

    // Opens the editor: copies every view's live table whole into its edit table (with the masks) and
    // shows the page. keepPlace keeps the camera, slot and picture source of the last visit; false
    // starts at the live picture of the current camera.
    void openPage(bool keepPlace);
    // Hides the page without asking (the machine cycle closes it when an alarm clears itself).
    void closePage();
    // Picture source: 0 live, 1 templates, 2 the recent NG frames, 4 the saved alarm pictures of the
    // result folders. Other values are ignored.
    void setSourceIndex(int index);

    // Camera and slot edited; a camera without view is refused (false).
    bool setCurrentCamera(int camera);
    void setEditSlot(int slot);
    int currentCamera() const { return m_camera; }
    int editSlot() const { return m_slot; }
    int sourceIndex() const { return m_source; }
    CammerWidget *currentView() const;

    // Whether the edit tables differ from the live ones (byte for byte).
    bool hasUnsavedChanges() const;

    // The region drawing modes a button starts; the next touches draw that shape.
    enum DrawMode
    {
        NoDraw,
        DrawRect,
        DrawCircle,
        DrawPolygon
    };
    void setDrawMode(DrawMode mode);
    DrawMode drawMode() const { return m_mode; }
    // Closes the polygon being drawn (at least 3 vertices) as a new region; false when not possible.
    bool endPolygon();

    // Selected region of the edited slot, -1 for none.
    int selectedRoi() const;
    void selectRoi(int roi);
    // Moves the selected region by (dx, dy) screen pixels, clamped inside the screen margin.
    void moveSelected(int dx, int dy);
    // Asks (rows 38, 66, 67) and copies, deletes or deletes all; false when refused or not asked.
    bool copySelected();
    bool deleteSelected();
    bool deleteAll();
    // Sets the selected region's function (only an enabled one) and parameters, clamped into the
    // editor ranges (4: a ring's inner radius; 5: a spot region's maximum gray, 1 its minimum);
    // output number 0..8 (0 none).
    bool setFunction(int function);
    void setParameter(int which, int value);
    void setOutput(int output);
    // Functions the setter may choose now, in code order.
    static QVector<int> offeredFunctions();
    // The editor range of a function's parameter (which 1..3); lo > hi when not used.
    static void parameterRange(int function, int which, int *lo, int *hi);

    // Line of the operation record for saving the edited slot of the current camera (rows 73-99);
    // empty when nothing changed.
    QString recordLine() const;

    // Alarm review: codes written into imageState of the alarm slot (see drawroireview.cpp).
    bool dontDetect(bool allCameras); // code 4
    bool addAsTemplate();             // code 5
    bool switchToMould();             // code 6
    bool saveAsOk();                  // code 7, or 10 when an NG picture is also pending
    bool ignoreAlarmPoint();          // "Ignore Alarm P": the NG spots become ignored pixels
    bool deleteIgnorePoints();

    // Templates of the edited slot: shown number and browsing (writes gTemplateTimeText).
    int shownTemplate() const { return m_shown; }
    void showTemplate(int step);
    // Previous (step < 0) or next picture of the current source, wrapping round.
    void showPicture(int step);
    bool deleteTemplate();

    QPushButton *reCheckButton() const { return m_reCheck; }

    // Where the full-screen picture (gShowW x gShowH, the coordinates the regions are kept in) is
    // drawn on the page: evenly scaled into the room left of the panel, so that no region lies
    // under the panel's buttons. Touches on the page are taken back into screen coordinates.
    QRectF pictureArea() const;

    // While the page is open: a safety door opened during an alarm (gSafetyDoorOpened) re-checks the
    // alarm slot when SysParam.safetyDoorClearsAlarm is set; the flag is cleared either way.
    void pollSafetyDoor();

public slots:
    void SlotSaveData();
    void SlotAddTemp();
    void SlotTempDeleteAll();
    void SlotReCheck();
    void SlotReturn();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void buildPanel();
    // Width of the button panel at the right edge of the page.
    static int panelWidth();
    // Shows `value` held to [lo, hi] in a number field, which keeps that range for what is typed.
    static void setNumberField(Edit *field, int lo, int hi, int value);
    void refreshPanel();
    // The title: camera, slot and region count; during a latched alarm the alarm above them, in red.
    void refreshTitle(int regions);
    void refreshPicture();
    QImage pictureOf(int source, int index) const;
    void copySlotsForMachineType();
    void pressAt(QPoint p);
    void dragTo(QPoint p);
    void releaseAt(QPoint p);
    void finishRegionEdit(int roi);
    int addRegion(int shape);
    bool regionContains(int roi, QPoint p) const;
    void paintPolygonInProgress(class QPainter &p) const;
    void paintPassResults(class QPainter &p, const CammerWidget &v) const;
    QPoint toScreen(const QPointF &onPage) const;
    bool ask(int row, const QString &arg = QString());
    void warn(const QString &text);
    void record(const QString &line);
    QString changeText(int j) const;
    QVector<QString> alarmPictures() const;
    void reviewDone(int code, bool allCameras);
    int alarmSlot() const;
    void showAlarmCamera();
    bool onAlarmCamera();

    QVector<CammerWidget *> m_views;
    int m_camera = 0;
    int m_slot = 0;
    int m_source = 0;
    int m_shown = 0; // template number, NG ring index or alarm picture number shown
    DrawMode m_mode = NoDraw;
    QVector<QPoint> m_polygon;
    // Touch in progress: start, last point, region and handle (-1 body) under it.
    bool m_pressed = false;
    QPoint m_pressPoint;
    QPoint m_lastPoint;
    int m_dragRoi = -1;
    int m_dragHandle = -1;
    int m_selected = -1;
    QImage m_picture; // scaled to the page
    bool m_updatingPanel = false;

    QWidget *m_panel = nullptr;
    QLabel *m_title = nullptr;
    ComboBox *m_cameraBox = nullptr;
    ComboBox *m_slotBox = nullptr;
    ComboBox *m_sourceBox = nullptr;
    ComboBox *m_functionBox = nullptr;
    QLabel *m_paramLabels[5] = {};
    // Three parameters, for a ring its inner radius, for a spot region its maximum gray.
    Edit *m_params[5] = {};
    Edit *m_output = nullptr;
    QPushButton *m_reCheck = nullptr;
    class QTimer *m_doorTimer = nullptr;
};
