// ovlu-list: shows how the update agent reads an update list, one JSON
// object per record, and warns where that is probably not what the list's
// author meant.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ovlu_version.h"
#include "ports/linux/crypto/OpenSslCrypto.h"
#include "ports/linux/posix/Posix.h"
#include "shell/MainForm.h"
#include "shell/Vb.h"
#include "tools/ovlu-list/ListCheck.h"
#include "tools/ovlu-list/Probe.h"
#include "transfer/Url.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitWarnings = 1;
constexpr int kExitUnreadable = 2;
constexpr int kExitNotApplied = 3;

const char kHelp[] =
    "usage: ovlu-list [--strict] [--probe [--key PublisherKey.pem]] [FILE]\n"
    "       ovlu-list --help | --version\n"
    "\n"
    "Reads an update list exactly as OVLiveUpdate does at start-up and prints one\n"
    "JSON object per record on standard output; warnings go to standard error, one\n"
    "line each, as FILE:LINE[:COLUMN]: warning: TEXT. Without FILE it reads the list\n"
    "the agent would read: Updates.upd in the data folder (\"Tessaro Software\\OrVento 7\"\n"
    "in $PUBLIC/Documents). Placeholders use the environment (windir, SystemDrive)\n"
    "and, for APPPATH, the folder of ovlu-list itself.\n"
    "\n"
    "The list is Windows-1252 text; a line ends at CR or CR LF (a LF alone does not\n"
    "end it) and every non-empty line is one record:\n"
    "  <v-ACTION><s-URL>[<s-URL>...]<DESTINATION>\n"
    "ACTION  R (replace, through FILE.tmp), S (register with regsvr32) or E (open\n"
    "        with the shell); codes are case-sensitive, any other only puts the file\n"
    "        in place.\n"
    "URL     http or https; the last part of the path is the file name; the file is\n"
    "        fetched from the first source.\n"
    "DESTINATION  a placeholder, two characters (normally -\\) and the file name,\n"
    "        e.g. APPPATH-\\Setup.exe, with APPPATH (the agent's folder), SYSPATH\n"
    "        (windir\\system), S32PATH (windir\\system32), WINPATH (windir), WOSPATH\n"
    "        (SystemDrive), ARCPATH (the data folder); or a full path without any \"-\",\n"
    "        e.g. C:\\Dati\\Tabelle.dat.\n"
    "A tag's kind depends on what follows it: any tag before a \"<v-\" is an action,\n"
    "any tag before a \"<s-\" a source, and any other tag with a \"-\" a placeholder.\n"
    "A \">\" that comes before the next \"<\" ends the whole list.\n"
    "\n"
    "  --strict  exit with status 1 when there is any warning\n"
    "  --probe   fetch every record as the agent would, one after the other (its\n"
    "            first request to the server, then the GET, 40 s time-out), reading\n"
    "            each body without writing any file; each record gets a \"probe\"\n"
    "            member (url, status, contentLength, received, seconds, body, percent,\n"
    "            applied, reason) and a summary line on standard error\n"
    "  --key F   with --probe: check each file's signature (its URL followed by\n"
    "            \".sig\") as the agent does with F as its PublisherKey.pem; \"probe\"\n"
    "            gets \"signature\": \"verified\" or the refusal its row shows\n"
    "  --help    show this text\n"
    "  --version show the version of OV Live Update this checker belongs to\n"
    "\n"
    "Exit status: 0 the list was read, 1 warnings with --strict, 2 the list could\n"
    "not be read (or a bad command line), 3 with --probe: some row would not be\n"
    "applied.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "ovlu-list: %s\nTry 'ovlu-list --help'.\n", problem.c_str());
  return kExitUnreadable;
}

}  // namespace

