// What must hold for any bytes given to the update-list parser and to the
// list checker, whatever they contain. Used by the fuzz target and by the
// test that replays the seed corpus and the kept fuzz findings.
#pragma once

#include <string>
#include <vector>

namespace ovlu::listcheck {

// Parses and checks the bytes; returns "" when every property holds, else
// a description of the first that does not.
std::string ListInvariantFailure(const std::vector<unsigned char>& bytes);

// True when the text is one JSON value and nothing else.
bool IsJson(const std::string& text);

}  // namespace ovlu::listcheck
