#include "TopLevelWindows.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <xcb/xcb.h>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t* Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

QByteArray Property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    if (property == XCB_ATOM_NONE)
        return {};
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 1024), nullptr));
    if (!reply || reply->format != 8)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
        xcb_get_property_value_length(reply.get()));
}

} // namespace

std::vector<TopLevelWindow> ListTopLevelWindows()
{
    xcb_connection_t* c = Connection();
    if (!c)
        return {};
    const xcb_atom_t netWmName = Atom(c, "_NET_WM_NAME");
    const xcb_atom_t utf8 = Atom(c, "UTF8_STRING");
    std::vector<TopLevelWindow> windows;
    std::vector<xcb_window_t> pending;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it))
        pending.push_back(it.data->root);
    // Window managers put client windows inside frames: walk the whole tree.
    for (std::size_t next = 0; next < pending.size() && pending.size() < 100000; ++next) {
        XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, pending[next]), nullptr));
        if (!tree)
            continue;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const xcb_window_t w = children[i];
            pending.push_back(w);
            TopLevelWindow window{w, Property(c, w, netWmName, utf8), {}};
            if (window.title.isEmpty())
                window.title = Property(c, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
            // WM_CLASS holds "instance\0class\0".
            const QList<QByteArray> wmClass = Property(c, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
            window.wmClass = wmClass.size() > 1 ? wmClass[1] : QByteArray();
            windows.push_back(std::move(window));
        }
    }
    return windows;
}

namespace {

const char* const ShowRequestAtom = "SONVALE_SHOW_WINDOW";

class ShowRequestWatcher : public QAbstractNativeEventFilter {
public:
    ShowRequestWatcher(QWidget* window, std::function<void()> show)
        : m_window(window)
        , m_show(std::move(show))
    {
        if (xcb_connection_t* c = Connection())
            m_atom = Atom(c, ShowRequestAtom);
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~ShowRequestWatcher() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t" || !m_window || m_atom == XCB_ATOM_NONE)
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        const auto* request = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (request->type != m_atom || request->window != m_window->winId())
            return false;
        m_show();
        return true;
    }

private:
    QPointer<QWidget> m_window;
    std::function<void()> m_show;
    xcb_atom_t m_atom = XCB_ATOM_NONE;
};

} // namespace

void RequestShow(std::uint32_t id)
{
    xcb_connection_t* c = Connection();
    if (!c)
        return;
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = id;
    request.type = Atom(c, ShowRequestAtom);
    // No event mask: the event goes to the client that created the window.
    xcb_send_event(c, 0, id, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&request));
    xcb_flush(c);
}

std::unique_ptr<QAbstractNativeEventFilter> WatchShowRequests(QWidget* window, std::function<void()> show)
{
    return std::make_unique<ShowRequestWatcher>(window, std::move(show));
}
