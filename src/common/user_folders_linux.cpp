#include "common/user_folders_linux.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

void makePrivateFolder(const std::string& path) {
    mkdir(path.c_str(), 0700);
}

std::string userBaseFolder(const char* variable, const std::string& belowHome, FolderMaking making) {
    std::string folder;
    if (const char* configured = std::getenv(variable); configured != nullptr && configured[0] == '/') {
        folder = configured;
    } else if (const passwd* user = getpwuid(getuid());
               user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
        folder = user->pw_dir;
        for (std::size_t slash = belowHome.find('/'); making == FolderMaking::MakeMissing && slash != std::string::npos;
             slash = belowHome.find('/', slash + 1)) {
            makePrivateFolder(folder + "/" + belowHome.substr(0, slash));
        }
        folder += "/" + belowHome;
    } else {
        return std::string();
    }
    if (making == FolderMaking::MakeMissing) {
        makePrivateFolder(folder);
    }
    return folder;
}
