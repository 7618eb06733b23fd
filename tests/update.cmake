# Update engine: manifests, downloads, applying an update, version checks, starting programs.
orvel_add_test(tst_Manifest LIBS orvel_update)
orvel_add_test(tst_LauncherError LIBS orvel_launcher)
