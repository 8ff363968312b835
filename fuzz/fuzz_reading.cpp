// Fuzzes the reading rules: any bytes, read through buffers of a
// fuzzer-chosen size, give the same lines and the same words as when read
// in one block, and as the plain model of the rules; skipping the lines
// sees the same lines.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_model.h"
#include "text_io.h"

namespace {

// The input lives in a memory file; each stream reads it through a handle
// of its own from the first byte, with a buffer of the chosen size.
int memory_file() {
    static const int fd = memfd_create("code2option-fuzz", 0);
    return fd;
}

void open_with_block(input_stream& in, std::size_t block) {
    in.handle = dup(memory_file());
    in.owns_handle = true;
    if (in.handle < 0 || !rewind_code_file(in)) std::abort();
    in.buffer.resize(block);
}

// Everything `read` delivers (read_text_line or read_field), in order.
template <typename reader>
std::vector<std::string> read_all(std::size_t block, reader read) {
    input_stream in;
    open_with_block(in, block);
    std::vector<std::string> pieces;
    std::string piece;
    while (read(in, piece)) pieces.push_back(piece);
    if (!in.eof || !in.fail) std::abort();
    return pieces;
}

std::vector<std::string> read_lines(std::size_t block) { return read_all(block, read_text_line); }

// For each line skipped, whether it held anything.
std::vector<bool> skip_lines(std::size_t block) {
    input_stream in;
    open_with_block(in, block);
    std::vector<bool> held;
    bool holds_text = false;
    while (skip_text_line(in, holds_text)) held.push_back(holds_text);
    if (!in.eof || !in.fail) std::abort();
    return held;
}
std::vector<std::string> read_words(std::size_t block) { return read_all(block, read_field); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t line_block = 1 + data[0] % 64;
    const std::size_t word_block = 1 + data[1] % 64;
    const std::string bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    if (ftruncate(memory_file(), 0) != 0 ||
        pwrite(memory_file(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        std::abort();

    const std::size_t whole = bytes.size() + 1;
    std::vector<std::string> lines = read_lines(line_block);
    if (lines != read_lines(whole) || lines != model_lines(bytes)) std::abort();
    std::vector<bool> held = skip_lines(line_block);
    if (held.size() != lines.size()) std::abort();
    for (std::size_t k = 0; k < lines.size(); ++k)
        if (held[k] == lines[k].empty()) std::abort();
    std::vector<std::string> words = read_words(word_block);
    if (words != read_words(whole) || words != model_words(model_filtered(bytes))) std::abort();
    return 0;
}
