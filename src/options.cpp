// The options huemill takes, read by hand (Windows has no getopt): one
// table names them, and one switch says what each does.
#include "options.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "message.hpp"
#include "unicode.hpp"

namespace huemill {

// The files a synopsis names, in the usage text as in --help's.
#define HUEMILL_FILES "file1.pal [file2.pal, file3.pal ...]"

const char usage_text[] = "\nUsage:  huemill " HUEMILL_FILES "\n";

const char help_text[] =
    "huemill turns palette files into listings, NAME.pal.c for each palette, beside it or\n"
    "in one folder, as lines of hexadecimal values or as a table a C program includes.\n"
    "\n"
    "Usage:  huemill [OPTION]... " HUEMILL_FILES
    "\n"
    "\n"
    "      --format=FORMAT   listing (the default), or c: a C and C++ table, and with it:\n"
    "      --type=TYPE         u8, u16 or u32: values of that <stdint.h> type\n"
    "      --name=NAME         the table's name, for one palette\n"
    "      --extern            a table a program's source files share (one defines it)\n"
    "  -o, --output-dir=DIR  write every listing into the folder DIR\n"
    "      --strict          fail a file instead of warning of it, keeping its old listing\n"
    "  -k, --keep-going      after a file that fails, go on with the next\n"
    "  -h, --help            show this help, and end\n"
    "      --version         show the version, and end\n"
    "\n"
    "Options count wherever they stand, up to --. Without -k the run stops at the first\n"
    "file that fails. A file whose name starts with '-' is named ./-x.pal, or after --.\n"
    "More in the manual: man huemill\n";

#undef HUEMILL_FILES

namespace {

// What an option asks for.
enum class Asks { format, type, name, shared, output_dir, strict, keep_going, help, version };

// One option: what it asks for, its long name, its short letter (or 0),
// and whether it takes a value, and which.
struct Option {
    Asks asks;
    std::string_view name;
    char letter;
    const char* value;  // what its value is, for a message; nullptr: it takes none
};
constexpr Option known[] = {
    {Asks::format, "format", 0, "a format, listing or c"},
    {Asks::type, "type", 0, "a type, u8, u16 or u32"},
    {Asks::name, "name", 0, "a name"},
    {Asks::shared, "extern", 0, nullptr},
    {Asks::output_dir, "output-dir", 'o', "a folder"},
    {Asks::strict, "strict", 0, nullptr},
    {Asks::keep_going, "keep-going", 'k', nullptr},
    {Asks::help, "help", 'h', nullptr},
    {Asks::version, "version", 0, nullptr},
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
        why.append(" ");
        append_printable(why, option);
    }
    why.append(" (a file whose name starts with '-' is named ./");
    append_printable(why, argument);
    return {std::string(argument), why.append(", or after --)")};
}

// Sets what option asks for, with value where it takes one. Returns true,
// or false with error saying why not, naming what as the user wrote it.
bool take(const Option& option, const char* value, const std::string& what, Options& options,
          CommandLineError& error) {
    switch (option.asks) {
        case Asks::format:
            if (std::strcmp(value, "listing") == 0) {
                options.format = Format::listing;
            } else if (std::strcmp(value, "c") == 0) {
                options.format = Format::c;
            } else {
                error = {what, "unknown format (listing or c)"};
                return false;
            }
            return true;
        case Asks::type:
            for (const TableType type : {TableType::u8, TableType::u16, TableType::u32}) {
                if (type_name(type) == value) {
                    options.table.type = type;
                    return true;
                }
            }
            error = {what, "unknown type (u8, u16 or u32)"};
            return false;
        case Asks::name:
            if (const char* why = why_no_table_name(value)) {
                error = {what, why};
                return false;
            }
            options.table_name = value;
            return true;
        case Asks::shared:
            options.table.shared = true;
            return true;
        case Asks::output_dir:
            options.output_dir = value;
            return true;
        case Asks::strict:
            options.strict = true;
            return true;
        case Asks::keep_going:
            options.keep_going = true;
            return true;
        case Asks::help:
            options.help = true;
            return true;
        case Asks::version:
            options.version = true;
            return true;
    }
    return false;
}

// The arguments being read, and where.
struct Reading {
    int count;
    char** arguments;
    int at;  // the next argument to read
};

// Reads the long option argument (--name or --name=value, the value else
// the next argument), which reading has just passed.
bool read_long(std::string_view argument, Reading& reading, Options& options,
               CommandLineError& error) {
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
        value = reading.arguments[reading.at - 1] + equals + 1;
    } else if (option->value != nullptr) {
        if (reading.at == reading.count) {
            error = {what, std::string("needs ") + option->value};
            return false;
        }
        value = reading.arguments[reading.at++];
        what.append(" ").append(value);
    }
    return take(*option, value, what, options, error);
}

