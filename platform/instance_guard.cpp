#include "platform/instance_guard.h"

#include "platform/x11_connection.h"

#include <QGuiApplication>
#include <QPointer>

#include <xcb/xcb.h>

#include <cstring>
#include <string>

namespace kelvora {

namespace {

// The class name is read into a buffer of this many characters, the last one
// kept for the terminator.
constexpr int kClassNameBuffer = 256;
// Longest title or class property read from another program's window (32-bit units).
constexpr std::uint32_t kPropertyWords = 1024;

QPointer<QWidget> g_applicationWindow;

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The raw bytes of a property, empty when absent or unreadable.
std::string readProperty(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    if (property == XCB_ATOM_NONE)
        return {};
    XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, kPropertyWords), nullptr));
    if (!reply || reply->format != 8)
        return {};
    const int length = xcb_get_property_value_length(reply.get());
    if (length <= 0)
        return {};
    return std::string(static_cast<const char *>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(length));
}

// WM_CLASS holds "instance\0class\0"; the class part names the program.
std::string classPart(const std::string &wmClass)
{
    const std::size_t split = wmClass.find('\0');
    if (split == std::string::npos)
        return {};
    std::string name = wmClass.substr(split + 1);
    const std::size_t end = name.find('\0');
    if (end != std::string::npos)
        name.resize(end);
    return name;
}

class X11WindowLookup final : public WindowLookup {
public:
    QString ClassName(WId window) override
    {
        xcb_connection_t *connection = x11Connection();
        if (!connection || window == 0)
            return {};
        std::string name = classPart(readProperty(connection, static_cast<xcb_window_t>(window),
                                                  XCB_ATOM_WM_CLASS, XCB_ATOM_STRING));
        if (name.size() > kClassNameBuffer - 1)
            name.resize(kClassNameBuffer - 1);
        return QString::fromLocal8Bit(name);
    }

    WId FindWindow(const QString &className, const QString &title) override
    {
        xcb_connection_t *connection = x11Connection();
        if (!connection || className.isEmpty())
            return 0;
        const xcb_setup_t *setup = xcb_get_setup(connection);
        const QByteArray wantedClass = className.toLocal8Bit();
        const QByteArray wantedTitle = title.toUtf8();
        const xcb_atom_t netWmName = internAtom(connection, "_NET_WM_NAME");
        const xcb_atom_t utf8String = internAtom(connection, "UTF8_STRING");

        for (xcb_screen_iterator_t screen = xcb_setup_roots_iterator(setup); screen.rem; xcb_screen_next(&screen)) {
            XcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
                connection, xcb_query_tree(connection, screen.data->root), nullptr));
            if (!tree)
                continue;
            const xcb_window_t *children = xcb_query_tree_children(tree.get());
            const int count = xcb_query_tree_children_length(tree.get());
            for (int i = 0; i < count; ++i) {
                const xcb_window_t window = children[i];
                const std::string wmClass = classPart(readProperty(connection, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING));
                if (wmClass != wantedClass.toStdString())
                    continue;
                std::string name = readProperty(connection, window, netWmName, utf8String);
                if (name.empty())
                    name = readProperty(connection, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY);
                if (name == wantedTitle.toStdString())
                    return static_cast<WId>(window);
            }
        }
        return 0;
    }
};

// Without a window system to ask (offscreen), there is never another copy.
class NoWindowLookup final : public WindowLookup {
public:
    QString ClassName(WId) override { return {}; }
    WId FindWindow(const QString &, const QString &) override { return 0; }
};

WindowLookup *g_lookup = nullptr;

// Puts the title back however the look-up ends.
class TitleRestorer {
public:
    explicit TitleRestorer(QString title) : m_title(std::move(title)) {}
    ~TitleRestorer() { SetApplicationTitle(m_title); }
    TitleRestorer(const TitleRestorer &) = delete;
    TitleRestorer &operator=(const TitleRestorer &) = delete;

private:
    QString m_title;
};

} // namespace

QWidget *ApplicationWindow()
{
    if (!g_applicationWindow && qGuiApp) {
        auto *window = new QWidget(nullptr, Qt::Window);
        window->setObjectName(QStringLiteral("ApplicationWindow"));
        window->setAttribute(Qt::WA_QuitOnClose, false);
        window->winId();   // a native window, never mapped
        g_applicationWindow = window;
    }
    return g_applicationWindow;
}

void DestroyApplicationWindow()
{
    delete g_applicationWindow.data();
}

void SetApplicationTitle(const QString &title)
{
    QWidget *window = ApplicationWindow();
    if (!window)
        return;
    window->setWindowTitle(title);
    // Qt shows the application name in place of an empty title; the window's
    // text must really be empty while the guard looks, so write it ourselves.
    xcb_connection_t *connection = x11Connection();
    if (title.isEmpty() && connection) {
        const auto id = static_cast<xcb_window_t>(window->winId());
        const xcb_atom_t netWmName = internAtom(connection, "_NET_WM_NAME");
        const xcb_atom_t utf8String = internAtom(connection, "UTF8_STRING");
        if (netWmName != XCB_ATOM_NONE && utf8String != XCB_ATOM_NONE)
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, netWmName, utf8String, 8, 0, "");
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, "");
        xcb_flush(connection);
    }
}

QString ApplicationTitle()
{
    const QWidget *window = ApplicationWindow();
    return window ? window->windowTitle() : QString();
}

WindowLookup &CurrentWindowLookup()
{
    if (g_lookup)
        return *g_lookup;
    static X11WindowLookup x11;
    static NoWindowLookup none;
    if (x11Connection())
        return x11;
    return none;
}

void SetWindowLookup(WindowLookup *lookup)
{
    g_lookup = lookup;
}

WId FindRunningInstance()
{
    try {
        const QString title = ApplicationTitle();
        const TitleRestorer restorer(title);
        // Our own window no longer carries the title, so only another copy can match.
        SetApplicationTitle(QString());
        WindowLookup &lookup = CurrentWindowLookup();
        const QWidget *window = ApplicationWindow();
        const QString className = lookup.ClassName(window ? window->winId() : 0);
        return lookup.FindWindow(className, title);
    } catch (...) {
        return 0;
    }
}

} // namespace kelvora
