#include "listing/app_listing.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
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

// The most a desktop entry may hold to be read (real ones hold a few KiB); a larger one is
// skipped.
constexpr std::size_t kMaxDesktopEntryBytes = 64 * 1024;
// The most folder entries, of any kind, that the walk over the applications/ folders meets: it
// stops there, whatever the folders hold, so that the listing ends in bounded time (an entry
// read takes well under a millisecond, a full one included).
constexpr std::size_t kMaxWalkedEntries = 4096;

// The text of a desktop entry, when the file is a regular one (after its links: Flatpak's and
// Snap's entries are links) of at most kMaxDesktopEntryBytes. Anything else is not even opened
// (opening a device can act on it); what is opened is opened without blocking, so that a FIFO put
// in the file's place is never waited on, and checked again on its descriptor, so that only
// what was checked is read.
std::optional<std::string> readDesktopEntryFile(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return std::nullopt;
    }
    const int descriptor = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    std::optional<std::string> text;
    struct stat info;
    if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uintmax_t>(info.st_size) <= kMaxDesktopEntryBytes) {
        // One byte more than the bound: a file that has grown past it since is skipped too.
        std::string content(kMaxDesktopEntryBytes + 1, '\0');
        std::size_t length = 0;
        bool failed = false;
        while (length < content.size()) {
            const ssize_t got = read(descriptor, content.data() + length, content.size() - length);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                failed = got < 0;
                break;
            }
            length += static_cast<std::size_t>(got);
        }
        if (!failed && length <= kMaxDesktopEntryBytes) {
            content.resize(length);
            text = std::move(content);
        }
    }
    close(descriptor);
    return text;
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
    std::size_t walked = 0;
    for (const std::string& folder : folders) {
        // Entries may sit in subfolders of applications/; within a folder, in name order.
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (std::filesystem::recursive_directory_iterator
                 it(folder + "/applications", std::filesystem::directory_options::skip_permission_denied, error),
             end;
             !error && it != end && walked < kMaxWalkedEntries; it.increment(error), ++walked) {
            if (it->path().extension() == ".desktop") {
                files.push_back(it->path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const std::filesystem::path& file : files) {
            const std::optional<std::string> text = readDesktopEntryFile(file);
            const auto entry = text ? parseDesktopEntry(*text) : std::nullopt;
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
