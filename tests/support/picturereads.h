#pragma once
// Which pictures of a simulated camera's folder the box has read, seen from outside (inotify): a
// test that changes what the camera sees waits until the box has read a new picture and gone on to
// the next, so that the new picture is the camera's newest whatever the load on the machine. The camera
// reads a picture whose file changed and keeps the others decoded, and a test writes each picture under
// another name and renames it into place, so only the box opens these names. Header only.

#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <functional>
#include <sys/inotify.h>
#include <unistd.h>

class PictureReads
{
public:
    // Watches `folder` from now on.
    explicit PictureReads(const QString &folder)
    {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0 && ::inotify_add_watch(m_fd, qPrintable(folder), IN_OPEN) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~PictureReads()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PictureReads(const PictureReads &) = delete;
    PictureReads &operator=(const PictureReads &) = delete;

    bool isValid() const { return m_fd >= 0; }

    // Until `count` different names of `names` have been opened since the watch began, at most `ms`
    // (the event loop runs meanwhile); false at once when `gone` says the box has ended.
    bool waitFor(const QStringList &names, int count, int ms, const std::function<bool()> &gone = {})
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            readEvents(names);
            if (m_opened.size() >= count)
                return true;
            if (m_fd < 0 || t.elapsed() > ms || (gone && gone()))
                return false;
            QTest::qWait(10);
        }
    }

private:
    void readEvents(const QStringList &names)
    {
        if (m_fd < 0)
            return;
        alignas(inotify_event) char events[4096];
        ssize_t n;
        while ((n = ::read(m_fd, events, sizeof events)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(events + at);
                if (e->len > 0 && names.contains(QString::fromLocal8Bit(e->name)))
                    m_opened.insert(QString::fromLocal8Bit(e->name));
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
    }

    int m_fd = -1;
    QSet<QString> m_opened;
};
