# Windows resources of Narvelox.exe: version record, icons, manifest.
# Included by the top-level CMakeLists.txt after add_executable(Narvelox ...);
# the version numbers come from its project(VERSION major.minor.0.tweak).

if(NOT TARGET Narvelox)
  message(FATAL_ERROR "include resources.cmake after add_executable(Narvelox ...)")
endif()

# Explorer shows "major.mm.tttt" (1.0.0.9 -> "1.00.0009"); there is no place
# for a patch number, so refuse one rather than silently drop it.
if(NOT PROJECT_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.0\\.[0-9]+$")
  message(FATAL_ERROR "Narvelox needs project(VERSION major.minor.0.tweak), got '${PROJECT_VERSION}'")
endif()

function(narvelox_zero_pad out value width)
  string(LENGTH "${value}" length)
  set(zeros "")
  if(length LESS width)
    math(EXPR missing "${width} - ${length}")
    string(REPEAT "0" ${missing} zeros)
  endif()
  set(${out} "${zeros}${value}" PARENT_SCOPE)
endfunction()

narvelox_zero_pad(minor "${PROJECT_VERSION_MINOR}" 2)
narvelox_zero_pad(tweak "${PROJECT_VERSION_TWEAK}" 4)
set(NARVELOX_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${minor}.${tweak}")

set(narvelox_generated "${CMAKE_CURRENT_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/version.h.in" "${narvelox_generated}/narvelox_version.h" @ONLY)

# windres looks up the .ico and .manifest files on its include path too.
target_sources(Narvelox PRIVATE "${CMAKE_CURRENT_LIST_DIR}/Narvelox.rc")
target_include_directories(Narvelox PRIVATE "${narvelox_generated}" "${CMAKE_CURRENT_LIST_DIR}")
# The files the .rc pulls in (windres reports none), so changing one rebuilds it.
set_property(SOURCE "${CMAKE_CURRENT_LIST_DIR}/Narvelox.rc" APPEND PROPERTY OBJECT_DEPENDS
  "${narvelox_generated}/narvelox_version.h"
  "${CMAKE_CURRENT_LIST_DIR}/Narvelox.manifest"
  "${CMAKE_CURRENT_LIST_DIR}/icons/main.ico"
  "${CMAKE_CURRENT_LIST_DIR}/icons/app.ico")
