#pragma once

#include <control/upload.hpp>

#include "support/dealer_servers.hpp"
#include "support/recording_site.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace kiv::test {

// An initialised control with default properties whose photo folder is a fresh
// dock folder. It records Label2 at every repaint, as a user would have seen it.
struct ControlUnderTest {
  RecordingSite site;
  Upload upload{site};
  TempDir dock;
  std::vector<std::string> progress;

  ControlUnderTest() {
    upload.Initialize();
    upload.InitProperties();
    upload.FullPath(dock.path().string());
    site.onRefresh = [this] {
      if (progress.empty() || progress.back() != upload.Label2.Caption) progress.push_back(upload.Label2.Caption);
    };
  }

  // Points the control at the stand-in dealer servers, freshly reset.
  void useServers(const DealerServers& servers) {
    servers.reset();
    upload.KIVWEB(servers.webBase());
    upload.KIVFTP(servers.ftpHost());
    upload.KIVUser(servers.user());
    upload.KIVPassword(servers.password());
  }

  std::string photo(const std::string& relative) const { return (dock.path() / relative).string(); }
};

}  // namespace kiv::test
