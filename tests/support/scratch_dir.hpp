// A fresh temporary working directory for one test: the library's files ("debug2",
// the lock files) land there, so tests running side by side never meet.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace qmrt::test {

class ScratchDir {
public:
    ScratchDir() : previous_(std::filesystem::current_path()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "qmrt-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        std::filesystem::current_path(path_);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

}  // namespace qmrt::test
