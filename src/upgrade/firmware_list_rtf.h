// The "Proposed Operation" list as the rich-text document the list dialog
// shows.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "upgrade/firmware_list.h"

namespace parlex2 {

// The document. Texts from the instrument and the files are escaped, so none
// can break it.
std::string FirmwareListRtf(const FirmwareList& list);

// BuildFirmwareList and FirmwareListRtf in one; nothing when memory ran out.
std::optional<std::string> BuildFirmwareFileList(LoadTable& table, int count,
                                                 std::string_view idnReply,
                                                 std::string_view targetModel, bool& acceptBlocked);

// `text` made safe inside a rich-text document: backslash and braces escaped,
// control characters and bytes above 0x7F written as \'hh.
std::string RtfEscape(std::string_view text);

}  // namespace parlex2
