# Launcher: start-up units, the controller, and the whole program driven end to end.
orvel_add_test(tst_DisplayScale LIBS orvel_launcher)
orvel_add_test(tst_DisplayMetrics LIBS orvel_platform SOURCES VirtualDisplay.cpp TIMEOUT 60)
