// What the command needs besides calling the exports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A picture as the VM holds it: 0xRRGGBB values, top row first.
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::int32_t> pixels;
};

// Reads a binary PPM (P6, maxval 255). On failure says why in problem.
bool readPpm(const char* path, Picture& picture, std::string& problem);

// Calls VornNative_makeCab with the entries as the VM's string array.
std::int32_t callMakeCab(const char* directory, const char* name, const std::vector<std::string>& entries);

// Runs every service that is built on the bundled samples, writing into outDir.
int demo(const char* outDir);
