// Authenticode through WinVerifyTrust. wintrust.dll and crypt32.dll are no
// Known DLLs, so they are loaded at run time from the system folder, never
// from beside the program.
#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <vector>

#include "common/text.h"
#include "platform/code_signature.h"

namespace plat {
namespace {

HMODULE SystemLibrary(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  const UINT n = ::GetSystemDirectoryW(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(dir, n) + L"\\" + name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename F>
F Function(HMODULE m, const char* name) {
  return m ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(m, name))) : nullptr;
}

struct Api {
  decltype(&::WinVerifyTrust) verifyTrust = nullptr;
  decltype(&::CryptQueryObject) queryObject = nullptr;
  decltype(&::CryptMsgGetParam) msgGetParam = nullptr;
  decltype(&::CryptMsgClose) msgClose = nullptr;
  decltype(&::CertFindCertificateInStore) findCertificate = nullptr;
  decltype(&::CertFreeCertificateContext) freeCertificate = nullptr;
  decltype(&::CertCloseStore) closeStore = nullptr;
  bool Complete() const {
    return verifyTrust && queryObject && msgGetParam && msgClose && findCertificate && freeCertificate && closeStore;
  }
};

const Api& Functions() {
  static const Api api = [] {
    Api a;
    HMODULE wintrust = SystemLibrary(L"wintrust.dll");
    HMODULE crypt32 = SystemLibrary(L"crypt32.dll");
    a.verifyTrust = Function<decltype(a.verifyTrust)>(wintrust, "WinVerifyTrust");
    a.queryObject = Function<decltype(a.queryObject)>(crypt32, "CryptQueryObject");
    a.msgGetParam = Function<decltype(a.msgGetParam)>(crypt32, "CryptMsgGetParam");
    a.msgClose = Function<decltype(a.msgClose)>(crypt32, "CryptMsgClose");
    a.findCertificate = Function<decltype(a.findCertificate)>(crypt32, "CertFindCertificateInStore");
    a.freeCertificate = Function<decltype(a.freeCertificate)>(crypt32, "CertFreeCertificateContext");
    a.closeStore = Function<decltype(a.closeStore)>(crypt32, "CertCloseStore");
    return a;
  }();
  return api;
}

// The certificate of the embedded signature's signer; false when the file
// carries no signature.
bool EmbeddedSigner(const Api& api, const std::wstring& path, std::string& signer) {
  DWORD encoding = 0, contentType = 0, formatType = 0;
  HCERTSTORE store = nullptr;
  HCRYPTMSG msg = nullptr;
  if (!api.queryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                       CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, &store, &msg, nullptr))
    return false;
  DWORD size = 0;
  if (api.msgGetParam(msg, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size > 0) {
    std::vector<BYTE> info(size);
    if (api.msgGetParam(msg, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
      PCCERT_CONTEXT cert = api.findCertificate(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                CERT_FIND_SUBJECT_CERT, info.data(), nullptr);
      if (cert) {
        signer.assign(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
        api.freeCertificate(cert);
      }
    }
  }
  api.msgClose(msg);
  api.closeStore(store, 0);
  return true;
}

}  // namespace

CodeSignature ReadCodeSignature(const std::string& path) {
  CodeSignature result;
  const Api& api = Functions();
  if (!api.Complete()) {
    result.state = SignatureState::Invalid;
    result.detail = "the system's signature functions are missing";
    return result;
  }
  std::wstring wpath = corvane::Widen(path);
  if (!EmbeddedSigner(api, wpath, result.signer)) return result;  // unsigned

  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = wpath.c_str();
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG verdict = api.verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  api.verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (verdict == 0 && !result.signer.empty()) {
    result.state = SignatureState::Valid;
  } else {
    result.state = SignatureState::Invalid;
    result.detail = corvane::Format("WinVerifyTrust 0x%08lX", static_cast<unsigned long>(verdict));
  }
  return result;
}

}  // namespace plat
