# Whether huemill's tests are built, and with which GoogleTest. A part of
# another project's build builds none unless HUEMILL_BUILD_TESTS asks; the
# top-level project builds them as BUILD_TESTING asks, or where nothing
# asks, wherever GoogleTest is there. Asked for and missing, GoogleTest
# stops configuring; not asked for, it is not needed at all.
set(HUEMILL_GOOGLETEST_SOURCE /usr/src/googletest
    CACHE PATH "GoogleTest's sources, built where no installed GoogleTest fits")
if(NOT HUEMILL_BUILD_TESTS STREQUAL "")
  set(huemill_tests_asked ${HUEMILL_BUILD_TESTS})
elseif(huemill_is_top_level AND DEFINED BUILD_TESTING)
  set(huemill_tests_asked ${BUILD_TESTING})
elseif(huemill_is_top_level)
  set(huemill_tests_asked "")  # wherever GoogleTest is there
else()
  set(huemill_tests_asked OFF)
endif()

if(huemill_tests_asked OR huemill_tests_asked STREQUAL "")
  find_package(GTest CONFIG QUIET)
  set(huemill_googletest_sources_there FALSE)
  if(NOT GTest_FOUND AND EXISTS ${HUEMILL_GOOGLETEST_SOURCE}/CMakeLists.txt)
    set(huemill_googletest_sources_there TRUE)
  endif()
  if(GTest_FOUND OR huemill_googletest_sources_there)
    if(huemill_is_top_level)
      include(CTest)
    else()
      enable_testing()
    endif()
    add_subdirectory(tests)
  elseif(huemill_tests_asked)
    message(FATAL_ERROR "huemill's tests need GoogleTest, which is not installed: install it "
                        "(Debian: apt-get install googletest), or configure with "
                        "-DBUILD_TESTING=OFF or -DHUEMILL_BUILD_TESTS=OFF to build huemill alone.")
  else()
    message(STATUS "huemill: GoogleTest is not installed, so the tests are not built "
                   "(Debian: apt-get install googletest)")
  endif()
endif()
