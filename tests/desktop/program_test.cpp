// kivphoto-desktop started as a program, the way its launcher starts it.
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace {

// The launcher passes the folder as a bare argument; the program runs with
// core dumps off, so a crash never writes the FTP password to disk.
TEST(DesktopProgramTest, TakesTheFolderAsArgumentAndRunsWithCoreDumpsOff) {
  kiv::test::TempDir scratch;
  const std::string limits = (scratch / "limits").string();
  const std::string command = "ulimit -c unlimited; '" + std::string(KIVPHOTO_DESKTOP_EXECUTABLE) + "' '" +
                              scratch.path().string() + "' >/dev/null 2>&1 & pid=$!; sleep 2; " +
                              "grep 'Max core file size' /proc/$pid/limits >'" + limits + "'; kill $pid; wait $pid";
  std::system(command.c_str());
  std::istringstream line(kiv::test::readFile(limits));
  std::string max, core, file, size, soft, hard;
  line >> max >> core >> file >> size >> soft >> hard;
  EXPECT_EQ(soft + " " + hard, "0 0") << line.str();
}

}  // namespace
