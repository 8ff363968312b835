// conversion_run: the dialogue, the count pass, the record pass and the
// write-back of one run.
#include "conversion_run.h"

#include <string>
#include <string_view>
#include <vector>

#include "record_conversion.h"

namespace {

// Echoes the name, then puts the converted file in place of the code file.
// On any failure the code file keeps its content and the dialogue says so.
bool write_back(output_stream& console, const std::string& file_name, output_stream& code_out,
                bool converted) {
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
    bool holds_code = false;
    while (!in.eof && !in.fail) {
        skip_text_line(in, holds_code);
        if (holds_code) ++count;
    }
    return count;
}

bool convert_code_lines(input_stream& in, std::int64_t count, output_stream& out) {
    record_buffers buffers;
    for (std::int64_t record_number = 1; record_number <= count; ++record_number)
        if (!convert_code_line(in, buffers, out)) return false;
    // A code line past the count means the file grew between the passes;
    // replacing it now would lose that line.
    bool holds_code = false;
    while (skip_text_line(in, holds_code))
        if (holds_code) return false;
    return !in.read_error;
}

namespace {

enum class file_outcome { converted, not_opened, not_written };

// Everything a run reports about one code file, from "// Processing... " or
// "could not open file " to the summary line.
file_outcome convert_code_file(output_stream& console_out, const std::string& file_name) {
    std::int64_t count = 0;
    file_outcome outcome = file_outcome::converted;
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
        // Closed first: on Windows an open file cannot be replaced.
        close_code_file(code_in);
        if (!write_back(console_out, file_name, code_out, converted))
            outcome = file_outcome::not_written;
    } else {
        write_text(console_out, "could not open file ");
        write_text(console_out, file_name);
        end_line(console_out);
        outcome = file_outcome::not_opened;
    }
    write_number(console_out, count);
    write_text(console_out, " bouwkamp files ");
    end_line(console_out);
    return outcome;
}

// The dialogue: the prompt, one name from standard input, that file. A name
// that does not open ends the dialogue with status 0, as it always has.
int run_dialogue(output_stream& console_out) {
    input_stream console_in;
    open_standard_input(console_in, console_out);
    std::string file_name;
    write_text(console_out, "// Input bouwkampcode or tablecode file name; ");
    read_field(console_in, file_name);
    return convert_code_file(console_out, file_name) == file_outcome::not_written ? 1 : 0;
}

// Named files, in turn; the others are converted even where one fails.
int run_on_files(output_stream& console_out, const std::vector<std::string>& files) {
    int exit_status = 0;
    for (const std::string& file_name : files)
        if (convert_code_file(console_out, file_name) != file_outcome::converted) exit_status = 1;
    return exit_status;
}

const char* const usage_text =
    "Usage: code2option [FILE]...\n"
    "Convert files of Bouwkamp or table codes, one code a line, into the option\n"
    "records of an HTML selection list, rewriting each file in place.\n"
    "\n"
    "With no FILE, ask for one file name on standard input.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "  --             take every later argument as a FILE\n"
    "\n"
    "A file is replaced only by its complete conversion; a file that cannot\n"
    "be written keeps its content. Output lines end in CR LF.\n"
    "\n"
    "Exit status: 0 when every file was converted, 1 when a file could not be\n"
    "opened or written (with no FILE: written), 2 for an unknown option.\n";

// Sorts the arguments into file names and the first option, if any; "--"
// ends the options, and "-" alone is a file name.
std::string_view sort_arguments(const std::vector<std::string>& arguments,
                                std::vector<std::string>& files) {
    std::string_view option;
    bool options_ended = false;
    for (const std::string& argument : arguments) {
        if (options_ended || argument.size() < 2 || argument[0] != '-') {
            files.push_back(argument);
        } else if (argument == "--") {
            options_ended = true;
        } else if (option.empty()) {
            option = argument;
        }
    }
    return option;
}

int report_unknown_option(std::string_view option) {
    output_stream console_err;
    open_standard_error(console_err);
    write_text(console_err, "code2option: unknown option '");
    write_text(console_err, option);
    write_text(console_err, "'; try 'code2option --help'\n");
    flush_output(console_err);
    return 2;
}

}  // namespace

int run_conversion(const std::vector<std::string>& arguments) {
    output_stream console_out;
    open_standard_output(console_out);
    std::vector<std::string> files;
    std::string_view option = sort_arguments(arguments, files);
    if (option == "-h" || option == "--help" || option == "--version") {
        write_text(console_out,
                   option == "--version" ? "code2option " CODE2OPTION_VERSION "\n" : usage_text);
        return flush_output(console_out) ? 0 : 1;
    }
    if (!option.empty()) return report_unknown_option(option);
    if (files.empty()) return run_dialogue(console_out);
    return run_on_files(console_out, files);
}
