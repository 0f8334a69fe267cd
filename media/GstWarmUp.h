#pragma once

// Loads what a first play needs ahead of time, so that pressing play does not
// wait for shared libraries to be read from disk or for one-off set-up: the
// plugins, the desktop's proxy settings, and the system's certificate store
// where a first connection would read it (`secure`: the station is reached
// over https; libsoup 2 reads it for every new session, https or not). Meant
// for a helper thread; GStreamer must be initialised.
void WarmUpGStreamer(bool secure);