// Reads the short options of argument, alone or together; one that takes
// a value takes the rest of the word, or else the next argument.
bool read_short(std::string_view argument, Reading& reading, Options& options,
                CommandLineError& error) {
    for (std::size_t letter = 1; letter < argument.size(); ++letter) {
        const Option* option = by_letter(argument[letter]);
        if (option == nullptr) {
            // Named by its whole character, where it is one of UTF-8.
            char32_t code_point = 0;
            const std::size_t length =
                std::max<std::size_t>(1, utf8_character(argument.substr(letter), code_point, true));
            error = unknown(argument, std::string("-").append(argument.substr(letter, length)));
            return false;
        }
        std::string what = std::string("-") + argument[letter];
        const char* value = nullptr;
        if (option->value != nullptr) {
            if (letter + 1 < argument.size()) {
                value = reading.arguments[reading.at - 1] + letter + 1;
            } else if (reading.at == reading.count) {
                error = {what, std::string("needs ") + option->value};
                return false;
            } else {
                value = reading.arguments[reading.at++];
            }
            what.append(" ").append(value);
        }
        if (!take(*option, value, what, options, error)) {
            return false;
        }
        if (option->value != nullptr) {
            return true;
        }
    }
    return true;
}

// Whether the options fit together and with the files: a table's options
// only with --format=c, and --name for one file. Sets error where not.
bool fit_together(const Options& options, const std::vector<char*>& files,
                  CommandLineError& error) {
    std::string table_option;
    if (options.table.type != TableType::unsigned_long) {
        table_option = "--type=" + std::string(type_name(options.table.type));
    } else if (options.table.shared) {
        table_option = "--extern";
    } else if (options.table_name != nullptr) {
        table_option = std::string("--name=") + options.table_name;
    }
    if (!table_option.empty() && options.format != Format::c) {
        error = {table_option, "an option of a C table: give --format=c too"};
        return false;
    }
    if (options.table_name != nullptr && files.size() > 1) {
        error = {std::string("--name=") + options.table_name,
                 "names one table, and " + std::to_string(files.size()) + " files are named"};
        return false;
    }
    return true;
}

}  // namespace

bool read_options(int argc, char** arguments, Options& options, CommandLineError& error) {
    Reading reading{argc, arguments, 1};
    std::vector<char*> files;
    bool ended = false;  // by "--"
    while (reading.at < argc) {
        char* const word = arguments[reading.at++];
        const std::string_view argument(word);
        if (ended || argument.size() < 2 || argument[0] != '-') {
            files.push_back(word);  // "-" included
        } else if (argument == "--") {
            ended = true;
        } else if (!(argument[1] == '-' ? read_long(argument, reading, options, error)
                                        : read_short(argument, reading, options, error))) {
            return false;
        }
    }
    // The options first, then the file names in the order they came.
    options.first_file = argc - static_cast<int>(files.size());
    std::copy(files.begin(), files.end(), arguments + options.first_file);
    return fit_together(options, files, error);
}

}  // namespace huemill
