#pragma once

// Registers the embedded pictures (":/OrvelLauncher/Resources/...") of this static library. The linker drops
// resources nobody refers to, so every program and test that shows our widgets calls this once at start.
void initUiResources();
