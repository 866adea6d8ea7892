#include "upgrade/firmware_list_rtf.h"

#include <cctype>
#include <cstdio>
#include <new>

namespace parlex2 {
namespace {

constexpr std::string_view kRtfHeadStart =
    R"({\rtf1\ansi\ansicpg1252\deff0\deflang2057{\fonttbl{\f0\fswiss\fcharset0 Courier New;}})"
    R"({\colortbl ;\red0\green0\blue0;\red0\green192\blue0;\red255\green0\blue0;\red127\green127\blue127;})"
    R"(\deftab1000\viewkind4\uc1\ul\pard\cf4\b\f0\fs20 Proposed Operation\par\fs20\ulnone\b0\par)";
constexpr std::string_view kRtfHeadMiddle = R"(\cf4 Erase Sectors: )";
constexpr std::string_view kRtfHeadEnd =
    R"(\par\cf0\par\cf4 Program Sectors with the following code:\par\cf0\par)"
    R"(\cf4 File Sector Filename            Date & Time\par)";

// Colour numbers of the document's colour table.
constexpr int kColourText = 0;
constexpr int kColourRed = 3;

void AppendHexEscape(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\'";
  out += kDigits[c >> 4];
  out += kDigits[c & 15];
}

// The name column: the first 20 characters padded to 20, escaped. A leading
// digit is escaped too, since it would otherwise run into the colour word
// before it (\cf0 and "1" reading as \cf01).
std::string NameColumn(std::string_view name) {
  std::string padded(name.substr(0, 20));
  padded.resize(20, ' ');
  if (std::isdigit(static_cast<unsigned char>(padded[0]))) {
    std::string out;
    AppendHexEscape(out, static_cast<unsigned char>(padded[0]));
    return out + RtfEscape(std::string_view(padded).substr(1));
  }
  return RtfEscape(padded);
}

}  // namespace

std::string RtfEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += ch;
    } else if (c >= 0x80 || c < 0x20) {
      AppendHexEscape(out, c);
    } else {
      out += ch;
    }
  }
  return out;
}

std::string FirmwareListRtf(const FirmwareList& list) {
  std::string head = R"(\cf4 Instrument: \cf0 )" + RtfEscape(list.instrument) + R"(\par)";
  if (!list.target.empty()) head += R"(\cf4 Target: \cf0 )" + RtfEscape(list.target) + R"(\par)";
  std::string erase;
  char piece[64];
  for (const FirmwareListSector& s : list.eraseSectors) {
    std::snprintf(piece, sizeof piece, "\\cf%d %d,", s.allowed ? kColourText : kColourRed,
                  s.sector);
    erase += piece;
  }
  std::string out;
  out += kRtfHeadStart;
  out += head;
  out += kRtfHeadMiddle;
  out += erase;
  out += kRtfHeadEnd;
  for (const FirmwareListRow& row : list.rows) {
    std::snprintf(piece, sizeof piece, "\\cf0 %-2d   %-2d     \\cf%d", row.number, row.sector,
                  row.found ? kColourText : kColourRed);
    out += piece;
    out += NameColumn(row.name);
    out += "\\cf0 ";
    out += row.date;
    out += "\\par";
  }
  for (const std::string& note : list.notes) {
    std::snprintf(piece, sizeof piece, "\\cf%d ", kColourRed);
    out += piece;
    out += RtfEscape(note);
    out += "\\cf0\\par";
  }
  out += "}";
  return out;
}

std::optional<std::string> BuildFirmwareFileList(LoadTable& table, int count,
                                                 std::string_view idnReply,
                                                 std::string_view targetModel,
                                                 bool& acceptBlocked) {
  try {
    return FirmwareListRtf(BuildFirmwareList(table, count, idnReply, targetModel, acceptBlocked));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

}  // namespace parlex2
