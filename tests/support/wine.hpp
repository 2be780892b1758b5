#pragma once

namespace kiv::test {

// The cross-built tests run under Wine, which stands in for Windows; where it
// behaves otherwise a test skips only that check.
bool underWine();

}  // namespace kiv::test
