#pragma once
// What every screenshot tool under tools/ does around its pages: reading its arguments, copying the
// shipped pictures into its working directory, letting the pages settle and saving the screen.
// Main (GUI) thread only, after the QApplication exists.

#include <QString>

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

// Lets events and repaints run for about half a second.
void settle();
// Lets events run for ms milliseconds.
void settleFor(int ms);
// Saves the whole screen as it is now and says on stdout whether it was saved.
bool saveScreen(const QString &path);
// settle(), then saveScreen(path).
bool grab(const QString &path);
