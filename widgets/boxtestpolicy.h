#pragma once
// How the modal boxes behave when nobody can press them: with the policy on (tests), every modal run
// returns at once with the scripted answer and the text each box showed is recorded in order.
// GUI thread only.

#include <QString>
#include <QStringList>

namespace BoxTestPolicy {

// Turns the policy on; `answer` is what a modal run returns (1 = the accepting button).
void enable(int answer = 1);
// Back to real modal runs; the recorded texts are kept until clearShown().
void disable();
bool isEnabled();
int answer();

// Called by the boxes when they are shown (modal or not); records only while the policy is on.
void recordShown(const QString &text);
QStringList shownTexts();
void clearShown();

} // namespace BoxTestPolicy
