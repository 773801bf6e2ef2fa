#include "ccomp_dialogframe.h"

#include "boxstacking.h"
#include "boxtestpolicy.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CComp_DialogFrame::CComp_DialogFrame(const QString &title, QWidget *parent) : QDialog(parent)
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint); // 0x2000800
    setMinimumSize(1000, 800);
    setFont(uiFont(26));
    BoxStacking::install();

    auto *titleBar = new QWidget(this);
    titleBar->setFixedHeight(60);
    m_titleRow = new QHBoxLayout(titleBar);
    m_titleRow->setContentsMargins(10, 0, 0, 0);
    m_title = new QLabel(title, titleBar);
    m_title->setFont(uiFont(30));
    m_ok = new QPushButton(uiText(121), titleBar);
    // 100 x 50 holds the Chinese caption; other languages widen it rather than cut the word.
    m_ok->setMinimumWidth(100);
    m_ok->setFixedHeight(50);
    m_ok->setFocusPolicy(Qt::NoFocus);
    m_ok->setStyleSheet(
        QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#8BC34A;"
                       "padding:0px 8px;"));
    connect(m_ok, &QPushButton::clicked, this, &CComp_DialogFrame::acceptDialog);
    m_titleRow->addWidget(m_title);
    m_titleRow->addStretch(1);
    m_titleRow->addWidget(m_ok);

    m_content = new QWidget(this);

    auto *outer = new QVBoxLayout(this);
    outer->setSpacing(5);
    outer->setContentsMargins(0, 0, 0, 5);
    outer->addWidget(titleBar);
    outer->addWidget(m_content, 1);
}

void CComp_DialogFrame::insertWidget(QWidget *widget)
{
    if (widget)
        m_titleRow->insertWidget(m_titleRow->count() - 1, widget);
}

QString CComp_DialogFrame::title() const
{
    return m_title->text();
}

int CComp_DialogFrame::exec()
{
    if (!BoxTestPolicy::isEnabled())
        return QDialog::exec();
    BoxTestPolicy::recordShown(title());
    const int r = BoxTestPolicy::nextAnswer();
    setResult(r);
    return r;
}

void CComp_DialogFrame::setVisible(bool visible)
{
    QDialog::setVisible(visible);
    if (visible)
        BoxStacking::raise(this);
}

void CComp_DialogFrame::acceptDialog()
{
    accept();
}

void CComp_DialogFrame::showEvent(QShowEvent *event)
{
    // Frames can be built before the parameters give the language.
    m_ok->setText(uiText(121));
    QDialog::showEvent(event);
    BoxTestPolicy::recordShown(title());
}
