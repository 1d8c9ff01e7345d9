#pragma once

// Captures what the code under test writes to standard output (printf included), byte for byte.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class StdoutCapture {
  public:
    StdoutCapture() {
        std::fflush(stdout);
        file_ = std::tmpfile();
        if (file_ == nullptr) std::abort();
        saved_ = dup(STDOUT_FILENO);
        dup2(fileno(file_), STDOUT_FILENO);
    }
    ~StdoutCapture() {
        restore();
        std::fclose(file_);
    }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written so far; standard output goes back to where it was.
    std::string text() {
        restore();
        std::string out;
        std::rewind(file_);
        char block[4096];
        size_t got;
        while ((got = std::fread(block, 1, sizeof block, file_)) > 0) out.append(block, got);
        return out;
    }

  private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }

    std::FILE* file_ = nullptr;
    int saved_ = -1;
};
