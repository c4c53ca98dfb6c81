# cpack -G DEB: pairwell_<version>_amd64.deb, installing under /usr. The
# libraries it needs are read from the programs (dpkg-shlibdeps, from
# dpkg-dev); the font and the SVG plugins (the icons) are named here since
# nothing links to them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pairwell)
set(CPACK_PACKAGE_VENDOR Pairwell)
set(CPACK_PACKAGE_CONTACT "${PAIRWELL_PACKAGE_CONTACT}") # data/CMakeLists.txt
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Folder synchroniser with checked plans and scheduled jobs")
set(CPACK_PACKAGE_DESCRIPTION "Pairwell keeps a target folder in step with a source folder. Named projects
are checked into a plan of files to create, update and delete, then
synchronised, by hand in a Qt window or on a schedule; pairwell-cli runs the
same engine from scripts and cron. Every run is written to a day log that a
browser shows.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, libqt6svg6")
# The completion of pairwell-cli is loaded by bash-completion.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
set(CPACK_STRIP_FILES ON)
# The service starts pairwell-cli from where the package puts it.
set(CPACK_PAIRWELL_BINDIR ${CMAKE_INSTALL_BINDIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageService.cmake)
include(CPack)
