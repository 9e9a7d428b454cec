# Debian's hardening for every program of the tree: what dpkg-buildflags gives with
# hardening=+all (fortified string and memory functions, a stack protector, relocations made
# read-only and bound at start). Only what hardening adds is taken, the difference from
# hardening=-all: Debian's -O2 and -g stay out, so each build type keeps its own optimisation.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT DPKG_BUILDFLAGS)
  message(WARNING "dpkg-buildflags not found (dpkg-dev): the programs are built without Debian's hardening")
  return()
endif()

# The flags of one kind (CPPFLAGS, CXXFLAGS, LDFLAGS) that hardening=+all adds.
function(redim_hardening_flags kind result)
  foreach(hardening +all -all)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=${hardening} ${DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags${hardening} UNIX_COMMAND "${flags}")
  endforeach()
  list(REMOVE_ITEM flags+all ${flags-all})
  set(${result} ${flags+all} PARENT_SCOPE)
endfunction()

redim_hardening_flags(CPPFLAGS hardening_cppflags)
redim_hardening_flags(CXXFLAGS hardening_cxxflags)
redim_hardening_flags(LDFLAGS hardening_ldflags)
# _FORTIFY_SOURCE works only in optimised code; in an unoptimised build glibc warns about it.
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:${hardening_cppflags}>" ${hardening_cxxflags})
add_link_options(${hardening_ldflags})
string(REPLACE ";" " " shown "${hardening_cppflags};${hardening_cxxflags};${hardening_ldflags}")
message(STATUS "Hardening: ${shown}")
