// Signed downloads: the key file, the digest taken while a body is written,
// the signature's own transfer after the file's, and the verdict.
#include "transfer/Signature.h"

#include <stdexcept>

#include "shell/MainForm.h"
#include "shell/RunLog.h"

namespace ovlu {

void BodyCheck::Feed(const unsigned char* data, std::size_t size) {
  if (!hash_) return;
  try {
    hash_->Update(data, size);
  } catch (const std::exception&) {
    hash_.reset();  // no digest: the file cannot be shown to be signed
  }
}

bool BodyCheck::Digest(Sha256Digest& out) {
  if (!hash_) return false;
  try {
    out = hash_->Finish();
    hash_.reset();
    return true;
  } catch (const std::exception&) {
    hash_.reset();
    return false;
  }
}

const char* Signing::Reason(Verdict verdict) {
  switch (verdict) {
    case Verdict::Good:
      return "100%";
    case Verdict::KeyUnusable:
      return "Chiave non valida";
    case Verdict::Incomplete:
      return "File incompleto";
    case Verdict::SignatureMissing:
      return "Firma mancante";
    case Verdict::SignatureInvalid:
      break;
  }
  return "Firma non valida";
}

void Signing::Begin() { Begin(Sys().AppPath() + "\\" + kKeyFileName); }

void Signing::Begin(const std::string& path) {
  state_ = KeyState::Off;
  keys_ = PublisherKeys();
  body_.reset();
  fetching_ = false;
  // Any file under that name turns checking on, whatever its attributes:
  // a key that cannot be used refuses files, it never lets them through.
  state_ = KeyState::Broken;
  try {
    if (!Fs().FileExistsAnyAttributes(path)) state_ = KeyState::Off;
  } catch (const VbError&) {
    return;  // whether a key is there cannot be told
  }
  if (state_ == KeyState::Off) return;
  Crypto* crypto = TheHost().crypto;
  if (!crypto) return;
  try {
    const std::vector<unsigned char> bytes = Fs().ReadAll(path);
    keys_ = PublisherKeys::Load(*crypto, std::string(bytes.begin(), bytes.end()));
  } catch (const VbError&) {
    return;
  } catch (const std::exception&) {
    return;
  }
  if (!keys_.Empty()) state_ = KeyState::Usable;
}

BodyCheck* Signing::StartBody() {
  body_.reset();
  if (state_ != KeyState::Usable) return nullptr;
  try {
    body_ = std::make_unique<BodyCheck>(TheHost().crypto->NewSha256());
  } catch (const std::exception&) {
    // The body is read all the same; without a digest it is refused.
    body_ = std::make_unique<BodyCheck>(nullptr);
  }
  return body_.get();
}

void Signing::BeginSignature() {
  fetching_ = true;
  signatureFailed_ = signatureComplete_ = signatureTooLarge_ = false;
  signature_.clear();
}

void Signing::SignatureBytes(const std::vector<unsigned char>& piece) {
  if (signatureTooLarge_) return;
  if (signature_.size() + piece.size() > PublisherKeys::kMaxSignatureSize) {
    signatureTooLarge_ = true;
    signature_.clear();
    return;
  }
  signature_.insert(signature_.end(), piece.begin(), piece.end());
}

Signing::Verdict Signing::Judge() {
  if (state_ != KeyState::Usable) return Verdict::KeyUnusable;
  if (!body_ || !body_->Whole()) return Verdict::Incomplete;
  if (signatureTooLarge_) return Verdict::SignatureInvalid;
  if (signatureFailed_ || !signatureComplete_) return Verdict::SignatureMissing;
  Sha256Digest digest;
  if (!body_->Digest(digest)) return Verdict::SignatureInvalid;
  return keys_.Verify(digest, signature_) ? Verdict::Good : Verdict::SignatureInvalid;
}

void MainForm::SignatureState(std::int16_t state) {
  if (state == icError) {
    signing_.SignatureFailed();
    return;
  }
  if (state != icResponseCompleted) return;
  try {
    for (;;) {
      const std::vector<unsigned char> piece = inet_.GetChunk(1024, icByteArray);
      if (piece.empty()) break;
      signing_.SignatureBytes(piece);
      if (signing_.SignatureTooLarge()) {
        // Too long for a signature: the rest is not read.
        inet_.Cancel();
        return;
      }
    }
    signing_.SignatureComplete();
  } catch (const VbError&) {
    signing_.SignatureFailed();
  }
}

void MainForm::CheckSignature(const std::string& url) {
  if (!signing_.On()) return;
  BodyCheck* body = signing_.LastBody();
  if (signing_.KeysUsable() && !body) {
    // Nothing of the file arrived: its row already reads short of "100%"
    // and keeps its own text.
    Log().Add("signature", url + ": not checked, the file did not arrive");
    G().CancelRequested = vbTrue;
    Step([&] {
      if (Fs().FileExistsAnyAttributes(DownloadPath)) Fs().Delete(DownloadPath);
    });
    return;
  }
  // A signature is fetched only where it can decide: usable keys and a file
  // that arrived whole. The verdict says what is missing otherwise.
  if (signing_.KeysUsable() && body->Whole()) {
    Step([&] { Ctl().SetCaption(Control::LblMesg, " Verifica della firma."); });
    signing_.BeginSignature();
    // Whatever goes wrong here counts as no signature: the file is refused,
    // never let through.
    try {
      inet_.SetProtocol(icHTTP);
      inet_.Execute(url + ".sig", "GET");
      do {
        Ctl().DoEvents();
      } while (inet_.StillExecuting());
    } catch (const VbError&) {
      signing_.SignatureFailed();
    }
    signing_.EndSignature();
  }
  const Signing::Verdict verdict = signing_.Judge();
  signing_.Forget();

  if (verdict == Signing::Verdict::Good) {
    Log().Add("signature", url + ": verified");
    Step([&] { Ctl().SetCaption(Control::LblMesg, " Firma verificata."); });
    return;
  }
  Log().Add("signature",
            url + ": refused (" + Signing::Reason(verdict) + "), " + DownloadPath + " deleted");
  // Refused: the received file goes, so nothing can put it in place, and
  // the row's text (never "100%") keeps the apply step away from it.
  G().CancelRequested = vbTrue;
  Step([&] {
    if (Fs().FileExistsAnyAttributes(DownloadPath)) Fs().Delete(DownloadPath);
  });
  Step([&] { Ctl().SetSubItem(CurrentRow, 2, Signing::Reason(verdict)); });
  Step([&] { Ctl().SetCaption(Control::LblMesg, " Firma non verificata."); });
}

}  // namespace ovlu
