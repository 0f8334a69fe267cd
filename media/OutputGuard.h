#pragma once

#include <gst/gst.h>

// Stands between the stream and its audio sink, so that a sink that fails
// (its audio server went away, its device was unplugged) takes nothing else
// down with it: the audio it refused is kept, the stream behind it waits, and
// the network connection stays open. Once a new sink is linked behind it,
// OutputGuardResume plays that audio there and the stream flows on.
// Shutting the pipeline down (or a flush) ends the wait.
GstElement* MakeOutputGuard();
// The running time of the latest audio it was given (what waits for a sink,
// or what the next audio follows); none before the first.
GstClockTime OutputGuardLatest(GstElement* guard);
void OutputGuardResume(GstElement* guard);
