#include "DataSource.h"

#include <filesystem>
#include <system_error>

#include "loader/Loader.h"

namespace {

namespace fs = std::filesystem;

bool holdsContent(const fs::path& folder) {
    std::error_code code;
    return fs::is_regular_file(folder / "demo.dat", code) ||
           fs::is_directory(folder / "assets", code);
}

// The installed data folder, LUMENFALL_DATA_FROM_BIN away from the folder of this program's
// file, so that a moved or staged installation finds its own data.
fs::path installedFolder() {
    std::error_code code;
    const fs::path self = fs::read_symlink("/proc/self/exe", code);
    if (code || self.empty()) {
        return {};
    }
    return (self.parent_path() / LUMENFALL_DATA_FROM_BIN).lexically_normal();
}

} // namespace

bool findDataFolder(const std::string& dataDir, std::string& folder, std::string& error) {
    std::error_code code;
    if (!dataDir.empty()) {
        if (!fs::is_directory(dataDir, code)) {
            error = "--data: " + dataDir + " is not a folder";
            return false;
        }
        if (!holdsContent(dataDir)) {
            error = "--data: " + dataDir + " holds neither demo.dat nor assets/";
            return false;
        }
        folder = dataDir;
        return true;
    }
    if (holdsContent(".")) {
        folder = ".";
        return true;
    }
    const fs::path installed = installedFolder();
    if (!installed.empty() && fs::is_regular_file(installed / "demo.dat", code)) {
        folder = installed.string();
        return true;
    }
    error = "no demo.dat or assets/ here, and no installed show" +
            (installed.empty() ? std::string() : " in " + installed.string()) +
            "; name the show's folder with --data DIR";
    return false;
}

void openDataFolder(const std::string& folder) {
    // The working folder keeps the players' own relative names (and their messages).
    if (folder == ".") {
        Loader::SetFolder("./assets/");
        Loader::Open("demo.dat");
        return;
    }
    const fs::path base(folder);
    Loader::SetFolder((base / "assets/").string());
    Loader::Open((base / "demo.dat").string());
}
