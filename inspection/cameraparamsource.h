#pragma once
// What the inspection engine asks of a camera back-end: its parameter query. The camera back-ends'
// CameraInterface provides it; the camera view keeps a pointer to its camera's back-end object.

#include <QVariant>

class CameraParamSource
{
public:
    virtual ~CameraParamSource() = default;

    // CameraInterface::getParam. Command 0 with the JSON object {"detect": slot, "funcNO": region}
    // answers the region's temperature x 100 (thermal back-end). Called on the GUI thread.
    virtual QVariant getParam(int command, const QVariant &value) = 0;
};
