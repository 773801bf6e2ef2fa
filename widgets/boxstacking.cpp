#include "boxstacking.h"

#include "numberinput.h"
#include "numcharinput.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace {

// Raises each window as it is shown: with no window manager, nothing else does.
class ShowWatcher : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (widget->isWindow() && widget->windowType() != Qt::Desktop)
                BoxStacking::raise(widget);
        }
        return false;
    }
};

QPointer<ShowWatcher> watcher;

bool belongsTo(const QWidget *window, const QWidget *owner)
{
    for (const QWidget *w = window; w; w = w->parentWidget()) {
        if (w == owner)
            return true;
    }
    return false;
}

bool takesFocus(const QWidget *window)
{
    const Qt::WindowType type = window->windowType();
    if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Tool || type == Qt::SplashScreen)
        return false;
    return !window->testAttribute(Qt::WA_ShowWithoutActivating) &&
           !(window->windowFlags() & Qt::WindowDoesNotAcceptFocus);
}

} // namespace

namespace BoxStacking {

void install()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (watcher || !qobject_cast<QApplication *>(app))
        return;
    watcher = new ShowWatcher(app);
    app->installEventFilter(watcher);
}

void raise(QWidget *window)
{
    if (!window || !window->isWindow())
        return;
    window->raise();
    if (takesFocus(window))
        window->activateWindow();
    // A waiting modal box blocks every touch outside itself: a window shown over it (a page opened by
    // the machine cycle, a notice shown without blocking) must not hide it. A window of its own (its
    // pad, its combo list) or a further modal box asked from it goes above it.
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal != window && modal->isVisible() && !belongsTo(window, modal) && !window->isModal() &&
        window->windowType() != Qt::Popup)
        modal->raise();
    for (QWidget *pad : {static_cast<QWidget *>(gNumberInput), static_cast<QWidget *>(gNumCharInput)}) {
        if (pad && pad != window && pad->isVisible())
            pad->raise();
    }
}

} // namespace BoxStacking
