# huemill_add_listings(<target> [FORMAT listing|c] [TYPE u8|u16|u32] [EXTERN] [STRICT]
#                      [OUTPUT_DIR <dir>] PALETTES <palette>...)
#
# Makes a listing of each palette for <target>: one build rule a palette,
# which runs huemill where the palette or huemill changed, and writes the
# listing, named as huemill names it (NAME.pal.c, after the palette's
# stem), into a folder of <target>'s own (huemill/<target> in the current
# binary folder), or OUTPUT_DIR (relative to the current binary folder).
# Relative palettes are taken from the current source folder; a palette
# that another rule makes is fine, as nothing runs while configuring.
# <target> depends on the listings and gets their folder as an include
# directory. FORMAT c makes C tables (huemill --format=c), which <target>'s
# sources include by their names; TYPE gives them values of that
# <stdint.h> type; EXTERN shares each table between source files, and adds
# to <target> one source file that defines every table of the call, so
# that the program holds one copy. STRICT fails a palette that would draw
# a warning (huemill --strict).
#
# Configuring stops, naming both palettes, where two would make one
# listing (one stem in one folder, of this call or another) or, with
# FORMAT c, two tables of one target one name. In a cross build the rules
# run a huemill of the build machine: HUEMILL_EXECUTABLE, or else the one
# on PATH.

# The stem of file, a palette's file name: up to its first dot that is not
# its first character, as src/stem.h has it (a test keeps the two alike).
function(_huemill_stem file out)
  string(REGEX MATCH "^.[^.]*" stem "${file}")
  set(${out} "${stem}" PARENT_SCOPE)
endfunction()

# The name of the table made of stem: "palette", then each run of ASCII
# letters and digits in it after an underscore, as huemill names it.
function(_huemill_table_name stem out)
  string(REGEX MATCHALL "[A-Za-z0-9]+" words "${stem}")
  set(name palette)
  foreach(word IN LISTS words)
    string(APPEND name "_${word}")
  endforeach()
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

# Sets out to the huemill the rules run, and depends to what they depend
# on besides their palette: huemill::huemill, or in a cross build, whose
# huemill cannot run here, one of the build machine.
function(_huemill_program out depends)
  if(NOT CMAKE_CROSSCOMPILING)
    set(${out} "$<TARGET_FILE:huemill::huemill>" PARENT_SCOPE)
    set(${depends} huemill::huemill PARENT_SCOPE)
    return()
  endif()
  find_program(HUEMILL_EXECUTABLE huemill NO_CMAKE_FIND_ROOT_PATH
               DOC "huemill of the build machine, which a cross build's rules run")
  if(NOT HUEMILL_EXECUTABLE)
    message(FATAL_ERROR "huemill_add_listings: this is a cross build, and its own huemill "
                        "cannot run here: set HUEMILL_EXECUTABLE to a huemill of the build "
                        "machine, or put one on PATH")
  endif()
  set(${out} "${HUEMILL_EXECUTABLE}" PARENT_SCOPE)
  set(${depends} "${HUEMILL_EXECUTABLE}" PARENT_SCOPE)
endfunction()

# Notes that made_by makes name, one thing of the build (what: "listing",
# or "table of <target>"); stops configuring where another makes it too,
# naming both, and what to do about it (hint).
function(_huemill_claim what name made_by hint)
  get_property(earlier GLOBAL PROPERTY "huemill ${what} ${name}")
  if(earlier)
    message(FATAL_ERROR "huemill_add_listings: ${earlier} and ${made_by} would make one "
                        "${what}, ${name}: ${hint}")
  endif()
  set_property(GLOBAL PROPERTY "huemill ${what} ${name}" "${made_by}")
endfunction()

function(huemill_add_listings target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "EXTERN;STRICT" "FORMAT;TYPE;OUTPUT_DIR" "PALETTES")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "huemill_add_listings: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_PALETTES)
    message(FATAL_ERROR "huemill_add_listings: no PALETTES for ${target}")
  endif()
  if(NOT arg_FORMAT)
    set(arg_FORMAT listing)
  endif()
  if(NOT arg_FORMAT MATCHES "^(listing|c)$")
    message(FATAL_ERROR "huemill_add_listings: FORMAT is listing or c, not ${arg_FORMAT}")
  endif()
  set(options --format=${arg_FORMAT})
  if(arg_TYPE)
    if(NOT arg_TYPE MATCHES "^(u8|u16|u32)$")
      message(FATAL_ERROR "huemill_add_listings: TYPE is u8, u16 or u32, not ${arg_TYPE}")
    endif()
    list(APPEND options --type=${arg_TYPE})
  endif()
  if(arg_EXTERN)
    list(APPEND options --extern)
  endif()
  if(arg_STRICT)
    list(APPEND options --strict)
  endif()
  if((arg_TYPE OR arg_EXTERN) AND NOT arg_FORMAT STREQUAL "c")
    message(FATAL_ERROR "huemill_add_listings: TYPE and EXTERN are for FORMAT c")
  endif()
  set(folder "${CMAKE_CURRENT_BINARY_DIR}/huemill/${target}")
  if(arg_OUTPUT_DIR)
    get_filename_component(folder "${arg_OUTPUT_DIR}" ABSOLUTE BASE_DIR
                           "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  file(MAKE_DIRECTORY "${folder}")
  _huemill_program(program depends)

  set(listings "")
  set(includes "")
  foreach(palette IN LISTS arg_PALETTES)
    get_filename_component(palette "${palette}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(file "${palette}" NAME)
    _huemill_stem("${file}" stem)
    set(listing "${folder}/${stem}.pal.c")
    _huemill_claim(listing "${listing}" "${palette} (for ${target})"
                   "rename one of them, or give each its own OUTPUT_DIR")
    if(arg_FORMAT STREQUAL "c")
      _huemill_table_name("${stem}" table)
      _huemill_claim("table of ${target}" "${table}" "${palette}" "rename one of them")
    endif()
    add_custom_command(
      OUTPUT "${listing}"
      COMMAND "${program}" ${options} -o "${folder}" "${palette}"
      DEPENDS "${palette}" ${depends}
      COMMENT "Making the listing ${stem}.pal.c of ${palette}"
      VERBATIM)
    list(APPEND listings "${listing}")
    string(APPEND includes "#include \"${stem}.pal.c\"\n")
  endforeach()
  # Included by the target's sources, never compiled on their own.
  set_source_files_properties(${listings} PROPERTIES HEADER_FILE_ONLY TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${listings})
  target_include_directories(${target} PRIVATE "${folder}")
  if(arg_EXTERN)
    # The one source file that defines the tables, in the language the
    # project has: C where there is C.
    string(MD5 call "${arg_PALETTES}")
    string(SUBSTRING "${call}" 0 8 call)
    set(extension cpp)
    get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
    if(C IN_LIST languages)
      set(extension c)
    endif()
    set(tables "${folder}/huemill_tables_${call}.${extension}")
    file(CONFIGURE OUTPUT "${tables}" @ONLY
         CONTENT "/* Made by huemill_add_listings: defines the tables ${target} shares. */\n#define HUEMILL_DEFINE_TABLES\n${includes}")
    target_sources(${target} PRIVATE "${tables}")
  endif()
endfunction()
