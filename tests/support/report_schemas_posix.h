// Checks test reports with the tools a test station would use: xmllint
// against both JUnit schemas of tests/data/junit (Ant's strict one and
// Jenkins'), and Debian's python3-jsonschema against the published
// docs/test-report.schema.json. POSIX only; needs PARLEX2_SOURCE_DIR.
#pragma once

#include <string>

#include "support/command_posix.h"

namespace parlex2::testing {

// Status 0 when the file is valid against every schema; the tools' words in out.
inline CommandRun CheckJUnitReport(const std::string& path) {
  const std::string schemas = std::string(PARLEX2_SOURCE_DIR) + "/tests/data/junit/";
  return RunCommand("xmllint --noout --schema '" + schemas + "JUnit.xsd' '" + path +
                    "' 2>&1 && xmllint --noout --schema '" + schemas + "jenkins-junit-10.xsd' '" +
                    path + "' 2>&1");
}

inline CommandRun CheckJsonReport(const std::string& path) {
  const std::string source = PARLEX2_SOURCE_DIR;
  return RunCommand("/usr/bin/python3 '" + source + "/tests/tools/validate_json.py' '" + source +
                    "/docs/test-report.schema.json' '" + path + "' 2>&1");
}

}  // namespace parlex2::testing
