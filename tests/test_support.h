// Helpers shared by the tests: temporary directories and whole-file I/O.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace fs = std::filesystem;

// A fresh directory under /tmp, removed with everything in it at the end.
struct temp_dir {
    fs::path path;
    temp_dir() {
        std::string pattern = (fs::temp_directory_path() / "code2option-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    ~temp_dir() {
        std::error_code ignored;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path, ignored);
    }
};

inline void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

inline std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing " + path.string() + ">";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::set<std::string> list_names(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// A test name made of the case's description: letters and digits kept,
// everything else an underscore.
inline std::string name_of_case(const char* what) {
    std::string name;
    for (const char* p = what; *p != '\0'; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}
