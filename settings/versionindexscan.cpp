#include "versionindexscan.h"

#include "core/startup.h"

#include <QDomDocument>

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

} // namespace

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
