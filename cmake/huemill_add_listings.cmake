# huemill_add_listings(<target> [FORMAT listing|c] [OUTPUT_DIR <dir>]
#                      PALETTES <palette>...)
#
# Makes a listing of each palette for <target>: one build rule a palette,
# which runs huemill::huemill where the palette or huemill changed, and
# writes the listing, named as huemill names it (NAME.pal.c, after the
# palette's stem), into OUTPUT_DIR (relative to the current binary folder,
# which is also where listings go without it). FORMAT c makes C tables
# (huemill --format=c), which a source file of <target> includes by their
# names; <target> depends on the listings and gets their folder as an
# include directory. Relative palettes are taken from the current source
# folder. Two palettes with one stem would make one listing: configuring
# stops, and names both.
#
# The listings' names come from huemill itself: an installed huemill is
# asked (it makes each listing once, into a scratch folder); a huemill
# built in the same build is not there yet, so its naming rule, src/stem.h,
# is compiled into a small program and run instead (try_run).

# Where the naming rule is: installed beside this file, or in the sources.
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/stem.h")
  set_property(GLOBAL PROPERTY huemill_rule_dir "${CMAKE_CURRENT_LIST_DIR}")
else()
  set_property(GLOBAL PROPERTY huemill_rule_dir "${CMAKE_CURRENT_LIST_DIR}/../src")
endif()

# Sets out to the file names of the listings of palettes (absolute paths,
# in order).
function(_huemill_listing_names out)
  get_target_property(imported huemill::huemill IMPORTED)
  set(names "")
  if(imported)
    get_target_property(program huemill::huemill LOCATION)
    set(scratch "${CMAKE_CURRENT_BINARY_DIR}/huemill_names")
    foreach(palette IN LISTS ARGN)
      file(REMOVE_RECURSE "${scratch}")
      file(MAKE_DIRECTORY "${scratch}")
      execute_process(COMMAND "${program}" -o "${scratch}" "${palette}"
                      RESULT_VARIABLE failed ERROR_VARIABLE said)
      file(GLOB made RELATIVE "${scratch}" "${scratch}/*")
      list(LENGTH made count)
      if(failed OR NOT count EQUAL 1)
        message(FATAL_ERROR "huemill_add_listings: huemill makes no listing of ${palette}: "
                            "${said}")
      endif()
      list(APPEND names "${made}")
    endforeach()
    file(REMOVE_RECURSE "${scratch}")
  else()
    # The same rule as huemill's, compiled by the language this project
    # has: a C file is C++ too.
    if(CMAKE_C_COMPILER_LOADED)
      set(tool "${CMAKE_CURRENT_BINARY_DIR}/huemill_names/names.c")
    elseif(CMAKE_CXX_COMPILER_LOADED)
      set(tool "${CMAKE_CURRENT_BINARY_DIR}/huemill_names/names.cpp")
    else()
      message(FATAL_ERROR "huemill_add_listings needs C or C++ enabled, to name listings")
    endif()
    file(WRITE "${tool}" [=[
/* The name of the listing huemill makes of each palette file named. */
#include <stdio.h>
#include <string.h>
#include "stem.h"
int main(int argc, char **argv) {
    int i;
    for (i = 1; i < argc; ++i) {
        printf("%.*s%s\n", (int)huemill_stem_length(argv[i], strlen(argv[i])), argv[i],
               HUEMILL_LISTING_SUFFIX);
    }
    return 0;
}
]=])
    set(files "")
    foreach(palette IN LISTS ARGN)
      get_filename_component(file "${palette}" NAME)
      list(APPEND files "${file}")
    endforeach()
    get_property(rule_dir GLOBAL PROPERTY huemill_rule_dir)
    try_run(ran compiled "${CMAKE_CURRENT_BINARY_DIR}/huemill_names" "${tool}"
            CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${rule_dir}"
            COMPILE_OUTPUT_VARIABLE compiler_said
            RUN_OUTPUT_VARIABLE printed
            ARGS ${files})
    if(NOT compiled OR NOT ran EQUAL 0)
      message(FATAL_ERROR "huemill_add_listings: cannot run huemill's naming rule here: "
                          "${compiler_said}")
    endif()
    string(REGEX REPLACE "\n$" "" printed "${printed}")
    string(REPLACE "\n" ";" names "${printed}")
  endif()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

function(huemill_add_listings target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FORMAT;OUTPUT_DIR" "PALETTES")
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
  set(folder "${CMAKE_CURRENT_BINARY_DIR}")
  if(arg_OUTPUT_DIR)
    get_filename_component(folder "${arg_OUTPUT_DIR}" ABSOLUTE BASE_DIR
                           "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  file(MAKE_DIRECTORY "${folder}")

  set(palettes "")
  foreach(palette IN LISTS arg_PALETTES)
    get_filename_component(palette "${palette}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND palettes "${palette}")
  endforeach()
  _huemill_listing_names(names ${palettes})

  set(listings "")
  set(made_from "")
  foreach(palette name IN ZIP_LISTS palettes names)
    list(FIND listings "${folder}/${name}" earlier)
    if(NOT earlier EQUAL -1)
      list(GET made_from ${earlier} first)
      message(FATAL_ERROR "huemill_add_listings: ${first} and ${palette} have one stem, "
                          "and would make one listing, ${folder}/${name}: rename one of them")
    endif()
    add_custom_command(
      OUTPUT "${folder}/${name}"
      COMMAND "$<TARGET_FILE:huemill::huemill>" --format=${arg_FORMAT} -o "${folder}"
              "${palette}"
      DEPENDS "${palette}" huemill::huemill
      COMMENT "Making the listing ${name} of ${palette}"
      VERBATIM)
    list(APPEND listings "${folder}/${name}")
    list(APPEND made_from "${palette}")
  endforeach()
  # Included by the target's sources, never compiled on their own.
  set_source_files_properties(${listings} PROPERTIES HEADER_FILE_ONLY TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${listings})
  target_include_directories(${target} PRIVATE "${folder}")
endfunction()
