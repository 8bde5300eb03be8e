// The options huemill takes, read by hand: there is no getopt on Windows,
// and a dozen lines say it all.
#include "options.hpp"

#include <cstring>
#include <string_view>

namespace huemill {

const char help_text[] =
    "huemill turns palette files into listings: NAME.pal.c for each, beside it or in one\n"
    "folder, as the declaration and record lines it always wrote or as a C table.\n"
    "\n"
    "Usage: huemill [OPTION]... FILE...\n"
    "\n"
    "      --format=FORMAT    listing (the default) or c, a table a C or C++ program includes\n"
    "  -o, --output-dir=DIR   write every listing into the folder DIR\n"
    "      --strict           fail a file that would draw a warning, and keep its old listing\n"
    "  -k, --keep-going       go on after a file that fails; the status still says so\n"
    "  -h, --help             show this help and end\n"
    "      --version          show huemill's version and end\n"
    "\n"
    "The run stops at the first file that fails, but with -k. Full documentation: man huemill\n";

namespace {

// One option: its long name, its short letter (or 0), and whether it takes
// a value, and which.
struct Option {
    std::string_view name;
    char letter;
    const char* value;  // what its value is, for a message; nullptr: it takes none
};
constexpr Option known[] = {
    {"format", 0, "a format, listing or c"}, {"output-dir", 'o', "a folder"},
    {"strict", 0, nullptr},                  {"keep-going", 'k', nullptr},
    {"help", 'h', nullptr},                  {"version", 0, nullptr},
};

const Option* by_name(std::string_view name) {
    for (const Option& option : known) {
        if (option.name == name) {
            return &option;
        }
    }
    return nullptr;
}

const Option* by_letter(char letter) {
    for (const Option& option : known) {
        if (option.letter == letter && letter != 0) {
            return &option;
        }
    }
    return nullptr;
}

std::string unknown(std::string_view argument, std::string_view option) {
    std::string said(argument);
    said.append(": unknown option");
    if (option != argument) {
        said.append(" ").append(option);
    }
    return said.append(" (a file whose name starts with '-' is named ./")
        .append(argument)
        .append(", or after --)");
}

// Sets what option asks for, with value where it takes one. Returns "" or
// why not, naming what as the user wrote it.
std::string take(const Option& option, const char* value, std::string_view what,
                 Options& options) {
    if (option.name == "format") {
        if (std::strcmp(value, "listing") == 0) {
            options.format = Format::listing;
        } else if (std::strcmp(value, "c") == 0) {
            options.format = Format::c;
        } else {
            return std::string(what) + ": unknown format (listing or c)";
        }
    } else if (option.name == "output-dir") {
        options.output_dir = value;
    } else if (option.name == "strict") {
        options.strict = true;
    } else if (option.name == "keep-going") {
        options.keep_going = true;
    } else if (option.name == "help") {
        options.help = true;
    } else {
        options.version = true;
    }
    return "";
}

}  // namespace

std::string read_options(int argc, char** arguments, Options& options) {
    int at = 1;
    while (at < argc) {
        const std::string_view argument(arguments[at]);
        if (argument == "--") {
            ++at;
            break;
        }
        if (argument.size() < 2 || argument[0] != '-') {
            break;  // the first file name, "-" included
        }
        ++at;
        if (argument[1] == '-') {
            const std::size_t equals = argument.find('=');
            const std::string_view name = argument.substr(2, equals - 2);
            const Option* option = by_name(name);
            if (option == nullptr) {
                return unknown(argument, argument.substr(0, equals));
            }
            const char* value = nullptr;
            std::string what(argument);
            if (option->value == nullptr && equals != std::string_view::npos) {
                return what + ": --" + std::string(name) + " takes no value";
            }
            if (option->value != nullptr && equals != std::string_view::npos) {
                value = arguments[at - 1] + equals + 1;
            } else if (option->value != nullptr) {
                if (at == argc) {
                    return what + ": needs " + option->value;
                }
                value = arguments[at++];
                what.append(" ").append(value);
            }
            if (std::string error = take(*option, value, what, options); !error.empty()) {
                return error;
            }
            continue;
        }
        // Short options, alone or together; one that takes a value takes
        // the rest of the word, or else the next argument.
        for (std::size_t letter = 1; letter < argument.size(); ++letter) {
            const Option* option = by_letter(argument[letter]);
            if (option == nullptr) {
                return unknown(argument, std::string("-") + argument[letter]);
            }
            const char* value = nullptr;
            std::string what = std::string("-") + argument[letter];
            if (option->value != nullptr) {
                if (letter + 1 < argument.size()) {
                    value = arguments[at - 1] + letter + 1;
                } else if (at == argc) {
                    return what + ": needs " + option->value;
                } else {
                    value = arguments[at++];
                }
                what.append(" ").append(value);
            }
            if (std::string error = take(*option, value, what, options); !error.empty()) {
                return error;
            }
            if (option->value != nullptr) {
                break;
            }
        }
    }
    options.first_file = at;
    return "";
}

}  // namespace huemill
