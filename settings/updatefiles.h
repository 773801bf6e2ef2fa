#pragma once
// Files of a program update and of the data export: a pending update archive streamed into the program
// directory, copies onto and from the USB disk. An update runs as root at the next start, so nothing
// here lands under its final name before every byte is written, synced and counted. GUI thread only.

#include <QByteArray>
#include <QSet>
#include <QString>

#include <functional>

class QWidget;

// A file written in pieces: the bytes go to "." + name + ".part" beside the target, every write is
// checked, and only commit() puts the file under its name. A file that is not committed is removed.
class StreamedFile
{
public:
    explicit StreamedFile(const QString &target);
    ~StreamedFile();
    StreamedFile(const StreamedFile &) = delete;
    StreamedFile &operator=(const StreamedFile &) = delete;

    // Creates (or truncates a left-over) temporary file; false when it cannot be created.
    bool open();
    // Appends `data`; once a write failed, every later call fails too.
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &data) { return write(data.constData(), data.size()); }
    // Syncs and closes; true when every write went through and the file holds exactly written() bytes.
    bool finish();
    // Renames the finished file over the target.
    bool commit();
    // Removes the temporary file.
    void discard();

    qint64 written() const { return m_written; }
    QString temporaryPath() const { return m_temp; }
    QString errorText() const { return m_error; }

private:
    bool fail(const QString &what, int err);

    QString m_target;
    QString m_temp;
    QString m_error;
    int m_fd = -1;
    qint64 m_written = 0;
    bool m_failed = false;
    bool m_finished = false;
    bool m_committed = false;
};

// "newupdate" + the extension the next start expects for the archive `name` from the update server:
// ".tar.gz" when the name ends in it, else "." + the archive suffix ("gz", "tar", "rar") it ends in;
// an empty text for any other name.
QString pendingUpdateExtension(const QString &name);

// The name a USB update archive is copied as ("newupdate.tar.gz", "newupdate.tar.xz", "newupdate.rar",
// first match on the file name wins), or an empty text when the name holds none of them.
QString usbUpdateTargetName(const QString &fileName);

// What a copy does with a file that grows while it is copied.
enum class FileGrowth
{
    Refuse,       // refused at once, like any other change (an update archive)
    CopyAsAtOpen, // copied as it stood at open, if it was only appended to (the running log)
};

// Copies one file through a StreamedFile; false (target left as it was) when the source is not a regular
// file (a FIFO is not waited for), cannot be read whole, changed while it was copied (its size or time
// differs from those at open; no more than the size at open is read) or the copy cannot be written
// whole. An empty file is copied as an empty file. With FileGrowth::CopyAsAtOpen a file that was only
// appended to (its name still leads to it and it still begins with the bytes copied) is copied as it
// stood at open, and `appended` says so; a file that shrank, was rewritten or was replaced is refused.
bool copyFileChecked(const QString &source, const QString &target, QString *errorText = nullptr,
                     FileGrowth growth = FileGrowth::Refuse, bool *appended = nullptr);

// The same for an update archive, which must hold something: an empty source (a /proc file, or a link
// to one, reads as empty) is refused before anything is written, and the target stays as it was.
bool copyUpdateChecked(const QString &source, const QString &target, QString *errorText = nullptr);

// Copies the folder `source` as the new folder `target` (which must not exist yet), every file checked
// by `growth`, symbolic links and special files left out. `copied` receives the absolute source path of
// every file copied whole; a file appended to meanwhile is not listed. The target itself is never entered,
// so it may lie below the source.
bool copyTreeChecked(const QString &source, const QString &target, QSet<QString> *copied,
                     QString *errorText = nullptr, FileGrowth growth = FileGrowth::Refuse);

// Called by copyFileChecked with the source after each piece it copied; tests use it to change the source
// while it is being copied, whatever the scheduler does. nullptr removes it.
using CopyChunkObserver = std::function<void(const QString &source)>;
void setCopyChunkObserver(CopyChunkObserver observer);

// Removes from `folder` every file listed in `copied`, and sub-folders left empty; the folder stays.
// Files that are not listed (written after the copy) stay too.
void removeCopiedFiles(const QString &folder, const QSet<QString> &copied);

// The USB update's file dialog: returns the chosen path, empty when cancelled. Tests install their own
// answer; nullptr restores the real dialog.
using UpdateFileChooser = std::function<QString(QWidget *parent)>;
void setUpdateFileChooser(UpdateFileChooser chooser);
QString chooseUpdateFile(QWidget *parent);
