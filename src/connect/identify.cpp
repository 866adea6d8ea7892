#include "connect/identify.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/text.h"
#include "common/ui.h"
#include "connect/model_table.h"
#include "link/comms_log.h"
#include "link/instrument_link.h"
#include "link/lan.h"

namespace parlex2 {
namespace {

constexpr char kCaption[] = "Test Connection";
constexpr std::size_t kReplyBufferSize = 256;
constexpr unsigned kDrainMs = 500;

// Reads one reply into `buffer`; the reply text (up to its first zero byte)
// or empty when the read gave nothing.
std::string ReadReply(InstrumentLink& link, char (&buffer)[kReplyBufferSize], int& result) {
  result = link.ReadLine(buffer, sizeof buffer);
  return std::string(UntilNul(std::string_view(buffer, sizeof buffer)));
}

void ReadIdentityReply(InstrumentLink& link, std::string_view command, std::string& field,
                       std::size_t limit) {
  char buffer[kReplyBufferSize];
  field.clear();
  link.Send(command);
  int result = 0;
  std::string reply = ReadReply(link, buffer, result);
  if (result > 0) field = Truncated(reply, limit);
}

void LogIdentified(const std::string& reply, std::int32_t modelNumber) {
  char line[kReplyBufferSize + 64];
  if (modelNumber == kModelBootcode) {
    std::snprintf(line, sizeof line, "***\tIDENTIFIED: %s (bootcode)\t***\n", reply.c_str());
  } else {
    std::snprintf(line, sizeof line, "***\tIDENTIFIED: %s (%d)\t***\n", reply.c_str(),
                  static_cast<int>(modelNumber));
  }
  CommsLog::Write(line);
}

}  // namespace

bool HasBootcodeSignature(std::string_view reply) {
  constexpr std::string_view kSignature = ":    32 32 32 32";
  return reply.find(',') == std::string_view::npos && reply.size() > 8 &&
         reply.substr(7, kSignature.size()) == kSignature;
}

std::string OpenFailureMessage(const ConnectionSettings& settings) {
  return settings.interfaceKind == InterfaceKind::Lan
             ? "Failed to connect to IP address " + settings.ipAddress
             : "Unable to open port " + settings.comPort;
}

bool ConnectAndIdentify(UserInterface& ui, InstrumentLink& link, bool showResult) {
  ConnectionSettings& settings = link.settings;
  InstrumentInfo& info = link.info;
  if (settings.interfaceKind == InterfaceKind::None) return false;

  // Nothing of an instrument identified earlier may outlive this identification:
  // a reply left from it would reach the title, the panel and the upgrade's
  // model and version checks as this instrument's.
  const bool connected = info.connected;
  info = InstrumentInfo{};
  info.connected = connected;

  CommsLog::Write("***\tCONNECTING\t***\n");
  if (link.Open() != 0) {
    ui.ShowMessage(OpenFailureMessage(settings), kCaption, MessageIcon::Information, MessageButtons::Ok);
    return false;
  }
  CommsLog::Write("***\tCONNECTED\t***\n");

  link.Send(std::string_view(&kWakeByte, 1));
  link.Send(kEscapeCommand);
  link.SetReadTimeout(kIdentifyReadTimeoutMs);

  ScopedWaitCursor wait(ui);

  char buffer[kReplyBufferSize];
  std::string reply;
  for (int attempt = 0; attempt < kIdnAttempts; ++attempt) {
    link.Send(kIdnCommand);
    int result = 0;
    reply = ReadReply(link, buffer, result);
    if (result > 0 && !reply.empty()) break;
  }
  link.Drain(kDrainMs);
  link.SetReadTimeout(kDefaultReadTimeoutMs);

  const bool answered = !reply.empty();
  if (answered) {
    const std::size_t comma = reply.find(',');
    if (comma == std::string::npos) {
      // A reply without a comma names no instrument unless it is the boot
      // code's signature.
      if (HasBootcodeSignature(reply)) {
        info.modelNumber = kModelBootcode;
        LogIdentified(reply, info.modelNumber);
        info.idnReply = Truncated(reply, kIdnReplyMax);
      }
    } else {
      info.modelNumber = LookupModel(std::string_view(reply).substr(comma + 1), &info.familyVariant,
                                     &info.modelVariant);
      if (info.modelNumber == kModelNotIdentified) {
        CommsLog::Write("***\tUNIDENTIFIED INSTRUMENT\t***\n");
      } else {
        LogIdentified(reply, info.modelNumber);
        info.idnReply = Truncated(reply, kIdnReplyMax);
        ReadIdentityReply(link, kCalstrCommand, info.calstrReply, kCalReplyMax);
        ReadIdentityReply(link, kCalverCommand, info.calverReply, kCalReplyMax);
        ReadIdentityReply(link, kVersionCommand, info.versionReply, kVersionReplyMax);
      }
    }
  }

  if (showResult) {
    std::string text;
    if (!answered) {
      text = "The connection failed";
    } else {
      text = "The connection was successful\n";
      if (info.modelNumber == kModelBootcode) {
        text += "Bootcode Instrument";
      } else if (!info.idnReply.empty()) {
        text += info.idnReply;
      } else {
        text += "Unknown Instrument";
      }
    }
    ui.ShowMessage(text, kCaption, MessageIcon::Information, MessageButtons::Ok);
  }
  return answered;
}

}  // namespace parlex2
