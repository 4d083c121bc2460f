// The display connection of the graphic session: the start-up check and the handlers for a
// lost connection.
#include "gui/plot.hpp"
#include "state/pending_file.hpp"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <thread>
#include <unistd.h>

namespace korvex {

namespace {

void say(const char* text) {
    const std::size_t n = std::strlen(text);
    if (::write(1, text, n) != static_cast<ssize_t>(n)) return;
}

// A lost display connection cannot be unwound from (the X library ends the process after
// this handler): the files in the making are removed, so that no partial file, run record or
// report document stays. The status is non-zero when a run was in progress, 0 when the
// window of the viewer was closed.
extern "C" int on_x_io_error(void*) {
    const int pending = remove_pending_files();
    say(" The connection to the X display was lost (the window was closed).\n");
    if (pending != 0) say(" The run stops; files not complete were removed.\n");
    _exit(pending != 0 ? 1 : 0);
}

extern "C" int on_x_error(void*, void*) {
    remove_pending_files();
    say(" The X display refused a request of the window (it was closed?); the program stops.\n");
    _exit(1);
}

void watch_x_errors(void* lib) {
    using IoHandler = int (*)(void*);
    using ErrorHandler = int (*)(void*, void*);
    auto set_io = reinterpret_cast<IoHandler (*)(IoHandler)>(dlsym(lib, "XSetIOErrorHandler"));
    auto set_err = reinterpret_cast<ErrorHandler (*)(ErrorHandler)>(dlsym(lib, "XSetErrorHandler"));
    if (set_io) set_io(on_x_io_error);
    if (set_err) set_err(on_x_error);
}

using Window = unsigned long;
struct XCalls {
    void* (*open)(const char*);
    int (*close)(void*);
    Window (*root)(void*);
    int (*query_tree)(void*, Window, Window*, Window*, Window**, unsigned*);
    int (*fetch_name)(void*, Window, char**);
    int (*free)(void*);
    unsigned long (*intern)(void*, const char*, int);
    int (*delete_property)(void*, Window, unsigned long);
};

// Removes the close request from every window titled `title` at most `depth` levels below `w`
// (a window manager puts each top-level window into a frame of its own).
void drop_close_request(const XCalls& x, void* dpy, Window w, const char* title, int depth,
                        unsigned long protocols) {
    char* name = nullptr;
    if (x.fetch_name(dpy, w, &name) && name) {
        if (std::strcmp(name, title) == 0) x.delete_property(dpy, w, protocols);
        x.free(name);
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (depth == 0 || !x.query_tree(dpy, w, &root, &parent, &children, &n)) return;
    for (unsigned i = 0; i < n; ++i)
        drop_close_request(x, dpy, children[i], title, depth - 1, protocols);
    if (children) x.free(children);
}

} // namespace

void window_lost() {
    on_x_io_error(nullptr);
    _exit(1); // not reached: the handler ends the process
}

void hand_close_to_window_manager(const char* title) {
    void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    if (!lib) return;
    auto sym = [lib](const char* n) { return dlsym(lib, n); };
    XCalls x{};
    x.open = reinterpret_cast<decltype(x.open)>(sym("XOpenDisplay"));
    x.close = reinterpret_cast<decltype(x.close)>(sym("XCloseDisplay"));
    x.root = reinterpret_cast<decltype(x.root)>(sym("XDefaultRootWindow"));
    x.query_tree = reinterpret_cast<decltype(x.query_tree)>(sym("XQueryTree"));
    x.fetch_name = reinterpret_cast<decltype(x.fetch_name)>(sym("XFetchName"));
    x.free = reinterpret_cast<decltype(x.free)>(sym("XFree"));
    x.intern = reinterpret_cast<decltype(x.intern)>(sym("XInternAtom"));
    x.delete_property = reinterpret_cast<decltype(x.delete_property)>(sym("XDeleteProperty"));
    void* dpy = x.open && x.close && x.root && x.query_tree && x.fetch_name && x.free && x.intern &&
                        x.delete_property
                    ? x.open(nullptr)
                    : nullptr;
    if (dpy) {
        drop_close_request(x, dpy, x.root(dpy), title, 3, x.intern(dpy, "WM_PROTOCOLS", 0));
        x.close(dpy); // flushes the requests
    }
    dlclose(lib);
}

std::shared_ptr<void> connect_x_display(std::string& why) {
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        why = "No X display is available (DISPLAY is not set): the graphic interface cannot "
              "start; use -t <input file> for a text-mode run.";
        return nullptr;
    }
    // The X library is loaded with the plot library; it is asked directly so that a display
    // that cannot be reached is reported in one line.
    using OpenFn = void* (*)(const char*);
    using CloseFn = int (*)(void*);
    void* lib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    auto open_display = lib ? reinterpret_cast<OpenFn>(dlsym(lib, "XOpenDisplay")) : nullptr;
    auto close_display = lib ? reinterpret_cast<CloseFn>(dlsym(lib, "XCloseDisplay")) : nullptr;
    if (!open_display || !close_display) {
        // Without the library the plot device reports the failure itself when it opens.
        return std::shared_ptr<void>(lib, [](void* l) {
            if (l) dlclose(l);
        });
    }
    // A server whose last client has just left (a previous run ended) resets and refuses
    // connections for a moment; a start at that moment waits for it rather than failing.
    void* dpy = nullptr;
    for (int attempt = 0; attempt < 40 && !(dpy = open_display(name)); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (dpy) watch_x_errors(lib);
    if (!dpy) {
        dlclose(lib);
        why = std::string("No X display is available (cannot open display \"") + name +
              "\"): the graphic interface cannot start; use -t <input file> for a text-mode run.";
        return nullptr;
    }
    return std::shared_ptr<void>(dpy, [lib, close_display](void* d) {
        close_display(d);
        dlclose(lib);
    });
}

} // namespace korvex
