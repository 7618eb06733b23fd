# User interface: design tokens, widgets and their forms, embedded pictures. Widget tests run offscreen.
orvel_add_test(tst_ProgressBarWidget LIBS orvel_ui)
orvel_add_test(tst_InstallBar SOURCES UpdateTestFiles.cpp LIBS orvel_ui orvel_testsupport)
orvel_add_test(tst_MiniModal LIBS orvel_ui)
