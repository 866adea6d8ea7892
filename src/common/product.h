// The product's name and version, as shown in titles, the About box and the
// comms log header.
#pragma once

#include <string>

#include "common/product_version.h"

namespace parlex2 {

inline constexpr char kCompanyWord[] = "Veltmark";
inline constexpr char kFolderWord[] = "Parlexer";
inline constexpr char kProductName[] = "Parlex2";
inline constexpr char kVersionString[] = PARLEX2_VERSION_STRING;
inline constexpr char kVersionMajor[] = PARLEX2_VERSION_MAJOR_TEXT;
inline constexpr char kVersionMinor[] = PARLEX2_VERSION_MINOR_TEXT;
inline constexpr char kVersionBuild[] = PARLEX2_VERSION_BUILD_TEXT;

// The product name, a blank and the version string up to its first blank:
// "Parlex2 v1_4".
const std::string& BaseTitle();

// What `--version` prints for `program`: "parlex2 Parlex2 v1_4 (build 16) Jul 14
// 2025", the About box's name and version string after the program's name.
std::string VersionLine(const char* program);

}  // namespace parlex2
