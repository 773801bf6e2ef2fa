#include "versiondownloaddialog.h"

#include "settingslog.h"
#include "updatefiles.h"
#include "v_selectbox.h"
#include "versionindexscan.h"

#include "core/clock.h"
#include "core/commandrunner.h"
#include "core/imagesize.h"
#include "core/pathmap.h"
#include "core/startup.h"
#include "core/uitexttable.h"
#include "widgets/colorbutton.h"
#include "widgets/uistyle.h"

#include <QButtonGroup>
#include <QDir>
#include <QDomDocument>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QTimer>
#include <QTransform>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

#ifndef MG_UPDATE_SERVER_BASE
#define MG_UPDATE_SERVER_BASE "http://127.0.0.1:8089/monitor/"
#endif

namespace {

constexpr int kButtonsPerPage = 7;
// The layout is three levels deep (base, model, "V17"); a listing that leads on and on is cut here.
constexpr int kMaxDepth = 6;
constexpr int kMaxPages = 200;
constexpr qint64 kMaxIndexBytes = 4 << 20;
// Archives one crawl keeps (a hundred pages of buttons): a listing of thousands is a wrong server, and
// every one kept becomes a button.
constexpr int kMaxArchives = 700;
// tar on a program folder full of images takes a while; a tar that hangs must not hang the box.
constexpr int kBackupTimeoutMs = 30 * 60 * 1000;

QString gServerBase = QStringLiteral(MG_UPDATE_SERVER_BASE);
UpdateTimeouts gTimeouts;

// A reply is aborted before it goes, so that no transfer outlives the wait for it.
struct ReplyDeleter
{
    void operator()(QNetworkReply *reply) const
    {
        if (!reply)
            return;
        reply->disconnect();
        if (!reply->isFinished())
            reply->abort();
        delete reply;
    }
};
using ReplyPtr = std::unique_ptr<QNetworkReply, ReplyDeleter>;

// Waits in a nested event loop until the reply finishes or `ms` pass; true when it finished.
bool waitForReply(QNetworkReply *reply, int ms)
{
    if (reply->isFinished())
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
    return reply->isFinished();
}

QNetworkRequest makeRequest(const QString &url)
{
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(gTimeouts.transferMs);
    return request;
}

} // namespace

QString updateServerBase()
{
    return gServerBase;
}

void setUpdateServerBase(const QString &url)
{
    gServerBase = url;
}

UpdateTimeouts &updateTimeouts()
{
    return gTimeouts;
}

