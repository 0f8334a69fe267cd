#include "GstWarmUp.h"

#include <dlfcn.h>
#include <gio/gio.h>
#include <gst/gst.h>
#include <initializer_list>

namespace {

// The HTTP source's plugin loads libsoup 3 unless libsoup 2 is already in
// the process; this tells which one it took.
bool SourceUsesLibsoup2()
{
    void* loaded = dlopen("libsoup-2.4.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (loaded)
        dlclose(loaded);
    return loaded != nullptr;
}

} // namespace

void WarmUpGStreamer(bool secure)
{
    for (const char* name : {"playback", "soup", "typefindfunctions", "audioparsers", "mpg123", "coreelements",
             "audioconvert", "audioresample", "autodetect", "volume"}) {
        if (GstPlugin* plugin = gst_plugin_load_by_name(name))
            gst_object_unref(plugin);
    }
    // Every session asks for the proxy resolver, which GIO keeps for the
    // process's life. The certificate store (some 4 MB once parsed) is read
    // only where a connection will need it; GIO keeps it too.
    g_proxy_resolver_get_default();
    if (secure || SourceUsesLibsoup2()) {
        if (GTlsDatabase* certificates = g_tls_backend_get_default_database(g_tls_backend_get_default()))
            g_object_unref(certificates);
    }
}
