#include "Logging.h"

Q_LOGGING_CATEGORY(lcPlayer, "sonvale.player", QtCriticalMsg)
