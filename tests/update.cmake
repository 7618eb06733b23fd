# Update engine: manifests, downloads, applying an update, version checks, starting programs.
orvel_add_test(tst_Manifest SOURCES UpdateTestFiles.cpp LIBS orvel_update)
# Real HTTPS on loopback: the request worker, single and parallel downloads; the slow-first-byte case waits for the
# 3 s guard once.
orvel_add_test(tst_HttpsTransport SOURCES UpdateTestFiles.cpp LIBS orvel_update orvel_service orvel_testsupport TIMEOUT 90)
orvel_add_test(tst_VersionCheck LIBS orvel_update orvel_service orvel_testsupport)
orvel_add_test(tst_ProgramStart SOURCES UpdateTestFiles.cpp LIBS orvel_launcher orvel_testsupport)
orvel_add_test(tst_UpdateInstaller SOURCES UpdateTestFiles.cpp LIBS orvel_launcher orvel_testsupport TIMEOUT 90)
add_dependencies(tst_UpdateInstaller OrvelFileCopyManager)
