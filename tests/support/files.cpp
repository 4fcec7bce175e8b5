#include "tests/support/files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace testsupport {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(const std::string& name) {
    fs::path p = fs::current_path() / "scratch" / name;
    std::error_code ec;
    fs::remove_all(p, ec);
    fs::create_directories(p);
    path_ = p.string();
}

ScratchDir::~ScratchDir() {
    if (std::getenv("KIT_KEEP_TEST_DIRS") == nullptr) {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteFileText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
    return fs::exists(path);
}

}  // namespace testsupport
