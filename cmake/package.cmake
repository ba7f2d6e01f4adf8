# The Debian package: `cpack -G DEB` in the build folder makes pelorvane_<version>_<arch>.deb
# from what `cmake --install` puts under /usr. Its library dependencies are worked out from the
# program's shared libraries (dpkg-shlibdeps); what it loads at run time by name is declared here.
if(NOT TARGET pelorvane)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Pelorvane)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "practice player for MIDI keyboards whose keys light up")
set(CPACK_PACKAGE_DESCRIPTION
  "Pelorvane keeps a list of MIDI files and plays a chosen song to a MIDI keyboard,\n\
lighting the keys of the channels being practised. Four modes: model performance,\n\
my-pace lesson (the song waits at each chord until its keys are held),\n\
accompaniment and solo. Without a keyboard it plays on a built-in synthesizer\n\
and shows the lights on a keyboard in its window. Three demo songs are included.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Pelorvane maintainers <maintainers@pelorvane.invalid>")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The built-in synthesizer's General MIDI sounds and a font for the Japanese window.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "timgm6mb-soundfont | fluid-soundfont-gm, fonts-ipafont-gothic | fonts-japanese-gothic")
# Qt's own dialog texts in Japanese, and a window on Wayland without XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jackd2")

include(CPack)
