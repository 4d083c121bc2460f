// The screen's keys and clicks read on a display connection of our own (ScreenEvents).
#include "gui/plot.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <thread>

namespace korvex {

namespace {

// The Xlib calls used, looked up in the library the plot library has loaded.
struct Xlib {
    ::Window (*root)(Display*) = nullptr;
    Status (*query_tree)(Display*, ::Window, ::Window*, ::Window*, ::Window**, unsigned*) = nullptr;
    Status (*fetch_name)(Display*, ::Window, char**) = nullptr;
    int (*store_name)(Display*, ::Window, const char*) = nullptr;
    int (*free)(void*) = nullptr;
    int (*select_input)(Display*, ::Window, long) = nullptr;
    int (*next_event)(Display*, XEvent*) = nullptr;
    int (*lookup_string)(XKeyEvent*, char*, int, KeySym*, XComposeStatus*) = nullptr;
    int (*flush)(Display*) = nullptr;
    int (*sync)(Display*, Bool) = nullptr;

    bool load(void* lib) {
        auto get = [lib](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            return fn != nullptr;
        };
        return get(root, "XDefaultRootWindow") && get(query_tree, "XQueryTree") &&
               get(fetch_name, "XFetchName") && get(store_name, "XStoreName") &&
               get(free, "XFree") && get(select_input, "XSelectInput") &&
               get(next_event, "XNextEvent") && get(lookup_string, "XLookupString") &&
               get(flush, "XFlush") && get(sync, "XSync");
    }
};

// The window titled `title` at most `depth` levels below `w` (a window manager puts each
// top-level window into a frame of its own); 0 when there is none.
::Window find_window(const Xlib& x, Display* dpy, ::Window w, const char* title, int depth) {
    char* name = nullptr;
    if (x.fetch_name(dpy, w, &name) && name) {
        const bool match = std::strcmp(name, title) == 0;
        x.free(name);
        if (match) return w;
    }
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (depth == 0 || !x.query_tree(dpy, w, &root, &parent, &children, &n)) return 0;
    ::Window found = 0;
    for (unsigned i = 0; i < n && !found; ++i)
        found = find_window(x, dpy, children[i], title, depth - 1);
    if (children) x.free(children);
    return found;
}

class WindowEvents final : public ScreenEvents {
  public:
    WindowEvents(std::shared_ptr<void> connection, void* lib, const Xlib& x, ::Window w,
                 std::function<void()> redraw)
        : connection_(std::move(connection)), lib_(lib), x_(x), window_(w),
          redraw_(std::move(redraw)) {}
    ~WindowEvents() override { dlclose(lib_); }

    bool next(int& px, int& py, char& ch, int& button) override {
        Display* dpy = display();
        for (;;) {
            XEvent ev;
            x_.next_event(dpy, &ev);
            if (ev.xany.window != window_) continue;
            if (ev.type == DestroyNotify) window_lost();
            if (ev.type == Expose) {
                if (ev.xexpose.count == 0 && redraw_) redraw_();
            } else if (ev.type == KeyPress) {
                char buf[8] = {};
                KeySym sym = 0;
                const int n = x_.lookup_string(&ev.xkey, buf, sizeof buf, &sym, nullptr);
                // Shift, Control and the like give no character; arrows and function keys
                // none either.
                if (n != 1 || IsModifierKey(sym)) continue;
                px = ev.xkey.x;
                py = ev.xkey.y;
                ch = buf[0];
                button = 0;
                return true;
            } else if (ev.type == ButtonPress) {
                const unsigned b = ev.xbutton.button;
                if (b < 1 || b > 3) continue; // the wheel
                px = ev.xbutton.x;
                py = ev.xbutton.y;
                ch = b == 1 ? 'A' : b == 2 ? 'D' : 'X';
                button = static_cast<int>(b);
                return true;
            }
        }
    }

  private:
    Display* display() const { return static_cast<Display*>(connection_.get()); }
    std::shared_ptr<void> connection_;
    void* lib_;
    Xlib x_;
    ::Window window_;
    std::function<void()> redraw_;
};

} // namespace

std::unique_ptr<ScreenEvents> watch_screen_events(const std::shared_ptr<void>& x_connection,
                                                  const std::string& title,
                                                  const std::string& new_title,
                                                  std::function<void()> redraw) {
    if (!x_connection) return nullptr;
    void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    Xlib x;
    if (!lib || !x.load(lib)) {
        if (lib) dlclose(lib);
        return nullptr;
    }
    auto* dpy = static_cast<Display*>(x_connection.get());
    // The plot library maps its window on a connection of its own: wait until the server has
    // it.
    ::Window w = 0;
    for (int attempt = 0; attempt < 100 && !w; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        x.sync(dpy, False);
        w = find_window(x, dpy, x.root(dpy), title.c_str(), 3);
    }
    if (!w) {
        dlclose(lib);
        return nullptr;
    }
    x.select_input(dpy, w, KeyPressMask | ButtonPressMask | ExposureMask | StructureNotifyMask);
    x.store_name(dpy, w, new_title.c_str());
    x.flush(dpy);
    return std::make_unique<WindowEvents>(x_connection, lib, x, w, std::move(redraw));
}

} // namespace korvex
