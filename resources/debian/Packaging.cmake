# The Debian package: `cmake --build BUILD --target package` (scripts/package) makes
# BUILD/corvex-vario_VERSION_ARCH.deb from what `cmake --install` puts in place.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvex-vario)
set(CPACK_PACKAGE_VENDOR "The Corvex Vario developers")
set(CPACK_PACKAGE_CONTACT "Corvex Vario developers <developers@vendor.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vendor.example/")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "companion of the Corvex Vario glider variometer
Plug your Corvex Vario (Lark or Wren) in by USB to save its flights as IGC
files for contests and online logs or as KML files for a globe viewer, save
the log book as CSV, change the pilot data it writes into every flight,
manage its airspaces (approved sets, your own OpenAir files, a map that
works offline) and install firmware and program updates without losing a
flight.
.
The package holds the desktop program corvex-vario with its launcher, the
command line program corvex for scripts and backups, and a udev rule that
lets the user at the seat use the instrument without root.")
# The libraries come from the binaries (GDAL's among them); the plugins Qt loads at run
# time and the data files do not, so they are named: TIFF for the main window's
# backgrounds, the platform plugins for a window at all, the EGM96 geoid grid of
# proj-data for heights above the ground.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-image-formats-plugins, qt6-qpa-plugins, proj-data")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
# Suggested: GPSBabel for other formats; the town list the library's site names are
# suggested from (a data file only).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gpsbabel, libgweather-4-common")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/postinst
  ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
