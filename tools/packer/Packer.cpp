// lumenfall-pack ASSET_DIR OUTPUT
// Packs every regular file of ASSET_DIR into a zip archive as "assets/<name>" (deflated, with
// the files' own dates), then scrambles the archive with the loader's XOR key. With
// SOURCE_DATE_EPOCH set, no date is later than it (in UTC), so builds of the same content on
// any machine give the same archive.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <minizip/zip.h>

#include "loader/Loader.h"

namespace {

bool readFile(const std::string& path, std::vector<unsigned char>& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bytes.clear();
    unsigned char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// SOURCE_DATE_EPOCH in seconds, or -1 when unset or not a plain number.
long long sourceDateEpoch() {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr || *text == '\0') {
        return -1;
    }
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    return *end == '\0' && value >= 0 ? value : -1;
}

zip_fileinfo fileDate(time_t when, long long epoch) {
    zip_fileinfo info{};
    struct tm local {};
    if (epoch >= 0) {
        const time_t clamp = static_cast<time_t>(epoch);
        when = std::min(when, clamp);
        gmtime_r(&when, &local);
    } else {
        localtime_r(&when, &local);
    }
    info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
    return info;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lumenfall-pack ASSET_DIR OUTPUT\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string output = argv[2];

    std::vector<std::string> names;
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) {
        std::fprintf(stderr, "lumenfall-pack: cannot read %s\n", dir.c_str());
        return 1;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (name[0] != '.' && stat((dir + "/" + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            names.push_back(name);
        }
    }
    closedir(listing);
    std::sort(names.begin(), names.end());

    const std::string temporary = output + ".zip-tmp";
    zipFile zip = zipOpen(temporary.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) {
        std::fprintf(stderr, "lumenfall-pack: cannot create %s\n", temporary.c_str());
        return 1;
    }
    bool ok = true;
    const long long epoch = sourceDateEpoch();
    std::vector<unsigned char> bytes;
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        struct stat info {};
        if (stat(path.c_str(), &info) != 0 || !readFile(path, bytes)) {
            std::fprintf(stderr, "lumenfall-pack: cannot read %s\n", path.c_str());
            ok = false;
            break;
        }
        const zip_fileinfo date = fileDate(info.st_mtime, epoch);
        const std::string entry = "assets/" + name;
        if (zipOpenNewFileInZip(zip, entry.c_str(), &date, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, Z_BEST_COMPRESSION) != ZIP_OK ||
            zipWriteInFileInZip(zip, bytes.data(), static_cast<unsigned>(bytes.size())) != ZIP_OK ||
            zipCloseFileInZip(zip) != ZIP_OK) {
            std::fprintf(stderr, "lumenfall-pack: cannot add %s\n", entry.c_str());
            ok = false;
            break;
        }
    }
    if (zipClose(zip, nullptr) != ZIP_OK) {
        ok = false;
    }
    if (ok && readFile(temporary, bytes)) {
        Loader::Scramble(bytes.data(), bytes.size());
        ok = writeFile(output, bytes);
    } else {
        ok = false;
    }
    std::remove(temporary.c_str());
    if (!ok) {
        std::fprintf(stderr, "lumenfall-pack: failed to write %s\n", output.c_str());
        return 1;
    }
    std::printf("lumenfall-pack: %zu files into %s\n", names.size(), output.c_str());
    return 0;
}
