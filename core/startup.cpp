#include "startup.h"

#include "atomicfile.h"
#include "corelog.h"
#include "jsonfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <csignal>
#include <fcntl.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

const char *const kVersionText = MG_VERSION_TEXT;

int gLedFd = -1;
QMutex *gIoMutex = nullptr;
QMutex *gFailImageMutex = nullptr;
QMutex *gCameraMutexes[8] = {};
QMutex *gCameraMutexes2[8] = {};
bool gCameraFlags[8] = {};
int gCameraCount = 0;

QPixmap *gPixLogo, *gPixBackground, *gPixTitle, *gPixLine, *gPixEdit, *gPixSliderU, *gPixSliderD,
    *gPixSliderT, *gPixButtonU, *gPixButtonD, *gPixOut1, *gPixOut0, *gPixOrigin, *gPixMoveUp, *gPixMoveDown,
    *gPixMoveLeft, *gPixMoveRight, *gPixEnlargeScale, *gPixReductionScale;

// initMainGlobals: the containers that exist before main. Plain globals give the same guarantee
// (constructed before main, destroyed after it in reverse order).
QStringList ArchiveSuffixes = {QStringLiteral("gz"), QStringLiteral("tar"), QStringLiteral("rar")};
QStringList PaletteNames = {
    QStringLiteral("彩虹色编码"), QStringLiteral("热金属编码"), QStringLiteral("白热编码"),
    QStringLiteral("黑热编码"),   QStringLiteral("AUTUMN"),     QStringLiteral("BONE"),
    QStringLiteral("JET"),        QStringLiteral("WINTER"),     QStringLiteral("RAINBOW"),
    QStringLiteral("OCEAN"),      QStringLiteral("SUMMER"),     QStringLiteral("SPRING"),
    QStringLiteral("COOL"),       QStringLiteral("HSV"),        QStringLiteral("PINK"),
    QStringLiteral("HOT"),        QStringLiteral("PARULA"),     QStringLiteral("MAGMA"),
    QStringLiteral("INFERNO"),    QStringLiteral("PLASMA"),     QStringLiteral("VIRIDIS"),
    QStringLiteral("CIVIDIS"),    QStringLiteral("TWILIGHT"),   QStringLiteral("TWILIGHT_SHIFTED"),
    QStringLiteral("TURBO"),      QStringLiteral("DEEPGREEN")};
QString gAppDirPath;
QString gTemplateTimeText;

QStringList uiPixmapFiles()
{
    return {QStringLiteral("./images/logo.bmp"),        QStringLiteral("./images/background.png"),
            QStringLiteral("./images/title.png"),       QStringLiteral("./images/line.png"),
            QStringLiteral("./images/edit.png"),        QStringLiteral("./images/slideru.png"),
            QStringLiteral("./images/sliderd.png"),     QStringLiteral("./images/slidert.png"),
            QStringLiteral("./images/buttonu.png"),     QStringLiteral("./images/buttond.png"),
            QStringLiteral("./images/OUT1.png"),        QStringLiteral("./images/OUT0.png"),
            QStringLiteral("./images/Origin.png"),      QStringLiteral("./images/MoveUp.png"),
            QStringLiteral("./images/MoveDown.png"),    QStringLiteral("./images/MoveLeft.png"),
            QStringLiteral("./images/MoveRight.png"),   QStringLiteral("./images/EnlargeScale.png"),
            QStringLiteral("./images/ReductionScale.png")};
}

void loadUiPixmaps()
{
    QPixmap **targets[] = {&gPixLogo,      &gPixBackground, &gPixTitle,       &gPixLine,
                           &gPixEdit,      &gPixSliderU,    &gPixSliderD,     &gPixSliderT,
                           &gPixButtonU,   &gPixButtonD,    &gPixOut1,        &gPixOut0,
                           &gPixOrigin,    &gPixMoveUp,     &gPixMoveDown,    &gPixMoveLeft,
                           &gPixMoveRight, &gPixEnlargeScale, &gPixReductionScale};
    const QStringList files = uiPixmapFiles();
    for (int i = 0; i < files.size(); ++i)
        *targets[i] = new QPixmap(files.at(i));
}

