// conversion_run: the dialogue, the count pass, the record pass and the
// write-back of one run.
#include "conversion_run.h"

#include <string>

#include "record_conversion.h"

namespace {

// Echoes the name, then puts the converted file in place of the code file.
// On any failure the code file keeps its content and the dialogue says so.
bool write_back(output_stream& console, const std::string& file_name,
                output_stream& code_out, bool converted) {
    write_text(console, file_name);
    end_line(console);
    if (converted && close_code_file(code_out)) return true;
    close_code_file(code_out);
    write_text(console, "could not write file ");
    write_text(console, file_name);
    end_line(console);
    return false;
}

}  // namespace

std::int64_t count_code_lines(input_stream& in) {
    std::int64_t count = 0;
    std::string_view line;
    std::string spill;
    while (!in.eof && !in.fail) {
        read_text_line_view(in, line, spill);
        if (!line.empty()) ++count;
    }
    return count;
}

bool convert_code_lines(input_stream& in, std::int64_t count, output_stream& out) {
    record_buffers buffers;
    for (std::int64_t record_number = 1; record_number <= count; ++record_number)
        if (!convert_code_line(in, buffers, out)) return false;
    return true;
}

int run_conversion() {
    output_stream console_out;
    input_stream console_in;
    open_standard_output(console_out);
    open_standard_input(console_in, console_out);

    std::string file_name;
    std::int64_t count = 0;
    int exit_status = 0;
    write_text(console_out, "// Input bouwkampcode or tablecode file name; ");
    read_field(console_in, file_name);

    input_stream code_in;
    open_code_file_for_reading(code_in, file_name);
    if (is_open(code_in)) {
        count = count_code_lines(code_in);
        bool rewound = rewind_code_file(code_in);
        write_text(console_out, "// Processing... ");
        end_line(console_out);
        output_stream code_out;
        if (rewound) open_code_file_for_writing(code_out, file_name, code_in);
        bool converted = is_open(code_out) && convert_code_lines(code_in, count, code_out);
        if (!write_back(console_out, file_name, code_out, converted)) exit_status = 1;
        close_code_file(code_in);
    } else {
        write_text(console_out, "could not open file ");
        write_text(console_out, file_name);
        end_line(console_out);
    }
    write_number(console_out, count);
    write_text(console_out, " bouwkamp files ");
    end_line(console_out);
    return exit_status;
}
