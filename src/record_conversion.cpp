// record_conversion: normalisation, field split and option-record layout.
#include "record_conversion.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// Reads lines until one is not empty; empty lines carry no code.
bool read_code_line(input_stream& in, record_buffers& buffers, std::string_view& line) {
    while (read_text_line_view(in, line, buffers.spill))
        if (!line.empty()) return true;
    return false;
}

}  // namespace

std::size_t find_normalization_point(std::string_view code_line) {
    // The pair is looked for first: most lines lack it, and then the comma
    // does not matter. A line with a comma but no such pair stays as it is.
    // Both searches cover the whole line, NUL bytes included.
    std::size_t quote = code_line.find("\"(");
    if (quote == std::string_view::npos || code_line.find(',') == std::string_view::npos)
        return std::string_view::npos;
    return quote + 1;
}

void normalize_code_line(std::string& code_line) {
    std::size_t at = find_normalization_point(code_line);
    if (at != std::string::npos) code_line.insert(at, 1, ' ');
}

namespace {

// Takes the lowest set bit of the 128-bit mask (high, low); 128 when none.
std::size_t take_lowest_bit(std::uint64_t& low, std::uint64_t& high) {
    bool in_low = low != 0;
    std::size_t at = in_low ? static_cast<std::size_t>(std::countr_zero(low))
                            : 64 + static_cast<std::size_t>(std::countr_zero(high));
    low = in_low ? low & (low - 1) : low;
    high = in_low ? high : high & (high - 1);
    return at;
}

// Lines under 128 bytes, the usual kind: the starts and ends of all words
// come from two masks, and the eight fields are taken without a branch.
code_fields split_short_line(std::string_view code_line) {
    std::uint64_t low = ~whitespace_bits(code_line, 0);
    std::uint64_t high = code_line.size() > 64 ? ~whitespace_bits(code_line, 64) : 0;
    std::uint64_t starts_low = low & ~(low << 1);
    std::uint64_t starts_high = high & ~(high << 1 | low >> 63);
    std::uint64_t ends_low = ~low & (low << 1);
    std::uint64_t ends_high = ~high & (high << 1 | low >> 63);
    code_fields fields;
    for (std::string_view& field : fields) {
        std::size_t start = std::min(take_lowest_bit(starts_low, starts_high), code_line.size());
        std::size_t end = std::min(take_lowest_bit(ends_low, ends_high), code_line.size());
        field = std::string_view(code_line.data() + start, end - start);
    }
    return fields;
}

}  // namespace

code_fields split_fields(std::string_view code_line) {
    if (code_line.size() < 128) return split_short_line(code_line);
    // The words of the line are where whitespace bits change, 64 bytes at a
    // time; the scan stops at the end of field 8.
    code_fields fields;
    std::size_t found = 0;
    std::size_t start = 0;
    bool in_word = false;
    for (std::size_t base = 0; base < code_line.size(); base += 64) {
        std::uint64_t word_bits = ~whitespace_bits(code_line, base);
        std::uint64_t changes = word_bits ^ (word_bits << 1 | std::uint64_t{in_word});
        for (; changes != 0; changes &= changes - 1) {
            std::size_t at = base + static_cast<std::size_t>(std::countr_zero(changes));
            if (in_word) {
                fields[found++] = std::string_view(code_line.data() + start, at - start);
                if (found == fields.size()) return fields;
            }
            start = at;
            in_word = !in_word;
        }
    }
    if (in_word) fields[found] = code_line.substr(start);
    return fields;
}

namespace {

// Copies `size` bytes in two moves of `width` bytes that overlap in the
// middle: no byte outside the piece is read or written.
template <std::size_t width>
void copy_ends(char* out, const char* from, std::size_t size) {
    char head[width];
    char tail[width];
    std::memcpy(head, from, width);
    std::memcpy(tail, from + size - width, width);
    std::memcpy(out, head, width);
    std::memcpy(out + size - width, tail, width);
}

// Fields are mostly a few bytes long: a call to memcpy for each would cost
// more than the copy.
[[gnu::always_inline]] inline char* copy_piece(char* out, std::string_view piece) {
    const char* from = piece.data();
    const std::size_t size = piece.size();
    if (size > 16) {
        std::memcpy(out, from, size);
    } else if (size >= 8) {
        copy_ends<8>(out, from, size);
    } else if (size >= 4) {
        copy_ends<4>(out, from, size);
    } else if (size > 0) {
        out[0] = from[0];
        out[size / 2] = from[size / 2];
        out[size - 1] = from[size - 1];
    }
    return out + size;
}

}  // namespace

void format_option_record(const code_fields& f, std::string& record) {
    // f[n - 1] is field n. The 21 fixed characters are six spaces, ": ",
    // " x " and " </option>"; fields 6, 7 and 8 come twice.
    record.resize(21 + f[0].size() + f[1].size() + f[2].size() + f[3].size() + f[4].size() +
                  2 * (f[5].size() + f[6].size() + f[7].size()));
    char* out = record.data();
    out = copy_piece(out, f[0]);
    *out++ = ' ';
    out = copy_piece(out, f[1]);
    *out++ = ' ';
    out = copy_piece(out, f[2]);
    out = copy_piece(out, f[3]);
    out = copy_piece(out, f[5]);
    *out++ = ' ';
    out = copy_piece(out, f[6]);
    *out++ = ' ';
    out = copy_piece(out, f[7]);
    *out++ = ' ';
    out = copy_piece(out, f[4]);
    *out++ = ' ';
    out = copy_piece(out, f[5]);
    out = copy_piece(out, ": ");
    out = copy_piece(out, f[6]);
    out = copy_piece(out, " x ");
    out = copy_piece(out, f[7]);
    copy_piece(out, " </option>");
}

bool convert_code_line(input_stream& in, record_buffers& buffers, output_stream& out) {
    std::string_view line;
    if (!read_code_line(in, buffers, line)) return false;
    // Most lines need no change, and are split where they lie in the buffer.
    if (std::size_t at = find_normalization_point(line); at != std::string_view::npos) {
        buffers.code_line.assign(line);
        buffers.code_line.insert(at, 1, ' ');
        line = buffers.code_line;
    }
    // A record holds no line feed: no field holds whitespace.
    format_option_record(split_fields(line), buffers.record);
    write_line(out, buffers.record);
    return true;
}
