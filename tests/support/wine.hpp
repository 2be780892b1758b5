#pragma once

namespace kiv::test {

// The cross-built tests run under Wine, which stands in for Windows; where it
// behaves otherwise a test skips only that check.
bool underWine();

// Wine's WinINet waits for the server to open an active data connection with
// no limit, and closing the handle from another thread does not end the wait.
inline constexpr const char* kWineWaitsForDataConnection =
    "Wine waits without a limit for a data connection that never comes";

}  // namespace kiv::test
