#include "platform/Host.h"

namespace ovlu {

Host& TheHost() {
  static Host host;
  return host;
}

void SetHost(FileSystem* fs, System* sys) {
  TheHost().fs = fs;
  TheHost().sys = sys;
}

void SetCrypto(Crypto* crypto) { TheHost().crypto = crypto; }

}  // namespace ovlu
