// The web server's answer is outside our control: whatever it says, parsing
// must not crash, and a name it yields must be safe to send to the FTP server.
#include <upload/photo_number.hpp>

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  if (auto answer = kiv::upload::parsePhotoNumberAnswer(body)) {
    if (answer->remoteName.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
    if (!answer->remoteName.ends_with(std::to_string(answer->photoNumber) + ".jpg")) std::abort();
  }
  return 0;
}
