#include "flash_file.h"

#include <cstdio>
#include <fstream>

namespace parlex2::sim {

bool WriteFlashFile(const std::string& path, const Flash& flash, std::string& error) {
  const std::string temporary = path + ".part";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << flash.Dump();
    if (!file) {
      error = "cannot write " + temporary;
      return false;
    }
  }
  std::remove(path.c_str());  // rename does not replace on Windows
  std::rename(temporary.c_str(), path.c_str());
  return true;
}

}  // namespace parlex2::sim
