#include "keypad.h"

#include "boxstacking.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "uistyle.h"

#include <QApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVector>

namespace {
const char *const kTypedProperty = "typedText";
} // namespace

Keypad::Keypad(QWidget *parent) : QWidget(parent)
{
    // A window of its own that never takes the focus from the field it types into.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    BoxStacking::install();
    setFont(uiFont(26));
    // White reads at 4.5:1 and better on every key face, pressed or not.
    setStyleSheet(QStringLiteral("QPushButton{color:white;font-size:28px;background-color:#00838F;"
                                 "border:none;border-radius:6px;outline:0px;}"
                                 "QPushButton:pressed{background-color:#006978;}"
                                 "QPushButton[action=\"true\"]{background-color:rgb(70,90,110);}"
                                 "QPushButton[action=\"true\"]:pressed{background-color:#006978;}"));
}

Keypad::~Keypad()
{
    // A pad dies with the window it was lent to; the globals must not point at it afterwards.
    if (gNumberInput == this)
        gNumberInput = nullptr;
    if (gNumCharInput == this)
        gNumCharInput = nullptr;
}

void Keypad::openFor(QLineEdit *field)
{
    if (!field)
        return;
    m_target = field;
    // A modal box blocks every window outside it: the pad joins the field's window while it types.
    QWidget *window = field->window();
    if (window != this && parentWidget() != window)
        setParent(window, windowFlags());
    retranslate();
    adjustSize();
    placeBeside(field);
    show();
    // Opened again while up (another field of the same box), it must still come out on top.
    BoxStacking::raise(this);
}

void Keypad::HideUpdate()
{
    hide();
    m_target = nullptr;
    if (parentWidget())
        setParent(nullptr, windowFlags());
}

void Keypad::placeBeside(QWidget *field)
{
    const QRect f(field->mapToGlobal(QPoint(0, 0)), field->size());
    QRect screen(0, 0, 1920, 1080);
    if (QScreen *s = field->screen())
        screen = s->availableGeometry();
    const QSize size = sizeHint().expandedTo(minimumSizeHint());
    resize(size);
    auto clampX = [&](int x) { return qMax(screen.left(), qMin(x, screen.right() + 1 - size.width())); };
    auto clampY = [&](int y) { return qMax(screen.top(), qMin(y, screen.bottom() + 1 - size.height())); };
    QVector<QRect> places;
    // In a box smaller than the screen the pad stays off the box, so that its buttons and its
    // notices (a wrong password) stay visible.
    const QRect box = field->window()->frameGeometry();
    if (box.width() < screen.width() || box.height() < screen.height()) {
        places << QRect(QPoint(clampX(f.left()), box.bottom() + 4), size)
               << QRect(QPoint(clampX(f.left()), box.top() - 4 - size.height()), size)
               << QRect(QPoint(box.right() + 4, clampY(f.top())), size)
               << QRect(QPoint(box.left() - 4 - size.width(), clampY(f.top())), size);
    }
    places << QRect(QPoint(clampX(f.left()), f.bottom() + 4), size)
           << QRect(QPoint(clampX(f.left()), f.top() - 4 - size.height()), size);
    for (const QRect &r : places) {
        if (screen.contains(r)) {
            move(r.topLeft());
            return;
        }
    }
    move(clampX(f.left()), clampY(screen.bottom()));
}

QPushButton *Keypad::addTextKey(QGridLayout *grid, const QString &id, const QString &typed, int row, int col,
                                int colSpan)
{
    auto *button = new QPushButton(this);
    setTypedText(button, typed);
    button->setFocusPolicy(Qt::NoFocus);
    button->setMinimumSize(76 * colSpan, 70);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(button, &QPushButton::clicked, this,
            [this, button] { typeText(button->property(kTypedProperty).toString()); });
    grid->addWidget(button, row, col, 1, colSpan);
    m_keys.insert(id, button);
    return button;
}

QPushButton *Keypad::addActionKey(QGridLayout *grid, const QString &id, int row, int col, int colSpan,
                                  std::function<void()> action)
{
    auto *button = new QPushButton(this);
    button->setProperty("action", true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setMinimumSize(76 * colSpan, 70);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(button, &QPushButton::clicked, this, std::move(action));
    grid->addWidget(button, row, col, 1, colSpan);
    m_keys.insert(id, button);
    return button;
}

void Keypad::setTypedText(QPushButton *key, const QString &typed)
{
    key->setProperty(kTypedProperty, typed);
    // "&" would otherwise mark a shortcut and vanish from the label.
    key->setText(QString(typed).replace(QLatin1Char('&'), QStringLiteral("&&")));
}

void Keypad::typeText(const QString &text)
{
    if (m_target)
        m_target->insert(text);
}

void Keypad::backspace()
{
    if (m_target)
        m_target->backspace();
}

void Keypad::clearField()
{
    if (m_target)
        m_target->clear();
}

void Keypad::confirm()
{
    if (QLineEdit *field = m_target) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(field, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(field, &release);
    }
    HideUpdate();
}

void Keypad::showEvent(QShowEvent *event)
{
    retranslate();
    QWidget::showEvent(event);
}

void Keypad::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(45, 52, 60));
    p.setPen(QPen(QColor(0x00, 0xBC, 0xD4), 2));
    p.drawRect(rect().adjusted(1, 1, -1, -1));
}
