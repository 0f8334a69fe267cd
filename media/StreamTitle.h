#pragma once

#include <QByteArray>
#include <QString>

// The title a station sends with its stream (ICY "StreamTitle"), as the
// listener is shown it: UTF-8 where it is valid, else Latin-1; control
// characters become spaces; at most MaxStreamTitleChars characters.
constexpr qsizetype MaxStreamTitleChars = 256;
QString StreamTitle(const QByteArray& raw);
