#pragma once
// A simulated serial I/O board on a pseudo-terminal: it answers the host's frames with the bytes the
// real board sends (a status frame for each poll, a type-3 or type-4 frame for the periodic requests,
// new outputs from command 1) and can send any raw bytes a test wants on the line.
//
// Threads: the simulator answers on its own thread. Every public function may be called from any
// thread; m_mutex guards the board state and the command log, and serialises writes to the line.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

class BoardSimulator
{
public:
    // One host frame as received.
    struct Command
    {
        quint8 command;
        quint16 value;
        std::chrono::steady_clock::time_point at;
    };

    BoardSimulator();
    ~BoardSimulator();
    BoardSimulator(const BoardSimulator &) = delete;
    BoardSimulator &operator=(const BoardSimulator &) = delete;

    // Makes the pseudo-terminal, links it at `linkPath` (creating the folder; an old link there is
    // replaced, anything else there is refused) and starts answering.
    bool open(const QString &linkPath);
    // Stops answering, removes the link and closes the terminal (and one a move left open).
    void close();
    // Moves the board to a new pseudo-terminal, linked at the same path in one step, and leaves the
    // old one open but unread: the host's old line neither hangs up nor answers (the path has come to
    // name another device). Outputs, inputs and the command log stay. False when not open or no new
    // terminal can be made.
    bool moveToNewLine();
    bool isOpen() const { return m_master >= 0; }
    QString terminalPath() const { return m_terminalPath; }

    // Inputs reported from the next status frame on (bits 0-9).
    void setInputs(quint16 word);
    // Outputs the board holds: set by command 1, echoed in every status frame.
    quint16 outputs() const;
    void setOutputs(quint16 word);
    // Payloads of the type-3 and type-4 answers.
    void setReplyPayloads(quint32 reply3, quint32 reply4);
    // A board that stops answering still reads (and logs) the host's frames but sends nothing.
    void setAnswering(bool on);

    // Puts bytes on the line to the host as they are.
    bool writeRaw(const QByteArray &bytes);

    // Host frames received since the last clear, oldest first.
    QVector<Command> commands() const;
    int commandCount(quint8 command) const;
    void clearCommands();
    // Bytes from the host that did not belong to a valid frame.
    int strayHostBytes() const;
    // Waits until at least `count` frames were received since the last clear.
    bool waitForCommands(int count, int timeoutMs) const;

    // Forgets the outputs as a board reset does: every bit of the held word flips, so the echo differs
    // from any word the host means, and it stays forgotten (a word arriving meanwhile is flipped too)
    // until a status frame has carried the forgotten echo. The first word the host sends after that
    // frame went out is its answer (wordSinceForgotten).
    void forgetOutputs();
    // The host's answer to the last forgetOutputs; -1 until it came.
    int wordSinceForgotten() const;

    // From now on every host frame is also appended to `file` as one line as it arrives:
    // "<ms since recording began> <command> <value as 0x0000>", e.g. "1520 1 0x00f5". An empty name
    // ends the recording. False when the file cannot be opened.
    bool recordTo(const QString &file);
    // One record line of `c`, `msSinceStart` after the recording began.
    static QByteArray recordLine(qint64 msSinceStart, const Command &c);

    // When the first status frame carrying the inputs of the last setInputs was written; the
    // epoch value until then.
    std::chrono::steady_clock::time_point inputsWrittenAt() const;

private:
    void answerLoop();
    void handleHostBytes(const quint8 *data, int n);
    void answer(quint8 command, quint16 value);
    bool writeLocked(const char *data, int n);

    bool openTerminal();

    int m_master = -1;
    int m_slave = -1;
    int m_leftMaster = -1; // the line a move left open
    int m_leftSlave = -1;
    QString m_linkPath;
    QString m_terminalPath;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_commandArrived;
    quint16 m_inputs = 0;
    quint16 m_outputs = 0;
    quint32 m_reply3 = 0;
    quint32 m_reply4 = 0;
    bool m_answering = true;
    bool m_inputsPending = false;
    enum class Forget
    {
        None,
        Pending,
        EchoSent,
        Answered
    };
    Forget m_forget = Forget::None;
    quint16 m_wordSinceForgotten = 0;
    std::chrono::steady_clock::time_point m_inputsWrittenAt{};
    QVector<Command> m_commands;
    int m_strayHostBytes = 0;
    FILE *m_record = nullptr;
    std::chrono::steady_clock::time_point m_recordStart{};
    // Host bytes of a frame not yet complete; touched by the answering thread only.
    QByteArray m_hostBytes;
};
