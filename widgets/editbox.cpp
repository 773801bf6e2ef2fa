#include "editbox.h"

#include "edit.h"
#include "uistyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <cmath>
#include <limits>

namespace {
int decimalsOf(int scale)
{
    int d = 0;
    for (int s = scale; s >= 10; s /= 10)
        ++d;
    return d;
}
} // namespace

EditBox::EditBox(int min, int max, QWidget *parent, const QString &caption, const QString &unitText,
                 int displayType, int scale)
    : QWidget(parent), m_min(qMin(min, max)), m_max(qMax(min, max)), m_displayType(displayType),
      m_scale(scale > 0 ? scale : 1)
{
    setFont(uiFont(26));
    // The darker cyans of the dialogs' family, on which white reads at 4.5:1 and better, pressed too.
    setStyleSheet(QStringLiteral("QLabel{font-size:26px;}"
                                 "QPushButton{color:white;font-size:26px;background-color:#00838F;"
                                 "border:none;border-radius:4px;outline:0px;}"
                                 "QPushButton:pressed{background-color:#006978;}"));
    m_caption = new QLabel(caption, this);
    m_caption->setMinimumWidth(240);
    m_field = new Edit(0, this, 1);
    m_field->setAlignment(Qt::AlignCenter);
    m_field->setFixedWidth(160);
    m_unit = new QLabel(unitText, this);
    m_unit->setMinimumWidth(40);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(m_caption, 1);
    auto addStep = [this, layout](const QString &label, int delta) {
        auto *b = new QPushButton(label, this);
        b->setFixedSize(80, 46);
        b->setFocusPolicy(Qt::NoFocus);
        setButtonAutoRepeat(b);
        connect(b, &QPushButton::clicked, this, [this, delta] { step(delta); });
        layout->addWidget(b);
    };
    addStep(QStringLiteral("- 5"), -5);
    addStep(QStringLiteral("- 1"), -1);
    layout->addWidget(m_field);
    layout->addWidget(m_unit);
    addStep(QStringLiteral("+ 1"), 1);
    addStep(QStringLiteral("+ 5"), 5);

    connect(m_field, &QLineEdit::editingFinished, this, &EditBox::takeTypedText);
    m_value = m_min;
    m_field->setText(displayText(m_value));
}

// A field that has the focus finishes its editing while it is destroyed with the box.
EditBox::~EditBox()
{
    disconnect(m_field, nullptr, this, nullptr);
}

void EditBox::setValue(int v)
{
    if (!(m_zeroAllowed && v == 0))
        v = qBound(m_min, v, m_max);
    m_value = v;
    m_field->setText(displayText(v));
    emit valueChanged(v);
}

void EditBox::setZeroAllowed(bool allowed)
{
    m_zeroAllowed = allowed;
}

void EditBox::setText(const QString &caption)
{
    m_caption->setText(caption);
}

QString EditBox::text() const
{
    return m_caption->text();
}

QString EditBox::displayText(int v) const
{
    if (m_displayType == 2)
        return QString::number(double(v) / m_scale, 'f', decimalsOf(m_scale));
    return QString::number(v);
}

void EditBox::step(int delta)
{
    if (m_zeroAllowed && m_min > 0) {
        if (m_value == 0 && delta > 0) {
            setValue(m_min);
            return;
        }
        if (m_value == m_min && delta < 0) {
            setValue(0);
            return;
        }
    }
    // Widened so that a step at the ends of int cannot overflow.
    const long long next = (long long)m_value + delta;
    setValue(int(qBound<long long>(std::numeric_limits<int>::min(), next, std::numeric_limits<int>::max())));
}

void EditBox::takeTypedText()
{
    bool ok = false;
    const double typed = m_field->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(typed)) {
        m_field->setText(displayText(m_value));
        return;
    }
    const double raw = std::round(m_displayType == 2 ? typed * m_scale : typed);
    const double limited = qBound(double(std::numeric_limits<int>::min()), raw,
                                  double(std::numeric_limits<int>::max()));
    setValue(int(limited));
}
