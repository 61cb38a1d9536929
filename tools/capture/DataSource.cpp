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

DataFolder findDataFolder(const std::string& dataDir) {
    std::error_code code;
    if (!dataDir.empty()) {
        if (!fs::is_directory(dataDir, code)) {
            return {false, {}, "--data: " + dataDir + " is not a folder"};
        }
        if (!holdsContent(dataDir)) {
            return {false, {}, "--data: " + dataDir + " holds neither demo.dat nor assets/"};
        }
        return {true, dataDir, {}};
    }
    if (holdsContent(".")) {
        return {true, ".", {}};
    }
    const fs::path installed = installedFolder();
    if (!installed.empty() && fs::is_regular_file(installed / "demo.dat", code)) {
        return {true, installed.string(), {}};
    }
    return {false, {},
            "no demo.dat or assets/ here, and no installed show" +
                (installed.empty() ? std::string() : " in " + installed.string()) +
                "; name the show's folder with --data DIR"};
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
