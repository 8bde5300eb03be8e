// Feeds arbitrary bytes to the option reader as a command line (arguments
// split at each NUL byte, after the program's name) and checks what it
// makes of them: file names put last, none of them an option, or one
// message line that names the fault and that no byte of the command line
// can break or turn into a terminal's command.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "message.hpp"
#include "options.hpp"
#include "unicode.hpp"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "option check failed: %s\n", what);
        std::abort();
    }
}

// Whether text is one line: a line end at its end alone, and no character
// a message shows escaped.
bool one_line(std::string_view text) {
    if (text.empty() || text.back() != '\n') {
        return false;
    }
    text.remove_suffix(1);
    while (!text.empty()) {
        char32_t code_point = static_cast<unsigned char>(text.front());
        std::size_t length = 1;
        if (code_point >= 0x80) {
            length = huemill::utf8_character(text, code_point);
        }
        if (length == 0 || (code_point != '\\' && huemill::shown_escaped(code_point))) {
            return false;
        }
        text.remove_prefix(length);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = {"huemill"};
    words.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.emplace_back();
        } else {
            words.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<char*> arguments;
    for (std::string& word : words) {
        arguments.push_back(word.data());
    }
    arguments.push_back(nullptr);
    const int count = static_cast<int>(words.size());

    huemill::Options options;
    huemill::CommandLineError error;
    if (!huemill::read_options(count, arguments.data(), options, error)) {
        check(!error.what.empty() && !error.why.empty(), "a fault named and said");
        std::string line;
        huemill::append_line(line, error.what, error.why);
        check(one_line(line), "one line, nothing a terminal acts on");
        return 0;
    }
    check(options.first_file >= 1 && options.first_file <= count, "where the files start");
    // The file names, put last: none is an option, unless "--" came.
    bool dashes = false;
    for (const std::string& word : words) {
        dashes = dashes || word == "--";
    }
    for (int at = options.first_file; at < count; ++at) {
        const std::string_view file(arguments[static_cast<std::size_t>(at)]);
        check(dashes || file.size() < 2 || file[0] != '-', "no option taken for a file");
    }
    check(options.table_name == nullptr || count - options.first_file <= 1, "--name, one file");
    if (options.output_dir != nullptr) {
        bool from_an_argument = false;
        for (const std::string& word : words) {
            const char* start = word.data();
            from_an_argument = from_an_argument || (options.output_dir >= start &&
                                                    options.output_dir <= start + word.size());
        }
        check(from_an_argument, "the folder is part of an argument");
    }
    return 0;
}
