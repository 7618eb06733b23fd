# Service client: request worker (on loopback HTTPS), account calls and browser sign-in (answered in-process),
# deployment settings.
orvel_add_test(tst_NetworkWorker LIBS orvel_service orvel_testsupport)

# Token sealing, its layout checked with the openssl tool.
orvel_add_test(tst_CryptoUtil SOURCES UpdateTestFiles.cpp LIBS orvel_service)
orvel_add_test(tst_AccountFlows LIBS orvel_service orvel_testsupport)
orvel_add_test(tst_DeploymentSettings LIBS orvel_service orvel_testsupport)
target_compile_definitions(tst_DeploymentSettings PRIVATE
    ORVEL_DEFAULT_UPDATE_SERVICE_URL="${ORVEL_UPDATE_SERVICE_URL}"
    ORVEL_DEFAULT_ACCOUNT_SERVICE_URL="${ORVEL_ACCOUNT_SERVICE_URL}"
    ORVEL_DEFAULT_CONNECT_URL="${ORVEL_CONNECT_URL}"
    ORVEL_DEFAULT_CA_CERTIFICATES="${ORVEL_CA_CERTIFICATES}"
    ORVEL_DEFAULT_MANIFEST_PUBLIC_KEY="${ORVEL_MANIFEST_PUBLIC_KEY}")
