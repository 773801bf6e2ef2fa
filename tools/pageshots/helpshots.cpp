// Screenshots of every shipped help page and of the hardware page over the
// settings screen's advanced page (with its "Hardware" button) in all four languages, once more with a
// conf.txt of more lines and a wider value than the page holds.
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
    useBoxFont();
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

    for (int language : {0, 1, 2, 3}) {
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

        // A conf.txt longer and wider than the page: the lines scroll and the long value is cut.
        QFile::remove(QStringLiteral("conf.txt"));
        QByteArray longConf = "Cameras\nCamera_Model\t" + QByteArray(200, 'W') + '\n';
        for (int i = 1; i <= 20; ++i)
            longConf += "Part_" + QByteArray::number(i) + "\tValue_" + QByteArray::number(i) + '\n';
        QFile file(QStringLiteral("conf.txt"));
        ok &= file.open(QIODevice::WriteOnly) && file.write(longConf) == longConf.size();
        file.close();
        hardware->hide();
        auto *longHardware = new HardwareConfigurationWidget(&window);
        longHardware->show();
        longHardware->raise();
        ok &= grab(QStringLiteral("%1/hardware_long_lang%2.png").arg(out).arg(language));
        longHardware->hide();
        QFile::remove(QStringLiteral("conf.txt"));
        ok &= QFile::copy(shipped + QStringLiteral("/conf.txt"), QStringLiteral("conf.txt"));
    }
    return ok ? 0 : 1;
}
