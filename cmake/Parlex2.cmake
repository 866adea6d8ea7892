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
