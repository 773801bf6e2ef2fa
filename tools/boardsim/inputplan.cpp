#include "inputplan.h"

#include <QStringList>

bool InputPlan::addCycle(const QString &text, QString *error)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok[3] = {false, false, false};
    if (parts.size() == 3) {
        const int bit = parts[0].toInt(&ok[0]);
        const qint64 on = parts[1].toLongLong(&ok[1]);
        const qint64 period = parts[2].toLongLong(&ok[2]);
        if (ok[0] && ok[1] && ok[2] && bit >= 0 && bit <= 9 && on >= 0 && period > 0 && on <= period) {
            m_cycles.append({bit, on, period});
            return true;
        }
    }
    if (error)
        *error = QStringLiteral("cycle \"%1\": expected BIT:ON_MS:PERIOD_MS with BIT 0-9 and "
                                "0 <= ON_MS <= PERIOD_MS")
                     .arg(text);
    return false;
}

bool InputPlan::setScript(const QString &text, QString *error)
{
    QVector<Step> steps;
    qint64 at = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        bool okWait = false;
        bool okWord = false;
        const qint64 wait = fields.size() == 2 ? fields[0].toLongLong(&okWait) : -1;
        const uint word = fields.size() == 2 ? fields[1].toUInt(&okWord, 0) : 0;
        if (!okWait || !okWord || wait < 0 || word > 0x3FF) {
            if (error)
                *error =
                    QStringLiteral("script line %1: expected \"<wait ms> <input word 0-0x3FF>\"").arg(i + 1);
            return false;
        }
        at += wait;
        steps.append({at, quint16(word)});
    }
    m_steps = steps;
    return true;
}

quint16 InputPlan::inputsAt(qint64 ms) const
{
    quint16 word = 0;
    if (!m_steps.isEmpty()) {
        const qint64 length = m_steps.last().atMs;
        qint64 t = ms;
        if (m_repeat && length > 0)
            t = ms % length;
        for (const Step &s : m_steps) {
            if (s.atMs > t)
                break;
            word = s.word;
        }
    }
    for (const Cycle &c : m_cycles) {
        if (ms % c.periodMs < c.onMs)
            word |= quint16(1u << c.bit);
    }
    return word;
}
