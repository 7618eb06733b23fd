orvel_add_test(tst_CopyManager SOURCES UpdateTestFiles.cpp LIBS Qt5::Core)
# The test runs the real program from the installation folder.
add_dependencies(tst_CopyManager OrvelFileCopyManager)
