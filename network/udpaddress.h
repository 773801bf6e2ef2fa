#pragma once
// Address texts of the UDP endpoints: the local interface record, dotted IPv4 and MAC conversions,
// subnet arithmetic and the random source port of a sending socket. Pure functions, any thread.

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <string>

// One local network interface as the UDP endpoints know it; every field is text.
struct NetInterfaceInfo
{
    QString name;    // system interface name
    QString ip;      // dotted IPv4 address
    QString mask;    // dotted IPv4 mask
    QString gateway; // dotted IPv4 default gateway
    QString mac;     // "aa:bb:cc:dd:ee:ff", lower case
};

// Dotted text of `ip` AND `mask`, part by part; empty when either text has not exactly four
// "."-separated parts or a part is not a decimal number from 0 to 255.
QString networkAddress(const QString &ip, const QString &mask);

// Replaces the fourth "."-part of `ip` by the decimal text of `n`; false (ip unchanged) when the text
// has not exactly four parts.
bool replaceLastOctet(QString &ip, int n);

// Dotted text of an IPv4 address given in network byte order.
QString ipToText(uint32_t addressNetworkOrder);

// The address in network byte order by the system's dotted-text parser (inet_addr): text that is no
// address gives 255.255.255.255, as the devices' own firmware reads it.
uint32_t textToIp(const QString &text);

// "%02x" per byte with ":" between.
QString macToText(const unsigned char mac[6]);

// When `text` splits at ":" into exactly six parts, each part read as hexadecimal gives one byte (a
// part that is not hexadecimal gives 0); otherwise `mac` is left as it was. Always returns 0.
int textToMac(const QString &text, unsigned char mac[6]);

// The UTF-8 bytes of `text`.
std::string qStringToStdString(const QString &text);

// A source port for a sending socket: 10001..65535 outside 10410..10419, which the text protocol's
// roles listen on.
quint16 randomLocalPort();

// `text` with every control character (below 0x20, and 0x7F) written as \n, \r, \t or \xNN, so
// that text received from the network cannot break or forge lines of the log.
QString escapeForLog(const QString &text);
