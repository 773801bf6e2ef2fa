#include "boxtestpolicy.h"

namespace {
bool policyOn = false;
int policyAnswer = 1;
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
}

bool isEnabled()
{
    return policyOn;
}

int answer()
{
    return policyAnswer;
}

void recordShown(const QString &text)
{
    if (policyOn)
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
