# User interface: design tokens, widgets and their forms, embedded pictures, and the launcher's window that holds
# them. Widget tests run offscreen.
orvel_add_test(tst_Widgets SOURCES UpdateTestFiles.cpp LIBS orvel_launcher orvel_testsupport)
# The avatar is drawn for a screen of device pixel ratio 2.
orvel_add_test(tst_Profile LIBS orvel_ui orvel_testsupport ENV QT_SCALE_FACTOR=2)
