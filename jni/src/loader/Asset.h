#pragma once
// One asset file loaded whole. The Asset owns its bytes; it is loaded once and never copied.

#include <cstdint>
#include <string>

class Asset {
public:
    Asset() = default;
    ~Asset();
    Asset(const Asset&) = delete;
    Asset& operator=(const Asset&) = delete;

    bool Load(const std::string& assetName);
    // Next line ending at CR (an LF right after the CR is skipped; a lone LF stays in the line).
    std::string ReadLine();
    void release();

    std::string name;
    uint32_t size = 0;
    uint8_t* data = nullptr;
    uint32_t cursor = 0;
};
