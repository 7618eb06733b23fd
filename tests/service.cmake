# Service client: request worker, account record, browser sign-in, deployment settings, and the shared test server.
orvel_add_test(tst_TestHttpsServer LIBS orvel_testsupport)
