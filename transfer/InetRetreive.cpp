// Reads a completed response into a file in chunks of 1024 bytes, moving the
// progress bar and the size labels as it goes.
#include <cstdint>
#include <memory>

#include "shell/MainForm.h"
#include "shell/RunLog.h"
#include "shell/Vb.h"

namespace ovlu {

void RetrieveToFile(Inet& inet, const std::string& path, Window& window, Control sizeLabel,
                    Control statusLabel, BodyCheck* check) {
  std::unique_ptr<BinaryFile> file;
  try {
    const std::string sep = Sys().DecimalSeparator();
    const std::int32_t contentLength = ContentLengthOf(inet.GetHeader("Content-Length"));
    const double length = static_cast<double>(contentLength);

    window.SetCaption(sizeLabel, Round2Text(length / 1000000.0, sep) + " Mb");
    window.SetCaption(statusLabel,
                      "0 bytes" + std::string(" di ") + std::to_string(contentLength) + " bytes");
    window.SetProgressMax(static_cast<float>(contentLength));
    window.SetProgressValue(0);
    G().BytesSinceTick = 0;

    std::vector<unsigned char> chunk = inet.GetChunk(1024, icByteArray);
    G().BytesSinceTick = 1024;

    G().CancelRequested = vbTrue;
    // The file is emptied first, so that a shorter body leaves no tail of an
    // older file behind.
    file = Fs().OpenBinaryWrite(path, true);

    const std::string totalMb = Round2Text(length / 1000000.0, sep);
    bool done = false;
    for (;;) {
      if (done) {
        file->Close();
        Log().Add("file", path + ": written whole");
        G().CancelRequested = vbFalse;
        if (check) check->MarkWhole();
        return;
      }
      if (!chunk.empty()) {
        file->Write(chunk.data(), chunk.size());
        if (check) check->Feed(chunk.data(), chunk.size());
      }

      const float v = window.ProgressValue() + 1024.0f;
      window.SetProgressValue(static_cast<double>(v) > length ? static_cast<float>(contentLength)
                                                              : v);
      window.SetCaption(
          statusLabel,
          G().RemainingTimeText + "(" +
              Round2Text(static_cast<double>(window.ProgressValue()) / 1000000.0, sep) + " MB" +
              " di " + totalMb + " MB)");

      chunk = inet.GetChunk(1024, icByteArray);
      const std::int64_t counted = static_cast<std::int64_t>(G().BytesSinceTick) + 1024;
      if (counted > INT32_MAX) throw VbError(errOverflow, "Overflow");
      G().BytesSinceTick = static_cast<std::int32_t>(counted);

      window.DoEvents();
      if (chunk.empty()) done = true;
    }
  } catch (const VbError& e) {
    Log().Add("file", path + (file ? ": stopped, what was written stays: " : ": not written: ") +
                          ErrorText(e.number, e.what()));
    // What was written stays in the file; the file itself is closed.
    if (file) {
      try {
        file->Close();
      } catch (const VbError&) {
      }
    }
  }
}

}  // namespace ovlu