int main(int argc, char** argv) {
  bool strict = false;
  bool probe = false;
  std::string key;
  bool optionsDone = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && (a == "--help" || a == "-h")) {
      std::fputs(kHelp, stdout);
      return kExitOk;
    } else if (!optionsDone && a == "--version") {
      std::fputs("ovlu-list (OV Live Update) " OVLU_VERSION "\n", stdout);
      return kExitOk;
    } else if (!optionsDone && a == "--strict") {
      strict = true;
    } else if (!optionsDone && a == "--probe") {
      probe = true;
    } else if (!optionsDone && a == "--key") {
      if (++i == argc) return Usage("--key needs a file");
      key = argv[i];
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (files.size() > 1) return Usage("one list at a time");
  if (!key.empty() && !probe) return Usage("--key goes with --probe");

  ovlu::PosixFileSystem fs;
  ovlu::PosixSystem sys(argc, argv);
  ovlu::SetHost(&fs, &sys);
  ovlu::OpenSslCrypto crypto;
  ovlu::SetCrypto(&crypto);

  // The same process values the agent computes before it reads its list.
  ovlu::G().DataFolder = ovlu::SpecialFolderPath(46) + "Tessaro Software\\OrVento 7";
  ovlu::CaptureEnvironment();

  std::string path;
  std::string shown;
  if (files.empty()) {
    const std::string lookup = ovlu::G().DataFolder + "\\updates.upd";
    bool found = false;
    try {
      found = ovlu::Fs().FileExists(lookup);
    } catch (const ovlu::VbError&) {
    }
    if (!found) {
      std::fprintf(stderr, "ovlu-list: no update list in the data folder (%s)\n", lookup.c_str());
      return kExitUnreadable;
    }
    path = ovlu::G().DataFolder + "\\Updates.upd";
    shown = ovlu::ToPosixPath(path);
  } else {
    // The command line is UTF-8; the file layer takes the agent's ANSI text.
    path = ovlu::Utf8ToAnsi(files[0]);
    shown = files[0];
  }

  // The agent takes a missing key file for no key at all; here a key was
  // asked for, so checking nothing would mislead.
  const std::string keyPath = ovlu::Utf8ToAnsi(key);
  if (!key.empty()) {
    bool there = false;
    try {
      there = ovlu::Fs().FileExistsAnyAttributes(keyPath);
    } catch (const ovlu::VbError&) {
    }
    if (!there) return Usage("no key file " + key);
  }

  std::vector<unsigned char> bytes;
  try {
    bytes = ovlu::Fs().ReadAll(path);
  } catch (const ovlu::VbError& e) {
    std::fprintf(stderr, "ovlu-list: the list cannot be read: %s\n", e.what());
    return kExitUnreadable;
  }

  namespace lc = ovlu::listcheck;
  lc::ProbeInet inet;
  lc::CheckedList list =
      lc::CheckList(bytes, [](const std::string& url) { return ovlu::UrlRefusal(url); });
  for (const lc::Warning& w : list.warnings)
    std::fprintf(stderr, "%s\n", lc::FormatWarning(shown, w).c_str());

  bool allApplied = true;
  if (probe) {
    ovlu::ParseUpdateList(bytes, ovlu::G().UpdateItems);
    const std::vector<lc::RecordProbe> rows = lc::ProbeList(inet, fs, sys, keyPath);
    for (std::size_t i = 0; i < rows.size() && i < list.records.size(); ++i) {
      list.records[i]["probe"] = lc::ProbeJson(rows[i], !key.empty());
      allApplied = allApplied && rows[i].applied;
      std::fprintf(
          stderr, "%s\n",
          lc::ProbeSummary(shown, list.records[i]["line"].get<int>(), static_cast<int>(i), rows[i])
              .c_str());
    }
  }
  for (const lc::Json& r : list.records) std::printf("%s\n", r.dump().c_str());
  std::fflush(stdout);

  if (!allApplied) return kExitNotApplied;
  return strict && !list.warnings.empty() ? kExitWarnings : kExitOk;
}
