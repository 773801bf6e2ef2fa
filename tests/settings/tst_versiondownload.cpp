// The version library against an update server of our own on loopback that serves listings the way a
// web server's automatic index does: which archives end up in which model's column, that a crawl
// always ends, and what a download leaves in the program folder and beside it when it works and when
// it does not.

#include "boxtestpolicy.h"
#include "choosebox.h"
#include "clock.h"
#include "colorbutton.h"
#include "commandrunner.h"
#include "guigapmeter.h"
#include "imagesize.h"
#include "pathmap.h"
#include "settingshooks.h"
#include "sysparam.h"
#include "testfiles.h"
#include "uitexttable.h"
#include "updatefiles.h"
#include "versiondownloaddialog.h"
#include "warnbox.h"
#include "wizardparawidget.h"

#include <QButtonGroup>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace {

// Serves GET requests by path. A route can answer, never answer, or send its headers and part of its
// body and then stall; paths without a route get 404, or the catch-all listing when one is set.
class UpdateServer : public QObject
{
public:
    enum Mode
    {
        Answer,
        Silent,
        Stall,
        CutShort,
        NotFound
    };
    struct Route
    {
        QByteArray body;
        Mode mode = Answer;
    };
    QHash<QString, Route> routes;
    QByteArray catchAll;
    // Answers every path without a route when set, before the catch-all.
    std::function<QByteArray(const QString &path)> generate;
    int requests = 0;

    UpdateServer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        });
    }
    QString base() const
    {
        return QStringLiteral("http://127.0.0.1:%1/monitor/").arg(m_server.serverPort());
    }

private:
    void answer(QTcpSocket *socket)
    {
        QByteArray &request = m_pending[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        ++requests;
        const QString path = QString::fromLatin1(request.split(' ').value(1));
        request.clear();
        Route route;
        if (routes.contains(path))
            route = routes.value(path);
        else if (generate)
            route.body = generate(path);
        else if (!catchAll.isEmpty())
            route.body = catchAll;
        else
            route.mode = NotFound;
        if (route.mode == Silent)
            return;
        if (route.mode == NotFound) {
            socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            socket->disconnectFromHost();
            return;
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(route.body.size()) +
                      "\r\nConnection: close\r\n\r\n");
        socket->write(route.mode == Answer ? route.body : route.body.left(route.body.size() / 2));
        if (route.mode != Stall)
            socket->disconnectFromHost();
    }
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
};

// A listing as a web server's automatic index writes it: lines ending in CR LF, folders as "name/"
// followed by blanks and a date, files followed by blanks, a date and a size.
QByteArray listing(const QString &path, const QStringList &folders, const QStringList &files = {})
{
    QString html = QStringLiteral("<html>\r\n<head><title>Index of %1</title></head>\r\n<body>\r\n"
                                  "<h1>Index of %1</h1><hr><pre><a href=\"../\">../</a>\r\n")
                       .arg(path);
    for (const QString &f : folders)
        html += QStringLiteral("<a href=\"%1/\">%1/</a>%2 01-Jan-2024 10:00       -\r\n")
                    .arg(f, QString(40 - f.size(), QLatin1Char(' ')));
    for (const QString &f : files)
        html += QStringLiteral("<a href=\"%1\">%1</a>%2 01-Jan-2024 10:00    123456\r\n")
                    .arg(f, QString(40 - f.size(), QLatin1Char(' ')));
    html += QStringLiteral("</pre><hr></body>\r\n</html>\r\n");
    return html.toUtf8();
}

QByteArray archiveBytes(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((qint64(i) * 7919 + seed) % 251);
    return bytes;
}

