#pragma once

namespace kiv::hosts {

// Keeps the FTP account out of core files: a crash of this process dumps no
// memory, and other processes of the same user cannot attach to it and read
// it. Called first thing by every host.
void keepSecretsOutOfCoreFiles();

}  // namespace kiv::hosts
