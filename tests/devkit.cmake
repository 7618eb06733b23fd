# Dev kit: the reference services and the stand-in application, each driven as the program it is.
# The sign-in table's bound is checked in process: filling it over HTTPS would take ten thousand requests.
orvel_add_test(tst_DevService SOURCES UpdateTestFiles.cpp ${CMAKE_SOURCE_DIR}/devkit/service/SignInRegistry.cpp
    LIBS orvel_service orvel_testsupport Qt5::Gui TIMEOUT 300)
target_include_directories(tst_DevService PRIVATE ${CMAKE_SOURCE_DIR}/devkit/service)
add_dependencies(tst_DevService OrvelDevService Orvel)
