#pragma once

#include <QByteArray>
#include <QString>

// Where the station is and how the player reaches it: read once at start from
// the build's values and the environment, then handed to what needs it.
struct StationConfig {
    // http://HOST:8000 for a bare host, or the base a host names with its
    // scheme (https://radio.example:8443), without a trailing slash.
    QString streamBase;
    QString streamCa;      // a PEM file of the station's own authority, or empty
    QByteArray audioSink;  // a gst-launch bin description replacing the output, or empty
    // host, host:port, or a base with its scheme
    QString updateHost;
    QString updateCa;

    // The build's hosts, overridden by SONVALE_STREAM_HOST, SONVALE_STREAM_CA,
    // SONVALE_AUDIO_SINK, SONVALE_UPDATE_HOST and SONVALE_UPDATE_CA.
    static StationConfig FromEnvironment();
    // The stream base of a host setting.
    static QString StreamBaseOf(QString host);

    QString HighQualityAddress() const { return streamBase + QStringLiteral("/velmora.m3u"); }
    QString LowQualityAddress() const { return streamBase + QStringLiteral("/velmora32.m3u"); }
};
