// conversion_run: one run of the tool, from the prompt to the exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "text_io.h"

// Reads the code file to its end; returns the number of non-empty lines.
std::int64_t count_code_lines(input_stream& in);

// Record pass: converts `count` code lines from `in` into `out`. False when
// the code file no longer holds exactly `count` code lines (it changed
// under the run) or a read failed in either pass; its replacement must then
// not go ahead.
bool convert_code_lines(input_stream& in, std::int64_t count, output_stream& out);

// The whole run. With no arguments: asks for the code file's name on
// standard input, converts that file in place and reports on standard
// output; the exit status is 1 when the converted file could not be
// written, else 0. With file names: converts each in turn without asking;
// 1 when any could not be opened or written. --help and --version print and
// end with 0; an unknown option is reported on standard error, status 2.
int run_conversion(const std::vector<std::string>& arguments);
