#pragma once

#include "PlayFailure.h"

// Why a play failed, in a few plain words for the listener (the tray's tip,
// the play button's): the engine says what happened, this says it.
QString FailureWords(const PlayFailure& failure);
