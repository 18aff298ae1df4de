#include "support/TempFolder.h"

#include <sys/stat.h>
#include <fstream>
#include <sstream>

namespace torvane::test {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void TempFolder::Write(const std::string& name, const std::string& bytes) const {
    WriteFile(File(name), bytes);
}

std::string TempFolder::Read(const std::string& name) const {
    return ReadFile(File(name));
}

bool TempFolder::Exists(const std::string& name) const {
    struct stat st {};
    return ::stat(File(name).c_str(), &st) == 0;
}

}  // namespace torvane::test