// The layout of the tests' server: three models with archives, one without, and folders that must not
// be read (a model name with "V", a version folder other than "V17").
void serveModels(UpdateServer &s)
{
    auto page = [&s](const QString &path, const QStringList &folders, const QStringList &files = {}) {
        s.routes[path].body = listing(path, folders, files);
    };
    page("/monitor/", {"M1", "M2", "KV300", "V18", "M3"});
    for (const char *m : {"M2", "M3"})
        page(QStringLiteral("/monitor/%1/").arg(m), {"V17"});
    // M1 names a model of its own before its "V17": the "V17" read is still M1's.
    page("/monitor/M1/", {"M0", "V17"});
    page("/monitor/M0/", {});
    page("/monitor/M1/V17/", {}, {"V17_1.0.tar.gz", "v17_1.1.rar", "X17_a.rar", "V16_a.rar"});
    page("/monitor/M2/V17/", {}, {"readme.txt"});
    QStringList many{"V17_1.0.tar.gz", "V17_3.gz"};
    for (int i = 10; i < 23; ++i)
        many << QStringLiteral("V17_3.%1.rar").arg(i);
    page("/monitor/M3/V17/", {}, many);
    page("/monitor/KV300/", {}, {"V17_kv.rar"});
    page("/monitor/V18/", {}, {"V17_18.rar"});
    s.routes[QStringLiteral("/monitor/M1/V17/V17_1.0.tar.gz")].body = archiveBytes(300000, 1);
    s.routes[QStringLiteral("/monitor/M3/V17/V17_1.0.tar.gz")].body = archiveBytes(200000, 3);
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestVersionDownload : public QObject
{
    Q_OBJECT
    QTemporaryDir *m_root = nullptr;
    QString m_program;
    QString m_parent;

private slots:
    void initTestCase()
    {
        fillUiTextTable();
        gWarnBox = new WarnBox;
        gChooseBox = new ChooseBox;
    }
    void init()
    {
        m_root = new QTemporaryDir;
        setSystemPathRoot(m_root->path());
        m_parent = m_root->filePath(QStringLiteral("root"));
        m_program = m_root->filePath(QStringLiteral("root/bin-DOD"));
        QVERIFY(QDir().mkpath(m_program));
        gShowW = 1920;
        gShowH = 1080;
        gLanguage = 1;
        updateTimeouts() = UpdateTimeouts();
        setAppClock([] { return QDateTime(QDate(2024, 3, 1), QTime(14, 5, 9)); });
        BoxTestPolicy::enable(1);
        BoxTestPolicy::clearShown();
    }
    void cleanup()
    {
        BoxTestPolicy::disable();
        setAppClock({});
        setSystemPathRoot(QString());
        delete m_root;
    }

    void crawlKeepsEachArchiveUnderItsModel_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QStringList>("columns"); // names of each column joined by blanks
        QTest::addColumn<int>("maxRequests");
        QString m3 = QStringLiteral("V17_1.0.tar.gz V17_1.0.tar V17_3.gz");
        for (int i = 10; i < 23; ++i)
            m3 += QStringLiteral(" V17_3.%1.rar").arg(i);
        QTest::newRow("a model without versions gets no column")
            << "models" << QStringList{"M1", "M3"}
            << QStringList{"V17_1.0.tar.gz V17_1.0.tar v17_1.1.rar", m3} << 8;
        // Every path answers with a page naming a model and a "V17" folder: M1/V17/V17/... and back.
        QTest::newRow("a listing that leads back to itself ends")
            << "loop" << QStringList{} << QStringList{} << 12;
        QTest::newRow("refused at once: reachable, no columns")
            << "refused" << QStringList{} << QStringList{} << 0;
        QTest::newRow("never answered: the notice within about a second")
            << "silent" << QStringList{} << QStringList{} << 1;
    }
    void crawlKeepsEachArchiveUnderItsModel()
    {
        QFETCH(QString, server);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, columns);
        QFETCH(int, maxRequests);
        UpdateServer s;
        if (server == QLatin1String("models"))
            serveModels(s);
        if (server == QLatin1String("loop"))
            s.catchAll = listing(QStringLiteral("/monitor/"), {"M1", "V17"});
        if (server == QLatin1String("silent"))
            s.routes[QStringLiteral("/monitor/")].mode = UpdateServer::Silent;
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString closedBase = QStringLiteral("http://127.0.0.1:%1/monitor/").arg(closed.serverPort());
        closed.close();
        setUpdateServerBase(server == QLatin1String("refused") ? closedBase : s.base());

        if (server == QLatin1String("silent")) {
            SysParam inForce, edit;
            gSysParam = &inForce;
            gSysParamEdit = &edit;
            WizardParaWidget screen(nullptr);
            QElapsedTimer clock;
            clock.start();
            screen.SlotToVerion();
            QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
            QVERIFY(screen.fieldWidget(QStringLiteral("versionLibrary"))->isEnabled());
            gSysParam = gSysParamEdit = nullptr;
            QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(725)});
            return;
        }
        VersionDownloadDialog dialog(nullptr);
        QVERIFY(dialog.reachable);
        QCOMPARE(QStringList(dialog.columnTitles.toList()), titles);
        QCOMPARE(dialog.versionLists.size(), columns.size());
        QVERIFY2(s.requests <= maxRequests, qPrintable(QString::number(s.requests)));
        for (int i = 0; i < columns.size(); ++i) {
            const VersionList &list = dialog.versionLists.at(i);
            QCOMPARE(list.names.join(QLatin1Char(' ')), columns.at(i));
            QCOMPARE(list.urls.size(), list.names.size());
            for (int j = 0; j < list.names.size(); ++j)
                QCOMPARE(list.urls.at(j),
                         s.base() + titles.at(i) + QStringLiteral("/V17/") + list.names.at(j));
            // Pages of seven; stepping stops at either end.
            const int n = list.names.size();
            QCOMPARE(dialog.pageCount.at(i), (n + 6) / 7);
            for (int step = 0; step < 5; ++step)
                dialog.slotToNextPage(i);
            QCOMPARE(dialog.currentPage.at(i), dialog.pageCount.at(i) - 1);
            QCOMPARE(dialog.buttonGroups.at(i)->button(n - 1)->isVisibleTo(&dialog), true);
            QCOMPARE(dialog.buttonGroups.at(i)->button(0)->isVisibleTo(&dialog), n <= 7);
            for (int step = 0; step < 5; ++step)
                dialog.slotToLastPage(i);
            QCOMPARE(dialog.currentPage.at(i), 0);
        }
    }

    // The exit button's text is fixed, not a row of the text table: "退出" whatever the language.
    void exitButtonReadsTheSameInEveryLanguage()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        setUpdateServerBase(QStringLiteral("http://127.0.0.1:%1/monitor/").arg(closed.serverPort()));
        closed.close();
        for (int language = 0; language < 4; ++language) {
            gLanguage = language;
            VersionDownloadDialog dialog(nullptr);
            QCOMPARE(dialog.exitButton->text(), QString::fromUtf8("退出"));
        }
        gLanguage = 1;
    }

    // A server that lists far too much: the GUI thread's timer keeps ticking through the whole crawl,
    // what the crawl keeps and logs is bounded, and the page still shows what it kept.
    void hugeServerKeepsTheCycleRunning_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("kept");   // archives in the one column, 0 = no column
        QTest::addColumn<int>("unread"); // listings the crawl counted as not read
        QTest::newRow("one listing of 100,000 archives") << "archives" << 700 << 0;
        QTest::newRow("120,000 model folders over 200 pages") << "folders" << 0 << -1;
    }
    void hugeServerKeepsTheCycleRunning()
    {
        QFETCH(QString, server);
        QFETCH(int, kept);
        QFETCH(int, unread);
        UpdateServer s;
        int pages = 0;
        if (server == "archives") {
            s.routes["/monitor/"].body = listing("/monitor/", {"M1"});
            s.routes["/monitor/M1/"].body = listing("/monitor/M1/", {"V17"});
            // As compact as a listing gets: 1.6 MB.
            QByteArray page = "<html><body>\r\n";
            for (int i = 0; i < 100000; ++i)
                page += "V17_" + QByteArray::number(i) + ".rar 1\r\n";
            page += "</body></html>\r\n";
            s.routes["/monitor/M1/V17/"].body = page;
        } else {
            // Every page names 600 model folders nobody named before.
            s.generate = [&pages](const QString &path) {
                QStringList folders;
                for (int i = 0; i < 600; ++i)
                    folders << QStringLiteral("m%1n%2").arg(pages).arg(i);
                ++pages;
                return listing(path, folders);
            };
        }
        setUpdateServerBase(s.base());
        static QStringList lines;
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { lines << message; });
        GuiGapMeter meter;
        meter.start();
        std::unique_ptr<VersionDownloadDialog> dialog(new VersionDownloadDialog(nullptr));
        const qint64 gap = meter.stop();
        qInstallMessageHandler(previous);
        QVERIFY2(gap < 1000, qPrintable(QString::number(gap)));
        QVERIFY(dialog->reachable);
        QVERIFY2(s.requests <= 200, qPrintable(QString::number(s.requests)));
        QCOMPARE(dialog->versionLists.size(), kept ? 1 : 0);
        QCOMPARE(QStringList(dialog->columnTitles.toList()), kept ? QStringList{"M1"} : QStringList{});
        if (kept) {
            const VersionList &list = dialog->versionLists.first();
            QCOMPARE(list.names.size(), kept);
            QCOMPARE(list.names.first(), QString("V17_0.rar"));
            QCOMPARE(list.names.last(), QString("V17_699.rar"));
            QCOMPARE(list.urls.last(), s.base() + "M1/V17/V17_699.rar");
            QCOMPARE(dialog->pageCount.first(), 100);
            QCOMPARE(lines.filter("more are not shown").size(), 1);
            QVERIFY(lines.filter("more are not shown").first().contains("99300"));
        }
        // One line names the first listing left out, one more counts the others.
        QCOMPARE(lines.filter("update listing not read").size(), unread ? 1 : 0);
        QCOMPARE(lines.filter("more update listings not read").size(), unread ? 1 : 0);
        QVERIFY2(lines.size() < 20, qPrintable(QString::number(lines.size())));
    }

    // A listing nested deeper than any real one is refused before it is parsed, as a page that does not
    // parse: its branch ends with one log line, the other models are still read. 256 levels still parse.
    void deeplyNestedListingEndsItsBranch_data()
    {
        QTest::addColumn<int>("depth"); // of the deepest element of M1's page, html and body included
        QTest::addColumn<QByteArray>("prologue");
        QTest::addColumn<QString>("refusal"); // the parse error logged, empty when M1 is read
        QTest::newRow("256 levels: read") << 256 << QByteArray() << QString();
        QTest::newRow("257 levels: refused") << 257 << QByteArray() << "elements nested deeper than 256";
        QTest::newRow("25,000 levels (75 KB): refused")
            << 25000 << QByteArray() << "elements nested deeper than 256";
        // An entity's text would open elements the count does not see.
        QTest::newRow("an entity declared: refused")
            << 3 << QByteArray("<!DOCTYPE html [<!ENTITY e \"<a>\">]>")
            << "entity declarations are not read";
    }
    void deeplyNestedListingEndsItsBranch()
    {
        QFETCH(int, depth);
        QFETCH(QByteArray, prologue);
        QFETCH(QString, refusal);
        const QStringList titles = refusal.isEmpty() ? QStringList{"M1", "M2"} : QStringList{"M2"};
        UpdateServer s;
        s.routes["/monitor/"].body = listing("/monitor/", {"M1", "M2"});
        // M1's folder list sits at the bottom of the nesting, where body's text still reaches it.
        QByteArray deep = prologue + "<html><body>\r\n";
        for (int i = 2; i < depth; ++i)
            deep += "<a>";
        deep += "\r\nV17/   01-Jan-2024 10:00       -\r\n";
        for (int i = 2; i < depth; ++i)
            deep += "</a>";
        deep += "</body></html>\r\n";
        s.routes["/monitor/M1/"].body = deep;
        for (const char *m : {"M1", "M2"}) {
            s.routes[QStringLiteral("/monitor/%1/V17/").arg(m)].body =
                listing(QStringLiteral("/monitor/%1/V17/").arg(m), {}, {"V17_1.rar"});
        }
        s.routes["/monitor/M2/"].body = listing("/monitor/M2/", {"V17"});
        setUpdateServerBase(s.base());
        static QStringList lines;
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { lines << message; });
        std::unique_ptr<VersionDownloadDialog> dialog(new VersionDownloadDialog(nullptr));
        qInstallMessageHandler(previous);
        QVERIFY(dialog->reachable);
        QCOMPARE(QStringList(dialog->columnTitles.toList()), titles);
        QCOMPARE(dialog->versionLists.size(), titles.size());
        const QStringList refused = lines.filter("Error: Parse error at line ");
        QCOMPARE(refused.size(), refusal.isEmpty() ? 0 : 1);
        if (!refusal.isEmpty())
            QVERIFY2(refused.first().endsWith(": " + refusal), qPrintable(refused.first()));
    }

    void pendingFileKeepsTheArchiveSuffix()
    {
        const QStringList names{"V17_x.tar.gz",  "V17_2.5.0.tar", "V17_x.gz",
                                "V17_rarity.gz", "V17_tar.rar",   "V17.zip"};
        QStringList extensions;
        for (const QString &name : names)
            extensions << pendingUpdateExtension(name);
        QCOMPARE(extensions, (QStringList{".tar.gz", ".tar", ".gz", ".gz", ".rar", ""}));
    }

    void downloadLeavesOnePendingUpdateAndOneBackup_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("the pressed column's archive, byte for byte") << "";
        QTest::newRow("stalled transfer") << "stall";
        QTest::newRow("body cut short") << "short";
        QTest::newRow("not found") << "404";
        QTest::newRow("never answered") << "silent";
        QTest::newRow("disk full") << "disk full";
        QTest::newRow("backup cannot be written") << "backup";
    }
    void downloadLeavesOnePendingUpdateAndOneBackup()
    {
        QFETCH(QString, fault);
        const bool ok = fault.isEmpty();
        UpdateServer s;
        serveModels(s);
        setUpdateServerBase(s.base());
        updateTimeouts().transferMs = 300;
        updateTimeouts().downloadWaitMs = 3000;
        const QString archivePath = QStringLiteral("/monitor/M3/V17/V17_1.0.tar.gz");
        const QByteArray archive = s.routes.value(archivePath).body;
        if (fault == QLatin1String("stall"))
            s.routes[archivePath].mode = UpdateServer::Stall;
        if (fault == QLatin1String("short"))
            s.routes[archivePath].mode = UpdateServer::CutShort;
        if (fault == QLatin1String("backup")) // a folder where the new backup goes
            QVERIFY(QDir().mkpath(m_parent + QStringLiteral("/bin-DOD-2024-03-01-14:05:09.tar.gz")));
        if (fault == QLatin1String("404"))
            s.routes.remove(archivePath);
        if (fault == QLatin1String("silent")) {
            s.routes[archivePath].mode = UpdateServer::Silent;
            updateTimeouts().transferMs = 10000; // the whole wait ends first
            updateTimeouts().downloadWaitMs = 500;
        }
        // What an earlier download and earlier backups left behind.
        const QStringList keptBeside = {"bin-DOD.tar.gz", "other-DOD-x.tar.gz"};
        for (const QString &f :
             keptBeside + QStringList{"bin-DOD-2023-01-01-10:00:00.tar.gz", "bin-DOD-a-b.tar.gz"})
            QVERIFY(writeTestFile(m_parent + QLatin1Char('/') + f, f.toUtf8()));
        const QStringList oldUpdates = {"newupdate.tar.xz", "newupdate"};
        for (const QString &f : oldUpdates + QStringList{"mynewupdate.rar", "PARAM.db"})
            QVERIFY(writeTestFile(m_program + QLatin1Char('/') + f, f.toUtf8()));
        const QStringList parentBefore = filesIn(m_parent);
        const QStringList programBefore = filesIn(m_program);

        VersionDownloadDialog dialog(nullptr);
        QCOMPARE(dialog.columnTitles.size(), 2);
        if (fault == QLatin1String("disk full")) {
            // The download runs in a child process whose files cannot grow past 64 KiB.
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("MG_DOWNLOAD_CHILD"), m_root->path() + QLatin1Char('|') + s.base());
            env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0")); // Qt's own leaks
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            QEventLoop loop;
            connect(&child, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                    &QEventLoop::quit);
            child.start(QCoreApplication::applicationFilePath(), QStringList());
            QTimer::singleShot(60000, &loop, &QEventLoop::quit);
            loop.exec();
            QCOMPARE(child.exitStatus(), QProcess::NormalExit);
            QCOMPARE(child.exitCode(), 10); // downloadVersion said false
        } else {
            // Both M1 and M3 list V17_1.0.tar.gz: the button pressed is M3's.
            auto *button = qobject_cast<ColorButton *>(dialog.buttonGroups.at(1)->button(0));
            QCOMPARE(button->text(), QStringLiteral("V17_1.0.tar.gz"));
            dialog.onVersionClicked(button);
            QCOMPARE(BoxTestPolicy::shownTexts(),
                     (QStringList{uiText(726), QStringLiteral("下载中..."), uiText(ok ? 727 : 728)}));
            QVERIFY(button->isEnabled() && dialog.exitButton->isEnabled());
        }
        if (!ok) {
            // Nothing deleted, no backup made, no pending file or piece of one.
            QCOMPARE(filesIn(m_parent), parentBefore);
            QCOMPARE(filesIn(m_program), programBefore);
            return;
        }
        QCOMPARE(readTestFile(m_program + QStringLiteral("/newupdate.tar.gz")), archive);
        QCOMPARE(filesIn(m_program), (QStringList{"PARAM.db", "mynewupdate.rar", "newupdate.tar.gz"}));
        const QString backup = QStringLiteral("bin-DOD-2024-03-01-14:05:09.tar.gz");
        QCOMPARE(filesIn(m_parent), (QStringList{backup, "bin-DOD.tar.gz", "other-DOD-x.tar.gz"}));
        // The backup holds the program folder as it was, the earlier download included.
        QProcess tar;
        tar.start(QStringLiteral("tar"), {QStringLiteral("--force-local"), QStringLiteral("-tzf"),
                                          m_parent + QLatin1Char('/') + backup});
        QVERIFY(tar.waitForFinished(10000));
        QStringList members = QString::fromUtf8(tar.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        members.sort();
        QCOMPARE(members, (QStringList{"bin-DOD/", "bin-DOD/PARAM.db", "bin-DOD/mynewupdate.rar",
                                       "bin-DOD/newupdate", "bin-DOD/newupdate.tar.xz"}));
    }
};

// The child of the disk-full case: crawls, then downloads M1's archive with writes past 64 KiB failing.
static int runDownloadChild(int argc, char **argv)
{
    const QStringList args = qEnvironmentVariable("MG_DOWNLOAD_CHILD").split(QLatin1Char('|'));
    QApplication app(argc, argv);
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    fillUiTextTable();
    setSystemPathRoot(args.value(0));
    setUpdateServerBase(args.value(1));
    VersionDownloadDialog dialog(nullptr);
    if (dialog.versionLists.isEmpty())
        return 2;
    return dialog.downloadVersion(QStringLiteral("V17_1.0.tar.gz")) ? 11 : 10;
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("MG_DOWNLOAD_CHILD"))
        return runDownloadChild(argc, argv);
    QApplication app(argc, argv);
    TestVersionDownload test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_versiondownload.moc"
