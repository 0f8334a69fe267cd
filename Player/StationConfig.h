#pragma once

#include "ProxySettings.h"

#include <QByteArray>
#include <QString>

// A service's base address from a host setting, without a trailing slash: a
// bare host (a name, an IPv4 or IPv6 address, with or without a port) is
// reached over http, on `defaultPort` where it names none (0: http's own);
// a base with its scheme (https://radio.example:8443) names scheme and port.
QString ServiceBase(QString host, int defaultPort = 0);

// Where the station is and how the player reaches it: read once at start from
// the build's values and the environment, then handed to what needs it.
struct StationConfig {
    // http://HOST:8000 for a bare host, or the base a host names with its
    // scheme (https://radio.example:8443), without a trailing slash.
    QString streamBase;
    QString streamCa;      // a PEM file of the station's own authority, or empty
    QByteArray audioSink;  // a gst-launch bin description replacing the output, or empty
    QString updateBase;    // the update service's, as streamBase
    QString updateCa;
    ProxySettings proxies; // from http_proxy, https_proxy, all_proxy and no_proxy

    // The build's hosts, overridden by SONVALE_STREAM_HOST, SONVALE_STREAM_CA,
    // SONVALE_AUDIO_SINK, SONVALE_UPDATE_HOST and SONVALE_UPDATE_CA.
    static StationConfig FromEnvironment();

    QString HighQualityAddress() const { return streamBase + QStringLiteral("/velmora.m3u"); }
    QString LowQualityAddress() const { return streamBase + QStringLiteral("/velmora32.m3u"); }
};
