// Record conversion: normalisation, field split and the option-record layout.
#include <algorithm>
#include <string>

#include "record_conversion.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;

std::string convert(std::string line) {
    normalize_code_line(line);
    std::string record;
    format_option_record(split_fields(line), record);
    return record;
}

struct record_case {
    const char* what;
    std::string line;
    std::string record;
};

void PrintTo(const record_case& c, std::ostream* os) { *os << c.what; }

class record_table : public testing::TestWithParam<record_case> {};

TEST_P(record_table, gives_the_option_record) {
    const record_case& c = GetParam();
    std::string record = convert(c.line);
    EXPECT_EQ(record, c.record) << c.what;
    EXPECT_EQ(std::count(record.begin(), record.end(), ' '), 10) << c.what;
}

const std::string empty_record = "      :  x  </option>";

INSTANTIATE_TEST_SUITE_P(
    layout, record_table,
    testing::Values(
        record_case{"letters a to h", "a b c d e f g h", "a b cdf g h e f: g x h </option>"},
        record_case{"digits 1 to 8", "1 2 3 4 5 6 7 8", "1 2 346 7 8 5 6: 7 x 8 </option>"},
        record_case{"fields 9 and 10 leave no trace", "1 2 3 4 5 6 7 8 9 10",
                    "1 2 346 7 8 5 6: 7 x 8 </option>"},
        record_case{"three fields", "1 2 3", "1 2 3    :  x  </option>"},
        record_case{"empty line", "", empty_record},
        record_case{"spaces and tabs only", " \t  \t", empty_record},
        record_case{"runs of whitespace are one separator", "\t 1  2\v3\f4 \t5 6 7 8  ",
                    "1 2 346 7 8 5 6: 7 x 8 </option>"},
        record_case{"a real code without the pair stays unchanged",
                    "13 98 97 (56,42)(16,26)(41,13,2)(11,7)(4,3)(29)(28) * 13 : 98x97A",
                    "13 98 97(56,42)(16,26)(41,13,2)(11,7)(4,3)(29)(28)13 : 98x97A * 13: : x "
                    "98x97A </option>"},
        record_case{"comma: the pair gains a space", "ab\"(1,2)(3) c d e f g h",
                    "ab\" (1,2)(3) cdf g h e f: g x h </option>"},
        record_case{"no comma: the pair stays", "ab\"(12)(3) c d e f g h",
                    "ab\"(12)(3) c deg h  f g: h x  </option>"},
        record_case{"only the first pair changes", "x\"(1)\"(2,3) a b d e f g h",
                    "x\" (1)\"(2,3) abe f g d e: f x g </option>"},
        record_case{"the pair may stand before the comma", "k\"(3) 1,2 m n o p r s",
                    "k\" (3) 1,2mo p r n o: p x r </option>"},
        record_case{"a quotation mark at the very end", "a,b c\"", "a,b c\"     :  x  </option>"},
        record_case{"pair searched past a NUL byte", "a\0b\"(1) 2,3"s,
                    "a\0b\" (1) 2,3    :  x  </option>"s},
        record_case{"NUL and high bytes are field bytes", "\x80\xff \0\x7f 3 4 5 6 7 8"s,
                    "\x80\xff \0\x7f 346 7 8 5 6: 7 x 8 </option>"s},
        record_case{"0x1A and angle brackets are ordinary", "<a> \x1a 3 4 5 6 7 8",
                    "<a> \x1a 346 7 8 5 6: 7 x 8 </option>"}),
    [](const testing::TestParamInfo<record_case>& info) { return name_of_case(info.param.what); });

TEST(normalize_code_line, changes_only_lines_with_a_comma) {
    const struct {
        std::string before, after;
    } cases[] = {
        {"\"(", "\"("},     {",\"(", ",\" ("}, {"\"(,", "\" (,"}, {"\"\"(,\"(", "\"\" (,\"("},
        {"\"x(,", "\"x(,"}, {",", ","},        {"", ""},
    };
    for (const auto& c : cases) {
        std::string line = c.before;
        normalize_code_line(line);
        EXPECT_EQ(line, c.after) << c.before;
    }
}

TEST(split_fields, takes_the_first_eight_words_and_leaves_the_rest_empty) {
    code_fields fields = split_fields("  one\ttwo\r\nthree ");
    EXPECT_EQ(fields[0], "one");
    EXPECT_EQ(fields[1], "two");
    EXPECT_EQ(fields[2], "three");
    for (std::size_t i = 3; i < fields.size(); ++i) EXPECT_TRUE(fields[i].empty()) << i;
}

// The word rule, one byte at a time: the plain model that split_fields must match.
code_fields split_fields_bytewise(std::string_view line) {
    code_fields fields;
    std::size_t pos = 0;
    for (std::string_view& field : fields) {
        while (pos < line.size() && is_whitespace_byte(line[pos])) ++pos;
        std::size_t start = pos;
        while (pos < line.size() && !is_whitespace_byte(line[pos])) ++pos;
        field = line.substr(start, pos - start);
    }
    return fields;
}

TEST(split_fields, matches_the_word_rule_at_every_length_and_offset) {
    // Whitespace of every kind on and around the 16- and 64-byte steps of the scan.
    const std::string alphabet = "ab(,)\"\x80\xff\x1a\x00\x08\x0e\x1f!  \t\n\v\f\r"s;
    std::uint32_t state = 12345;
    for (std::size_t length = 0; length <= 300; ++length) {
        for (int round = 0; round < 20; ++round) {
            std::string line;
            for (std::size_t i = 0; i < length; ++i) {
                state = state * 1103515245u + 12345u;
                // Mostly word bytes, so that fields run long across the steps.
                std::size_t pick = (state >> 16) % (round % 2 ? alphabet.size() : 12);
                line.push_back(alphabet[pick]);
            }
            ASSERT_EQ(split_fields(line), split_fields_bytewise(line))
                << testing::PrintToString(line);
        }
    }
}

TEST(format_option_record, replaces_what_the_record_held) {
    std::string record = "left over from the last line";
    format_option_record(split_fields("a b c d e f g h"), record);
    EXPECT_EQ(record, "a b cdf g h e f: g x h </option>");
}

TEST(format_option_record, copies_long_fields_whole) {
    std::string big(300000, 'q');
    std::string record;
    format_option_record(split_fields(big + " 2"), record);
    EXPECT_EQ(record, big + " 2     :  x  </option>");
}

}  // namespace
