orvel_add_test(tst_CopyManager SOURCES UpdateTestFiles.cpp LIBS orvel_copymanager)
# The test runs the real program from the installation folder.
add_dependencies(tst_CopyManager OrvelFileCopyManager)
