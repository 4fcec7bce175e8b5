// Scratch directories and whole-file reads and writes for tests.
#ifndef TESTS_SUPPORT_FILES_H
#define TESTS_SUPPORT_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh, empty directory under the test's working directory, removed again
// when the object goes (unless KIT_KEEP_TEST_DIRS is set).
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);  // empty when missing
std::string ReadFileText(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteFileText(const std::string& path, const std::string& text);
bool FileExists(const std::string& path);

}  // namespace testsupport

#endif  // TESTS_SUPPORT_FILES_H
