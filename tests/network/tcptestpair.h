#pragma once
// A connected pair of TCP sockets over loopback in the test's thread, and helpers to move bytes
// between them with the event loop running.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

struct TcpTestPair
{
    QTcpServer server;
    std::unique_ptr<QTcpSocket> client{new QTcpSocket};
    QTcpSocket *accepted = nullptr; // owned by `server` until taken

    bool open()
    {
        if (!server.listen(QHostAddress::LocalHost, 0))
            return false;
        client->connectToHost(QHostAddress::LocalHost, server.serverPort());
        if (!client->waitForConnected(5000) || !server.waitForNewConnection(5000))
            return false;
        accepted = server.nextPendingConnection();
        return accepted != nullptr;
    }
};

// Reads from `socket` until `size` bytes have come or 10 s pass, running the event loop meanwhile.
inline QByteArray readExactly(QTcpSocket *socket, int size)
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < size && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        got += socket->read(size - got.size());
    }
    return got;
}

// Runs the event loop until `done` holds or 10 s pass.
template <typename Pred> bool waitUntil(Pred done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}
