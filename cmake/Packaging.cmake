# The Debian package of the Linux build: `cpack -G DEB` in the build folder (scripts/release.sh
# makes it from a clean copy of a commit). It holds what `cmake --install` puts in place: the
# two programs, the desktop entry and the icons, the man pages, the schema of keyscout-list's
# JSON, and the licence and history in /usr/share/doc/keyscout. Every file that is made here
# is the same bytes on every build of one commit: gzip without name or time, dates from
# SOURCE_DATE_EPOCH (which string(TIMESTAMP) honours).
set(KS_PACKAGE_MAINTAINER "KeyScout Developers <keyscout@example.org>" CACHE STRING
    "The Maintainer of the Debian package and the author of its changelog entry")

set(ks_made ${CMAKE_BINARY_DIR}/packaging)
set(ks_gzipped "")
# ks_gzip(SOURCE NAME): NAME.gz in ${ks_made}, made from SOURCE as gzip -9n makes it.
function(ks_gzip source name)
  add_custom_command(OUTPUT ${ks_made}/${name}.gz
    COMMAND gzip -9 -n -c ${source} > ${ks_made}/${name}.gz
    DEPENDS ${source}
    COMMENT "Compressing ${name}")
  set(ks_gzipped ${ks_gzipped} ${ks_made}/${name}.gz PARENT_SCOPE)
endfunction()

foreach(page keyscout keyscout-list)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1.in ${ks_made}/${page}.1 @ONLY)
  ks_gzip(${ks_made}/${page}.1 ${page}.1)
endforeach()
string(TIMESTAMP KS_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/changelog.in ${ks_made}/changelog @ONLY)
ks_gzip(${ks_made}/changelog changelog)
ks_gzip(${CMAKE_SOURCE_DIR}/CHANGELOG.md CHANGELOG.md)
add_custom_target(ks_package_files ALL DEPENDS ${ks_gzipped})

install(FILES ${ks_made}/keyscout.1.gz ${ks_made}/keyscout-list.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/docs/keyscout-list.schema.json DESTINATION share/keyscout)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright ${ks_made}/changelog.gz
              ${ks_made}/CHANGELOG.md.gz
        DESTINATION share/doc/keyscout)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME keyscout)
set(CPACK_PACKAGE_VENDOR "KeyScout Developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KS_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "show the Vendor ID, Product ID and serial number of USB devices")
# Lines of at most 80 characters, as a terminal of 80 columns shows them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "KeyScout lists the USB devices connected now and, for the one selected, shows"
  "its Vendor ID, Product ID and serial number and the device nodes behind it"
  "(interfaces, disks, partitions with their mount points). The list refreshes by"
  "itself when a device is plugged in or pulled out. It only reads: it changes no"
  "device and writes no file."
  ""
  "The package holds the window (keyscout, Qt 6) and keyscout-list, the same list"
  "as text or JSON for scripts, which can also follow every change and record what"
  "a scan saw.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: what the binaries really link, as dpkg-shlibdeps finds it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The dialogs are laid out in the metrics of their font, for which IPA P Gothic stands in.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-ipafont-gothic)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
