#include "helpwidget.h"

#include "settingslog.h"

#include "core/imagesize.h"
#include "core/uitexttable.h"
#include "widgets/colorbutton.h"
#include "widgets/uistyle.h"

#include <QDir>
#include <QImageReader>
#include <QPainter>

int gHelpPage = 0;

namespace {

// A help picture is drawn at its own size on one screen; anything far larger is a wrong file, and
// the image reader would allocate whatever its header claims.
constexpr int kMaxPictureSide = 4096;

} // namespace

HelpWidget::HelpWidget(QWidget *parent) : QWidget(parent)
{
    setGeometry(0, 0, gShowW, gShowH);

    struct ButtonPlace
    {
        int row;
        int x;
        void (HelpWidget::*slot)();
        ColorButton **button;
    };
    const ButtonPlace places[] = {{339, 10, &HelpWidget::SlotLast, &lastButton},
                                  {340, 165, &HelpWidget::SlotNext, &nextButton},
                                  {146, 320, &HelpWidget::SlotAlarm, &alarmButton},
                                  {58, 475, &HelpWidget::SlotReturn, &returnButton}};
    for (const ButtonPlace &s : places) {
        auto *button = new ColorButton(uiText(s.row), this, 3);
        button->setGeometry(s.x, 5, 150, 60);
        connect(button, &QAbstractButton::clicked, this, s.slot);
        *s.button = button;
    }

    folder = gLanguage == 0 ? QStringLiteral("./help/") : QStringLiteral("./help-en/");
    loadPages();
    // Greyed out where they would do nothing, so that the operator sees why.
    lastButton->setEnabled(pageCount > 0);
    nextButton->setEnabled(pageCount > 0);
    alarmButton->setEnabled(pageCount > kAlarmPage);
}

HelpWidget::~HelpWidget()
{
    for (QPixmap *&page : pages) {
        delete page;
        page = nullptr;
    }
}

void HelpWidget::loadPages()
{
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("*.png")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : names) {
        if (pageCount == kMaxPages) {
            qCWarning(lcSettings).noquote()
                << "help: only the first" << kMaxPages << "pictures of" << folder << "are shown";
            break;
        }
        const QString path = folder + name;
        const QSize size = QImageReader(path).size();
        if (!size.isValid() || size.width() > kMaxPictureSide || size.height() > kMaxPictureSide) {
            qCWarning(lcSettings).noquote()
                << "help: left out" << path << "(not a picture of a usable size)";
            continue;
        }
        auto *picture = new QPixmap(path);
        if (picture->isNull()) {
            delete picture;
            qCWarning(lcSettings).noquote() << "help: left out" << path << "(cannot be read)";
            continue;
        }
        pages[pageCount++] = picture;
    }
    if (pageCount == 0)
        qCWarning(lcSettings).noquote() << "help: no pictures in" << folder;
}

int HelpWidget::shownPage() const
{
    return qBound(0, gHelpPage, qMax(0, pageCount - 1));
}

void HelpWidget::SlotNext()
{
    if (pageCount == 0)
        return;
    gHelpPage = (shownPage() + 1) % pageCount;
    update();
}

void HelpWidget::SlotLast()
{
    if (pageCount == 0)
        return;
    gHelpPage = shownPage() - 1;
    if (gHelpPage < 0)
        gHelpPage = pageCount - 1;
    update();
}

void HelpWidget::SlotAlarm()
{
    if (pageCount <= kAlarmPage)
        return;
    gHelpPage = kAlarmPage;
    update();
}

void HelpWidget::SlotReturn()
{
    hide();
}

void HelpWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (pageCount > 0) {
        p.drawPixmap(0, 0, *pages[shownPage()]);
    } else {
        p.setFont(uiFont(30));
        p.setPen(Qt::black);
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, uiText(721).arg(QDir(folder).absolutePath()));
    }
    p.fillRect(0, 0, 630, 70, Qt::gray);
}
