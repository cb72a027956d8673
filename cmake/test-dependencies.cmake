# rgb2lab_find_test_dependencies(ASKED_FOR): looks for the tests' own dependencies, GoogleTest
# and GoogleMock, Little CMS 2 (a reference engine for the colour and ICC tests, through
# pkg-config), stb's image headers and Python 3 (whose json module reads chartlab's JSON
# report in the end-to-end tests), and sets RGB2LAB_BUILD_TESTS. When the tests were asked
# for (ASKED_FOR: BUILD_TESTING given on the command line, by a preset or by an earlier
# configure) a missing one stops the configure; otherwise the tests are left out with a
# warning, so that a machine with only a compiler and CMake still builds and installs. Either
# message names the Debian packages to install.
#
# The targets GTest::gtest, GTest::gtest_main, GTest::gmock and PkgConfig::LCMS2 and the cache
# variables STB_INCLUDE_DIR and PYTHON3_EXE are what the tests use.
function(rgb2lab_find_test_dependencies asked_for)
  set(what "")
  set(packages "")
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    list(APPEND what "GoogleTest")
    list(APPEND packages libgtest-dev)
  endif()
  if(NOT TARGET GTest::gmock)
    list(APPEND what "GoogleMock")
    list(APPEND packages libgmock-dev)
  endif()
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(LCMS2 QUIET IMPORTED_TARGET lcms2)
  else()
    list(APPEND what "pkg-config")
    list(APPEND packages pkg-config)
  endif()
  if(NOT LCMS2_FOUND)
    list(APPEND what "Little CMS 2")
    list(APPEND packages liblcms2-dev)
  endif()
  find_path(STB_INCLUDE_DIR stb_image.h PATH_SUFFIXES stb)
  if(NOT STB_INCLUDE_DIR)
    list(APPEND what "stb")
    list(APPEND packages libstb-dev)
  endif()
  find_program(PYTHON3_EXE python3)
  if(NOT PYTHON3_EXE)
    list(APPEND what "Python 3")
    list(APPEND packages python3)
  endif()

  if(NOT packages)
    set(RGB2LAB_BUILD_TESTS ON PARENT_SCOPE)
    return()
  endif()
  list(JOIN what ", " what)
  list(LENGTH packages count)
  list(JOIN packages " " packages)
  set(noun "package")
  if(count GREATER 1)
    set(noun "packages")
  endif()
  if(asked_for)
    message(FATAL_ERROR "The tests need ${what}: install the Debian ${noun} ${packages}, or "
                        "configure with -DBUILD_TESTING=OFF")
  endif()
  message(WARNING "The tests are not built: they need ${what}. Install the Debian ${noun} "
                  "${packages} and configure with -DBUILD_TESTING=ON to build them.")
  set(BUILD_TESTING OFF CACHE BOOL "Build the testing tree." FORCE)
  set(RGB2LAB_BUILD_TESTS OFF PARENT_SCOPE)
endfunction()
