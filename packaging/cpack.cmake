# The Debian package (scripts/package.sh): name, version and description come
# from here; the run-time libraries are found by dpkg-shlibdeps in the binaries.
set(LUMORA_RELEASE_DATE "2026-12-09")
set(LUMORA_RELEASE_DATE_RFC2822 "Wed, 09 Dec 2026 12:00:00 +0000")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumora developers")
set(CPACK_PACKAGE_CONTACT "Lumora developers <lumora@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Chinese interface needs a CJK font; Qt does not say so in its libraries.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "p7zip-full")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "data acquisition for an optical sensor interrogator
Lumora receives the UDP stream of an optical sensor interrogator on the local
network (peak wavelengths of up to 320 sensors on 32 channels, and raw
spectra), shows it live in a sensor list, a spectrum plot, a trace chart and a
realtime strip, records it to rotating .dat files and converts recordings to
CSV. It also sends commands to the instrument, finds instruments on the
network and starts high-speed capture and conversion scripts.

The package holds the desktop program lumora, with an English and a
Simplified Chinese interface, and lumora-cli, which records, publishes to
MQTT, replays, converts and simulates an instrument without a window.")
