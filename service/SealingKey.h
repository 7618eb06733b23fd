#pragma once

// Key text that seals the sign-in token: in the "JWT" setting and on the design application's command line, which
// opens the blob with the same text. Changing it locks out every stored token and the installed application.
constexpr char SealingKey[] = "Qz7#Lp2!Vw9$Rk4&";
