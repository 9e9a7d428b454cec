# The Debian package: `make package` (cpack in build/) turns the install rules into
# build/redim_<version>_<architecture>.deb, the three programs in /usr/lib/redim.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME redim)
set(CPACK_PACKAGE_VENDOR "Redim Jpeg")
set(CPACK_PACKAGE_CONTACT "Redim Jpeg <redim-jpeg@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "resize JPEG photos, one at a time or a whole folder")
# Control-file lines stay under 80 columns: dpkg shows them as they are.
set(CPACK_PACKAGE_DESCRIPTION [[
Redim Jpeg reads one JPEG photo, or every photo of its folder, scales it by a
rate from 10 to 200 % that keeps its proportions and writes it as a bitmap;
it then converts the bitmaps back into JPEGs on every core.
The window is in French.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://redim-jpeg.example.org)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Depends: what dpkg-shlibdeps finds the programs and the library linked with. The private
# folder is named too (relative to the staging folder cpack runs it in), so that a program
# linking libimglib.so one day would not fail the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
string(REGEX REPLACE "^/" "" staged_prefix "${CPACK_PACKAGING_INSTALL_PREFIX}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${staged_prefix}/${REDIM_INSTALL_DIR})
# What the linker cannot tell, each without an alternative that apt would find already there:
# the serif face the windows' layout was measured in (app/look.cpp asks for Liberation Serif;
# DejaVu Serif, which every system has, is wider and cuts captions), Qt's Wayland plugin, without
# which a Wayland-only session cannot start the program at all, and the French of Qt's own
# open-file dialog. Recommended rather than required, as Debian's Qt programs do: apt installs
# them by default, and without them the program still runs under X11, in another serif.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, qt6-wayland, qt6-translations-l10n")

# The Debian package has no ldconfig calls: the library is private (see debian/drop-ldconfig.cmake).
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/drop-ldconfig.cmake)

# What Debian asks of every package beside the programs: the copyright, the changelog (its first
# entry names this version) and a manual page for each program in the path, here in English and
# in French, the window's language. Compressed as Debian wants them: gzip -9, no name or time.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^redim \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/debian/changelog has no entry for version ${PROJECT_VERSION} first")
endif()
set(package_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/redim)
set(package_docs "")
macro(redim_install_gzipped source name destination)
  set(copy ${CMAKE_BINARY_DIR}/package-docs/${destination}/${name})
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${source} VERBATIM)
  list(APPEND package_docs ${copy}.gz)
  install(FILES ${copy}.gz DESTINATION ${destination})
endmacro()
redim_install_gzipped(${CMAKE_CURRENT_LIST_DIR}/debian/changelog changelog ${package_doc_dir})
redim_install_gzipped(${CMAKE_SOURCE_DIR}/app/redim.1 redim.1 ${CMAKE_INSTALL_MANDIR}/man1)
redim_install_gzipped(${CMAKE_SOURCE_DIR}/app/redim.fr.1 redim.1 ${CMAKE_INSTALL_MANDIR}/fr/man1)
add_custom_target(package_docs ALL DEPENDS ${package_docs})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION ${package_doc_dir})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
  RENAME redim)

include(CPack)
