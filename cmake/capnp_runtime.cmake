# Cap'n Proto's runtime, kj and capnp, from the pinned upstream tree: only
# what building, serialising and reading messages needs, without the event
# loop, RPC or the schema compiler. One definition for the two builds that
# compile it: the installable library's (object libraries folded into both
# client libraries, see orvik_dependencies.cmake) and the release wheels'
# (static libraries installed as a CapnProto package, release/capnp_runtime/).
#
#   orvik_capnp_runtime(SOURCE_DIR KIND)   KIND: OBJECT or STATIC
#     defines the targets orvik_kj and orvik_capnp, compiled with hidden
#     visibility: whatever module they end up in exports none of their names.
#   orvik_capnp_tools(SOURCE_DIR)
#     defines the schema compiler of the same release, capnp_tool and
#     capnpc_cpp (upstream's names, which its capnp_generate_cpp() picks up),
#     on orvik_kj and orvik_capnp.
include_guard(GLOBAL)

function(orvik_capnp_version source_dir out)
  file(STRINGS "${source_dir}/CMakeLists.txt" _version REGEX "^set\\(VERSION ")
  string(REGEX REPLACE "^set\\(VERSION ([0-9.]+)\\)$" "\\1" _version "${_version}")
  set(${out} ${_version} PARENT_SCOPE)
endfunction()

# kj relies on the compilers' extensions (upstream refuses a build without
# them), and its sources use APIs it marks deprecated itself.
function(_orvik_capnp_target name kind source_dir)
  add_library(${name} ${kind} ${ARGN})
  target_include_directories(${name} SYSTEM PUBLIC $<BUILD_INTERFACE:${source_dir}/src> $<INSTALL_INTERFACE:include>)
  set_target_properties(${name} PROPERTIES
    CXX_STANDARD 23 CXX_EXTENSIONS ON POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${name} PRIVATE -Wno-deprecated-declarations)
endfunction()

function(orvik_capnp_runtime source_dir kind)
  set(_src ${source_dir}/src)
  # Upstream's kj_sources_lite and kj_sources_heavy, less Windows and the
  # test helpers.
  set(_kj
    array.c++ cidr.c++ list.c++ common.c++ debug.c++ exception.c++ io.c++ memory.c++ mutex.c++
    string.c++ source-location.c++ hash.c++ table.c++ thread.c++ main.c++ arena.c++ units.c++
    encoding.c++ refcount.c++ string-tree.c++ time.c++ filesystem.c++ filesystem-disk-unix.c++
    parse/char.c++)
  # Upstream's capnp_sources_lite and capnp_sources_heavy.
  set(_capnp
    c++.capnp.c++ blob.c++ arena.c++ layout.c++ list.c++ any.c++ message.c++ schema.capnp.c++
    stream.capnp.c++ serialize.c++ serialize-packed.c++ schema.c++ schema-loader.c++ dynamic.c++
    stringify.c++)
  list(TRANSFORM _kj PREPEND ${_src}/kj/)
  list(TRANSFORM _capnp PREPEND ${_src}/capnp/)
  find_package(Threads REQUIRED)
  _orvik_capnp_target(orvik_kj ${kind} ${source_dir} ${_kj})
  target_link_libraries(orvik_kj PUBLIC Threads::Threads)
  _orvik_capnp_target(orvik_capnp ${kind} ${source_dir} ${_capnp})
  target_link_libraries(orvik_capnp PUBLIC orvik_kj)
endfunction()

function(orvik_capnp_tools source_dir)
  set(_src ${source_dir}/src/capnp)
  orvik_capnp_version(${source_dir} _version)
  # Upstream's capnpc_sources and capnp-json_sources.
  set(_compiler
    compiler/type-id.c++ compiler/error-reporter.c++ compiler/lexer.capnp.c++ compiler/lexer.c++
    compiler/grammar.capnp.c++ compiler/parser.c++ compiler/generics.c++ compiler/node-translator.c++
    compiler/compiler.c++ schema-parser.c++ serialize-text.c++ compat/json.c++ compat/json.capnp.c++)
  list(TRANSFORM _compiler PREPEND ${_src}/)
  _orvik_capnp_target(orvik_capnpc STATIC ${source_dir} ${_compiler})
  target_link_libraries(orvik_capnpc PUBLIC orvik_capnp orvik_kj)

  add_executable(capnp_tool ${_src}/compiler/module-loader.c++ ${_src}/compiler/capnp.c++)
  add_executable(capnpc_cpp ${_src}/compiler/capnpc-c++.c++)
  foreach(_tool capnp_tool capnpc_cpp)
    target_link_libraries(${_tool} PRIVATE orvik_capnpc)
    set_target_properties(${_tool} PROPERTIES CXX_STANDARD 23 CXX_EXTENSIONS ON)
    target_compile_options(${_tool} PRIVATE -Wno-deprecated-declarations)
  endforeach()
  # The schemas it imports (capnp/c++.capnp) are found through -I, never
  # through an installed include folder.
  target_compile_definitions(capnp_tool PRIVATE "CAPNP_INCLUDE_DIR=\"${source_dir}/src\"" "VERSION=\"${_version}\"")
  set_target_properties(capnp_tool PROPERTIES OUTPUT_NAME capnp CAPNP_INCLUDE_DIRECTORY ${source_dir}/src)
  set_target_properties(capnpc_cpp PROPERTIES OUTPUT_NAME capnpc-c++ CAPNPC_CXX_EXECUTABLE $<TARGET_FILE:capnpc_cpp>)
endfunction()