VersionDownloadDialog::VersionDownloadDialog(QWidget *parent) : QDialog(parent)
{
    reachable = true;
    fetchIndex(updateServerBase());
    finishCrawl();
    alignColumns();

    if (gShowW <= 1024)
        setGeometry(gShowW / 2 - 350, gShowH / 2 - 250, 700, 500);
    else
        setGeometry(gShowW / 2 - 640, gShowH / 2 - 480, 1280, 960);
    const int w = width();
    const int h = height();

    // The exit button reads "退出" in every language, as the page and next-page buttons keep theirs.
    exitButton = new ColorButton(QStringLiteral("退出"), this, 3);
    for (int i = 0; i < versionLists.size(); ++i) {
        auto *group = new QButtonGroup(this);
        buttonGroups << group;
        const QStringList &names = versionLists.at(i).names;
        for (int j = 0; j < names.size(); ++j) {
            auto *button = new ColorButton(names.at(j), this, 3);
            group->addButton(button, j);
            button->hide();
            connect(button, &QAbstractButton::clicked, this, [this, button] { onVersionClicked(button); });
        }
        pageCount << int(std::ceil(names.size() / double(kButtonsPerPage)));
        currentPage << 0;
        showPage(i);
    }

    prevGroup = new QButtonGroup(this);
    nextGroup = new QButtonGroup(this);
    for (int i = 0; i < columnTitles.size(); ++i) {
        // Painted like every other button of the box: a transparent button would vanish on the
        // light background.
        auto *prev = new ColorButton(QStringLiteral("上一页"), this, 3);
        auto *next = new ColorButton(QStringLiteral("下一页"), this, 3);
        prevGroup->addButton(prev, i);
        nextGroup->addButton(next, i);
        prev->setGeometry(w / 12 - 50 + (w / 3) * i, h - 100, 100, 50);
        next->setGeometry(w / 4 - 50 + (w / 3) * i, h - 100, 100, 50);
    }
    connect(prevGroup, &QButtonGroup::idClicked, this, &VersionDownloadDialog::slotToLastPage);
    connect(nextGroup, &QButtonGroup::idClicked, this, &VersionDownloadDialog::slotToNextPage);
    exitButton->setGeometry(w - 155, 5, 150, 50);
    connect(exitButton, &QAbstractButton::clicked, this, &VersionDownloadDialog::acceptDialog);

    setWindowFlags(windowFlags() | Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    dialogStyleSheet(this, QString());
}

VersionDownloadDialog::~VersionDownloadDialog() = default;

void VersionDownloadDialog::fetchIndex(const QString &url)
{
    const QUrl address(url);
    const QString key = address.adjusted(QUrl::NormalizePathSegments).toString();
    // A listing that names itself, or one of the pages above it, would be read for ever.
    if (m_visited.contains(key))
        return;
    if (!crawlGoesOn(url))
        return;
    m_visited.insert(key);
    ++m_pages;

    QNetworkAccessManager manager;
    ReplyPtr reply(manager.get(makeRequest(url)));
    QNetworkReply *raw = reply.get();
    connect(raw, &QNetworkReply::readyRead, this, [raw] {
        if (raw->bytesAvailable() > kMaxIndexBytes)
            raw->abort();
    });
    if (!waitForReply(raw, gTimeouts.indexWaitMs)) {
        reachable = false;
        qCInfo(lcSettings) << "error";
        return;
    }
    if (raw->error() != QNetworkReply::NoError) {
        qCInfo(lcSettings) << "update listing" << url << "not read:" << raw->errorString();
        return;
    }
    reachable = true;
    const QByteArray body = raw->readAll();
    reply.reset();
    // A listing of megabytes takes a while to parse: that happens on a thread of its own while this
    // one goes on serving its events (the machine cycle among them).
    ListingScan scan;
    QEventLoop loop;
    std::thread parser([&scan, &loop, body, room = archiveRoom()] {
        scan = scanListingPage(body, room);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    parser.join();
    currentUrl = url;
    ++m_depth;
    walkScan(scan);
    --m_depth;
}

bool VersionDownloadDialog::parseIndex(const QString &html)
{
    ListingScan scan = scanListingText(html, archiveRoom());
    walkScan(scan);
    return scan.parsed;
}

void VersionDownloadDialog::walkIndex(const QDomElement &element)
{
    walkBodies(scanListingElement(element, archiveRoom()));
}

void VersionDownloadDialog::walkScan(const ListingScan &scan)
{
    if (!scan.parsed) {
        qCDebug(lcSettings).noquote() << QStringLiteral("Error: Parse error at line ") +
                                             QString::number(scan.errorLine) + QStringLiteral(", ") +
                                             QStringLiteral("column ") + QString::number(scan.errorColumn) +
                                             QStringLiteral(": ") + scan.errorMessage;
        return;
    }
    walkBodies(scan.bodies);
}

void VersionDownloadDialog::walkBodies(const QList<ListingBody> &bodies)
{
    // The "V17" folder lies below this page, whatever the nested reads do to currentUrl meanwhile.
    const QString pageUrl = currentUrl;
    for (const ListingBody &body : bodies) {
        if (!body.archives.isEmpty() || body.archivesLeftOut > 0) {
            VersionList found;
            const int room = archiveRoom();
            for (int i = 0; i < body.archives.size(); ++i) {
                if (i >= room) {
                    ++m_archivesLeftOut;
                    continue;
                }
                found.names << body.archives.at(i);
                found.urls << pageUrl + body.archives.at(i);
            }
            m_archivesLeftOut += body.archivesLeftOut;
            m_archivesKept += found.names.size();
            if (!found.names.isEmpty()) {
                versionLists << found;
                m_listOwner << (m_modelStack.isEmpty() ? QString() : m_modelStack.last());
            }
            return;
        }
        for (const QString &folder : body.folders) {
            if (!folder.contains(QLatin1Char('V'))) {
                const QString url = updateServerBase() + folder + QLatin1Char('/');
                // A model whose listing is not read has no archives: no title is kept for it.
                if (!crawlGoesOn(url))
                    continue;
                columnTitles << folder;
                m_modelStack << folder;
                fetchIndex(url);
                m_modelStack.removeLast();
            }
            if (folder == QLatin1String("V17"))
                fetchIndex(pageUrl + folder + QLatin1Char('/'));
        }
    }
}

bool VersionDownloadDialog::crawlGoesOn(const QString &url)
{
    if (m_depth < kMaxDepth && m_pages < kMaxPages)
        return true;
    // The first listing left out is named; the others are only counted (finishCrawl).
    if (m_listingsLeftOut++ == 0)
        qCInfo(lcSettings) << "update listing not read, the crawl goes too deep:" << url;
    return false;
}

int VersionDownloadDialog::archiveRoom() const
{
    return std::max(0, kMaxArchives - m_archivesKept);
}

void VersionDownloadDialog::finishCrawl()
{
    if (m_listingsLeftOut > 1)
        qCInfo(lcSettings) << m_listingsLeftOut - 1 << "more update listings not read";
    if (m_archivesLeftOut > 0)
        qCInfo(lcSettings) << "the version library keeps" << kMaxArchives << "archives;" << m_archivesLeftOut
                           << "more are not shown";
}

void VersionDownloadDialog::alignColumns()
{
    // Every list belongs to the model whose folder was being read when it was found; a model without
    // archives gets no column, so that a column's title always names the machine its buttons are for.
    QHash<QString, QList<int>> listsOf;
    for (int i = 0; i < versionLists.size(); ++i)
        listsOf[m_listOwner.at(i)] << i;
    QVector<QString> titles;
    QList<VersionList> lists;
    QSet<QString> seen;
    auto addColumn = [&](const QString &title) {
        VersionList merged;
        QSet<QString> names;
        for (const int i : listsOf.value(title)) {
            const VersionList &list = versionLists.at(i);
            for (int j = 0; j < list.names.size(); ++j) {
                if (names.contains(list.names.at(j)))
                    continue;
                names.insert(list.names.at(j));
                merged.names << list.names.at(j);
                merged.urls << list.urls.at(j);
            }
        }
        if (!merged.names.isEmpty()) {
            titles << title;
            lists << merged;
        }
    };
    for (const QString &title : qAsConst(columnTitles)) {
        if (!seen.contains(title)) {
            seen.insert(title);
            addColumn(title);
        }
    }
    // Archives found outside any model folder keep a column without a title.
    addColumn(QString());
    columnTitles = titles;
    versionLists = lists;
    m_listOwner = titles;
}

void VersionDownloadDialog::showPage(int column)
{
    if (column < 0 || column >= buttonGroups.size())
        return;
    const int w = width();
    const int p = currentPage.at(column);
    const int n = buttonGroups.at(column)->buttons().size();
    const int shown = qMin(kButtonsPerPage, n - kButtonsPerPage * p);
    for (int k = 0; k < shown; ++k) {
        QAbstractButton *button = buttonGroups.at(column)->button(kButtonsPerPage * p + k);
        if (!button)
            continue;
        button->setGeometry(w / 6 - 100 + (w / 3) * column, 180 + 80 * k, 200, 50);
        button->show();
    }
}

void VersionDownloadDialog::hidePage(int column)
{
    if (column < 0 || column >= buttonGroups.size())
        return;
    const int p = currentPage.at(column);
    const int n = buttonGroups.at(column)->buttons().size();
    const int shown = qMin(kButtonsPerPage, n - kButtonsPerPage * p);
    for (int k = 0; k < shown; ++k) {
        if (QAbstractButton *button = buttonGroups.at(column)->button(kButtonsPerPage * p + k))
            button->hide();
    }
}

void VersionDownloadDialog::slotToLastPage(int column)
{
    if (column < 0 || column >= versionLists.size())
        return;
    hidePage(column);
    if (currentPage[column] != 0)
        --currentPage[column];
    showPage(column);
}

void VersionDownloadDialog::slotToNextPage(int column)
{
    if (column < 0 || column >= versionLists.size())
        return;
    hidePage(column);
    if (currentPage[column] + 1 != pageCount[column])
        ++currentPage[column];
    showPage(column);
}

void VersionDownloadDialog::setVersionButtonsEnabled(bool enabled)
{
    for (QButtonGroup *group : qAsConst(buttonGroups)) {
        for (QAbstractButton *button : group->buttons())
            button->setEnabled(enabled);
    }
}

void VersionDownloadDialog::onVersionClicked(ColorButton *button)
{
    exitButton->setEnabled(false);
    setVersionButtonsEnabled(false);
    // The boxes are centred on the dialog wherever the dialog stands on the screen.
    const QPoint at = mapToGlobal(QPoint(width() / 2 - 375, height() / 2 - 185));
    const int x = at.x();
    const int y = at.y();
    v_SelectBox ask(x, y, this, 2);
    ask.setText(uiText(726));
    if (ask.exec() != QDialog::Accepted) {
        setVersionButtonsEnabled(true);
        exitButton->setEnabled(true);
        return;
    }

    v_SelectBox busy(x, y, this, 0);
    busy.setText(QStringLiteral("下载中..."));
    busy.show();
    // The archive of the column pressed, not the first one of that name: two machines may carry
    // archives of the same name.
    QString url;
    for (int i = 0; i < buttonGroups.size() && url.isEmpty(); ++i) {
        const int id = buttonGroups.at(i)->id(button);
        if (id >= 0 && id < versionLists.at(i).urls.size())
            url = versionLists.at(i).urls.at(id);
    }
    const bool ok = url.isEmpty() ? downloadVersion(button->text()) : downloadFrom(button->text(), url);
    busy.close();

    v_SelectBox done(x, y, this, 1);
    done.setText(uiText(ok ? 727 : 728));
    done.exec();
    setVersionButtonsEnabled(true);
    exitButton->setEnabled(true);
}

bool VersionDownloadDialog::downloadVersion(const QString &name)
{
    for (const VersionList &list : qAsConst(versionLists)) {
        const int at = list.names.indexOf(name);
        if (at >= 0)
            return downloadFrom(name, list.urls.at(at));
    }
    qCInfo(lcSettings) << "no archive named" << name;
    return false;
}

bool VersionDownloadDialog::downloadFrom(const QString &name, const QString &url)
{
    const QString extension = pendingUpdateExtension(name);
    if (extension.isEmpty()) {
        qCWarning(lcSettings) << "not an update archive:" << name;
        return false;
    }
    // The archive streams into a temporary file; the pending update appears under its name only when
    // every byte has arrived, is on the disk and the backup is made.
    StreamedFile out(mapSystemPath(QStringLiteral("/root/bin-DOD/newupdate")) + extension);
    if (!out.open()) {
        qCInfo(lcSettings) << "path error" << out.errorText();
        return false;
    }
    m_pendingTemp = QFileInfo(out.temporaryPath()).fileName();

    QNetworkAccessManager manager;
    ReplyPtr reply(manager.get(makeRequest(url)));
    QNetworkReply *raw = reply.get();
    bool written = true;
    connect(raw, &QNetworkReply::readyRead, this, [raw, &out, &written] {
        const QByteArray chunk = raw->readAll();
        if (written && !out.write(chunk)) {
            written = false;
            raw->abort();
        }
    });
    if (!waitForReply(raw, gTimeouts.downloadWaitMs)) {
        qCInfo(lcSettings) << "error";
        return false;
    }
    if (!written) {
        qCWarning(lcSettings) << "download of" << name << "not written:" << out.errorText();
        return false;
    }
    if (raw->error() != QNetworkReply::NoError) {
        qCInfo(lcSettings) << "download of" << url << "failed:" << raw->errorString();
        return false;
    }
    if (!out.write(raw->readAll())) {
        qCWarning(lcSettings) << "download of" << name << "not written:" << out.errorText();
        return false;
    }
    const QVariant length = raw->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() != out.written()) {
        qCWarning(lcSettings) << "download of" << name << "is short:" << out.written() << "of" << length;
        return false;
    }
    reply.reset();
    if (!out.finish()) {
        qCWarning(lcSettings) << "download of" << name << "not written:" << out.errorText();
        return false;
    }
    // The new backup is made before the old ones go, so that a failed backup leaves the last good one.
    if (!backupProgramDir())
        return false;
    removeOldBackups();
    removeOldUpdates();
    if (!out.commit()) {
        qCWarning(lcSettings) << "pending update not put in place:" << out.errorText();
        return false;
    }
    qCInfo(lcSettings) << "downloaded" << url << out.written() << "bytes";
    return true;
}

void VersionDownloadDialog::removeOldBackups()
{
    const QDir root(mapSystemPath(QStringLiteral("/root")));
    if (!root.exists())
        return;
    const QFileInfoList entries = root.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &info : entries) {
        const QString name = info.fileName();
        const QStringList parts = name.split(QLatin1Char('-'));
        if (!name.contains(QLatin1String(".tar.gz")) || parts.size() <= 2 ||
            parts.at(0) + QLatin1Char('-') + parts.at(1) != QLatin1String("bin-DOD"))
            continue;
        if (info.absoluteFilePath() == m_newBackup || (info.isDir() && !info.isSymLink()))
            continue;
        if (!QFile::remove(info.absoluteFilePath()))
            qCWarning(lcSettings) << "old backup not removed:" << info.absoluteFilePath();
    }
}

bool VersionDownloadDialog::backupProgramDir()
{
    const QFileInfo program(mapSystemPath(QStringLiteral("/root/bin-DOD")));
    if (!program.isDir()) {
        qCWarning(lcSettings) << "no program folder to back up:" << program.filePath();
        return false;
    }
    const QString stamp = appNow().toString(QStringLiteral("yyyy-MM-dd-hh:mm:ss"));
    const QString archive = mapSystemPath(QStringLiteral("/root/bin-DOD-%1.tar.gz").arg(stamp));
    const QString folder = program.fileName();
    QStringList arguments{QStringLiteral("--force-local")};
    if (!m_pendingTemp.isEmpty())
        arguments << QStringLiteral("--exclude=%1/%2").arg(folder, m_pendingTemp);
    // The listing of every file packed goes to the null device, not into the runner's memory.
    arguments << QStringLiteral("--index-file=/dev/null") << QStringLiteral("-zcvf") << archive
              << QStringLiteral("-C") << program.absolutePath() << folder;
    const CommandResult result = runCommand(QStringLiteral("tar"), arguments, kBackupTimeoutMs);
    // 1 is tar's "a file changed while it was read" (a log file): the archive is still whole.
    if (!result.started || result.exitCode < 0 || result.exitCode > 1 || !QFileInfo(archive).isFile()) {
        qCWarning(lcSettings) << "program folder backup failed, exit" << result.exitCode << archive;
        QFile::remove(archive);
        return false;
    }
    m_newBackup = QFileInfo(archive).absoluteFilePath();
    return true;
}

void VersionDownloadDialog::removeOldUpdates()
{
    const QDir program(mapSystemPath(QStringLiteral("/root/bin-DOD")));
    if (!program.exists())
        return;
    const QFileInfoList entries =
        program.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : entries) {
        if (info.fileName().split(QLatin1Char('.')).at(0) != QLatin1String("newupdate"))
            continue;
        if (info.isDir() && !info.isSymLink())
            continue;
        if (!QFile::remove(info.absoluteFilePath()))
            qCWarning(lcSettings) << "old update not removed:" << info.absoluteFilePath();
    }
}

void VersionDownloadDialog::acceptDialog()
{
    accept();
}

void VersionDownloadDialog::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const int w = width();
    const int h = height();
    if (gPixBackground && !gPixBackground->isNull())
        p.drawPixmap(rect(), *gPixBackground);
    else
        p.fillRect(rect(), QColor(110, 110, 110));
    if (gPixTitle && !gPixTitle->isNull())
        p.drawPixmap(QRect(0, 0, w, 60), *gPixTitle);
    p.setPen(QColor(0, 255, 255));
    p.setFont(uiFont(32));
    p.drawText(QRect(0, 0, w, 60), Qt::AlignCenter, uiText(615));
    if (gPixLine && !gPixLine->isNull()) {
        const QPixmap upright = gPixLine->transformed(QTransform().rotate(90));
        for (int i = 1; i < columnTitles.size(); ++i)
            p.drawPixmap(QRect((w / 3) * i, 170, 10, h - 260), upright);
    }
    p.setPen(QColor(255, 255, 0));
    p.setFont(uiFont(28));
    for (int i = 0; i < columnTitles.size(); ++i)
        p.drawText(QRect(w / 6 - 100 + (w / 3) * i, 100, 200, 50), Qt::AlignCenter, columnTitles.at(i));
}
