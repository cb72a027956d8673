# `cpack -G DEB` in the build directory packs everything `cmake --install` puts under the
# configured prefix (the programs, the library, its headers, the CMake and pkg-config files,
# the manual pages) into one Debian package. Configure with -DCMAKE_INSTALL_PREFIX=/usr for a
# package that installs where Debian's own do; the pkg-config file carries that prefix.
set(CPACK_PACKAGE_NAME rgb2lab)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(NOT CPACK_DEBIAN_PACKAGE_MAINTAINER)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "rgb2lab developers <rgb2lab@example.org>")
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The summary above is the package's first line; this is the text under it.
set(CPACK_PACKAGE_DESCRIPTION "rgb2lab derives the Lab value a device would produce for any device
RGB value, by trilinear interpolation in the measurements of a device-RGB colour
chart (a 17 x 17 x 17 grid, or a 5202-patch chart). chartlab does the same in a
pipeline, trilinear or tetrahedral, and inverts it: the device RGB for a Lab value.

The package also holds the C++20 library librgb2lab_common (CGATS tables, colour
conversions and differences, ICC profiles, Targa images, vector math) with its
headers, CMake package (find_package(rgb2lab), target rgb2lab::common) and
pkg-config file (rgb2lab).")
# The dependencies (the C and C++ runtimes) are read from the binaries by dpkg-shlibdeps; a
# shared build also gets a shlibs file and the trigger that runs ldconfig.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(BUILD_SHARED_LIBS)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

include(CPack)
