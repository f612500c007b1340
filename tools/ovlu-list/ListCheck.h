// The update-list checker: reads a list with the agent's own parser,
// describes each record, and from the tags the parser found warns where the
// agent's reading is probably not what the list's author meant.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalogue/UpdateList.h"

namespace ovlu::listcheck {

struct Warning {
  int line = 0;      // physical line as the agent counts them (CR or CR LF); 0: the whole file
  int column = 0;    // 1-based byte position in that line; 0 when it names no place
  std::string text;  // UTF-8
};

// Members keep the order in which they are written.
using Json = nlohmann::ordered_json;

struct CheckedList {
  std::vector<Json> records;      // one object per record
  std::vector<Warning> warnings;  // in line order
};

// Why the transfer would refuse to start a request for a URL; "" when it
// would take it.
using UrlRefusal = std::function<std::string(const std::string& url)>;

// Parses the bytes of a list as the agent does at start-up (the process
// values DataFolder, EnvWindir and EnvSystemDrive and the host must be set)
// and checks it. With refusal, the URLs the agent requests are also put to
// the transfer.
CheckedList CheckList(const std::vector<unsigned char>& bytes, const UrlRefusal& refusal = nullptr);

// "name:line:column: warning: text", the parts that are 0 left out.
std::string FormatWarning(const std::string& fileName, const Warning& w);

}  // namespace ovlu::listcheck
