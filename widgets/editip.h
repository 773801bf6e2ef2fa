#pragma once
// EditIP: a caption and four digit fields for a dotted IPv4 address (network cards, report server).
// Each field takes 0..255 only: the address ends up in card files that a script run as root reads.
// GUI thread only.

#include <QWidget>

class Edit;
class QLabel;

class EditIP : public QWidget
{
    Q_OBJECT
public:
    explicit EditIP(const QString &caption = QString(), QWidget *parent = nullptr);

    // Splits a dotted text into the four fields; a part that is not a number of 0..255 leaves its
    // field empty, missing parts too.
    void setText(const QString &text);
    // The four fields joined with "."; an empty or non-numeric field reads "0".
    QString text() const;

    Edit *field(int i) const { return (i >= 0 && i < 4) ? m_fields[i] : nullptr; }

signals:
    // A field's text changed (typed or set).
    void textchange();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Breaks the caption as its label would, but never leaves one character alone on its last line.
    void breakCaption();

    QString m_captionText;
    QLabel *m_caption = nullptr;
    Edit *m_fields[4] = {};
};
