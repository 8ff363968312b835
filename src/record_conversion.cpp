// record_conversion: normalisation, field split and option-record layout.
#include "record_conversion.h"

#include <cstring>

namespace {

// The first place where a quotation mark stands right before a left
// parenthesis, or npos. Searches the whole line, NUL bytes included.
std::size_t find_quote_paren(std::string_view line) {
    std::size_t pos = 0;
    while ((pos = line.find('"', pos)) != std::string_view::npos) {
        if (pos + 1 < line.size() && line[pos + 1] == '(') return pos;
        ++pos;
    }
    return std::string_view::npos;
}

// Reads lines until one is not empty; empty lines carry no code.
bool read_code_line(input_stream& in, std::string& code_line) {
    while (read_text_line(in, code_line))
        if (!code_line.empty()) return true;
    return false;
}

}  // namespace

void normalize_code_line(std::string& code_line) {
    if (code_line.find(',') == std::string::npos) return;
    // A line with a comma but no such pair stays as it is.
    std::size_t pair = find_quote_paren(code_line);
    if (pair != std::string::npos) code_line.insert(pair + 1, 1, ' ');
}

code_fields split_fields(std::string_view code_line) {
    code_fields fields;
    std::size_t pos = 0;
    for (std::string_view& field : fields) field = take_word(code_line, pos);
    return fields;
}

void format_option_record(const code_fields& f, std::string& record) {
    // Fields are numbered from 1 in the layout; f[n - 1] is field n.
    record.clear();
    for (std::string_view piece :
         {f[0], std::string_view(" "), f[1], std::string_view(" "), f[2], f[3], f[5],
          std::string_view(" "), f[6], std::string_view(" "), f[7], std::string_view(" "), f[4],
          std::string_view(" "), f[5], std::string_view(": "), f[6], std::string_view(" x "),
          f[7], std::string_view(" </option>")})
        record.append(piece);
}

bool convert_code_line(input_stream& in, record_buffers& buffers, output_stream& out) {
    if (!read_code_line(in, buffers.code_line)) return false;
    normalize_code_line(buffers.code_line);
    format_option_record(split_fields(buffers.code_line), buffers.record);
    buffers.record.push_back('\n');
    write_text(out, buffers.record);
    return true;
}
