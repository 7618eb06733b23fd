# Debian packages, one per install component: `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME orvel)
set(CPACK_PACKAGE_VENDOR "Orvel")
set(CPACK_PACKAGE_CONTACT "Orvel Packaging <packaging@orvel.example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL launcher)
if(ORVEL_BUILD_DEVKIT)
    list(APPEND CPACK_COMPONENTS_ALL devservice)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orvel.example.org/launcher")

set(CPACK_DEBIAN_LAUNCHER_PACKAGE_NAME orvel-launcher)
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_SECTION graphics)
# CPack indents every line after the first (the summary) by one blank.
set(CPACK_COMPONENT_LAUNCHER_DESCRIPTION "launcher that keeps the Orvel design application current
OrvelLauncher checks for a newer build of Orvel, downloads the changed files in
parallel, installs them with its copy manager (through pkexec when the
installation folder is shared), signs the user in through the web browser and
starts Orvel with the user's token.")
# The font folder links to Debian's Noto Sans files; pkexec installs updates into shared folders.
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_DEPENDS "fonts-noto-core")
set(CPACK_DEBIAN_LAUNCHER_PACKAGE_RECOMMENDS "pkexec")

set(CPACK_DEBIAN_DEVSERVICE_PACKAGE_NAME orvel-devservice)
set(CPACK_DEBIAN_DEVSERVICE_PACKAGE_SECTION net)
set(CPACK_COMPONENT_DEVSERVICE_DESCRIPTION "development update and account service for OrvelLauncher
OrvelDevService serves published builds of Orvel (update manifests and file
downloads) and a browser sign-in with tokens over HTTPS, for development,
demonstrations and small teams. The package holds the service, a stand-in
Orvel application, make-builds for demonstration builds, and a systemd unit.")
set(orvel_conffiles ${CMAKE_BINARY_DIR}/packaging/devservice/conffiles)
file(WRITE ${orvel_conffiles} "/etc/orvel/devservice.ini\n")
set(CPACK_DEBIAN_DEVSERVICE_PACKAGE_CONTROL_EXTRA ${orvel_conffiles})

include(CPack)
