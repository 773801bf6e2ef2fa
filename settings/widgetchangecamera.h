#pragma once
// WidgetChangeCamera: the camera-position window. One choice per camera view says at which position
// (1 to the number of cameras) that camera appears from the next start; "Confirm" refuses a position
// chosen twice, saves the serial table in the new order and asks to power off or restart. Built once,
// hidden, by the main window; left only through "Confirm". GUI thread only.

#include <QVector>
#include <QWidget>

class ColorButton;
class ComboBox;
class WizardParaWidget;

class WidgetChangeCamera : public QWidget
{
    Q_OBJECT
public:
    explicit WidgetChangeCamera(QWidget *parent);

    // gCameraPositions[camera] = position (both 0-based; values outside 0..7 are ignored).
    void SetCameraNO(int camera, int position);

    // One per camera view present at construction; item k - 1 reads "NO.k" and holds position k - 1.
    QVector<ComboBox *> positionCombos;
    ColorButton *okButton = nullptr;
    // The settings screen whose shutdown question follows a saved order; set by the main window.
    WizardParaWidget *paraWidget = nullptr;

public slots:
    void SetCameraNO0(int position);
    void SetCameraNO1(int position);
    void SetCameraNO2(int position);
    void SetCameraNO3(int position);
    void SetCameraNO4(int position);
    void SetCameraNO5(int position);
    void SetCameraNO6(int position);
    void SetCameraNO7(int position);
    void SlotOK();

protected:
    void paintEvent(QPaintEvent *event) override;
};
