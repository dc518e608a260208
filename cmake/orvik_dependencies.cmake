# What the build takes from outside, looked for in one place. A machine
# that lacks some of it gets one message naming every missing piece and the
# Debian packages that bring them, instead of the first failure deep inside a
# package's own CMake files. Include it after project(); when that enabled no
# language it enables C and C++ once a compiler is known to be there. It
# leaves ORVIK_MISSING_DEPENDENCIES set (the message) when something is missing.
#
# The pinned sources of third_party/pins come from their cache variables
# (ORVIK_CAPNPROTO_SOURCE_DIR, ORVIK_UTF8PROC_SOURCE_DIR,
# ORVIK_NLOHMANN_JSON_SOURCE_DIR) or, where one is empty, from
# third_party/fetch.sh at configure time:
# - Cap'n Proto 1.1.0: its runtime (kj, capnp) is compiled into both client
#   libraries with hidden visibility, and its schema compiler is built here
#   too unless ORVIK_CAPNP_TOOLS_DIR names one of the same release
#   (release/capnp_tools.sh prints one). ORVIK_CAPNP_PACKAGE takes a
#   CapnProto package instead: the release wheels' runtime built per target
#   (release/capnp_runtime.sh), or the system's for the fuzzers.
# - utf8proc (the quoted form's character tables): utf8proc.c is compiled
#   into the client library.
# - nlohmann-json: orvik-session's JSON, a header.
# ORVIK_CAPNP_LIBRARIES names what links Cap'n Proto's runtime.
include_guard(GLOBAL)
include(CheckLanguage)

set(_orvik_missing "")
set(_orvik_packages "")
macro(_orvik_need what package)
  list(APPEND _orvik_missing "${what}")
  list(APPEND _orvik_packages "${package}")
endmacro()

option(ORVIK_CAPNP_PACKAGE
  "Take Cap'n Proto from find_package(CapnProto) (CapnProto_DIR) instead of compiling the pinned release in" OFF)
set(ORVIK_CAPNP_TOOLS_DIR "" CACHE PATH
  "Where bin/capnp and bin/capnpc-c++ of the pinned release are (release/capnp_tools.sh); empty: built here")

# A pinned source: the folder its cache variable names, else the one
# third_party/fetch.sh unpacks (kept in the cache variable); `probe` is a
# file the folder must hold.
function(_orvik_pinned_source variable name probe)
  set(${variable} "" CACHE PATH "The unpacked source of ${name} (empty: third_party/fetch.sh ${name})")
  if(NOT ${variable})
    message(STATUS "Fetching the pinned ${name} (third_party/fetch.sh ${name})")
    execute_process(COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../third_party/fetch.sh ${name}
      OUTPUT_VARIABLE _dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _status)
    if(NOT _status EQUAL 0 OR NOT _dir)
      message(FATAL_ERROR "the pinned ${name} could not be fetched (third_party/fetch.sh ${name}); "
        "set ${variable} to its unpacked source instead")
    endif()
    set(${variable} ${_dir} CACHE PATH "The unpacked source of ${name}" FORCE)
  endif()
  if(NOT EXISTS "${${variable}}/${probe}")
    message(FATAL_ERROR "${variable} (${${variable}}) holds no ${probe}: "
      "point it at the source of ${name} (third_party/fetch.sh ${name} prints one)")
  endif()
endfunction()

check_language(C)
check_language(CXX)
if(NOT CMAKE_C_COMPILER OR NOT CMAKE_CXX_COMPILER)
  _orvik_need("a C and C++ compiler" g++)
endif()
if(ORVIK_CAPNP_PACKAGE)
  # Debian's Cap'n Proto CMake files describe the libraries through pkg-config.
  find_program(ORVIK_PKG_CONFIG NAMES pkg-config pkgconf)
  if(NOT ORVIK_PKG_CONFIG)
    _orvik_need("pkg-config" pkg-config)
  endif()
  find_program(ORVIK_CAPNP_COMPILER capnp)
  if(NOT ORVIK_CAPNP_COMPILER)
    _orvik_need("the Cap'n Proto schema compiler (capnp)" capnproto)
  endif()
  # The headers stand for each development package: they come with its
  # libraries and CMake files.
  find_path(ORVIK_CAPNP_HEADERS capnp/message.h)
  if(NOT ORVIK_CAPNP_HEADERS)
    _orvik_need("Cap'n Proto's headers and libraries" libcapnp-dev)
  endif()
else()
  _orvik_pinned_source(ORVIK_CAPNPROTO_SOURCE_DIR capnproto src/capnp/message.h)
endif()
_orvik_pinned_source(ORVIK_UTF8PROC_SOURCE_DIR utf8proc utf8proc.c)
if(ORVIK_BUILD_SESSION_TOOL)
  _orvik_pinned_source(ORVIK_NLOHMANN_JSON_SOURCE_DIR nlohmann-json3 single_include/nlohmann/json.hpp)
endif()
if(ORVIK_BUILD_PYTHON)
  find_package(Python 3.9 QUIET COMPONENTS Interpreter Development.SABIModule)
  if(NOT Python_Development.SABIModule_FOUND)
    _orvik_need("CPython's headers" python3-dev)
  endif()
endif()
if(BUILD_TESTING)
  find_path(ORVIK_GTEST_HEADERS gtest/gtest.h)
  if(NOT ORVIK_GTEST_HEADERS)
    _orvik_need("GoogleTest" libgtest-dev)
  endif()
endif()

if(_orvik_missing)
  list(JOIN _orvik_missing ", " _orvik_missing)
  list(JOIN _orvik_packages " " _orvik_packages)
  set(ORVIK_MISSING_DEPENDENCIES
    "orvik cannot be built: missing ${_orvik_missing}.\n"
    "On Debian or Ubuntu they come with: apt-get install ${_orvik_packages}")
  return()
endif()

enable_language(C)
enable_language(CXX)
find_package(Threads REQUIRED)

if(ORVIK_CAPNP_PACKAGE)
  find_package(CapnProto CONFIG REQUIRED)
  set(ORVIK_CAPNP_LIBRARIES CapnProto::capnp CapnProto::kj)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/capnp_runtime.cmake)
  orvik_capnp_runtime(${ORVIK_CAPNPROTO_SOURCE_DIR} OBJECT)
  set(ORVIK_CAPNP_LIBRARIES orvik_capnp orvik_kj)
  if(ORVIK_CAPNP_TOOLS_DIR)
    set(CAPNP_EXECUTABLE ${ORVIK_CAPNP_TOOLS_DIR}/bin/capnp)
    set(CAPNPC_CXX_EXECUTABLE ${ORVIK_CAPNP_TOOLS_DIR}/bin/capnpc-c++)
  elseif(CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "a cross build cannot run a schema compiler it builds: "
      "set ORVIK_CAPNP_TOOLS_DIR (release/capnp_tools.sh prints one)")
  else()
    orvik_capnp_tools(${ORVIK_CAPNPROTO_SOURCE_DIR})
  endif()
  set(CAPNP_INCLUDE_DIRECTORY ${ORVIK_CAPNPROTO_SOURCE_DIR}/src)
  set(CapnProto_LICENSE_FILE ${ORVIK_CAPNPROTO_SOURCE_DIR}/LICENSE.txt)
  include(${ORVIK_CAPNPROTO_SOURCE_DIR}/cmake/CapnProtoMacros.cmake)
endif()
