#pragma once
// What every screenshot tool under tools/ does around its pages: reading its arguments, copying the
// shipped pictures into its working directory, letting the pages settle and saving the screen.
// Main (GUI) thread only, after the QApplication exists.

#include <QString>

#include <functional>

class QDialog;
class QWidget;

// Prints "usage: <usage>" on stderr and returns false when argc is not wanted.
bool checkShotUsage(int argc, int wanted, const char *usage);
// A command-line path made absolute, so that it still holds after the tool changes directory.
QString absoluteArgument(const char *arg);
// A command-line language number, kept within 0..3.
int languageArgument(const char *arg);
// For the tools called "<name> <shipped-dir> <output-dir> <language 0..3>": checks the arguments,
// fills the text table, sets the language and makes the output folder; false after printing the usage.
bool startPageShots(int argc, char **argv, const char *name, QString *shipped, QString *out);
// Copies the files (not the folders) of from into to, creating to; false when one copy fails.
bool copyFolder(const QString &from, const QString &to);
// Copies the shipped interface pictures into ./images and loads them; false when one copy fails.
bool loadShippedImages(const QString &shipped);
// The 1920 x 1080 screen the tools draw on.
void useFullHdScreen();

// Draws every widget without a font of its own with the box's application font, as the box does
// (Qt's default font fits captions that the box cuts). Call right after the QApplication exists.
void useBoxFont();

// Modal boxes. By default a tool's boxes answer by themselves with `answer` (the box test policy)
// and are not seen. With MG_SHOTS_UNANSWERED=1 in the environment they wait as on the box: each one
// is saved as <prefix>-box<n>.png (n from 1) once it has been up for a moment, then the tool presses
// `answer` (1 the accepting button, 0 the other) for the operator.
void handleModalBoxes(const QString &prefix, int answer);
// Runs `box` modally for real (not through the policy), calls `whileUp` once it is up (to open its
// pad, say), saves the screen at `path` while it waits, then answers it with `answer`; the policy is
// as before afterwards. False when nothing was saved.
bool captureModalBox(QDialog *box, const QString &path, int answer,
                     const std::function<void()> &whileUp = {});

// Lets events and repaints run for about half a second.
void settle();
// Lets events run for ms milliseconds.
void settleFor(int ms);
// Saves the whole screen as it is now and says on stdout whether it was saved.
bool saveScreen(const QString &path);
// settle(), then saveScreen(path).
bool grab(const QString &path);
// Opens the list of each combo box shown under `root` in turn and saves the screen with it open, as
// <before>_popup<n><after> (n from 1, in the order findChildren lists them); false when one was not saved.
bool grabPopups(QWidget *root, const QString &before, const QString &after);
