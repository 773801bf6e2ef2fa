#include "udpaddress.h"

#include <QRandomGenerator>
#include <QStringList>

#include <arpa/inet.h>

namespace {

// The four parts of a dotted text as numbers 0..255; false when it is not such a text.
bool dottedParts(const QString &text, uint parts[4])
{
    const QStringList items = text.split(QLatin1Char('.'));
    if (items.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        parts[i] = items.at(i).toUInt(&ok, 10);
        if (!ok || parts[i] > 255)
            return false;
    }
    return true;
}

} // namespace

QString networkAddress(const QString &ip, const QString &mask)
{
    uint a[4];
    uint m[4];
    if (!dottedParts(ip, a) || !dottedParts(mask, m))
        return QString();
    return QStringLiteral("%1.%2.%3.%4").arg(a[0] & m[0]).arg(a[1] & m[1]).arg(a[2] & m[2]).arg(a[3] & m[3]);
}

bool replaceLastOctet(QString &ip, int n)
{
    QStringList parts = ip.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    parts[3] = QString::number(n);
    ip = parts.join(QLatin1Char('.'));
    return true;
}

QString ipToText(uint32_t addressNetworkOrder)
{
    in_addr address;
    address.s_addr = addressNetworkOrder;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof text);
    return QString::fromLatin1(text);
}

uint32_t textToIp(const QString &text)
{
    return inet_addr(text.toLatin1().constData());
}

QString macToText(const unsigned char mac[6])
{
    QStringList parts;
    for (int i = 0; i < 6; ++i)
        parts << QStringLiteral("%1").arg(uint(mac[i]), 2, 16, QLatin1Char('0'));
    return parts.join(QLatin1Char(':'));
}

int textToMac(const QString &text, unsigned char mac[6])
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 6)
        return 0;
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint value = parts.at(i).toUInt(&ok, 16);
        mac[i] = ok ? static_cast<unsigned char>(value) : 0;
    }
    return 0;
}

std::string qStringToStdString(const QString &text)
{
    return text.toUtf8().toStdString();
}

quint16 randomLocalPort()
{
    for (;;) {
        const quint16 port = static_cast<quint16>(QRandomGenerator::global()->generate() & 0xFFFF);
        if (port >= 10001 && (port < 10410 || port > 10419))
            return port;
    }
}

QString escapeForLog(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u >= 0x20 && u != 0x7F) {
            out += c;
        } else if (u == '\n') {
            out += QLatin1String("\\n");
        } else if (u == '\r') {
            out += QLatin1String("\\r");
        } else if (u == '\t') {
            out += QLatin1String("\\t");
        } else {
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        }
    }
    return out;
}
