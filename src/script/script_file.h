// Script files: the script-file test, choosing a file and loading its lines
// into the script list.
//
// A file is read in pieces of at most 4095 characters (a longer physical line
// comes in several pieces, each a line of its own), each cut at its last
// carriage return and then at its last line feed. It is a script when at least
// one line begins with a double quote or "#".
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace parlex2 {

class ShellHost;
class UserInterface;

inline constexpr std::size_t kScriptReadBuffer = 4096;
inline constexpr std::size_t kScriptPathMax = 260;  // including the terminator

struct ScriptScan {
  int quoteLines = 0;  // lines beginning with a double quote
  int hashLines = 0;   // lines beginning with '#'
  bool IsScript() const { return quoteLines > 0 || hashLines > 0; }
};

// Reads a whole script from `in`. When `listLines` is given, it receives every
// line that belongs in the script list: not empty, not beginning with the
// end-of-file character 0x1A, shorter than 2048 characters. Longer lines are
// left out but still count for the test. `lineNumbers`, when given, receives
// the file line (from 1) each list line came from: lines counted by their
// line feeds, so the pieces of a long line share its number.
ScriptScan ScanScript(std::istream& in, std::vector<std::string>* listLines,
                      std::vector<int>* lineNumbers = nullptr);

// The script-file test on the file at `path`, with its messages.
bool IsScriptFile(UserInterface& ui, const std::string& path);

// Lets the user choose a script file into `path` (emptied first; stays empty
// when cancelled), then applies the script-file test. True when it passed.
bool SelectScriptFile(UserInterface& ui, std::string& path);

// Fills the script list from the file (emptied first when `clearFirst`) and
// applies the script-file test with its messages. The list is filled even when
// the test fails. `lineNumbers` as for ScanScript (emptied first).
bool LoadScriptFile(ShellHost& host, const std::string& path, bool clearFirst,
                    std::vector<int>* lineNumbers = nullptr);

}  // namespace parlex2
