#include "choosedialogs.h"

#include "combobox.h"
#include "editdatetime.h"
#include "uistyle.h"
#include "uitexttable.h"

ModifyTimeWidget::ModifyTimeWidget(QWidget *parent) : ChooseBox(parent)
{
    m_editor = new EditDateTime(this);
    setContentWidget(m_editor);
}

// The question box has no question of its own: a test sees the time offered.
QString ModifyTimeWidget::recordedText() const
{
    return m_editor->text();
}

ChooseCaliNumWidget::ChooseCaliNumWidget(QWidget *parent) : ChooseBox(parent)
{
    m_points = new ComboBox(this);
    m_points->setFixedSize(200, 56);
    comboBoxStyleSheet(m_points, nullptr, QStringLiteral("QComboBox QAbstractItemView::item{height:50px;}"));
    // The rule alone gives way to the box's own sheet: the entries keep a finger's height by the delegate.
    setComboItemHeight(m_points, 50);
    for (int i = 0; i < 8; ++i)
        m_points->addItem(QString(), i + 1);
    setContentWidget(m_points);
    retranslate();
}

int ChooseCaliNumWidget::pointCount() const
{
    return m_points->currentIndex() + 1;
}

void ChooseCaliNumWidget::setPointCount(int count)
{
    m_points->setCurrentIndex(qBound(1, count, 8) - 1);
}

void ChooseCaliNumWidget::retranslate()
{
    ChooseBox::retranslate();
    setMessage(uiText(459));
    for (int i = 0; i < 8; ++i)
        m_points->setItemText(i, uiText(460 + i));
}
