#pragma once

#include <QLoggingCategory>

// What the player passes over in silence, off by default:
// QT_LOGGING_RULES="sonvale.player=true" shows it.
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)
