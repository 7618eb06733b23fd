# Dev kit: the reference services and the stand-in application, each driven as the program it is.
orvel_add_test(tst_DevService SOURCES UpdateTestFiles.cpp LIBS orvel_testsupport Qt5::Gui TIMEOUT 300)
add_dependencies(tst_DevService OrvelDevService)
orvel_add_test(tst_DevApp SOURCES UpdateTestFiles.cpp LIBS orvel_service orvel_testsupport TIMEOUT 120)
add_dependencies(tst_DevApp Orvel)
