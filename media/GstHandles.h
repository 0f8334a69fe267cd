#pragma once

#include <gst/gst.h>
#include <memory>

// Owning handles for GLib and GStreamer pointers.

// From GIO, whose headers do not mix with Qt's keywords.
typedef struct _GTlsDatabase GTlsDatabase;
struct GstObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct GstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct GstIteratorFree {
    void operator()(GstIterator* iterator) const { gst_iterator_free(iterator); }
};
struct GstTagListUnref {
    void operator()(GstTagList* tags) const { gst_tag_list_unref(tags); }
};
struct GstCapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};

using GstElementPtr = std::unique_ptr<GstElement, GstObjectUnref>;
using GstObjectPtr = std::unique_ptr<GstObject, GstObjectUnref>;
using GstBusPtr = std::unique_ptr<GstBus, GstObjectUnref>;
using GstPadPtr = std::unique_ptr<GstPad, GstObjectUnref>;
using GstMessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
using GstIteratorPtr = std::unique_ptr<GstIterator, GstIteratorFree>;
using GstTagListPtr = std::unique_ptr<GstTagList, GstTagListUnref>;
using GstCapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GCharPtr = std::unique_ptr<gchar, GFree>;
using GTlsDatabasePtr = std::unique_ptr<GTlsDatabase, GObjectUnref>;

// Takes a newly made element (a floating reference) into a handle.
inline GstElementPtr Adopt(GstElement* element)
{
    return GstElementPtr(element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr);
}
