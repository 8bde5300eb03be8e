// The options huemill takes, read by hand: there is no getopt on Windows,
// and a dozen lines say it all.
#include "options.hpp"

#include <cstring>
#include <string_view>

#include "message.hpp"

namespace huemill {

const char help_text[] =
    "huemill turns palette files into listings, NAME.pal.c for each palette, beside it or\n"
    "in one folder, as lines of hexadecimal values or as a table a C program includes.\n"
    "\n"
    "Usage: huemill [OPTION]... FILE...\n"
    "\n"
    "      --format=FORMAT   listing (the default), or c: a C and C++ table\n"
    "  -o, --output-dir=DIR  write every listing into the folder DIR\n"
    "      --strict          fail a file instead of warning of it, keeping its old listing\n"
    "  -k, --keep-going      after a file that fails, go on with the next\n"
    "  -h, --help            show this help, and end\n"
    "      --version         show the version, and end\n"
    "\n"
    "Without -k the run stops at the first file that fails. A file whose name starts\n"
    "with '-' is named ./-x.pal, or after --. More in the manual: man huemill\n";

namespace {

// One option: its long name, its short letter (or 0), and whether it takes
// a value, and which.
struct Option {
    std::string_view name;
    char letter;
    const char* value;  // what its value is, for a message; nullptr: it takes none
};
constexpr Option known[] = {
    {"format", 0, "a format, listing or c"},
    {"output-dir", 'o', "a folder"},
    {"strict", 0, nullptr},
    {"keep-going", 'k', nullptr},
    {"help", 'h', nullptr},
    {"version", 0, nullptr},
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

CommandLineError unknown(std::string_view argument, std::string_view option) {
    std::string why = "unknown option";
    if (option != argument) {
        why.append(" ").append(option);
    }
    why.append(" (a file whose name starts with '-' is named ./");
    append_printable(why, argument);
    return {std::string(argument), why.append(", or after --)")};
}

// Sets what option asks for, with value where it takes one. Returns true,
// or false with error saying why not, naming what as the user wrote it.
bool take(const Option& option, const char* value, const std::string& what, Options& options,
          CommandLineError& error) {
    if (option.name == "format") {
        if (std::strcmp(value, "listing") == 0) {
            options.format = Format::listing;
        } else if (std::strcmp(value, "c") == 0) {
            options.format = Format::c;
        } else {
            error = {what, "unknown format (listing or c)"};
            return false;
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
    return true;
}

}  // namespace

bool read_options(int argc, char** arguments, Options& options, CommandLineError& error) {
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
                error = unknown(argument, argument.substr(0, equals));
                return false;
            }
            std::string what(argument);
            const char* value = nullptr;
            if (option->value == nullptr && equals != std::string_view::npos) {
                error = {what, "--" + std::string(name) + " takes no value"};
                return false;
            }
            if (option->value != nullptr && equals != std::string_view::npos) {
                value = arguments[at - 1] + equals + 1;
            } else if (option->value != nullptr) {
                if (at == argc) {
                    error = {what, std::string("needs ") + option->value};
                    return false;
                }
                value = arguments[at++];
                what.append(" ").append(value);
            }
            if (!take(*option, value, what, options, error)) {
                return false;
            }
            continue;
        }
        // Short options, alone or together; one that takes a value takes
        // the rest of the word, or else the next argument.
        for (std::size_t letter = 1; letter < argument.size(); ++letter) {
            const Option* option = by_letter(argument[letter]);
            if (option == nullptr) {
                error = unknown(argument, std::string("-") + argument[letter]);
                return false;
            }
            std::string what = std::string("-") + argument[letter];
            const char* value = nullptr;
            if (option->value != nullptr) {
                if (letter + 1 < argument.size()) {
                    value = arguments[at - 1] + letter + 1;
                } else if (at == argc) {
                    error = {what, std::string("needs ") + option->value};
                    return false;
                } else {
                    value = arguments[at++];
                }
                what.append(" ").append(value);
            }
            if (!take(*option, value, what, options, error)) {
                return false;
            }
            if (option->value != nullptr) {
                break;
            }
        }
    }
    options.first_file = at;
    return true;
}

}  // namespace huemill
