#pragma once
// The judgement of one detection slot over all its cameras at once: the machine cycle has only the
// mould-open window to judge every camera before it releases the clamp, so the cameras are measured
// side by side instead of one after another, with the very same results.
//
// Contract for the machine cycle (a slot's detection in TimerUp and in ReCheck, detecting state only;
// learning and the region editor keep the one-camera path of RunAlgorithm):
//   1. On the GUI thread, per camera in camera order, everything RunAlgorithm does before judging
//      (pending bits, the raw-frame file) and copying the camera's newest frame into its view's
//      grabBuffer(). No frame is grabbed after this point (a nested pass of Run grabs none).
//   2. judgeSlotCameras(detectors in camera order, slot). For every camera on the judgement pool:
//      CameraDetector::timedRegister(slot), findPosition(slot), measureSlot; the GUI thread waits,
//      running no event loop. Then, on the GUI thread per camera in camera order: finishSlot (the
//      camera's temperatures through getRoiTemperature, every inspectionHooks() call, the report link
//      state, record lines, the view's verdict and region results), exactly as one pass after another.
//   3. Set gTemperatureAlarm with temperatureAlarmAfter(outcomes, gTemperatureAlarm) (detectpass.h:
//      any camera beyond raises it), then per camera in camera order the rest of RunAlgorithm
//      (outputs, the NG ring, flush, repaint), as before.
// The views' verdicts, values, blobs, result images, report records, record lines and hook calls are
// bit-identical to calling timedRegister(slot), findPosition(slot) and detectCamera(slot) per camera.
//
// OpenCV's own threads: the pool keeps every core busy with one camera each, and OpenCV's pool on top
// would only queue for the same cores, so the box runs OpenCV on one thread: SlotJudgement::instance()
// calls cv::setNumThreads(1) once, when it makes the pool. Call instance() at start-up so that the
// whole run uses the same setting; one-camera work (training, the region editor) then runs OpenCV on
// one thread as well.
//
// Threads: judge() and judgeSlotCameras() on the GUI thread only, one judgement at a time (a nested
// call from a hook of the finishing step is fine: the pool is idle by then). The pool's mutex guards
// its job fields; each worker touches only the detector and view of the camera it took, and a worker
// left without a camera helps with chunks that a camera's worker shares (sharedwork.h): those touch
// only what their camera's worker handed them, while that worker waits for them.

#include "detectpass.h"

#include <QVector>

#include <functional>
#include <memory>

class CameraDetector;

class SlotJudgement
{
public:
    // threads < 1: one per core. threads == 1: no pool; the cameras are measured one after another
    // on the calling thread (the same results; for comparison and for a single-core box).
    explicit SlotJudgement(int threads = 0);
    // Stops and joins the pool's threads.
    ~SlotJudgement();
    SlotJudgement(const SlotJudgement &) = delete;
    SlotJudgement &operator=(const SlotJudgement &) = delete;

    int threads() const { return m_threads; }

    // Judges slot k on every camera of `detectors` (camera order; null entries are skipped and get
    // the default outcome). Returns each camera's temperature outcome, in the same order. A detector
    // listed twice is judged twice, one after another, as a sequential run would.
    QVector<TemperatureOutcome> judge(const QVector<CameraDetector *> &detectors, int k);

    // The box's pool, sized to the cores; made on first use (see the OpenCV note above).
    static SlotJudgement &instance();

    // Runs work(i) for every i in 0..count-1 on the pool's workers, each once, and returns when all
    // have run; work may call shareWork. The judgement's own step, open for tests; needs a pool
    // (threads() > 1). GUI thread.
    void runOnPool(int count, const std::function<void(int)> &work);

    struct Pool; // also runs the chunks of shareWork (sharedwork.h)

private:

    int m_threads = 1;
    std::unique_ptr<Pool> m_pool;
};

// The one entry point of the machine cycle: SlotJudgement::instance().judge(detectors, k).
QVector<TemperatureOutcome> judgeSlotCameras(const QVector<CameraDetector *> &detectors, int k);
