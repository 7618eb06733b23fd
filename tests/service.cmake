# Service client: account calls and browser sign-in (answered in-process), deployment settings. The request worker
# is tested on loopback HTTPS with the downloads (tst_HttpsTransport).

# Token sealing, its layout checked with the openssl tool.
orvel_add_test(tst_CryptoUtil SOURCES UpdateTestFiles.cpp LIBS orvel_service)
# The fetched avatar is drawn for a screen of device pixel ratio 2.
orvel_add_test(tst_AccountFlows LIBS orvel_ui orvel_service orvel_testsupport ENV QT_SCALE_FACTOR=2)
orvel_add_test(tst_DeploymentSettings LIBS orvel_service orvel_testsupport)
target_compile_definitions(tst_DeploymentSettings PRIVATE
    ORVEL_DEFAULT_UPDATE_SERVICE_URL="${ORVEL_UPDATE_SERVICE_URL}"
    ORVEL_DEFAULT_ACCOUNT_SERVICE_URL="${ORVEL_ACCOUNT_SERVICE_URL}"
    ORVEL_DEFAULT_CONNECT_URL="${ORVEL_CONNECT_URL}"
    ORVEL_DEFAULT_CA_CERTIFICATES="${ORVEL_CA_CERTIFICATES}"
    ORVEL_DEFAULT_MANIFEST_PUBLIC_KEY="${ORVEL_MANIFEST_PUBLIC_KEY}")
