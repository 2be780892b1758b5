// kivphoto-desktop: the photo-upload control in a desktop window.
#include "options.hpp"
#include "process_guard.hpp"
#include "window.hpp"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  kiv::hosts::keepSecretsOutOfCoreFiles();
  // Parsed before Qt starts, so that --help and mistakes need no display.
  std::vector<std::string> args(argv + 1, argv + argc);
  kiv::desktop::Options options;
  try {
    options = kiv::desktop::parseCommandLine(args, std::getenv("KIV_FTP_PASSWORD"));
  } catch (const kiv::desktop::UsageError& error) {
    std::fprintf(stderr, "kivphoto-desktop: %s\n%s", error.what(), kiv::desktop::usage().c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(kiv::desktop::usage().c_str(), stdout);
    return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("kivphoto-desktop");
  QApplication::setWindowIcon(QIcon::fromTheme("kivphoto-desktop"));
  kiv::desktop::Window window(std::move(options));
  window.show();
  return QApplication::exec();
}
