# Launcher: start-up units and the whole program driven end to end (the window in process: ui.cmake).
# Start-up: the display measured on a private X server, the scale decided from it, the fonts.
orvel_add_test(tst_Startup SOURCES UpdateTestFiles.cpp LIBS orvel_launcher orvel_testsupport TIMEOUT 60)
# The built programs driven end to end on a private X server; they need every program of the build.
orvel_add_test(tst_LauncherEndToEnd SOURCES UpdateTestFiles.cpp LIBS orvel_testsupport Qt5::Network RUN_SERIAL TIMEOUT 360)
add_dependencies(tst_LauncherEndToEnd OrvelLauncher OrvelDevService Orvel OrvelFileCopyManager)
