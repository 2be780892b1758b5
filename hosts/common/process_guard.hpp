#pragma once

namespace kiv::app {

// Keeps the FTP account out of core files and crash dumps: a crash of this
// process dumps no memory, and on Linux other processes of the same user
// cannot attach to it and read it. Called first thing by every host.
void keepSecretsOutOfCoreFiles();

}  // namespace kiv::app
