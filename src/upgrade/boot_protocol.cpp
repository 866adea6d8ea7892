#include "upgrade/boot_protocol.h"

#include <cctype>

namespace parlex2 {

bool IsOkReply(std::string_view reply) {
  if (reply.size() < 2) return false;
  const auto lower = [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  };
  return lower(reply[reply.size() - 2]) == 'o' && lower(reply.back()) == 'k';
}

std::string_view SectorCode(int sector) {
  if (sector < 0 || sector >= static_cast<int>(kSectorCodeTable.size())) return {};
  return kSectorCodeTable[static_cast<std::size_t>(sector)];
}

}  // namespace parlex2
