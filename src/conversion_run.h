// conversion_run: one run of the tool, from the prompt to the exit status.
#pragma once

#include <cstdint>

#include "text_io.h"

// Reads the code file to its end; returns the number of non-empty lines.
std::int64_t count_code_lines(input_stream& in);

// Record pass: converts `count` code lines from `in` into `out`. False when
// the code file ran out of code lines first, i.e. it changed under the run
// or could not be read; its replacement must then not go ahead.
bool convert_code_lines(input_stream& in, std::int64_t count, output_stream& out);

// Asks for the code file's name on standard input, converts that file in
// place and reports on standard output. Returns the exit status: 1 when the
// converted file could not be written, else 0.
int run_conversion();
