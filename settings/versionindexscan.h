#pragma once
// What one listing page of the update server holds, worked out from its bytes without touching the
// version library: the page is parsed as XML and every "body" element's text cut into the archives or
// the folders it names. Pure functions, so the version library can run them off the GUI thread.
//
// Threads: any; nothing is shared.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QDomElement;

// One "body" element: the archive names it lists, else the folder names it lists, in listing order.
struct ListingBody
{
    QStringList archives;
    int archivesLeftOut = 0; // names beyond the limit given to the scan
    QStringList folders;
};

struct ListingScan
{
    bool parsed = false;
    // The parser's complaint when the page is not well-formed.
    QString errorMessage;
    int errorLine = 0;
    int errorColumn = 0;
    QList<ListingBody> bodies;
};

// No listing nests its elements anywhere near this deep; a deeper page would overflow the stack of the
// recursive XML parser, so it is refused before parsing, as a page that does not parse.
constexpr int kMaxListingDepth = 256;

// Why `xml` is refused before parsing, or an empty text: its elements nest deeper than `limit`, or
// it declares entities (whose text could open further elements the count below does not see; no
// listing declares any). `offset` is where the refusal was found. Counts the markup as written;
// comments, CDATA, processing instructions and quoted attribute values are skipped.
QString refusedBeforeParsing(const QString &xml, int limit, int *offset);

// The page as received: the text up to its first NUL byte, without "<hr>", parsed and scanned.
ListingScan scanListingPage(const QByteArray &page, int maxArchives);
// The page as text, parsed and scanned.
ListingScan scanListingText(const QString &html, int maxArchives);
// The "body" children of `element`, scanned.
QList<ListingBody> scanListingElement(const QDomElement &element, int maxArchives);