void createProcessMutexes()
{
    gIoMutex = new QMutex;
    gFailImageMutex = new QMutex;
    for (int i = 0; i < 8; ++i) {
        gCameraMutexes[i] = new QMutex;
        gCameraFlags[i] = false;
        gCameraMutexes2[i] = new QMutex;
    }
}

void ignoreFileSizeSignal()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

void ignoreBrokenPipeSignal()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

void openPlatformDevices()
{
#if defined(__x86_64__) || defined(__i386__)
    // Nothing here does port I/O itself; the call is kept for board drivers that expect it.
    (void)iopl(3);
#endif
    gLedFd = ::open("/dev/led", O_RDWR);
}

void writeNetConfig()
{
    const QString path = QStringLiteral("./") + QStringLiteral("cnt_net/config.json");
    QJsonObject object;
    const JsonFileRead stored = readJsonFile(path, kNetConfigMaxBytes);
    // A document that is not an object is as damaged as one that does not parse; an empty file is not.
    const bool damaged = (stored.status == JsonFileRead::Parsed && !stored.document.isObject()) ||
                         (stored.status == JsonFileRead::Unparsable && !stored.bytes.trimmed().isEmpty());
    if (stored.status == JsonFileRead::Parsed && stored.document.isObject())
        object = stored.document.object();
    object.insert(QStringLiteral("version"), QString::fromLatin1(kVersionText));
    object.insert(QStringLiteral("camcount"), gCameraCount);

    // An existing file marked read-only stays as it is. Checked on the mode bits rather than by trying,
    // since the box runs as root and the writer replaces the file through its folder anyway.
    const QFileInfo info(path);
    const QFile::Permissions anyWrite =
        QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (info.exists() && !(info.permissions() & anyWrite))
        return;
    // A damaged file loses its other keys here: keep its bytes aside for whoever repairs the settings.
    QString error;
    if (stored.status == JsonFileRead::TooLarge) {
        // Far too large to be settings, and too large to copy: the file itself is moved aside.
        const QString aside = damagedFileName(path);
        if (!QFile::rename(path, aside)) {
            qCWarning(lcCore).noquote()
                << "cnt_net/config.json of" << stored.size
                << "bytes is no settings file and could not be moved aside: left as it is";
            return;
        }
        qCWarning(lcCore).noquote() << "cnt_net/config.json of" << stored.size
                                    << "bytes is no settings file; moved aside to" << aside;
    } else if (damaged) {
        const QString aside = damagedFileName(path);
        if (writeFileAtomically(aside, stored.bytes, {}, &error))
            qCWarning(lcCore).noquote() << "cnt_net/config.json was damaged; its old content is in" << aside;
        else
            qCWarning(lcCore).noquote() << "cnt_net/config.json was damaged;" << error;
    }
    if (!writeFileAtomically(path, QJsonDocument(object).toJson(QJsonDocument::Indented), {}, &error))
        qCWarning(lcCore).noquote() << error;
}

void removeStaleWriteTemporaries(const QDateTime &startedAt)
{
    int removed = removeStaleTemporaries(QStringLiteral("."), startedAt, false);
    QStringList below{QStringLiteral("alarmimage"), QStringLiteral("originalimage"), QStringLiteral("cnt_net"),
                      QStringLiteral("paraGroup")};
    static const QRegularExpression kTemplateFolder(QStringLiteral("^cammer[1-8][1-8]$"));
    for (const QString &name : QDir(QStringLiteral(".")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (kTemplateFolder.match(name).hasMatch())
            below << name;
    for (const QString &folder : qAsConst(below))
        removed += removeStaleTemporaries(folder, startedAt, true);
    if (removed > 0)
        qCInfo(lcCore) << "removed" << removed << "temporary files left by an interrupted write";
}
