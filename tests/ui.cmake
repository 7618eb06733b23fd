# User interface: design tokens, widgets and their forms, embedded pictures, and the launcher's window that holds
# them. Widget tests run offscreen.
orvel_add_test(tst_Widgets SOURCES UpdateTestFiles.cpp LIBS orvel_launcher orvel_testsupport)
