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
# What the linker cannot tell: the serif face the windows print in (app/look.cpp asks for
# Liberation Serif, then DejaVu Serif) and the French of Qt's own open-file dialog. Without
# them the program still works, in another serif and with an English dialog.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation | fonts-dejavu-core, qt6-translations-l10n")

include(CPack)
