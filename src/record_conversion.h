// record_conversion: one code line becomes one option record.
//
// The line is normalised (a line holding a comma gets a space after the first
// quotation mark that stands right before a left parenthesis), split into its
// first eight whitespace-separated fields, and laid out in the fixed order of
// the option record, closed by "</option>".
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "text_io.h"

// Fields 1 to 8; views into the normalised code line.
using code_fields = std::array<std::string_view, 8>;

// Where normalisation puts its space: right after the first quotation mark
// that stands before a left parenthesis, on a line that holds a comma; npos
// when the line stays as it is.
std::size_t find_normalization_point(std::string_view code_line);
void normalize_code_line(std::string& code_line);
code_fields split_fields(std::string_view code_line);
// Replaces `record` by the option record of the fields.
void format_option_record(const code_fields& fields, std::string& record);

// Buffers that one record needs, reused from record to record so that a
// long run allocates nothing per line.
struct record_buffers {
    std::string spill;      // a line longer than the read buffer
    std::string code_line;  // a line that normalisation changes
    std::string record;
};

// Reads the next non-empty line of the code file and writes its option
// record and a line end to `out`. False when the code file has no more line.
bool convert_code_line(input_stream& in, record_buffers& buffers, output_stream& out);
