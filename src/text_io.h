// text_io: every byte that crosses the tool's boundary goes through here.
//
// Input: carriage returns are dropped and a 0x1A byte ends the input.
// Output: every line feed leaves as CR LF. The same bytes on every platform,
// whatever block sizes the platform reads in. The platform's own calls stay
// inside text_io.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A file descriptor on POSIX, a HANDLE on Windows.
using platform_handle = std::intptr_t;
inline constexpr platform_handle no_file = -1;

// The fixed whitespace set: HT, LF, VT, FF, CR and SP. No locale.
constexpr bool is_whitespace_byte(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Bit k is set where text[base + k] is whitespace, for the 64 bytes from
// base on; bytes past the end count as whitespace. base <= text.size().
std::uint64_t whitespace_bits(std::string_view text, std::size_t base);

// A sink of bytes under the line-end rule. Writes are buffered; once a write
// fails, the stream is failed and drops everything after.
//
// A code-file output stream writes to a temporary file; close_code_file
// replaces the code file with it, and the destructor removes it unless that
// succeeded, so the code file never holds a partial output.
struct output_stream {
    platform_handle handle = no_file;
    bool owns_handle = false;
    bool failed = false;
    std::vector<char> buffer;
    std::size_t used = 0;

    // Code file only: where the output goes and how it gets there.
    std::string temp_path;                    // empty when there is no temporary file
    std::string target_path;                  // the code file, symbolic links resolved
    platform_handle target_handle = no_file;  // the code file, open for writing
    bool may_rename = false;                  // false: copy into the code file in place

    output_stream() = default;
    output_stream(const output_stream&) = delete;
    output_stream& operator=(const output_stream&) = delete;
    ~output_stream();
};

// A source of bytes under the input text rules, with the end-of-file and
// failure states of a stream.
struct input_stream {
    platform_handle handle = no_file;
    bool owns_handle = false;
    bool at_end = false;  // the platform's end, a read error or a 0x1A byte
    bool eof = false;
    bool fail = false;
    // A read failed since the open: what was read may be incomplete. Unlike
    // the states, a rewind keeps it.
    bool read_error = false;
    std::vector<char> buffer;  // bytes read, cut at a 0x1A; the readers drop CRs
    std::size_t begin = 0;
    std::size_t end = 0;
    output_stream* tied = nullptr;  // flushed before each read_field

    input_stream() = default;
    input_stream(const input_stream&) = delete;
    input_stream& operator=(const input_stream&) = delete;
    ~input_stream();
};

// Standard input, output and error as raw byte streams; never closed here.
void open_standard_output(output_stream& out);
void open_standard_error(output_stream& out);
void open_standard_input(input_stream& in, output_stream& tied_output);

// Opens an existing regular file for reading. A directory, a device or a
// missing file leaves the stream closed with its failure state set.
void open_code_file_for_reading(input_stream& in, const std::string& name);
bool is_open(const input_stream& in);

// Reads the next line (up to a line feed, which is consumed, or the end).
// Returns false when no line was delivered (failure state set).
bool read_text_line(input_stream& in, std::string& line);

// The same without a copy: `line` views the read buffer, valid until the
// next read; a line that spans refills of the buffer is gathered in `spill`.
// `line` is empty when no line was delivered.
bool read_text_line_view(input_stream& in, std::string_view& line, std::string& spill);

// Reads past the next line as read_text_line would, without delivering it:
// `holds_text` tells whether it was non-empty. Faster where only that counts.
bool skip_text_line(input_stream& in, bool& holds_text);

// Reads the next whitespace-separated word; the target keeps its value when
// there is none.
bool read_field(input_stream& in, std::string& word);

// Back to the first byte, states cleared. False when the platform cannot
// reposition the file; the stream is then failed.
bool rewind_code_file(input_stream& in);

// Prepares the replacement of the code file that `in` has open: a new file
// that close_code_file puts in its place. The stream is not open when the
// code file may not be written or no temporary file can be made.
void open_code_file_for_writing(output_stream& out, const std::string& name,
                                const input_stream& in);
bool is_open(const output_stream& out);

void write_text(output_stream& out, std::string_view text);
// Writes a line that holds no line feed, then a line end, without searching
// it for line feeds; an option record is such a line.
void write_line(output_stream& out, std::string_view line);
void write_number(output_stream& out, std::int64_t value);
// Writes a line feed and flushes.
void end_line(output_stream& out);
// Hands the buffered bytes over; false once the stream has failed.
bool flush_output(output_stream& out);

void close_code_file(input_stream& in);
// Flushes the output, puts it durably in place of the code file and closes.
// True only when the code file now holds the complete output; otherwise the
// temporary file is removed.
bool close_code_file(output_stream& out);
