#include "shotcommon.h"

#include "boxtestpolicy.h"
#include "imagesize.h"
#include "startup.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

bool checkShotUsage(int argc, int wanted, const char *usage)
{
    if (argc == wanted)
        return true;
    std::fprintf(stderr, "usage: %s\n", usage);
    return false;
}

QString absoluteArgument(const char *arg)
{
    return QFileInfo(QString::fromLocal8Bit(arg)).absoluteFilePath();
}

int languageArgument(const char *arg)
{
    return std::clamp(QString::fromLocal8Bit(arg).toInt(), 0, 3);
}

bool startPageShots(int argc, char **argv, const char *name, QString *shipped, QString *out)
{
    const QByteArray usage = QByteArray(name) + " <shipped-dir> <output-dir> <language 0..3>";
    if (!checkShotUsage(argc, 4, usage.constData()))
        return false;
    *shipped = absoluteArgument(argv[1]);
    *out = absoluteArgument(argv[2]);
    useBoxFont();
    fillUiTextTable();
    gLanguage = languageArgument(argv[3]);
    QDir().mkpath(*out);
    return true;
}

bool copyFolder(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    bool ok = true;
    for (const QString &file : QDir(from).entryList(QDir::Files))
        ok &= QFile::copy(from + QLatin1Char('/') + file, to + QLatin1Char('/') + file);
    return ok;
}

bool loadShippedImages(const QString &shipped)
{
    const bool ok = copyFolder(shipped + QStringLiteral("/images"), QStringLiteral("images"));
    loadUiPixmaps();
    return ok;
}

void useFullHdScreen()
{
    gShowW = 1920;
    gShowH = 1080;
}

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(25);
    }
}

void settleFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool saveScreen(const QString &path)
{
    const bool ok = QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    std::printf("%s %s\n", ok ? "saved" : "NOT SAVED", qPrintable(path));
    return ok;
}

bool grab(const QString &path)
{
    settle();
    return saveScreen(path);
}

bool grabPopups(QWidget *root, const QString &before, const QString &after)
{
    bool ok = true;
    int n = 0;
    for (QComboBox *box : root->findChildren<QComboBox *>()) {
        if (!box->isVisible())
            continue;
        box->showPopup();
        ok &= grab(before + QStringLiteral("_popup%1").arg(++n) + after);
        box->hidePopup();
    }
    return ok;
}

namespace {
// Set while captureModalBox runs its box: the unanswered-box watch leaves that one alone.
bool capturing = false;
} // namespace

void useBoxFont()
{
    QApplication::setFont(boxApplicationFont());
}

void handleModalBoxes(const QString &prefix, int answer)
{
    if (qgetenv("MG_SHOTS_UNANSWERED") != "1") {
        BoxTestPolicy::enable(answer);
        return;
    }
    BoxTestPolicy::disable();
    // Looks every 200 ms for a modal box that waits; it runs inside the box's own modal loop.
    auto *poll = new QTimer(QCoreApplication::instance());
    auto seen = std::make_shared<QPointer<QWidget>>();
    auto upFor = std::make_shared<int>(0);
    auto count = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (capturing || !box || !box->isVisible()) {
            *upFor = 0;
            return;
        }
        if (*seen != box) {
            *seen = box;
            *upFor = 0;
        }
        if ((*upFor += 200) < 800)
            return;
        *upFor = 0;
        *seen = nullptr;
        saveScreen(prefix + QStringLiteral("-box%1.png").arg(++*count));
        box->done(answer);
    });
    poll->start(200);
}

bool captureModalBox(QDialog *box, const QString &path, int answer, const std::function<void()> &whileUp)
{
    const bool policy = BoxTestPolicy::isEnabled();
    const int policyAnswer = BoxTestPolicy::answer();
    BoxTestPolicy::disable();
    capturing = true;
    bool saved = false;
    // Timers of this call only: none of them can fire once the run is over.
    QTimer prepare;
    prepare.setSingleShot(true);
    QObject::connect(&prepare, &QTimer::timeout, box, [&] {
        if (whileUp)
            whileUp();
    });
    QTimer shoot;
    shoot.setSingleShot(true);
    QObject::connect(&shoot, &QTimer::timeout, box, [&] {
        saved = saveScreen(path);
        box->done(answer);
    });
    prepare.start(300);
    shoot.start(1100);
    box->exec();
    capturing = false;
    if (policy)
        BoxTestPolicy::enable(policyAnswer);
    return saved;
}
