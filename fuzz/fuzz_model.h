// Plain models for the fuzzers: the reading rules and the record layout
// written the obvious way, one byte at a time, to hold the fast code to.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "text_io.h"

// The bytes the readers see: CR dropped, the input ends at 0x1A.
inline std::string model_filtered(const std::string& bytes) {
    std::string kept;
    for (char c : bytes) {
        if (c == '\x1a') break;
        if (c != '\r') kept.push_back(c);
    }
    return kept;
}

// The lines read_text_line delivers: an empty rest after the last LF is none.
inline std::vector<std::string> model_lines(const std::string& bytes) {
    std::vector<std::string> lines{""};
    for (char c : model_filtered(bytes)) {
        if (c == '\n') {
            lines.emplace_back();
        } else {
            lines.back().push_back(c);
        }
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

inline std::vector<std::string> model_words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (!is_whitespace_byte(c)) {
            word.push_back(c);
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

// The option record of one code line, by the table of its 22 pieces.
inline std::string model_record(std::string line) {
    if (line.find(',') != std::string::npos) {
        std::size_t pair = line.find("\"(");
        if (pair != std::string::npos) line.insert(pair + 1, " ");
    }
    std::vector<std::string> words = model_words(line);
    words.resize(std::max<std::size_t>(words.size(), 8));
    const std::array<std::string, 8> f{words[0], words[1], words[2], words[3],
                                       words[4], words[5], words[6], words[7]};
    return f[0] + " " + f[1] + " " + f[2] + f[3] + f[5] + " " + f[6] + " " + f[7] + " " + f[4] +
           " " + f[5] + ":" + " " + f[6] + " x " + f[7] + " " + "</option>";
}
