#pragma once

// Loads what a first play needs ahead of time, so that pressing play does not
// wait for shared libraries to be read from disk or for one-off set-up: the
// plugins, and what the HTTP source's first session prepares even for a plain
// http stream. Meant for a helper thread; GStreamer must be initialised.
void WarmUpGStreamer();
