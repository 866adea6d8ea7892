#include "script/script_file.h"

#include <fstream>

#include "common/product.h"
#include "common/text.h"
#include "common/ui.h"
#include "script/script_engine.h"
#include "script/shell_host.h"

namespace parlex2 {
namespace {

constexpr char kEndOfFile = 0x1A;

void ShowInformation(UserInterface& ui, const std::string& text) {
  ui.ShowMessage(text, kProductName, MessageIcon::Information, MessageButtons::Ok);
}

// Opens and scans the file, showing the test's messages.
bool TestFile(UserInterface& ui, const std::string& path, std::vector<std::string>* listLines,
              std::vector<int>* lineNumbers = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) {
    ShowInformation(ui, "Unable to read file " + path);
    return false;
  }
  const ScriptScan scan = ScanScript(in, listLines, lineNumbers);
  if (!scan.IsScript()) {
    ShowInformation(ui, path + " does not appear to be a script file");
    return false;
  }
  return true;
}

}  // namespace

ScriptScan ScanScript(std::istream& in, std::vector<std::string>* listLines,
                      std::vector<int>* lineNumbers) {
  ScriptScan scan;
  std::string line;
  int fileLine = 1;
  bool lineFeed = false;
  for (; ReadTextLine(in, line, kScriptReadBuffer, &lineFeed); fileLine += lineFeed ? 1 : 0) {
    if (line.empty()) continue;
    if (line.front() == '"') ++scan.quoteLines;
    if (line.front() == '#') ++scan.hashLines;
    if (listLines && line.front() != kEndOfFile && line.size() < kScriptLineMax) {
      listLines->push_back(line);
      if (lineNumbers) lineNumbers->push_back(fileLine);
    }
  }
  return scan;
}

bool IsScriptFile(UserInterface& ui, const std::string& path) {
  return TestFile(ui, path, nullptr);
}

bool SelectScriptFile(UserInterface& ui, std::string& path) {
  path.clear();
  FileDialogOptions options;
  options.title = "Select Script File";
  options.filterName = "Script Files";
  options.filterPattern = "*.txt";
  std::optional<std::string> chosen = ui.ChooseFileToOpen(options);
  // A name that would not fit the dialog's buffer never comes back from it.
  if (!chosen || chosen->empty() || chosen->size() >= kScriptPathMax) return false;
  path = *chosen;
  return IsScriptFile(ui, path);
}

bool LoadScriptFile(ShellHost& host, const std::string& path, bool clearFirst,
                    std::vector<int>* lineNumbers) {
  if (clearFirst) host.ClearScriptList();
  std::vector<std::string> lines;
  if (lineNumbers) lineNumbers->clear();
  const bool passed = TestFile(host.Ui(), path, &lines, lineNumbers);
  for (const auto& line : lines) host.AddScriptLine(line);
  return passed;
}

}  // namespace parlex2
