# What a parent application ships: the four programs, installed in the
# conventional places, and one Debian package of them (`make package`).
# Nothing else of the tree installs: the developers' tools, tests, galleries,
# fuzzers and the stand-in parent stay in the build folder.
include(GNUInstallDirs)

# Installing and packing take what is built and build nothing themselves (the
# Makefile's `package` builds first), so that the package test can pack the
# build folder while other tests use it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# The whisper engine, when this build has it, is linked into the programs
# statically, so the programs are all there is to install; its model file is
# the user's, named at run time by NOLARI_SPEECH_MODEL. The default engine's
# model comes from its Debian package, at the path that package installs.
foreach(program sondra velkit tarnet ambrel)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nolari-native)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Nolari")
set(CPACK_PACKAGE_CONTACT "Nolari maintainers <maintainers@users.noreply.c-seed-1ada2e60.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Nolari's native programs: overlay agent, focus observer, accessibility tool, transcription worker")
set(CPACK_PACKAGE_DESCRIPTION
    "The four child programs a Nolari desktop application starts and drives with one JSON object per line: ambrel (the overlay agent), tarnet (the focus observer), velkit (the one-shot accessibility tool) and sondra (the transcription worker).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries the binaries link, as dpkg-shlibdeps finds them; then what the
# programs open at run time: the default speech engine's English model; and
# what a desktop brings, which the programs do without: the accessibility bus,
# the overlay's font and the schemas of the display settings it follows.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pocketsphinx-en-us")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "at-spi2-core, fonts-lato, gsettings-desktop-schemas")
include(CPack)
