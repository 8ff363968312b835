// Writes a seeded, realistic code file for the benchmark: Bouwkamp-like
// lines of varied length with CR LF line ends, some holding a quotation mark
// right before a left parenthesis, a few blank lines.
//
// usage: generate_codes BYTES SEED > file   (at least BYTES bytes)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// xorshift64*: the same numbers for a seed on every platform and compiler.
std::uint64_t next_random(std::uint64_t& state) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ULL;
}

unsigned pick(std::uint64_t& state, unsigned low, unsigned high) {
    return low + static_cast<unsigned>(next_random(state) % (high - low + 1));
}

// One code: order, width, height, bracketed groups of square sizes, then
// "* order : WxH" and a letter.
std::string make_code_line(std::uint64_t& state) {
    unsigned order = pick(state, 9, 40);
    unsigned width = pick(state, 30, 400);
    unsigned height = pick(state, 30, 400);
    std::string line =
        std::to_string(order) + " " + std::to_string(width) + " " + std::to_string(height) + " ";
    if (pick(state, 0, 19) == 0) line += '"';  // every 20th: the "( pair
    unsigned groups = pick(state, 3, 12);
    for (unsigned g = 0; g < groups; ++g) {
        line += '(';
        unsigned sizes = pick(state, 1, 4);
        for (unsigned s = 0; s < sizes; ++s) {
            if (s > 0) line += ',';
            line += std::to_string(pick(state, 1, 120));
        }
        line += ')';
    }
    line += " * " + std::to_string(order) + " : " + std::to_string(width) + "x" +
            std::to_string(height) + static_cast<char>('A' + pick(state, 0, 3));
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: generate_codes BYTES SEED\n");
        return 2;
    }
    const unsigned long long target = std::strtoull(argv[1], nullptr, 10);
    std::uint64_t state = std::strtoull(argv[2], nullptr, 10) * 0x9E3779B97F4A7C15ULL | 1;
    unsigned long long written = 0;
    std::string line;
    while (written < target) {
        line = pick(state, 0, 999) == 0 ? "" : make_code_line(state);
        line += "\r\n";
        written += std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
