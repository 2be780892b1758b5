// kivphoto-desktop: the photo-upload control in a desktop window.
#include "options.hpp"
#include "process_guard.hpp"
#include "window.hpp"

#include <QApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char** argv) {
  kiv::app::keepSecretsOutOfCoreFiles();
  using namespace kiv::app;
  // Parsed before Qt starts, so that --help and mistakes need no display.
  Options options;
  try {
    options = parseOptions(Program::Desktop, std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& error) {
    std::fprintf(stderr, "kivphoto-desktop: %s\nTry 'kivphoto-desktop --help'.\n", error.what());
    return 2;
  }
  if (options.help) {
    std::fputs(helpText(Program::Desktop).c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("kivphoto-desktop %s\n", KIV_VERSION);
    return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("kivphoto-desktop");
  QApplication::setWindowIcon(QIcon::fromTheme("kivphoto-desktop"));
  kiv::desktop::Window window(std::move(options));
  window.show();
  QApplication::exec();
  window.reportRun();
  return window.exitStatus();
}
