#pragma once
// How the modal boxes behave when nobody can press them: with the policy on (tests), every modal run
// returns at once with the next scripted answer, password prompts read the scripted password, and the
// text each box showed is recorded in order. The wait dialog is the exception: it always runs its
// task for real (it returns by itself). GUI thread only.

#include <QString>
#include <QStringList>

namespace BoxTestPolicy {

// Turns the policy on; `answer` is what a modal run returns once the queue is empty
// (1 = the accepting button).
void enable(int answer = 1);
// Back to real modal runs; the queued answers and the password are dropped, the recorded texts are
// kept until clearShown().
void disable();
bool isEnabled();
int answer();

// Answers for the next modal runs, first in first out (some callers ask twice in a row).
void queueAnswer(int answer);
void queueAnswers(const QList<int> &answers);
// The answer of the next modal run: the oldest queued one, else the default.
int nextAnswer();

// What a password prompt reads as typed before its accepting button is pressed.
void setTypedPassword(const QString &password);
QString typedPassword();

// Called by the boxes when they are shown (modal or not); records only while the policy is on.
void recordShown(const QString &text);
QStringList shownTexts();
void clearShown();

} // namespace BoxTestPolicy
