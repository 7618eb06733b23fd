# Service client: request worker, account record, browser sign-in, deployment settings, and the shared test server.
orvel_add_test(tst_TestHttpsServer LIBS orvel_testsupport)
orvel_add_test(tst_NetworkWorker LIBS orvel_service orvel_testsupport)

# Token sealing and the folder utility.
orvel_add_test(tst_CryptoUtil LIBS orvel_service)
orvel_add_test(tst_FileSystem LIBS orvel_service)
