#include "GstWarmUp.h"

#include <gio/gio.h>
#include <gst/gst.h>
#include <initializer_list>

void WarmUpGStreamer()
{
    for (const char* name : {"playback", "soup", "typefindfunctions", "audioparsers", "mpg123", "coreelements",
             "audioconvert", "audioresample", "autodetect", "volume"}) {
        if (GstPlugin* plugin = gst_plugin_load_by_name(name))
            gst_object_unref(plugin);
    }
    // libsoup asks every new session for the TLS backend's certificate store
    // and the default proxy resolver; GIO keeps both for the process's life,
    // so the first connection no longer parses the certificates.
    if (GTlsDatabase* certificates = g_tls_backend_get_default_database(g_tls_backend_get_default()))
        g_object_unref(certificates);
    g_proxy_resolver_get_default();
}
