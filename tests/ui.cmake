# User interface: design tokens, widgets and their forms, embedded pictures. Widget tests run offscreen.
orvel_add_test(tst_DesignTokens LIBS orvel_ui)
