#include "frameimagewriter.h"

#include "atomicfile.h"
#include "clock.h"
#include "mainwindowlog.h"

#include <QBuffer>

#include <chrono>

FrameImageWriter::FrameImageWriter(int capacity, WriteFile write)
    : m_capacity(std::max(1, capacity)),
      m_write(write ? std::move(write)
                    : WriteFile([](const QString &path, const QByteArray &bytes, QString *error) {
                          return writeFileAtomically(path, bytes, {}, error);
                      }))
{
    m_thread = std::thread([this] { run(); });
}

FrameImageWriter::~FrameImageWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool FrameImageWriter::logDue(qint64 &lastLogMs)
{
    const qint64 now = appMonotonicMs();
    if (lastLogMs >= 0 && now - lastLogMs < kLogPeriodMs)
        return false;
    lastLogMs = now;
    return true;
}

bool FrameImageWriter::enqueue(const QImage &image, const QString &path)
{
    bool queued = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (int(m_queue.size()) < m_capacity) {
            // The caller's image may point into a frame buffer the next grab overwrites. Its colour
            // table is copied too, so the writer shares nothing with the caller's thread.
            QImage copy = image.copy();
            if (!image.colorTable().isEmpty())
                copy.setColorTable(QVector<QRgb>(image.colorTable().cbegin(), image.colorTable().cend()));
            m_queue.push_back({copy, path});
            queued = true;
        }
    }
    if (queued) {
        m_wake.notify_one();
        return true;
    }
    ++m_dropped;
    ++m_droppedUnlogged;
    if (logDue(m_dropLogMs)) {
        qCWarning(lcMainWindow) << m_droppedUnlogged << "test image(s) not saved: the writer is"
                                << m_capacity << "frames behind";
        m_droppedUnlogged = 0;
    }
    return false;
}

bool FrameImageWriter::waitIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return m_queue.empty() && !m_busy; });
}

void FrameImageWriter::run()
{
    for (;;) {
        Frame frame;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_busy = false;
            if (m_queue.empty())
                m_idle.notify_all();
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            frame = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QString error;
        const bool saved = frame.image.save(&buffer, "BMP") && m_write(frame.path, bytes, &error);
        if (saved)
            continue;
        ++m_failed;
        ++m_failedUnlogged;
        if (logDue(m_failLogMs)) {
            qCWarning(lcMainWindow).noquote()
                << m_failedUnlogged << "test image(s) not saved, the last" << frame.path << error;
            m_failedUnlogged = 0;
        }
    }
}
