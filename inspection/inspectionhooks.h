#pragma once
// The calls the inspection engine makes into subsystems that sit above it (main window, report link,
// temperature store and chart page). Those subsystems install their functions here at start-up; an
// empty function means the subsystem is not there, and the call is skipped (the report link state
// then reads as -1, "network function off").
//
// Install and call on the GUI thread only: the detection pass runs there, and the image saver posts
// its picture report there with a queued call instead of calling from its own thread.

#include "roiresultrecord.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

#include <functional>

struct InspectionHooks
{
    // DeVeWizard::currentSlot: the detection slot of the running cycle step, for
    // CameraDetector::findPosition().
    std::function<int()> currentSlot;

    // DeVeWizard::InsertRecord: appends one line to the operation record.
    std::function<void(const QString &line)> InsertRecord;

    // QOR_NETMN::state of the process-wide report link: 1 ready, negative when it must not report.
    std::function<int()> state;
    // Appends one record to QOR_NETMN::pendingResults.
    std::function<void(const RoiResultRecord &record)> pendingResults;
    // QOR_NETMN::sendAlarmPicture: reports a saved result picture ({"camera","detect","result"}, path).
    std::function<void(const QJsonObject &info, const QString &path)> sendAlarmPicture;

    // TemperatureChartData::appendLive on the process-wide temperature store.
    std::function<void(int camera, const QString &key, double x, double y)> appendLive;
    // TemperatureChartData::insertRecord: one row of one pass of a thermal camera.
    std::function<void(int camera, int detect, QVector<int> regions, QVector<qint64> times,
                       QVector<double> values)>
        insertRecord;
    // Chart::appendValue on entry `camera` of gTemperatureChartWidget's charts.
    std::function<void(int camera, const QString &key, double x, double y)> appendValue;
};

// The one set of hooks of the process. GUI thread.
InspectionHooks &inspectionHooks();

// QOR_NETMN::state through the hook; -1 while no report link is installed.
int reportLinkState();
