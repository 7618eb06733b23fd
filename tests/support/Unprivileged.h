#pragma once

#include <functional>

namespace OrvelTest {

// Runs `call` as a user who cannot write root's folders: when root, in a forked child that drops to "nobody"
// (uid 65534); otherwise right here. Returns what `call` returned (0..254), or 255 when the child could not drop
// its rights, or -1 when it did not end normally.
int asUnprivilegedUser(const std::function<int()>& call);

} // namespace OrvelTest
