#include "listing/app_listing.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/executable_link_linux.h"
#include "common/log.h"
#include "common/protocol_text.h"
#include "common/text.h"
#include "common/user_folders_linux.h"
#include "listing/desktop_entry.h"
#include "listing/json_line.h"
#include "listing/listing_rules.h"

namespace {

// One property of a window as a list of items of its format; empty when it has none.
template <class Item>
std::vector<Item> property(Display* display, Window window, const char* name, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<Item> items;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1 << 16, False, type, &actualType,
                           &format, &count, &after, &data) == Success &&
        data != nullptr) {
        if (actualType == type) {
            // Xlib hands 32-bit items out as longs.
            const auto* values = reinterpret_cast<const Item*>(data);
            items.assign(values, values + count);
        }
        XFree(data);
    }
    return items;
}

std::string title(Display* display, Window window) {
    const auto utf8 = property<char>(display, window, "_NET_WM_NAME", XInternAtom(display, "UTF8_STRING", False));
    if (!utf8.empty()) {
        return std::string(utf8.begin(), utf8.end());
    }
    char* name = nullptr;
    std::string text;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        text = name;
        XFree(name);
    }
    return text;
}

bool isApplicationWindow(Display* display, Window window) {
    Window owner = None;
    if (XGetTransientForHint(display, window, &owner) != 0 && owner != None) {
        return false;
    }
    for (const long type : property<long>(display, window, "_NET_WM_WINDOW_TYPE", XA_ATOM)) {
        for (const char* excluded :
             {"_NET_WM_WINDOW_TYPE_UTILITY", "_NET_WM_WINDOW_TYPE_TOOLBAR", "_NET_WM_WINDOW_TYPE_DOCK",
              "_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_WINDOW_TYPE_MENU", "_NET_WM_WINDOW_TYPE_SPLASH"}) {
            if (static_cast<Atom>(type) == XInternAtom(display, excluded, False)) {
                return false;
            }
        }
    }
    return true;
}

// The top-level windows: the window manager's list, or the mapped children of the root.
std::vector<Window> topLevelWindows(Display* display) {
    const Window root = DefaultRootWindow(display);
    std::vector<Window> windows;
    for (const long window : property<long>(display, root, "_NET_CLIENT_LIST", XA_WINDOW)) {
        windows.push_back(static_cast<Window>(window));
    }
    if (!windows.empty()) {
        return windows;
    }
    Window rootReturn = None;
    Window parent = None;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, root, &rootReturn, &parent, &children, &count) != 0 && children != nullptr) {
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, children[i], &attributes) != 0 && attributes.map_state == IsViewable) {
                windows.push_back(children[i]);
            }
        }
        XFree(children);
    }
    return windows;
}

// Executable file name -> the Name of the first desktop entry that runs it.
std::map<std::string, std::string> desktopNames() {
    std::vector<std::string> folders;
    if (std::string dataHome = userBaseFolder("XDG_DATA_HOME", ".local/share"); !dataHome.empty()) {
        folders.push_back(std::move(dataHome));
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::istringstream dirs(dataDirs != nullptr && dataDirs[0] != '\0' ? dataDirs : "/usr/local/share:/usr/share");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (!dir.empty() && dir[0] == '/') {
            folders.push_back(dir);
        }
    }
    std::map<std::string, std::string> names;
    for (const std::string& folder : folders) {
        // Entries may sit in subfolders of applications/; within a folder, in name order.
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (std::filesystem::recursive_directory_iterator
                 it(folder + "/applications", std::filesystem::directory_options::skip_permission_denied, error),
             end;
             !error && it != end; it.increment(error)) {
            if (it->path().extension() == ".desktop") {
                files.push_back(it->path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const std::filesystem::path& file : files) {
            std::ifstream stream(file);
            std::stringstream text;
            text << stream.rdbuf();
            const auto entry = parseDesktopEntry(text.str());
            if (entry && !entry->hidden) {
                names.emplace(entry->executable, entry->name);
            }
        }
    }
    return names;
}

}  // namespace

void listApps() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        LogLine() << (std::getenv("WAYLAND_DISPLAY") != nullptr ? kNoX11WaylandLine : kNoX11Line);
        writeJsonListLine({});
        return;
    }
    std::map<std::uint32_t, std::string> processes;  // pid -> executable path
    for (const Window window : topLevelWindows(display)) {
        const auto pid = property<long>(display, window, "_NET_WM_PID", XA_CARDINAL);
        if (pid.empty() || pid[0] <= 0 || title(display, window).empty() || !isApplicationWindow(display, window)) {
            continue;
        }
        const auto id = static_cast<std::uint32_t>(pid[0]);
        processes.emplace(id, executableLinkOf(id));
    }
    XCloseDisplay(display);

    const std::map<std::string, std::string> names = desktopNames();
    std::vector<std::string> records;
    for (const auto& [pid, path] : processes) {
        const std::string exe = path.substr(path.rfind('/') + 1);
        if (isHiddenApp(utf8ToWide(exe))) {
            continue;
        }
        const auto named = names.find(exe);
        const std::string name = named != names.end() ? named->second : exe;
        records.push_back(appRecord({pid, utf8ToWide(name), utf8ToWide(exe), utf8ToWide(path)}));
    }
    writeJsonListLine(records);
}
