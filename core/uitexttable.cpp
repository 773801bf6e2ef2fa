#include "uitexttable.h"
#include "corelog.h"

#include <QFile>
#include <QTextStream>

QString UiTextTable[kUiTextRows * kUiLanguages];
int gLanguage = 0;

QString unescapeUiText(const QString &cell)
{
    QString out;
    out.reserve(cell.size());
    for (int i = 0; i < cell.size(); ++i) {
        const QChar c = cell.at(i);
        if (c != QLatin1Char('\\') || i + 1 == cell.size()) {
            out += c;
            continue;
        }
        const QChar n = cell.at(++i);
        if (n == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (n == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (n == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else
            out += n;
    }
    return out;
}

int fillUiTextTable()
{
    // The texts live in a resource of this static library; without this call the linker may leave
    // the resource out of the program.
    Q_INIT_RESOURCE(core);
    QFile source(QStringLiteral(":/uitext.tsv"));
    if (!source.open(QIODevice::ReadOnly)) {
        qCCritical(lcCore) << "interface texts missing from the build";
        return 0;
    }
    int filled = 0;
    const QList<QByteArray> lines = source.readAll().split('\n');
    for (const QByteArray &raw : lines) {
        if (raw.isEmpty() || raw.startsWith('#'))
            continue;
        const QStringList fields = QString::fromUtf8(raw).split(QLatin1Char('\t'));
        bool ok = false;
        const int row = fields.value(0).toInt(&ok);
        if (!ok || fields.size() != 1 + kUiLanguages || row < 0 || row >= kUiTextRows) {
            qCWarning(lcCore).noquote() << "bad interface text line:" << QString::fromUtf8(raw.left(40));
            continue;
        }
        for (int l = 0; l < kUiLanguages; ++l)
            UiTextTable[row * kUiLanguages + l] = unescapeUiText(fields.at(1 + l));
        ++filled;
    }
    return filled;
}

const QString &uiText(int row, int language)
{
    static const QString empty;
    if (row < 0 || row >= kUiTextRows || language < 0 || language >= kUiLanguages)
        return empty;
    return UiTextTable[row * kUiLanguages + language];
}

const QString &uiText(int row)
{
    return uiText(row, gLanguage);
}
