#pragma once
// VersionDownloadDialog: the version library. It reads the directory listings of the update server
// (base "/monitor/", one folder per machine model, each with a "V17" folder of archives), shows every
// archive as a button in its model's column, and downloads the chosen one into the program directory
// as the pending update "newupdate" + extension, after packing the program directory into one backup
// beside it. Nothing is unpacked here: the next start does that. GUI thread only; the network waits
// are nested event loops, so the screen keeps painting.

#include <QDialog>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

class ColorButton;
class QButtonGroup;
class QDomElement;
struct ListingBody;
struct ListingScan;

// The archives of one model: file names in listing order and the address of each.
struct VersionList
{
    QStringList names;
    QStringList urls;
};

// The update server's base address: an HTTP URL ending in "/monitor/". The build sets it
// (MG_UPDATE_SERVER_BASE); tests point it at their own loopback server.
QString updateServerBase();
void setUpdateServerBase(const QString &url);

// How long the version library waits, in milliseconds; tests shorten them.
struct UpdateTimeouts
{
    int indexWaitMs = 1000;     // one listing page, whole
    int transferMs = 3000;      // no byte moved for this long aborts a request
    int downloadWaitMs = 30000; // the whole archive
};
UpdateTimeouts &updateTimeouts();

class VersionDownloadDialog : public QDialog
{
    Q_OBJECT
public:
    // Crawls the server and builds the page; afterwards `reachable` tells whether the last fetch got
    // through.
    explicit VersionDownloadDialog(QWidget *parent);
    ~VersionDownloadDialog() override;

    // The crawl: one listing page, its parse, and the walk over its body.
    void fetchIndex(const QString &url);
    bool parseIndex(const QString &html);
    void walkIndex(const QDomElement &element);

    void showPage(int column);
    void hidePage(int column);
    void setVersionButtonsEnabled(bool enabled);
    void onVersionClicked(ColorButton *button);

    // Downloads the first listed archive called `name` as the pending update; true only when the
    // whole archive is in place under its final name and the backup was made.
    bool downloadVersion(const QString &name);
    void removeOldBackups();
    // Packs the program directory into "/root/bin-DOD-<time>.tar.gz"; true when tar succeeded.
    bool backupProgramDir();
    void removeOldUpdates();

    bool reachable = true;
    QString currentUrl;
    QVector<QString> columnTitles;
    QList<VersionList> versionLists;
    QVector<QButtonGroup *> buttonGroups;
    QVector<int> currentPage;
    QVector<int> pageCount;
    QButtonGroup *prevGroup = nullptr;
    QButtonGroup *nextGroup = nullptr;
    ColorButton *exitButton = nullptr;

public slots:
    void slotToLastPage(int column);
    void slotToNextPage(int column);
    virtual void acceptDialog();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool downloadFrom(const QString &name, const QString &url);
    // The crawl's walk over what a listing page holds (parsed elsewhere).
    void walkScan(const ListingScan &scan);
    void walkBodies(const QList<ListingBody> &bodies);
    // Whether the crawl may read one more listing (depth and page limits); the listings left out are
    // counted, and only the first is named in the log.
    bool crawlGoesOn(const QString &url);
    // How many more archives this crawl keeps.
    int archiveRoom() const;
    // Logs what the crawl left out.
    void finishCrawl();
    // Puts the lists into one column per model, titles and lists in step.
    void alignColumns();

    // Crawl bookkeeping: the addresses read, the nesting of fetches, the models being read.
    QSet<QString> m_visited;
    int m_depth = 0;
    int m_pages = 0;
    int m_listingsLeftOut = 0;
    int m_archivesKept = 0;
    int m_archivesLeftOut = 0;
    QStringList m_modelStack;
    QVector<QString> m_listOwner;
    QString m_newBackup;
    QString m_pendingTemp;
};
