# Run by cpack before the package is made: the service file was configured
# for the build's install prefix (cmake --install), but the package puts the
# programs under CPACK_PACKAGING_INSTALL_PREFIX, so its unit must start them there.
file(GLOB_RECURSE units "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.service")
list(FILTER units INCLUDE REGEX "/systemd/user/pairwell\\.service$")
foreach(unit IN LISTS units)
  file(READ "${unit}" text)
  string(REGEX REPLACE "ExecStart=[^\n]*/pairwell-cli "
                       "ExecStart=${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_PAIRWELL_BINDIR}/pairwell-cli " text "${text}")
  file(WRITE "${unit}" "${text}")
endforeach()
