#pragma once
// What the simulated machine does with the board's inputs over time: periodic pulses ("raise input 0
// for 1 s every 10 s" plays a mould opening) and/or a script of timed input words.

#include <QString>
#include <QVector>

class InputPlan
{
public:
    // "BIT:ON_MS:PERIOD_MS", e.g. "0:1000:10000": the bit is set for the first ON_MS of every period.
    bool addCycle(const QString &text, QString *error);
    // Script lines "<wait ms> <input word>" (decimal or 0x hex); blank lines and lines starting with
    // '#' are skipped. Each word is set after waiting its line's time from the previous line.
    bool setScript(const QString &text, QString *error);
    void setRepeat(bool on) { m_repeat = on; }

    bool isEmpty() const { return m_cycles.isEmpty() && m_steps.isEmpty(); }
    // Input word at `ms` milliseconds after the start: the script's word OR'ed with the cycle bits.
    quint16 inputsAt(qint64 ms) const;

private:
    struct Cycle
    {
        int bit;
        qint64 onMs;
        qint64 periodMs;
    };
    struct Step
    {
        qint64 atMs;
        quint16 word;
    };
    QVector<Cycle> m_cycles;
    QVector<Step> m_steps;
    bool m_repeat = false;
};
