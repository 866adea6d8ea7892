#include "upgrade/upgrade_checks.h"

#include <vector>

#include "common/text.h"
#include "connect/model_table.h"

namespace parlex2 {
namespace {

constexpr char kModelMismatch[] =
    "The upgrade file is for a %s. You are connected to a %s\n\nPlease ensure the firmware file "
    "name and target instrument model match before continuing\n";
constexpr char kUnknownModel[] = "Unknown Model";

std::string_view UpToComma(std::string_view text) { return text.substr(0, text.find(',')); }

bool IsJ7BWithAccessories(std::int32_t number) {
  return number == 13 || number == 15 || number == 17;
}
bool IsHltb(std::int32_t number) { return number == 10 || number == 11; }

bool Compare(VersionTest test, std::int32_t version, std::int32_t reference) {
  switch (test) {
    case VersionTest::Greater:
      return version > reference;
    case VersionTest::GreaterOrEqual:
      return version >= reference;
    case VersionTest::Less:
      return version < reference;
    case VersionTest::LessOrEqual:
      return version <= reference;
    case VersionTest::Equal:
      return version == reference;
    default:
      return false;
  }
}

}  // namespace

std::string_view ConnectedModelText(std::string_view idnReply) {
  const std::size_t comma = idnReply.find(',');
  return comma == std::string_view::npos ? idnReply : idnReply.substr(comma + 1);
}

bool ModelSuits(std::string_view targetModel, const IdentifiedInstrument& instrument) {
  const std::string_view connectedModel = ConnectedModelText(instrument.idnReply);
  const std::int32_t target = LookupModel(targetModel);
  const std::int32_t connected = LookupModel(connectedModel);
  if (instrument.detected && !targetModel.empty() && target == connected) {
    // Two models the table does not know both give 0: only the same name is
    // the same instrument.
    if (target != kModelNotIdentified) return true;
    if (EqualNoCase(targetModel, UpToComma(connectedModel))) return true;
  }
  if (instrument.modelNumber == kModelBootcode) return true;
  if (target == kModelJ7BAccessory && IsJ7BWithAccessories(connected)) return true;
  return IsHltb(target) && IsHltb(connected);
}

FirmwareCheck CheckFirmware(const UpgradeDescriptor& descriptor,
                            const IdentifiedInstrument& instrument) {
  if (!ModelSuits(descriptor.targetModel, instrument)) return {FirmwareVerdict::ModelMismatch, -1};
  if (descriptor.versionTest[0] == VersionTest::NoCondition ||
      instrument.modelNumber == kModelBootcode) {
    return {FirmwareVerdict::Suits, 0};
  }
  const std::vector<std::string> fields = SplitText(instrument.versionReply, ',');
  if (fields.size() < 2) return {FirmwareVerdict::VersionUnreadable, -1};
  const std::int32_t version = AtoI(fields[1]);
  // The outcome of the last condition examined counts.
  FirmwareVerdict outcome = FirmwareVerdict::NoUsableTarget;
  for (int i = 0; i < 2; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const VersionTest test = descriptor.versionTest[at];
    if (i == 1 && test == VersionTest::NoCondition) break;
    if (test == VersionTest::Unusable || test == VersionTest::NoCondition) {
      outcome = FirmwareVerdict::NoUsableTarget;
    } else if (Compare(test, version, descriptor.versionReference[at])) {
      return {FirmwareVerdict::Suits, i};
    } else {
      outcome = FirmwareVerdict::Incompatible;
    }
  }
  return {outcome, -1};
}

std::string ModelMismatchMessage(std::string_view targetModel, std::string_view idnReply) {
  std::string_view connected = UpToComma(ConnectedModelText(idnReply));
  if (targetModel.empty()) targetModel = kUnknownModel;
  if (connected.empty()) connected = kUnknownModel;
  const std::string_view format = kModelMismatch;
  const std::size_t first = format.find("%s");
  const std::size_t second = format.find("%s", first + 2);
  std::string text(format.substr(0, first));
  text.append(targetModel).append(format.substr(first + 2, second - first - 2));
  text.append(connected).append(format.substr(second + 2));
  return text;
}

}  // namespace parlex2
