# What the build takes from the system, looked for in one place. A machine
# that lacks some of it gets one message naming every missing piece and the
# Debian packages that bring them, instead of the first failure deep inside a
# package's own CMake files. Include it after project(); when that enabled no
# language it enables C and C++ once a compiler is known to be there. It
# leaves ORVIK_MISSING_DEPENDENCIES set (the message) when something is missing.
#
# utf8proc (the quoted form's character tables) comes either from its source,
# ORVIK_UTF8PROC_SOURCE_DIR (what third_party/fetch.sh utf8proc prints), which
# compiles it into the client library so that no consumer needs it installed,
# or, when that is empty, from the system's libutf8proc through pkg-config.
include_guard(GLOBAL)
include(CheckLanguage)

set(_orvik_missing "")
set(_orvik_packages "")
macro(_orvik_need what package)
  list(APPEND _orvik_missing "${what}")
  list(APPEND _orvik_packages "${package}")
endmacro()

check_language(C)
check_language(CXX)
if(NOT CMAKE_C_COMPILER OR NOT CMAKE_CXX_COMPILER)
  _orvik_need("a C and C++ compiler" g++)
endif()
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
set(ORVIK_UTF8PROC_SOURCE_DIR "" CACHE PATH
  "utf8proc's source folder, compiled into the client library; empty: the system's libutf8proc")
if(ORVIK_UTF8PROC_SOURCE_DIR)
  if(NOT EXISTS "${ORVIK_UTF8PROC_SOURCE_DIR}/utf8proc.c" OR NOT EXISTS "${ORVIK_UTF8PROC_SOURCE_DIR}/utf8proc.h")
    set(ORVIK_MISSING_DEPENDENCIES
      "orvik cannot be built: ORVIK_UTF8PROC_SOURCE_DIR (${ORVIK_UTF8PROC_SOURCE_DIR}) holds no utf8proc.c "
      "and utf8proc.h.\nPoint it at utf8proc's source (third_party/fetch.sh utf8proc prints one), "
      "or leave it empty to use the system's libutf8proc.")
    return()
  endif()
else()
  find_path(ORVIK_UTF8PROC_HEADERS utf8proc.h)
  if(NOT ORVIK_UTF8PROC_HEADERS)
    _orvik_need("utf8proc's headers and library (or ORVIK_UTF8PROC_SOURCE_DIR)" libutf8proc-dev)
  endif()
endif()
if(ORVIK_BUILD_PYTHON)
  find_package(Python 3.9 QUIET COMPONENTS Interpreter Development.SABIModule)
  if(NOT Python_Development.SABIModule_FOUND)
    _orvik_need("CPython's headers" python3-dev)
  endif()
endif()
# orvik-session takes nlohmann-json from the pinned source when it is named,
# else from the system.
if(ORVIK_BUILD_SESSION_TOOL AND NOT ORVIK_NLOHMANN_JSON_SOURCE_DIR)
  find_path(ORVIK_NLOHMANN_JSON_HEADERS nlohmann/json.hpp)
  if(NOT ORVIK_NLOHMANN_JSON_HEADERS)
    _orvik_need("nlohmann-json's header" nlohmann-json3-dev)
  endif()
endif()
if(ORVIK_BUILD_TESTS)
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

find_package(CapnProto CONFIG REQUIRED)
if(NOT ORVIK_UTF8PROC_SOURCE_DIR)
  set(PKG_CONFIG_EXECUTABLE "${ORVIK_PKG_CONFIG}")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(ORVIK_UTF8PROC REQUIRED IMPORTED_TARGET libutf8proc)
endif()
find_package(Threads REQUIRED)
