#include "versionindexscan.h"

#include "core/startup.h"

#include <QDomDocument>

#include <algorithm>

namespace {

bool isBlank(const QString &token)
{
    return !token.isEmpty() && (token.at(0) == QLatin1Char(' ') || token.at(0) == QLatin1Char('\t'));
}

ListingBody scanBody(const QDomElement &body, int maxArchives)
{
    ListingBody scan;
    QStringList tokens;
    for (const QString &part : body.text().split(QLatin1Char('/')))
        tokens += part.split(QStringLiteral("\r\n"));
    if (tokens.size() < 2)
        return scan;
    for (int i = 0; i + 1 < tokens.size(); ++i) {
        const QString &token = tokens.at(i);
        for (const QString &suffix : qAsConst(ArchiveSuffixes)) {
            const int at = token.lastIndexOf(QLatin1Char('.') + suffix);
            if (at < 0)
                continue;
            const QString candidate = token.left(at + 1 + suffix.size());
            if (!candidate.startsWith(QLatin1String("V17")) && !candidate.startsWith(QLatin1String("v17")))
                continue;
            if (scan.archives.size() < maxArchives)
                scan.archives << candidate;
            else
                ++scan.archivesLeftOut;
        }
    }
    if (!scan.archives.isEmpty() || scan.archivesLeftOut > 0)
        return scan;
    for (int i = 1; i + 1 < tokens.size(); ++i) {
        if (!isBlank(tokens.at(i)))
            continue;
        const QString &folder = tokens.at(i - 1);
        if (folder.isEmpty() || folder == QLatin1String(".") || folder == QLatin1String(".."))
            continue;
        scan.folders << folder;
    }
    return scan;
}

// Offset just past `end` found from `from`, or -1.
int pastMark(const QString &text, int from, QLatin1String end)
{
    const int at = text.indexOf(end, from);
    return at < 0 ? -1 : at + end.size();
}

} // namespace

QString refusedBeforeParsing(const QString &xml, int limit, int *offset)
{
    const int n = xml.size();
    const QChar *c = xml.constData();
    int depth = 0;
    for (int i = 0; i < n;) {
        if (c[i] != QLatin1Char('<')) {
            ++i;
            continue;
        }
        const QStringRef rest = xml.midRef(i);
        int next = -1;
        if (rest.startsWith(QLatin1String("<!--"))) {
            next = pastMark(xml, i + 4, QLatin1String("-->"));
        } else if (rest.startsWith(QLatin1String("<![CDATA["))) {
            next = pastMark(xml, i + 9, QLatin1String("]]>"));
        } else if (rest.startsWith(QLatin1String("<?"))) {
            next = pastMark(xml, i + 2, QLatin1String("?>"));
        } else if (rest.startsWith(QLatin1String("<!"))) {
            // The document type, with its internal subset in brackets.
            if (rest.startsWith(QLatin1String("<!ENTITY"))) {
                *offset = i;
                return QStringLiteral("entity declarations are not read");
            }
            int brackets = 0;
            for (int j = i + 2; j < n && next < 0; ++j) {
                if (c[j] == QLatin1Char('['))
                    ++brackets;
                else if (c[j] == QLatin1Char(']'))
                    --brackets;
                else if (c[j] == QLatin1Char('>') && brackets <= 0)
                    next = j + 1;
            }
            // Declarations inside the internal subset are looked at one by one.
            if (rest.startsWith(QLatin1String("<!DOCTYPE")) && next > 0) {
                const int subset = xml.indexOf(QLatin1Char('['), i);
                if (subset >= 0 && subset < next)
                    next = subset + 1;
            }
        } else {
            QChar quote;
            int j = i + 1;
            for (; j < n; ++j) {
                if (!quote.isNull()) {
                    if (c[j] == quote)
                        quote = QChar();
                } else if (c[j] == QLatin1Char('"') || c[j] == QLatin1Char('\'')) {
                    quote = c[j];
                } else if (c[j] == QLatin1Char('>')) {
                    break;
                }
            }
            if (j < n) {
                next = j + 1;
                if (c[i + 1] == QLatin1Char('/'))
                    depth = std::max(0, depth - 1);
                else if (c[j - 1] != QLatin1Char('/') && ++depth > limit) {
                    *offset = i;
                    return QStringLiteral("elements nested deeper than %1").arg(limit);
                }
            }
        }
        // An unclosed construct: nothing after it opens an element, and the parser refuses the page.
        if (next < 0)
            return QString();
        i = next;
    }
    return QString();
}

QList<ListingBody> scanListingElement(const QDomElement &element, int maxArchives)
{
    QList<ListingBody> bodies;
    for (QDomNode node = element.firstChild(); !node.isNull(); node = node.nextSibling()) {
        const QDomElement body = node.toElement();
        if (body.isNull() || body.tagName() != QLatin1String("body"))
            continue;
        bodies << scanBody(body, maxArchives);
    }
    return bodies;
}

ListingScan scanListingText(const QString &html, int maxArchives)
{
    ListingScan scan;
    int at = 0;
    const QString refusal = refusedBeforeParsing(html, kMaxListingDepth, &at);
    if (!refusal.isEmpty()) {
        scan.errorLine = html.leftRef(at).count(QLatin1Char('\n')) + 1;
        scan.errorColumn = at - (at > 0 ? html.lastIndexOf(QLatin1Char('\n'), at - 1) : -1);
        scan.errorMessage = refusal;
        return scan;
    }
    QDomDocument document;
    if (!document.setContent(html, false, &scan.errorMessage, &scan.errorLine, &scan.errorColumn))
        return scan;
    scan.parsed = true;
    scan.bodies = scanListingElement(document.documentElement(), maxArchives);
    return scan;
}

ListingScan scanListingPage(const QByteArray &page, int maxArchives)
{
    const int nul = page.indexOf('\0');
    QString html = QString::fromUtf8(page.constData(), nul >= 0 ? nul : page.size());
    html.remove(QStringLiteral("<hr>"));
    return scanListingText(html, maxArchives);
}
