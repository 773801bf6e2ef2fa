#include "slotjudgement.h"

#include "cameradetector.h"
#include "inspectionlog.h"
#include "sharedwork.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Worker threads that take the cameras of one judgement by index and, with no camera left, the
// chunks that a camera's worker shares (shareWork). Plain standard threads and mutexes, so that the
// thread sanitizer sees every hand-over between the GUI thread and the workers.
struct SlotJudgement::Pool
{
    // Chunks one camera's worker offered; lives on that worker's stack until all its chunks ran.
    struct Section
    {
        const std::function<void(int)> *work = nullptr;
        int count = 0;
        int next = 0;    // the next chunk nobody took
        int running = 0; // chunks taken and not finished
        std::exception_ptr error; // of the lowest-numbered chunk that threw
        int errorChunk = 0;
    };

    std::mutex mutex; // guards every field below but `threads`
    std::condition_variable wake;
    std::condition_variable done;
    std::condition_variable sectionDone;
    const std::function<void(int)> *work = nullptr;
    int next = 0;
    int total = 0;
    int finished = 0;
    bool stopping = false;
    std::vector<Section *> sections; // sections with chunks nobody took yet, oldest first
    std::vector<std::thread> threads; // GUI thread only

    void run();
    void share(int count, const std::function<void(int)> &chunk);
    // Takes the next chunk of `s` (mutex held); drops the section from the list with its last chunk.
    int take(Section &s);
    // Runs chunk i of `s` with the mutex released and counts it finished.
    void runChunk(std::unique_lock<std::mutex> &lock, Section &s, int i);
};

namespace {
// The pool whose worker is the calling thread; null on every other thread.
thread_local SlotJudgement::Pool *tCurrentPool = nullptr;
} // namespace

void SlotJudgement::Pool::run()
{
    tCurrentPool = this;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || next < total || !sections.empty(); });
        if (stopping)
            return;
        if (next < total) {
            // Cameras first: a chunk is taken only by a worker that has no camera to start.
            const int i = next++;
            const std::function<void(int)> *job = work;
            lock.unlock();
            (*job)(i);
            lock.lock();
            if (++finished == total)
                done.notify_all();
            continue;
        }
        Section &s = *sections.front();
        runChunk(lock, s, take(s));
    }
}

int SlotJudgement::Pool::take(Section &s)
{
    const int i = s.next++;
    ++s.running;
    if (s.next == s.count)
        sections.erase(std::find(sections.begin(), sections.end(), &s));
    return i;
}

void SlotJudgement::Pool::runChunk(std::unique_lock<std::mutex> &lock, Section &s, int i)
{
    lock.unlock();
    std::exception_ptr error;
    try {
        (*s.work)(i);
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    if (error && (!s.error || i < s.errorChunk)) {
        s.error = error;
        s.errorChunk = i;
    }
    if (--s.running == 0 && s.next == s.count)
        sectionDone.notify_all();
}

void SlotJudgement::Pool::share(int count, const std::function<void(int)> &chunk)
{
    Section s;
    s.work = &chunk;
    s.count = count;
    std::unique_lock<std::mutex> lock(mutex);
    sections.push_back(&s);
    wake.notify_all();
    // The owner works through its own chunks too, so it never waits for a chunk nobody has started.
    while (s.next < s.count)
        runChunk(lock, s, take(s));
    sectionDone.wait(lock, [&s] { return s.running == 0; });
    if (s.error)
        std::rethrow_exception(s.error);
}

void shareWork(int count, const std::function<void(int)> &chunk)
{
    if (count <= 0)
        return;
    if (SlotJudgement::Pool *pool = tCurrentPool) {
        if (count > 1) {
            pool->share(count, chunk);
            return;
        }
    }
    for (int i = 0; i < count; ++i)
        chunk(i);
}

namespace {

// The pure per-camera computation; never lets an exception reach a worker thread's top.
void measureCamera(CameraDetector *d, int k, SlotMeasurement *m)
{
    try {
        d->timedRegister(k);
        d->findPosition(k);
        d->measureSlot(k, m);
    } catch (const std::exception &ex) {
        qCWarning(lcInspection) << "judging slot" << k << "failed:" << ex.what() << "- camera NG";
        *m = SlotMeasurement();
    } catch (...) {
        qCWarning(lcInspection) << "judging slot" << k << "failed - camera NG";
        *m = SlotMeasurement();
    }
}

} // namespace

SlotJudgement::SlotJudgement(int threads)
    : m_threads(threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency())))
{
    if (m_threads < 2)
        return;
    m_pool = std::make_unique<Pool>();
    for (int i = 0; i < m_threads; ++i)
        m_pool->threads.emplace_back([pool = m_pool.get()] { pool->run(); });
}

SlotJudgement::~SlotJudgement()
{
    if (!m_pool)
        return;
    {
        std::lock_guard<std::mutex> lock(m_pool->mutex);
        m_pool->stopping = true;
    }
    m_pool->wake.notify_all();
    for (std::thread &t : m_pool->threads)
        t.join();
}

void SlotJudgement::runOnPool(int count, const std::function<void(int)> &work)
{
    Pool &p = *m_pool;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.work = &work;
        p.next = 0;
        p.finished = 0;
        p.total = count;
    }
    p.wake.notify_all();
    std::unique_lock<std::mutex> lock(p.mutex);
    p.done.wait(lock, [&p] { return p.finished == p.total; });
    p.total = 0;
    p.next = 0;
    p.finished = 0;
    p.work = nullptr;
}

QVector<TemperatureOutcome> SlotJudgement::judge(const QVector<CameraDetector *> &detectors, int k)
{
    const int n = detectors.size();
    QVector<TemperatureOutcome> outcomes(n);
    std::vector<CameraDetector *> sorted(detectors.begin(), detectors.end());
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::remove(sorted.begin(), sorted.end(), nullptr), sorted.end());
    const bool listedTwice = std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();

    if (!m_pool || sorted.size() < 2 || listedTwice) {
        // One after another: measuring and finishing each camera before the next.
        for (int i = 0; i < n; ++i) {
            if (!detectors[i])
                continue;
            SlotMeasurement m;
            measureCamera(detectors[i], k, &m);
            outcomes[i] = detectors[i]->finishSlot(m);
        }
        return outcomes;
    }

    std::vector<SlotMeasurement> measured(static_cast<size_t>(n));
    const std::function<void(int)> work = [&](int i) {
        if (detectors[i])
            measureCamera(detectors[i], k, &measured[size_t(i)]);
    };
    runOnPool(n, work);
    for (int i = 0; i < n; ++i) {
        if (detectors[i])
            outcomes[i] = detectors[i]->finishSlot(measured[size_t(i)]);
    }
    return outcomes;
}

SlotJudgement &SlotJudgement::instance()
{
    static const std::unique_ptr<SlotJudgement> judgement([] {
        cv::setNumThreads(1); // see the header: one camera per core, OpenCV on one thread
        return new SlotJudgement(0);
    }());
    return *judgement;
}

QVector<TemperatureOutcome> judgeSlotCameras(const QVector<CameraDetector *> &detectors, int k)
{
    return SlotJudgement::instance().judge(detectors, k);
}
