#include "boxtestpolicy.h"

#include <QList>

namespace {
bool policyOn = false;
int policyAnswer = 1;
QList<int> queued;
QString password;
QStringList shown;
} // namespace

namespace BoxTestPolicy {

void enable(int answer)
{
    policyOn = true;
    policyAnswer = answer;
}

void disable()
{
    policyOn = false;
    queued.clear();
    password.clear();
}

bool isEnabled()
{
    return policyOn;
}

int answer()
{
    return policyAnswer;
}

void queueAnswer(int answer)
{
    queued.append(answer);
}

void queueAnswers(const QList<int> &answers)
{
    queued.append(answers);
}

int nextAnswer()
{
    return queued.isEmpty() ? policyAnswer : queued.takeFirst();
}

void setTypedPassword(const QString &text)
{
    password = text;
}

QString typedPassword()
{
    return password;
}

void recordShown(const QString &text)
{
    if (!policyOn)
        return;
    // A box run with the policy on for hours (MG_BOX_ANSWERS) shows the same warnings again and again.
    if (shown.size() >= 1000)
        shown.removeFirst();
    shown.append(text);
}

QStringList shownTexts()
{
    return shown;
}

void clearShown()
{
    shown.clear();
}

} // namespace BoxTestPolicy
