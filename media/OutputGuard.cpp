#include "OutputGuard.h"

#include <initializer_list>

namespace {

struct OutputGuard {
    GstElement element;
    GstPad* sinkPad;
    GstPad* srcPad;
    GMutex lock;
    GCond changed;
    bool stopping;   // its stream is being shut down or flushed: nothing waits
    guint outputs;   // counts the sinks linked behind it
    GstClockTime latest; // the timestamp of the latest audio it was given
};

struct OutputGuardClass {
    GstElementClass parentClass;
};

GType OutputGuardType();
GstElementClass* parentClass = nullptr;

OutputGuard* GuardOf(gpointer object)
{
    return reinterpret_cast<OutputGuard*>(G_TYPE_CHECK_INSTANCE_CAST(object, OutputGuardType(), OutputGuard));
}

void SetStopping(OutputGuard* guard, bool stopping)
{
    g_mutex_lock(&guard->lock);
    guard->stopping = stopping;
    g_cond_broadcast(&guard->changed);
    g_mutex_unlock(&guard->lock);
}

GstClockTime RunningTime(GstPad* pad, GstClockTime timestamp)
{
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event)
        return GST_CLOCK_TIME_NONE;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    const GstClockTime at = segment->format == GST_FORMAT_TIME
        ? gst_segment_to_running_time(segment, GST_FORMAT_TIME, timestamp) : GST_CLOCK_TIME_NONE;
    gst_event_unref(event);
    return at;
}

GstFlowReturn Chain(GstPad*, GstObject* parent, GstBuffer* buffer)
{
    OutputGuard* guard = GuardOf(parent);
    g_mutex_lock(&guard->lock);
    guard->latest = GST_BUFFER_PTS(buffer);
    g_mutex_unlock(&guard->lock);
    for (;;) {
        g_mutex_lock(&guard->lock);
        const guint output = guard->outputs;
        g_mutex_unlock(&guard->lock);
        const GstFlowReturn result = gst_pad_push(guard->srcPad, gst_buffer_ref(buffer));
        // An error is the sink's own; flushing, while the guard's stream is
        // not, is a sink being taken out. Either way the audio waits for the
        // next sink.
        if (result != GST_FLOW_ERROR && result != GST_FLOW_FLUSHING) {
            gst_buffer_unref(buffer);
            return result;
        }
        g_mutex_lock(&guard->lock);
        while (!guard->stopping && guard->outputs == output)
            g_cond_wait(&guard->changed, &guard->lock);
        const bool stopping = guard->stopping;
        g_mutex_unlock(&guard->lock);
        if (stopping) {
            gst_buffer_unref(buffer);
            return GST_FLOW_FLUSHING;
        }
    }
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event)
{
    OutputGuard* guard = GuardOf(parent);
    if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_START)
        SetStopping(guard, true);
    else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP)
        SetStopping(guard, false);
    return gst_pad_event_default(pad, parent, event);
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition)
{
    OutputGuard* guard = GuardOf(element);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
        SetStopping(guard, true); // before its pads are deactivated, which waits for the stream
    const GstStateChangeReturn result = parentClass->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED)
        SetStopping(guard, false);
    return result;
}

void Finalize(GObject* object)
{
    OutputGuard* guard = GuardOf(object);
    g_mutex_clear(&guard->lock);
    g_cond_clear(&guard->changed);
    G_OBJECT_CLASS(parentClass)->finalize(object);
}

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);

void ClassInit(gpointer klass, gpointer)
{
    parentClass = GST_ELEMENT_CLASS(g_type_class_peek_parent(klass));
    G_OBJECT_CLASS(klass)->finalize = Finalize;
    auto* elementClass = GST_ELEMENT_CLASS(klass);
    elementClass->change_state = ChangeState;
    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Output guard", "Filter/Audio",
        "Keeps the stream through the loss of its audio sink", "Sonvale");
}

void InstanceInit(GTypeInstance* instance, gpointer)
{
    OutputGuard* guard = reinterpret_cast<OutputGuard*>(instance);
    g_mutex_init(&guard->lock);
    g_cond_init(&guard->changed);
    guard->stopping = true;
    guard->outputs = 0;
    guard->latest = GST_CLOCK_TIME_NONE;
    guard->sinkPad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
    guard->srcPad = gst_pad_new_from_static_template(&srcTemplate, "src");
    gst_pad_set_chain_function(guard->sinkPad, Chain);
    gst_pad_set_event_function(guard->sinkPad, SinkEvent);
    for (GstPad* pad : {guard->sinkPad, guard->srcPad}) {
        GST_PAD_SET_PROXY_CAPS(pad);
        GST_PAD_SET_PROXY_ALLOCATION(pad);
        GST_PAD_SET_PROXY_SCHEDULING(pad);
        gst_element_add_pad(&guard->element, pad);
    }
}

GType OutputGuardType()
{
    static const GType type = g_type_register_static_simple(GST_TYPE_ELEMENT, "SonvaleOutputGuard",
        sizeof(OutputGuardClass), ClassInit, sizeof(OutputGuard), InstanceInit, GTypeFlags(0));
    return type;
}

} // namespace

GstElement* MakeOutputGuard()
{
    return GST_ELEMENT(g_object_new(OutputGuardType(), nullptr));
}

GstClockTime OutputGuardLatest(GstElement* guard)
{
    OutputGuard* self = GuardOf(guard);
    g_mutex_lock(&self->lock);
    const GstClockTime latest = self->latest;
    g_mutex_unlock(&self->lock);
    return GST_CLOCK_TIME_IS_VALID(latest) ? RunningTime(self->sinkPad, latest) : GST_CLOCK_TIME_NONE;
}

void OutputGuardResume(GstElement* guard)
{
    OutputGuard* self = GuardOf(guard);
    g_mutex_lock(&self->lock);
    ++self->outputs;
    g_cond_broadcast(&self->changed);
    g_mutex_unlock(&self->lock);
}
