// Fuzzes the whole run on a code file in a temporary directory: it must not
// crash or leak, the file must end up holding one option record for each
// non-empty line, and nothing else may be left in the directory.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "conversion_run.h"
#include "fuzz_model.h"

namespace fs = std::filesystem;

namespace {

// A fresh directory for one input, removed when that input is done: libFuzzer
// may end the process without running exit handlers.
fs::path make_work_directory() {
    static const bool quiet = [] {
        // The dialogue is not what this fuzzer checks.
        int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, STDOUT_FILENO) < 0) std::abort();
        close(null);
        return true;
    }();
    static_cast<void>(quiet);
    std::string pattern =
        (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/code2option-fuzz-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
}

std::string expected_file(const std::string& bytes) {
    std::string file;
    for (const std::string& line : model_lines(bytes))
        if (!line.empty()) file += model_record(line) + "\r\n";
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const fs::path directory = make_work_directory();
    const fs::path file = directory / "codes.txt";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) std::abort();
    }
    if (run_conversion({file.string()}) != 0) std::abort();

    std::ifstream in(file, std::ios::binary);
    std::string converted((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (converted != expected_file(bytes)) std::abort();
    for (const auto& entry : fs::directory_iterator(directory))
        if (entry.path() != file) std::abort();
    fs::remove_all(directory);
    return 0;
}
