// The update-list checker: reads a list with the agent's own parser,
// describes each record, and from the tags the parser found warns where the
// agent's reading is probably not what the list's author meant.
#pragma once

#include <string>
#include <vector>

#include "catalogue/UpdateList.h"

namespace ovlu::listcheck {

struct Warning {
  int line = 0;      // physical line as the agent counts them (CR or CR LF); 0: the whole file
  int column = 0;    // 1-based byte position in that line; 0 when it names no place
  std::string text;  // UTF-8
};

struct CheckedList {
  std::vector<std::string> records;  // one JSON object per record
  std::vector<Warning> warnings;     // in line order
};

// Parses the bytes of a list as the agent does at start-up (the process
// values DataFolder, EnvWindir and EnvSystemDrive and the host must be set)
// and checks it.
CheckedList CheckList(const std::vector<unsigned char>& bytes);

// A JSON string literal (quotes included) of UTF-8 text.
std::string JsonString(const std::string& utf8);

// "name:line:column: warning: text", the parts that are 0 left out.
std::string FormatWarning(const std::string& fileName, const Warning& w);

}  // namespace ovlu::listcheck
