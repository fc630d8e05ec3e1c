# What a desktop installs beside the program and its menu entry (the AppStream metadata, the
# manual page, the copyright notice and the changelog), and the Debian package of all of it,
# made by CPack's DEB generator (`make package`). Everything here takes the version from
# project() and the release date from KORU_RELEASE_DATE, so that the package, its metadata, its
# manual page and the About text cannot disagree.

# Where the project's pages are published: the AppStream screenshots are read from there (they
# are docs/ of the source tree) and the package names it as its homepage.
set(KORU_WEBSITE "https://quillbrook.example/koru" CACHE STRING
    "Web address of the project's pages; the AppStream screenshots lie under its docs/")
set(KORU_MAINTAINER "The KORU developers <koru@quillbrook.example>" CACHE STRING
    "Maintainer of the Debian package, as name <address>")
# No licence has been granted yet; shell/desktop/copyright says so in words and must change with
# this identifier.
set(KORU_LICENSE "LicenseRef-proprietary")
set(KORU_APPSTREAM_ID "com.quillbrook.koru")

include(GNUInstallDirs)
set(desktop_src ${PROJECT_SOURCE_DIR}/shell/desktop)
set(desktop_out ${CMAKE_BINARY_DIR}/desktop-files)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KORU_MAINTAINER}")

# A Debian changelog dates its entry the way mail does.
execute_process(COMMAND date -u -R -d "${KORU_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE KORU_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${desktop_src}/koru.metainfo.xml.in ${desktop_out}/${KORU_APPSTREAM_ID}.metainfo.xml
               @ONLY)
configure_file(${desktop_src}/koru.1.in ${desktop_out}/koru.1 @ONLY)
configure_file(${desktop_src}/changelog.in ${desktop_out}/changelog @ONLY)

# Manual pages and changelogs are installed compressed; -n leaves the time out of the file, so
# that the same sources give the same package.
add_custom_command(OUTPUT ${desktop_out}/koru.1.gz ${desktop_out}/changelog.gz
    COMMAND gzip -9nkf ${desktop_out}/koru.1 ${desktop_out}/changelog
    DEPENDS ${desktop_out}/koru.1 ${desktop_out}/changelog
    COMMENT "Compressing the manual page and the changelog"
    VERBATIM)
add_custom_target(koru_desktop_files ALL DEPENDS ${desktop_out}/koru.1.gz ${desktop_out}/changelog.gz)

install(FILES ${desktop_out}/${KORU_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${desktop_out}/koru.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Named after the package, not the project: Debian looks for /usr/share/doc/koru/.
install(FILES ${desktop_src}/copyright ${desktop_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/koru)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME koru)
set(CPACK_PACKAGE_VENDOR "The KORU developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small multithreaded personal web server for the desktop")
# One text (a list would join its parts with ";"), in lines short enough for Debian's tools.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "KORU serves the files of a folder you choose to every browser that can\n"
    "reach your machine, takes uploads into a folder of its own, and answers\n"
    "pages from plug-in modules that it loads at run time. One window\n"
    "configures and controls it, and it hides to the notification area while\n"
    "it serves.\n"
    "\n"
    "The package holds the program, its menu entry and the sample modules\n"
    "calc and echo.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# koru_<version>_<arch>.deb, the name Debian's own tools give a package.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION httpd)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${KORU_WEBSITE})
# The dependencies are what the binaries link against, found by dpkg-shlibdeps, so that they
# follow the libraries the build used without a list kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The build keeps its debugging information for the developers; the package does not.
set(CPACK_STRIP_FILES ON)
# Folders the install creates get Debian's usual permissions whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# CPack installs through the "preinstall" target, which would build everything first, the tests
# too: `make package` builds what the package holds, and `make install` builds everything, before
# they install.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
