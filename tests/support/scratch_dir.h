#pragma once

// A fresh directory under the system's temporary folder, removed with everything in it at the end
// of the test.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "talveron-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    void write(const std::string& name, const std::string& content) const {
        std::ofstream out(path_ / name, std::ios::binary);
        out << content;
    }

  private:
    std::filesystem::path path_;
};

// Runs the test's code with the scratch directory as the current directory.
class CurrentDir {
  public:
    explicit CurrentDir(const std::filesystem::path& dir)
        : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~CurrentDir() { std::filesystem::current_path(saved_); }
    CurrentDir(const CurrentDir&) = delete;
    CurrentDir& operator=(const CurrentDir&) = delete;

  private:
    std::filesystem::path saved_;
};
