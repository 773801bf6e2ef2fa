#pragma once
// A fresh working directory for one test case: a temporary folder laid out like the box's program
// directory (images/, PARAM.db, SN.db, paraGroup/default/ with the reset archive, cnt_net/) and made
// current. The previous current directory comes back when the object goes.

#include <QString>
#include <QTemporaryDir>

class TestWorkDir
{
public:
    enum Layout { Empty, Shipped };
    explicit TestWorkDir(Layout layout = Shipped);
    ~TestWorkDir();
    TestWorkDir(const TestWorkDir &) = delete;
    TestWorkDir &operator=(const TestWorkDir &) = delete;

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &relative) const { return m_dir.filePath(relative); }

    // Copies a shipped file (e.g. "PARAM.db", "images/OUT1.png") to `relative` inside the folder.
    bool copyShipped(const QString &shipped, const QString &relative) const;

    // Folder of the files generated at build time.
    static QString shippedDir();

    // Lays out the shipped files in `folder` (used by the tests and by the run script's layout).
    static bool layOut(const QString &folder);

private:
    QTemporaryDir m_dir;
    QString m_previous;
    bool m_valid = false;
};
