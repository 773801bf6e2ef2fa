#include "ccomp_diawait.h"

#include "boxstacking.h"
#include "mutexlocker.h" // also MG_THREAD_SANITIZER
#include "widgetslog.h"

#include <QBitmap>
#include <QLabel>
#include <QPixmap>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QVBoxLayout>

#include <exception>

// Shared with the pool thread, so that the task can say it has ended while the dialog waits in its
// destructor.
struct CComp_DiaWait::TaskState
{
    QSemaphore ended;
};

CComp_DiaWait::CComp_DiaWait(std::function<void()> task, QWidget *parent)
    : QDialog(parent), m_state(std::make_shared<TaskState>())
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::Dialog);
    setAttribute(Qt::WA_TranslucentBackground);
    setModal(true);
    BoxStacking::install();
    setFixedSize(64, 64);
    auto *picture = new QLabel(this);
    QPixmap wait(QStringLiteral("./images/wait.png"));
    if (!wait.isNull())
        wait = wait.scaled(64, 64);
    picture->setPixmap(wait);
    // Without a compositor the translucent corners would be black: cut the window to the picture.
    if (!wait.isNull() && wait.hasAlphaChannel())
        setMask(wait.mask());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(picture);

    std::shared_ptr<TaskState> state = m_state;
    QThreadPool::globalInstance()->start([this, state, task = std::move(task)] {
        // Gives the dialog time to appear before a short task is over.
        QThread::msleep(100);
        try {
            if (task)
                task();
        } catch (const std::exception &e) {
            qCWarning(lcWidgets) << "wait dialog task failed:" << e.what();
        } catch (...) {
            qCWarning(lcWidgets) << "wait dialog task failed";
        }
        finish();
        // The last use of `this`: the destructor may run as soon as this is released.
#ifdef MG_THREAD_SANITIZER
        // ThreadSanitizer cannot see QSemaphore order this thread's last steps before the destructor.
        __tsan_release(state.get());
#endif
        state->ended.release();
    });
}

CComp_DiaWait::~CComp_DiaWait()
{
    m_state->ended.acquire();
#ifdef MG_THREAD_SANITIZER
    __tsan_acquire(m_state.get());
#endif
}

int CComp_DiaWait::exec()
{
    if (m_done.load()) {
        setResult(QDialog::Accepted);
        return QDialog::Accepted;
    }
    return QDialog::exec();
}

void CComp_DiaWait::finish()
{
    m_done.store(true);
    // Delivered in the dialog's own modal loop when it runs; a close that arrives before the run
    // only hides the dialog, and the run then returns at once because the flag is set.
    QMetaObject::invokeMethod(this, [this] { done(QDialog::Accepted); }, Qt::QueuedConnection);
}
