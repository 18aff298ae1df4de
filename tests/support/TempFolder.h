#pragma once

#include <QTemporaryDir>
#include <string>

namespace torvane::test {

// A fresh folder for one test, removed afterwards.
class TempFolder {
public:
    TempFolder() { dir_.setAutoRemove(true); }
    std::string Path() const { return dir_.path().toStdString(); }
    std::string File(const std::string& name) const { return Path() + "/" + name; }
    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;
    bool Exists(const std::string& name) const;

private:
    QTemporaryDir dir_;
};

// Reads a whole file; empty when it does not exist.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace torvane::test
