#include "upgrade/boot_protocol.h"

#include "common/text.h"

namespace parlex2 {

bool IsOkReply(std::string_view reply) {
  return reply.size() >= 2 && EqualNoCase(reply.substr(reply.size() - 2), "ok");
}

std::string_view SectorCode(int sector) {
  if (sector < 0 || sector >= static_cast<int>(kSectorCodeTable.size())) return {};
  return kSectorCodeTable[static_cast<std::size_t>(sector)];
}

}  // namespace parlex2
