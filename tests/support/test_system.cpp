// Test support: the platform-free part of files by name (test_system.h).
#include "test_system.h"

#include <filesystem>
#include <fstream>
#include <sstream>

std::string TempDir::Join(const std::string& name) const {
    return PathJoin(path_, name);
}

std::string PathJoin(const std::string& dir, const std::string& name) {
    if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\'))
        return dir + name;
    return dir + PathSeparator() + name;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
}

bool ReadBytes(const std::string& path, std::string& bytes) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return true;
}
