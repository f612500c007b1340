// Everything the agent asks of the operating system, apart from its window
// and the transfer control. One implementation per platform, one for tests.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ovlu {

struct Crypto;

// Window handles travel as plain integers, as they do between the
// agent's procedures and the system.
using Handle = std::intptr_t;

// A run-time error raised by a platform call or by the agent's own string
// handling. Procedures trap it in the way each one needs.
struct VbError : std::runtime_error {
  int number;
  explicit VbError(int n, const std::string& what = "run-time error")
      : std::runtime_error(what), number(n) {}
};

// Error numbers used by the agent.
enum : int {
  errInvalidCall = 5,
  errOverflow = 6,
  errDivisionByZero = 11,
  errTypeMismatch = 13,
  errSubscript = 9,
  errFileNotFound = 53,
  errFileExists = 58,
  errInputPastEnd = 62,
  errPermissionDenied = 70,
  errPathFileAccess = 75,
  errPathNotFound = 76,
  errInvalidProperty = 380,
  errTransfer = 35750,
};

// File attributes, with the values of the Windows file system.
enum : unsigned {
  attrReadOnly = 1,
  attrHidden = 2,
  attrSystem = 4,
  attrDirectory = 16,
  attrArchive = 32,
};

// A file opened for binary writing. Writes go at the current position.
struct BinaryFile {
  virtual ~BinaryFile() = default;
  virtual void Write(const unsigned char* data, std::size_t size) = 0;  // throws VbError
  // Idempotent. Throws VbError when what was still buffered cannot be
  // written; the file is closed all the same.
  virtual void Close() = 0;
};

// A file of the system's temporary folder for bytes that must wait their
// turn: appended at its end, read back from its start, in order. Nobody else
// opens it, and it is gone once destroyed (and, where the system allows,
// when the process ends without destroying it).
struct ScratchFile {
  virtual ~ScratchFile() = default;
  virtual void Append(const unsigned char* data, std::size_t size) = 0;  // throws VbError
  // Moves up to size of the oldest bytes not yet read to dst; how many
  // (0 once all are read). Throws VbError.
  virtual std::size_t Read(unsigned char* dst, std::size_t size) = 0;
};

// Paths are Windows paths in the system ANSI code page ("\" separators).
struct FileSystem {
  virtual ~FileSystem() = default;
  // True when a file (not a folder) that is neither hidden nor system exists
  // there. Names match without regard to case.
  virtual bool FileExists(const std::string& path) = 0;
  // True when a file exists there whatever its attributes (read-only,
  // hidden, system).
  virtual bool FileExistsAnyAttributes(const std::string& path) = 0;
  // Whole content of a file; throws VbError when it cannot be opened/read.
  virtual std::vector<unsigned char> ReadAll(const std::string& path) = 0;
  // Opens (creating when absent) for binary writing from the first byte.
  // With truncate the file is emptied first.
  virtual std::unique_ptr<BinaryFile> OpenBinaryWrite(const std::string& path, bool truncate) = 0;
  // Opens (creating when absent) for binary writing at its end.
  virtual std::unique_ptr<BinaryFile> OpenAppend(const std::string& path) = 0;
  // Size in bytes of a file; throws VbError when there is none.
  virtual long long FileLength(const std::string& path) = 0;
  // Creates a new file holding exactly these bytes; throws when it cannot.
  virtual void CreateTextFile(const std::string& path, const std::string& text) = 0;
  // Fails (throws) when the source is missing or the destination exists.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Fails (throws) when the file is missing or read-only.
  virtual void Delete(const std::string& path) = 0;
  virtual void SetAttributes(const std::string& path, unsigned attributes) = 0;
  virtual unsigned GetAttributes(const std::string& path) = 0;  // throws when missing
  virtual std::string CurrentDirectory() = 0;
  // A new, empty scratch file; throws VbError when none can be made.
  virtual std::unique_ptr<ScratchFile> CreateScratch() = 0;
};

// The process and the system around it.
struct System {
  virtual ~System() = default;
  // The environment entry at a 1-based index ("name=value"), or "" past the end.
  virtual std::string EnvironmentEntry(int index) = 0;
  // SHGetSpecialFolderPathA into a caller's buffer of 260 characters.
  virtual bool GetSpecialFolderPath(int csidl, char* buffer260, bool create) = 0;
  // GetSystemDirectoryA: characters written, 0 on failure.
  virtual unsigned GetSystemDirectory(char* buffer, unsigned size) = 0;
  // ShellExecuteA; the agent never examines the result.
  virtual std::intptr_t ShellExecute(Handle owner, const std::string& verb, const std::string& file,
                                     const std::string& parameters, const std::string& directory,
                                     int showCommand) = 0;
  // True when another instance of the agent is already running.
  virtual bool PreviousInstance() = 0;
  // Folder of the agent's executable: no final "\" except for a drive root.
  virtual std::string AppPath() = 0;
  // Base name of the agent's executable, without its extension.
  virtual std::string AppExeName() = 0;
  // Everything after the program name on the command line.
  virtual std::string CommandLine() = 0;
  // The user's decimal separator for numbers shown on screen.
  virtual std::string DecimalSeparator() = 0;
  virtual void InitCommonControls() = 0;
  // Ends the process at once.
  [[noreturn]] virtual void EndProcess(int code) = 0;
};

// What an EndProcess that cannot end the process (a test's machine) throws
// instead: the one error that the windows' catch-all lets through.
struct ProcessEnding {
  virtual ~ProcessEnding() = default;
};

struct Host {
  FileSystem* fs = nullptr;
  System* sys = nullptr;
  // The platform's hashing and signature checks; nullptr when it has none
  // (then a publisher key beside the agent fails every file).
  Crypto* crypto = nullptr;
};

// The host the agent runs on; set once by the program's entry point (or a test).
Host& TheHost();
void SetHost(FileSystem* fs, System* sys);
void SetCrypto(Crypto* crypto);
inline FileSystem& Fs() { return *TheHost().fs; }
inline System& Sys() { return *TheHost().sys; }

}  // namespace ovlu
