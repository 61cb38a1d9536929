#include "loader/Asset.h"

#include "loader/Loader.h"
#include "progress/Progress.h"
#include "report/Errors.h"

Asset::~Asset() { release(); }

void Asset::release() {
    delete[] data;
    data = nullptr;
}

bool Asset::Load(const std::string& assetName) {
    progressStep();
    name = assetName;
    if (Loader::Get(name, size, data)) {
        return true;
    }
    reportError("Load error : " + name);
    return false;
}

std::string Asset::ReadLine() {
    std::string line;
    while (cursor < size && data[cursor] != 0x0D) {
        line += static_cast<char>(data[cursor]);
        ++cursor;
    }
    ++cursor;
    if (cursor < size && data[cursor] == 0x0A) {
        ++cursor;
    }
    return line;
}
