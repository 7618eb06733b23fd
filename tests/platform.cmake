# Process list, private temporary folder, start with the rights to write a folder.
orvel_add_test(tst_Platform SOURCES UpdateTestFiles.cpp LIBS orvel_platform orvel_testsupport)
