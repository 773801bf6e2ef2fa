#include "textshowwidget.h"

#include "uistyle.h"

#include <QIcon>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>

TextShowWidget::TextShowWidget(QWidget *parent) : QWidget(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setFixedSize(560, 300);
    setStyleSheet(QStringLiteral("outline:0px; border:2px solid #00BCD4"));
    textBrowser = new QTextBrowser(this);
    textBrowser->setGeometry(0, 0, 560, 300);
    textBrowser->setFont(uiFont(15));
    textBrowser->setStyleSheet(QStringLiteral("font-size:15px;"));
    m_close = new QPushButton(this);
    m_close->setGeometry(500, 0, 60, 60);
    m_close->setIcon(QIcon(QStringLiteral("./images/error.png")));
    m_close->setIconSize(QSize(56, 56));
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->setStyleSheet(QStringLiteral("border:none;background:transparent;"));
    connect(m_close, &QPushButton::clicked, this, [this] {
        emit sigHideWidget();
        hide();
    });
}

void TextShowWidget::appendText(const QString &text)
{
    // Follow the output, as append does, unless the setter has scrolled back.
    QScrollBar *bar = textBrowser->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(textBrowser->document());
    cursor.movePosition(QTextCursor::End);
    if (!textBrowser->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
    if (following)
        bar->setValue(bar->maximum());
}
