#include "editip.h"

#include "edit.h"
#include "uistyle.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextLayout>
#include <QValidator>

#include <utility>

namespace {

// Up to three digits of value 0..255; anything else is refused as it is typed.
class OctetValidator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        if (input.isEmpty())
            return Intermediate;
        if (input.size() > 3)
            return Invalid;
        for (const QChar c : input)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return Invalid;
        return input.toInt() <= 255 ? Acceptable : Invalid;
    }
};

// The number a field stands for, or -1 when it is empty or not a number of 0..255.
int octetOf(const QString &text)
{
    QString t = text.trimmed();
    int pos = 0;
    OctetValidator v;
    if (t.isEmpty() || v.validate(t, pos) != QValidator::Acceptable)
        return -1;
    return t.toInt();
}

} // namespace

EditIP::EditIP(const QString &caption, QWidget *parent) : QWidget(parent), m_captionText(caption)
{
    setFont(uiFont(26));
    setStyleSheet(QStringLiteral("QLabel{font-size:26px;}"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    m_caption = new QLabel(caption, this);
    m_caption->setMinimumWidth(150);
    // A long caption takes a second line rather than pushing the fields out of a narrow column.
    m_caption->setWordWrap(true);
    m_caption->installEventFilter(this);
    layout->addWidget(m_caption);
    auto *validator = new OctetValidator(this);
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            layout->addWidget(new QLabel(QStringLiteral("."), this));
        m_fields[i] = new Edit(0, this, 1);
        m_fields[i]->setValidator(validator);
        m_fields[i]->setMaxLength(3);
        m_fields[i]->setAlignment(Qt::AlignCenter);
        m_fields[i]->setMinimumWidth(64); // "255" with the field's padding
        connect(m_fields[i], &QLineEdit::textChanged, this, &EditIP::textchange);
        layout->addWidget(m_fields[i], 1);
    }
}

void EditIP::setText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i) {
        const int octet = i < parts.size() ? octetOf(parts[i]) : -1;
        m_fields[i]->setText(octet < 0 ? QString() : QString::number(octet));
    }
}

QString EditIP::text() const
{
    QStringList parts;
    for (const Edit *f : m_fields) {
        const int octet = octetOf(f->text());
        parts << QString::number(octet < 0 ? 0 : octet);
    }
    return parts.join(QLatin1Char('.'));
}

bool EditIP::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_caption && event->type() == QEvent::Resize)
        breakCaption();
    return QWidget::eventFilter(watched, event);
}

void EditIP::breakCaption()
{
    QString shown = m_captionText;
    const int width = m_caption->contentsRect().width();
    if (width > 0 && !shown.contains(QLatin1Char('\n'))) {
        // The label breaks between words, and in Chinese and Japanese between characters.
        QTextLayout layout(shown, m_caption->font());
        QTextOption option;
        option.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        int prevStart = -1;
        int lastStart = -1;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            prevStart = std::exchange(lastStart, line.textStart());
        }
        layout.endLayout();
        const int start = captionLastLineStart(shown, prevStart, lastStart);
        const QString last = shown.mid(start).trimmed();
        if (start != lastStart && QFontMetrics(m_caption->font()).horizontalAdvance(last) <= width)
            shown = shown.left(start).trimmed() + QLatin1Char('\n') + last;
    }
    if (m_caption->text() != shown)
        m_caption->setText(shown);
}
