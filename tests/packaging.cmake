# What the build installs: the layout, the desktop file, AppStream data and polkit action against their validators,
# --help and --version of every program and script; then the Debian packages (lintian) and the whole update and
# sign-in flow run by the launcher unpacked from orvel-launcher; the Windows branches compiled with MinGW-w64. Shell
# checks, see packaging/check.
if(UNIX AND NOT APPLE)
    add_test(NAME packaging_files COMMAND ${CMAKE_SOURCE_DIR}/packaging/check files ${CMAKE_BINARY_DIR})
    add_test(NAME packaging_deb COMMAND ${CMAKE_SOURCE_DIR}/packaging/check deb ${CMAKE_BINARY_DIR})
    # The Windows branches, compiled with MinGW-w64 for their syntax (no Qt for Windows here).
    add_test(NAME windows_sources COMMAND ${CMAKE_SOURCE_DIR}/packaging/check windows ${CMAKE_BINARY_DIR})
    # The flow starts OrvelLauncher and Orvel, which refuse to run beside other copies.
    set_tests_properties(packaging_files windows_sources PROPERTIES TIMEOUT 300)
    set_tests_properties(packaging_deb PROPERTIES RUN_SERIAL TRUE TIMEOUT 900)
endif()
