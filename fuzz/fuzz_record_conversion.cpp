// Fuzzes record conversion: on any line, the option record ends with
// "</option>", holds no line feed and exactly ten spaces, and equals the
// plain model of the layout.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_model.h"
#include "record_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string original(reinterpret_cast<const char*>(data), size);
    std::string line = original;
    normalize_code_line(line);
    std::string record = "stale";
    format_option_record(split_fields(line), record);

    const std::string closing = "</option>";
    bool closed = record.size() >= closing.size() &&
                  record.compare(record.size() - closing.size(), closing.size(), closing) == 0;
    if (!closed || record.find('\n') != std::string::npos ||
        std::count(record.begin(), record.end(), ' ') != 10 || record != model_record(original))
        std::abort();
    return 0;
}
