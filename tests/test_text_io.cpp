// The byte rules of reading and writing, the count and record passes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "conversion_run.h"
#include "test_support.h"
#include "text_io.h"

namespace {

using namespace std::string_literals;

// What reading a file must give, built the plain way: CR dropped, the input
// ends at 0x1A, lines split at LF; an empty remainder after the last LF is
// no line.
std::vector<std::string> model_lines(const std::string& bytes) {
    std::string kept;
    for (char c : bytes) {
        if (c == '\x1a') break;
        if (c != '\r') kept.push_back(c);
    }
    std::vector<std::string> lines{""};
    for (char c : kept) {
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back().push_back(c);
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

void close_handle_for_test(input_stream& in) {
    ::close(static_cast<int>(in.handle));
    in.handle = no_file;
}

// Reads every line of a file with read buffers of `block_size` bytes.
std::vector<std::string> read_lines(const fs::path& file, std::size_t block_size) {
    input_stream in;
    open_code_file_for_reading(in, file.string());
    in.buffer.resize(block_size);
    std::vector<std::string> lines;
    std::string line;
    while (read_text_line(in, line)) lines.push_back(line);
    EXPECT_TRUE(in.eof && in.fail);
    return lines;
}

// Skips every line of a file; for each, whether it held anything.
std::vector<bool> skip_lines(const fs::path& file, std::size_t block_size) {
    input_stream in;
    open_code_file_for_reading(in, file.string());
    in.buffer.resize(block_size);
    std::vector<bool> held;
    bool holds_text = false;
    while (skip_text_line(in, holds_text)) held.push_back(holds_text);
    EXPECT_TRUE(in.eof && in.fail);
    return held;
}

std::vector<bool> non_empty(const std::vector<std::string>& lines) {
    std::vector<bool> held(lines.size());
    std::transform(lines.begin(), lines.end(), held.begin(),
                   [](const std::string& line) { return !line.empty(); });
    return held;
}

struct line_case {
    std::string bytes;
    std::vector<std::string> lines;
};

TEST(read_text_line, follows_the_input_text_rules) {
    const line_case cases[] = {
        {"A\r\nB\r\n", {"A", "B"}},
        {"A\rB\n", {"AB"}},
        {"A\n\nB", {"A", "", "B"}},
        {"\r\n", {""}},
        {"\r\r\r", {}},
        {"", {}},
        {"A\r", {"A"}},
        {"A\n\x1a"
         "B\n",
         {"A"}},
        {"\x1a"
         "A\n",
         {}},
        {"\0\x7f\x80\xff\n"s, {"\0\x7f\x80\xff"s}},
    };
    temp_dir dir;
    for (const line_case& c : cases) {
        write_file(dir.path / "f", c.bytes);
        EXPECT_EQ(read_lines(dir.path / "f", 4096), c.lines) << testing::PrintToString(c.bytes);
        EXPECT_EQ(skip_lines(dir.path / "f", 4096), non_empty(c.lines))
            << testing::PrintToString(c.bytes);
    }
}

TEST(read_text_line, gives_the_same_lines_for_every_block_size) {
    // CR, LF, CR LF, runs of CR and a late 0x1A land on every block boundary.
    std::string bytes;
    for (int i = 0; i < 40; ++i) {
        bytes += std::string(static_cast<std::size_t>(i % 7), 'a' + i % 26);
        bytes += (i % 3 == 0) ? "\r\n" : (i % 3 == 1) ? "\n" : "\r\r";
        if (i % 5 == 0) bytes += "\n\r";
    }
    bytes +=
        "tail\x1a"
        "after the end\n";
    temp_dir dir;
    write_file(dir.path / "f", bytes);
    std::vector<std::string> expected = model_lines(bytes);
    ASSERT_EQ(expected.back(), "tail");
    for (std::size_t block = 1; block <= bytes.size() + 1; ++block) {
        ASSERT_EQ(read_lines(dir.path / "f", block), expected) << "block size " << block;
        ASSERT_EQ(skip_lines(dir.path / "f", block), non_empty(expected)) << "block " << block;
    }
}

TEST(read_text_line, delivers_a_line_longer_than_any_buffer) {
    std::string big(700000, 'x');
    big[350000] = '\r';
    temp_dir dir;
    write_file(dir.path / "f", big + "\r\nshort");
    std::string expected = big;
    expected.erase(350000, 1);
    EXPECT_EQ(read_lines(dir.path / "f", 256 * 1024),
              (std::vector<std::string>{expected, "short"}));
}

TEST(read_text_line, keeps_the_target_once_the_stream_has_failed) {
    temp_dir dir;
    write_file(dir.path / "f", "A\n");
    input_stream in;
    open_code_file_for_reading(in, (dir.path / "f").string());
    std::string line;
    EXPECT_TRUE(read_text_line(in, line));
    EXPECT_FALSE(read_text_line(in, line));
    EXPECT_EQ(line, "");  // the read that met the end gave an empty line
    line = "kept";
    EXPECT_FALSE(read_text_line(in, line));
    EXPECT_EQ(line, "kept");
}

TEST(rewind_code_file, reads_again_from_the_first_byte_and_lifts_the_0x1a_end) {
    temp_dir dir;
    write_file(dir.path / "f",
               "A\n\x1a"
               "B\n");
    input_stream in;
    open_code_file_for_reading(in, (dir.path / "f").string());
    for (int pass = 0; pass < 2; ++pass) {
        std::string line;
        EXPECT_TRUE(read_text_line(in, line));
        EXPECT_EQ(line, "A");
        EXPECT_FALSE(read_text_line(in, line));
        EXPECT_TRUE(in.eof && in.fail);
        EXPECT_TRUE(rewind_code_file(in));
        EXPECT_FALSE(in.eof || in.fail);
    }
}

TEST(read_field, reads_words_by_the_fixed_whitespace_set) {
    struct {
        std::string bytes;
        std::vector<std::string> words;
    } cases[] = {
        {"  AB\txy\n", {"AB", "xy"}},
        {"a\vb\fc\rd", {"a", "b", "cd"}},  // CR is dropped before words are seen
        {"\xa0\x85 \0z"s, {"\xa0\x85", "\0z"s}},
        {" \n \r\n", {}},
        {"", {}},
        {"one\x1atwo", {"one"}},
    };
    temp_dir dir;
    for (auto& c : cases) {
        write_file(dir.path / "f", c.bytes);
        for (std::size_t block : {1u, 2u, 4096u}) {
            input_stream in;
            open_code_file_for_reading(in, (dir.path / "f").string());
            in.buffer.resize(block);
            std::vector<std::string> words;
            std::string word = "untouched";
            while (read_field(in, word)) words.push_back(word);
            EXPECT_EQ(words, c.words) << testing::PrintToString(c.bytes) << " block " << block;
            EXPECT_TRUE(in.eof && in.fail);
            if (c.words.empty()) {
                EXPECT_EQ(word, "untouched");
            }
        }
    }
}

TEST(open_code_file_for_reading, opens_only_existing_regular_files) {
    temp_dir dir;
    write_file(dir.path / "f", "x");
    fs::create_directory(dir.path / "d");
    const std::string cases[] = {"", (dir.path / "missing").string(), (dir.path / "d").string(),
                                 (dir.path / "f").string() + "\0tail"s};
    for (const std::string& name : cases) {
        input_stream in;
        open_code_file_for_reading(in, name);
        EXPECT_FALSE(is_open(in)) << name;
        EXPECT_TRUE(in.fail) << name;
        std::string line = "kept";
        EXPECT_FALSE(read_text_line(in, line));
        EXPECT_EQ(line, "kept");
    }
}

// Opens a code file for reading and its replacement for writing, as a run
// does.
void open_for_replacing(const fs::path& path, input_stream& in, output_stream& out) {
    open_code_file_for_reading(in, path.string());
    open_code_file_for_writing(out, path.string(), in);
}

// Replaces the file at `path` with `text`, through every step of a run.
bool write_through(const fs::path& path, const std::string& text, std::size_t block_size) {
    input_stream in;
    output_stream out;
    open_for_replacing(path, in, out);
    if (!is_open(out)) return false;
    out.buffer.resize(block_size);
    write_text(out, text);
    return close_code_file(out);
}

TEST(write_text, writes_every_line_feed_as_cr_lf_whatever_the_buffer_size) {
    const std::string text = "x\ny\n\r\n\nlast\0\xff"s;
    const std::string expected = "x\r\ny\r\n\r\r\n\r\nlast\0\xff"s;
    temp_dir dir;
    for (std::size_t block : {1u, 2u, 3u, 5u, 4096u}) {
        write_file(dir.path / "f", "old");
        ASSERT_TRUE(write_through(dir.path / "f", text, block));
        EXPECT_EQ(read_file(dir.path / "f"), expected) << "block " << block;
    }
    ASSERT_TRUE(write_through(dir.path / "f", "", 4096));
    EXPECT_EQ(read_file(dir.path / "f"), "");
    EXPECT_EQ(list_names(dir.path), std::set<std::string>{"f"});
}

TEST(write_number, writes_plain_decimal_digits) {
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, "0"},
        {42, "42"},
        {1000, "1000"},
        {2147483648LL, "2147483648"},
        {9223372036854775807LL, "9223372036854775807"}};
    temp_dir dir;
    for (auto& [value, digits] : cases) {
        write_file(dir.path / "f", "");
        input_stream in;
        output_stream out;
        open_for_replacing(dir.path / "f", in, out);
        write_number(out, value);
        ASSERT_TRUE(close_code_file(out));
        EXPECT_EQ(read_file(dir.path / "f"), digits);
    }
}

TEST(open_code_file_for_writing, leaves_the_code_file_alone_until_the_close) {
    temp_dir dir;
    write_file(dir.path / "f", "old\n");
    {
        input_stream in;
        output_stream out;
        open_for_replacing(dir.path / "f", in, out);
        ASSERT_TRUE(is_open(out));
        write_text(out, std::string(1 << 20, 'n'));
        EXPECT_EQ(read_file(dir.path / "f"), "old\n");
        EXPECT_EQ(list_names(dir.path).size(), 2u);  // the code file and the new one
    }  // dropped without a close: the new file goes, the old content stays
    EXPECT_EQ(read_file(dir.path / "f"), "old\n");
    EXPECT_EQ(list_names(dir.path), std::set<std::string>{"f"});
}

TEST(count_code_lines, counts_the_non_empty_lines) {
    const std::pair<std::string, std::int64_t> cases[] = {{"", 0},
                                                          {"\n\n\r\n", 0},
                                                          {"a\nb\n", 2},
                                                          {"a\nb", 2},
                                                          {"a\n\n \n\tb\n\n", 3},
                                                          {"a\n\x1a"
                                                           "b\n",
                                                           1}};
    temp_dir dir;
    for (auto& [bytes, count] : cases) {
        write_file(dir.path / "f", bytes);
        input_stream in;
        open_code_file_for_reading(in, (dir.path / "f").string());
        EXPECT_EQ(count_code_lines(in), count) << testing::PrintToString(bytes);
        EXPECT_TRUE(in.eof);
    }
}

TEST(convert_code_lines, skips_empty_lines_and_stops_at_the_count) {
    temp_dir dir;
    write_file(dir.path / "f", "\n1 2 3 4 5 6 7 8\n\n\n  \nlast\n\n");
    input_stream in;
    open_code_file_for_reading(in, (dir.path / "f").string());
    std::int64_t count = count_code_lines(in);
    ASSERT_EQ(count, 3);
    ASSERT_TRUE(rewind_code_file(in));
    output_stream out;
    open_code_file_for_writing(out, (dir.path / "f").string(), in);
    EXPECT_TRUE(convert_code_lines(in, count, out));
    ASSERT_TRUE(close_code_file(out));
    EXPECT_EQ(read_file(dir.path / "f"),
              "1 2 346 7 8 5 6: 7 x 8 </option>\r\n"
              "      :  x  </option>\r\n"
              "last      :  x  </option>\r\n");
}

TEST(convert_code_lines, goes_ahead_only_while_the_file_holds_the_counted_codes) {
    // The file as the count pass saw it, then as the record pass finds it.
    const struct {
        const char* what;
        std::string counted, found;
        bool goes_ahead;
    } cases[] = {
        {"unchanged", "a\nb\n", "a\nb\n", true},
        {"a code line appended", "a\nb\n", "a\nb\n\n\nc\n", false},
        {"only empty lines appended", "a\nb\n", "a\nb\n\r\n\n", true},
        {"cut short", "a\nb\nc\n", "a\n", false},
    };
    temp_dir dir;
    for (const auto& c : cases) {
        write_file(dir.path / "f", c.counted);
        input_stream in;
        open_code_file_for_reading(in, (dir.path / "f").string());
        std::int64_t count = count_code_lines(in);
        write_file(dir.path / "f", c.found);  // same file, rewritten
        ASSERT_TRUE(rewind_code_file(in));
        output_stream out;
        open_code_file_for_writing(out, (dir.path / "f").string(), in);
        EXPECT_EQ(convert_code_lines(in, count, out), c.goes_ahead) << c.what;
    }
}

TEST(convert_code_lines, reports_a_read_error) {
    // A handle open for writing only: every read of it fails.
    temp_dir dir;
    write_file(dir.path / "f", "a\nb\n");
    input_stream in;
    output_stream out;
    open_for_replacing(dir.path / "f", in, out);
    ASSERT_TRUE(is_open(out));
    close_handle_for_test(in);
    in.handle = ::open((dir.path / "f").c_str(), O_WRONLY);
    in.owns_handle = true;
    std::int64_t count = count_code_lines(in);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(in.read_error);
    ASSERT_TRUE(rewind_code_file(in));
    EXPECT_TRUE(in.read_error);  // kept across the rewind
    EXPECT_FALSE(convert_code_lines(in, count, out));
}

}  // namespace
