// Screenshots of every shipped help page in Chinese and English, and of the hardware page over the
// settings screen's advanced page (with its "Hardware" button) in both languages.
// Usage: helpshots <shipped-dir> <output-dir> (run on a 1920 x 1080 X screen).

#include "hardwareconfigurationwidget.h"
#include "helpwidget.h"
#include "imagesize.h"
#include "settingshooks.h"
#include "shotcommon.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "wizardparawidget.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTextCodec>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (!checkShotUsage(argc, 3, "helpshots <shipped-dir> <output-dir>"))
        return 2;
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    const QString shipped = absoluteArgument(argv[1]);
    const QString out = absoluteArgument(argv[2]);
    fillUiTextTable();
    QDir().mkpath(out);

    QTemporaryDir work;
    QDir::setCurrent(work.path());
    bool ok = loadShippedImages(shipped) &&
              copyFolder(shipped + QStringLiteral("/help"), QStringLiteral("help")) &&
              copyFolder(shipped + QStringLiteral("/help-en"), QStringLiteral("help-en")) &&
              QFile::copy(shipped + QStringLiteral("/conf.txt"), QStringLiteral("conf.txt"));

    useFullHdScreen();
    gCameraCount = 2;
    gSysParam = new SysParam;
    gSysParamEdit = new SysParam;
    static int lensOpt = 1;
    settingsHooks().lensOptEnabled = &lensOpt;
    settingsHooks().isAdvancedUser = [] { return true; };

    for (int language : {0, 1}) {
        gLanguage = language;
        QWidget window;
        window.setGeometry(0, 0, 1920, 1080);
        window.show();
        auto *help = new HelpWidget(&window);
        help->show();
        for (int page = 0; page < help->pageCount; ++page) {
            gHelpPage = page;
            help->update();
            ok &= grab(QStringLiteral("%1/help_lang%2_page%3.png")
                           .arg(out)
                           .arg(language)
                           .arg(page + 1, 2, 10, QLatin1Char('0')));
        }
        help->hide();

        auto *settings = new WizardParaWidget(&window);
        settings->show();
        settings->SlotToAdvance();
        auto *hardware = new HardwareConfigurationWidget(&window);
        QObject::connect(settings, &WizardParaWidget::hardwareRequested, hardware, [hardware] {
            hardware->show();
            hardware->raise();
        });
        ok &= grab(QStringLiteral("%1/advanced_lang%2.png").arg(out).arg(language));
        settings->SlotShowHardware();
        ok &= grab(QStringLiteral("%1/hardware_lang%2.png").arg(out).arg(language));
    }
    return ok ? 0 : 1;
}
