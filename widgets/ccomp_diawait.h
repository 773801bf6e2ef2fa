#pragma once
// CComp_DiaWait: the small wait dialog (the "./images/wait.png" picture) shown while a slow task runs
// on the global thread pool, such as the network script or the WiFi scan. Its constructor starts the
// task at once; a modal run returns when the task has ended, even when it ended before the run began;
// the destructor waits for the task. Construct, run and destroy on the GUI thread; the task runs on a
// pool thread and must not touch widgets.

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>

class CComp_DiaWait : public QDialog
{
    Q_OBJECT
public:
    explicit CComp_DiaWait(std::function<void()> task, QWidget *parent = nullptr);
    ~CComp_DiaWait() override;

    // Returns 1 once the task has ended; at once when it already has. The test policy does not
    // apply: the task always runs for real, and the run ends by itself.
    int exec() override;

    // True once the task has ended (any thread).
    bool isFinished() const { return m_done.load(); }

    // Called on the pool thread when the task has ended: marks it done and asks the GUI thread to
    // close the dialog (a queued call: widgets belong to the GUI thread).
    void finish();

private:
    struct TaskState;
    std::shared_ptr<TaskState> m_state;
    std::atomic<bool> m_done{false};
};
