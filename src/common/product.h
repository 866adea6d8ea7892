// The product's name and version, as shown in titles, the About box and the
// comms log header.
#pragma once

#include <string>

namespace parlex2 {

inline constexpr char kCompanyWord[] = "Veltmark";
inline constexpr char kFolderWord[] = "Parlexer";
inline constexpr char kProductName[] = "Parlex2";
inline constexpr char kVersionString[] = "v1_4 (build 16) Jul 14 2025";
inline constexpr char kVersionMajor[] = "1";
inline constexpr char kVersionMinor[] = "4";
inline constexpr char kVersionBuild[] = "16";

// The product name, a blank and the version string up to its first blank:
// "Parlex2 v1_4".
const std::string& BaseTitle();

}  // namespace parlex2
