# parlex2_library(NAME DEPS ...)
# Builds every .cpp of the current folder into a static library. Files named
# *_win32.cpp are built only for Windows and *_posix.cpp only elsewhere, so a
# subsystem's platform code sits beside its portable code without any lists to
# keep in step.
function(parlex2_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SYSLIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_SYSLIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} ${ARG_SYSLIBS})
  endif()
endfunction()

# Every program runs on Windows with no MinGW DLLs beside it.
function(parlex2_static_runtime target)
  if(MINGW)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

# parlex2_use_cli11(TARGET): the command-line parser, Debian's header-only
# CLI11. The cross build must not see the rest of /usr/include, so it reaches
# the headers through a folder of the build tree holding only them.
function(parlex2_use_cli11 target)
  find_path(CLI11_HEADERS CLI/CLI.hpp PATHS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH)
  if(NOT CLI11_HEADERS)
    message(FATAL_ERROR "CLI11 headers not found (Debian package libcli11-dev)")
  endif()
  if(CMAKE_CROSSCOMPILING)
    set(cli11_dir ${CMAKE_BINARY_DIR}/cli11)
    if(NOT EXISTS ${cli11_dir}/CLI)
      file(MAKE_DIRECTORY ${cli11_dir})
      file(CREATE_LINK ${CLI11_HEADERS}/CLI ${cli11_dir}/CLI SYMBOLIC)
    endif()
  else()
    set(cli11_dir ${CLI11_HEADERS})
  endif()
  target_include_directories(${target} PRIVATE ${cli11_dir})
endfunction()

# parlex2_use_nlohmann_json(TARGET [PUBLIC|PRIVATE]): JSON reading and writing,
# Debian's header-only nlohmann-json, reached the same way as CLI11 by the
# cross build.
function(parlex2_use_nlohmann_json target)
  set(scope PRIVATE)
  if(ARGC GREATER 1)
    set(scope ${ARGV1})
  endif()
  find_path(NLOHMANN_JSON_HEADERS nlohmann/json.hpp PATHS /usr/include /usr/local/include
            NO_CMAKE_FIND_ROOT_PATH)
  if(NOT NLOHMANN_JSON_HEADERS)
    message(FATAL_ERROR "nlohmann-json headers not found (Debian package nlohmann-json3-dev)")
  endif()
  if(CMAKE_CROSSCOMPILING)
    set(json_dir ${CMAKE_BINARY_DIR}/nlohmann-json)
    if(NOT EXISTS ${json_dir}/nlohmann)
      file(MAKE_DIRECTORY ${json_dir})
      file(CREATE_LINK ${NLOHMANN_JSON_HEADERS}/nlohmann ${json_dir}/nlohmann SYMBOLIC)
    endif()
  else()
    set(json_dir ${NLOHMANN_JSON_HEADERS})
  endif()
  target_include_directories(${target} ${scope} ${json_dir})
endfunction()

# parlex2_precompile(TARGET HEADER...): parses the target's heavy library
# headers (CLI11 takes about 9 s of a compile, GoogleTest and nlohmann-json 2
# and 3 s) once per build instead of once per file. A build that caches its
# compiles (a compiler launcher such as ccache) gains more from the cache and
# loses it with a precompiled header, so it goes without; so does a build
# that sets PARLEX2_PRECOMPILE off.
option(PARLEX2_PRECOMPILE "Precompile the library headers of the programs and tests" ON)
function(parlex2_precompile target)
  if(PARLEX2_PRECOMPILE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()
