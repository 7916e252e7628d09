// SPDX-License-Identifier: Apache-2.0
// The caller's own logon through SSPI: the Negotiate package with the
// credentials of the logged-on user, Kerberos where the target has a
// service principal, NTLM otherwise. secur32.dll is loaded at run time, so
// the executable does not import it and still starts where it is missing.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>

#include <string.h>

#include <new>

#include "auth/authenticator.h"
#include "base/ntstatus.h"
#include "auth/authenticator_sspi.h"
#include "base/crypto.h"
#include "auth/spnego.h"
#include "base/utf.h"
#include "transport/host_address.h"

namespace net {
namespace {

/// The longest token either side may hand over: SMB2 carries the length of
/// a session setup's security buffer in 16 bits.
constexpr size_t kMaxToken = 0xFFFF;

// The server must prove itself (Kerberos returns an AP-REP) and the context
// must yield a key for signing. The session setup is a connection-oriented
// exchange of whole tokens. No delegation: answering the query needs no
// ticket of ours on the server.
constexpr ULONG kContextRequirements = ISC_REQ_MUTUAL_AUTH | ISC_REQ_INTEGRITY | ISC_REQ_CONNECTION;

struct SspiLogon {
  std::string host;
  HMODULE library = nullptr;
  PSecurityFunctionTableW sspi = nullptr;
  CredHandle credential = {};
  bool have_credential = false;
  CtxtHandle context = {};
  bool have_context = false;  // set by the first step that succeeds
  std::wstring target;
  uint8_t* token = nullptr;  // our output buffer, SSPI writes into it
  unsigned long token_capacity = 0;
  Status failure;  // once SSPI has failed, every later step repeats it
  bool done = false;
  bool done_with_token = false;  // the step that finished still had a token to send
};

/// Loads secur32.dll from the system directory and takes its function
/// table; false when this Windows offers no usable SSPI.
bool LoadSspi(SspiLogon* logon) {
  // By full path: a DLL of that name beside the program or in the current
  // directory must not be the one that handles the caller's credentials.
  constexpr wchar_t kFile[] = L"\\secur32.dll";
  wchar_t path[MAX_PATH + sizeof kFile / sizeof kFile[0]];
  UINT units = GetSystemDirectoryW(path, MAX_PATH);
  if (units == 0 || units >= MAX_PATH) return false;
  memcpy(path + units, kFile, sizeof kFile);
  logon->library = LoadLibraryW(path);
  if (logon->library == nullptr) return false;
  FARPROC found = GetProcAddress(logon->library, "InitSecurityInterfaceW");
  // By way of the generic function type, which any other converts to.
  INIT_SECURITY_INTERFACE_W init =
      reinterpret_cast<INIT_SECURITY_INTERFACE_W>(reinterpret_cast<void (*)()>(found));
  PSecurityFunctionTableW table = init != nullptr ? init() : nullptr;
  if (table == nullptr || table->AcquireCredentialsHandleW == nullptr ||
      table->FreeCredentialsHandle == nullptr || table->InitializeSecurityContextW == nullptr ||
      table->CompleteAuthToken == nullptr || table->DeleteSecurityContext == nullptr ||
      table->QueryContextAttributesW == nullptr || table->FreeContextBuffer == nullptr ||
      table->QuerySecurityPackageInfoW == nullptr) {
    return false;
  }
  logon->sspi = table;
  return true;
}

/// Sizes our output buffer by the package's largest token; false when the
/// package is not installed.
bool PrepareTokenBuffer(SspiLogon* logon, SEC_WCHAR* package) {
  PSecPkgInfoW info = nullptr;
  if (logon->sspi->QuerySecurityPackageInfoW(package, &info) != SEC_E_OK) return false;
  unsigned long size = info != nullptr ? info->cbMaxToken : 0;
  if (info != nullptr) logon->sspi->FreeContextBuffer(info);
  // A token longer than SMB2 can carry could not be sent anyway.
  if (size == 0 || size > kMaxToken) size = kMaxToken;
  logon->token = new (std::nothrow) uint8_t[size];
  if (logon->token == nullptr) return false;
  logon->token_capacity = size;
  return true;
}

/// Everything but the credential and the context: the library and the
/// buffer. kNoCredential when there is no mechanism at all.
Status Prepare(const std::string& host, SspiLogon* logon) {
  if (!SmbServiceName(host, &logon->target) || !LoadSspi(logon)) {
    return SecurityFailure(kNoCredential);
  }
  wchar_t package[] = L"Negotiate";
  if (!PrepareTokenBuffer(logon, package)) return SecurityFailure(kNoCredential);
  return OkStatus();
}

/// The logged-on user's credential for Negotiate. (Negotiate can be held
/// to a package list with SEC_WINNT_AUTH_IDENTITY_EXW, but Wine, where the
/// Windows builds are tested, reads that as an explicit identity and goes
/// to NTLM with it; Negotiate is left to choose, as the platform does.)
bool AcquireCredential(SspiLogon* logon) {
  wchar_t package[] = L"Negotiate";
  TimeStamp expiry;
  SECURITY_STATUS s = logon->sspi->AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND,
                                                             nullptr, nullptr, nullptr, nullptr,
                                                             &logon->credential, &expiry);
  logon->have_credential = s == SEC_E_OK;
  return logon->have_credential;
}

/// What a failed first InitializeSecurityContext means. That call may
/// already have asked a KDC, so whatever it says (no credential included:
/// a KDC's answer can make it say that) is the logon's answer, whoever
/// caused it: it must not turn a logon into an unsigned session. Only the
/// local answers before it (no package, no credential handle) let the
/// query go on anonymously.
Status FailureBeforeToken(SECURITY_STATUS s) {
  switch (s) {
    case SEC_E_NO_AUTHENTICATING_AUTHORITY: return SecurityFailure(kNoAuthority);
    case SEC_E_TARGET_UNKNOWN:
    case SEC_E_WRONG_PRINCIPAL: return SecurityFailure(kTargetUnknown);
    case SEC_E_CONTEXT_EXPIRED: return SecurityFailure(kContextExpired);
    default: return SecurityFailure(kLogonFailed);
  }
}

/// What a failed step of a context that already sent a token means.
Status FailureAfterToken(SECURITY_STATUS s) {
  switch (s) {
    case SEC_E_MUTUAL_AUTH_FAILED:
    case SEC_E_MESSAGE_ALTERED: return SecurityFailure(kMutualAuthFailed);
    case SEC_E_INVALID_TOKEN:
    case SEC_E_INCOMPLETE_MESSAGE: return Malformed();
    default: return SecurityFailure(kLogonFailed);
  }
}

/// One call of InitializeSecurityContextW with the server's token (none on
/// the first call), completed where the package asks for it. On success,
/// SEC_E_OK or SEC_I_CONTINUE_NEEDED and the token's size in `*size`.
SECURITY_STATUS Initialize(SspiLogon* logon, const uint8_t* in, size_t in_size,
                           unsigned long* size) {
  // SSPI takes the input as non-const but only reads it.
  SecBuffer input = {static_cast<unsigned long>(in_size), SECBUFFER_TOKEN,
                     const_cast<uint8_t*>(in)};
  SecBufferDesc input_list = {SECBUFFER_VERSION, 1, &input};
  SecBuffer output = {logon->token_capacity, SECBUFFER_TOKEN, logon->token};
  SecBufferDesc output_list = {SECBUFFER_VERSION, 1, &output};
  bool first = !logon->have_context;
  ULONG granted = 0;
  TimeStamp expiry;
  SECURITY_STATUS s = logon->sspi->InitializeSecurityContextW(
      &logon->credential, first ? nullptr : &logon->context, &logon->target[0],
      kContextRequirements, 0, SECURITY_NATIVE_DREP, first ? nullptr : &input_list, 0,
      &logon->context, &output_list, &granted, &expiry);
  if (s < 0) return s;  // a failed first call leaves no context to delete
  logon->have_context = true;
  if (s == SEC_I_COMPLETE_NEEDED || s == SEC_I_COMPLETE_AND_CONTINUE) {
    SECURITY_STATUS completed = logon->sspi->CompleteAuthToken(&logon->context, &output_list);
    if (completed != SEC_E_OK) return completed;
    s = s == SEC_I_COMPLETE_NEEDED ? SEC_E_OK : SEC_I_CONTINUE_NEEDED;
  }
  if (s != SEC_E_OK && s != SEC_I_CONTINUE_NEEDED) return SEC_E_INTERNAL_ERROR;
  *size = output.cbBuffer <= logon->token_capacity ? output.cbBuffer : 0;
  return s;
}

/// The first token. A failure before anything was made is mapped by
/// FailureBeforeToken; `*size` the token's size.
Status FirstStep(SspiLogon* logon, unsigned long* size, bool* finished, Trace* trace) {
  if (!IsOk(Prepare(logon->host, logon))) {
    TraceLine(trace, "logon: no SSPI Negotiate package here");
    return SecurityFailure(kNoCredential);
  }
  if (!AcquireCredential(logon)) {
    TraceLine(trace, "logon: SSPI has no credential of the logged-on user");
    return SecurityFailure(kNoCredential);
  }
  SECURITY_STATUS s = Initialize(logon, nullptr, 0, size);
  // A first step that leaves nothing to send has nothing to log on with.
  if (s >= 0 && *size == 0) s = SEC_E_NO_CREDENTIALS;
  if (s < 0) {
    TraceLine(trace, "logon: SSPI Negotiate failed with 0x%08lX before sending anything",
              static_cast<unsigned long>(s));
    return FailureBeforeToken(s);
  }
  *finished = s == SEC_E_OK;
  return OkStatus();
}

Status Step(void* state, const uint8_t* in, size_t in_size, std::vector<uint8_t>* out, bool* done,
            Trace* trace) {
  SspiLogon* logon = static_cast<SspiLogon*>(state);
  *done = logon->done;
  if (logon->done) {
    // SSPI may finish with a token still to send (Negotiate's NTLM on older
    // Windows); the server's answer to it can only close SPNEGO. Otherwise
    // SSPI has taken the server's last token and nothing is left to answer.
    if (in_size == 0) return OkStatus();
    return logon->done_with_token && IsOk(DecodeSpnegoFinal(in, in_size)) ? OkStatus()
                                                                          : Malformed();
  }
  if (!IsOk(logon->failure)) return logon->failure;
  bool first = !logon->have_context;
  // The first token is ours; every later one answers the server's.
  if (first ? in_size != 0 : in_size == 0) return Malformed();
  if (in_size > kMaxToken) return Malformed();
  unsigned long size = 0;
  bool finished = false;
  if (first) {
    Status f = FirstStep(logon, &size, &finished, trace);
    if (!IsOk(f)) {
      logon->failure = f;
      return f;
    }
  } else {
    SECURITY_STATUS s = Initialize(logon, in, in_size, &size);
    // A step that leaves nothing to send and is not done would stall the
    // exchange.
    if (s == SEC_I_CONTINUE_NEEDED && size == 0) s = SEC_E_INTERNAL_ERROR;
    if (s < 0) {
      logon->failure = FailureAfterToken(s);
      TraceLine(trace, "logon: SSPI Negotiate failed with 0x%08lX", static_cast<unsigned long>(s));
      return logon->failure;
    }
    finished = s == SEC_E_OK;
  }
  out->insert(out->end(), logon->token, logon->token + size);
  WipeBytes(logon->token, size);
  logon->done = *done = finished;
  logon->done_with_token = logon->done && size != 0;
  return OkStatus();
}

void SessionKeyOf(void* state, SessionKey* key) {
  SspiLogon* logon = static_cast<SspiLogon*>(state);
  key->size = 0;
  if (!logon->done) return;
  SecPkgContext_SessionKey found = {};
  if (logon->sspi->QueryContextAttributesW(&logon->context, SECPKG_ATTR_SESSION_KEY, &found) !=
      SEC_E_OK) {
    return;  // no key: the session cannot be signed
  }
  if (found.SessionKey == nullptr) return;
  // A longer key than ours: signing uses its start, so keep that.
  size_t size = found.SessionKeyLength < kMaxSessionKey ? found.SessionKeyLength : kMaxSessionKey;
  memcpy(key->bytes, found.SessionKey, size);
  key->size = size;
  WipeBytes(found.SessionKey, found.SessionKeyLength);
  logon->sspi->FreeContextBuffer(found.SessionKey);
}

/// The mechanism of a package name from SSPI.
LogonMechanism MechanismOfPackage(const wchar_t* name) {
  if (name == nullptr) return LogonMechanism::kOther;
  if (_wcsicmp(name, L"Kerberos") == 0) return LogonMechanism::kKerberos;
  if (_wcsicmp(name, L"NTLM") == 0) return LogonMechanism::kNtlm;
  return LogonMechanism::kOther;
}

LogonMechanism MechanismOf(void* state) {
  SspiLogon* logon = static_cast<SspiLogon*>(state);
  if (!logon->done) return LogonMechanism::kOther;  // Negotiate has not chosen yet
  SecPkgContext_NegotiationInfoW info = {};
  if (logon->sspi->QueryContextAttributesW(&logon->context, SECPKG_ATTR_NEGOTIATION_INFO, &info) !=
          SEC_E_OK ||
      info.PackageInfo == nullptr) {
    return LogonMechanism::kOther;
  }
  LogonMechanism mechanism = MechanismOfPackage(info.PackageInfo->Name);
  logon->sspi->FreeContextBuffer(info.PackageInfo);
  return mechanism;
}

void Close(void* state) {
  SspiLogon* logon = static_cast<SspiLogon*>(state);
  if (logon->have_context) logon->sspi->DeleteSecurityContext(&logon->context);
  if (logon->have_credential) logon->sspi->FreeCredentialsHandle(&logon->credential);
  if (logon->library != nullptr) FreeLibrary(logon->library);
  if (logon->token != nullptr) WipeBytes(logon->token, logon->token_capacity);
  delete[] logon->token;
  delete logon;
}

}  // namespace

bool SmbServiceName(const std::string& host, std::wstring* name) {
  name->clear();
  if (host.empty() || host.find('\0') != std::string::npos) return false;
  // Our own conversion, as the host was made with: MultiByteToWideChar's
  // handling of broken UTF-8 differs between Windows versions.
  std::u16string wide = Utf8ToUtf16(host.data(), host.size());
  name->assign(L"cifs/");
  name->append(wide.begin(), wide.end());
  return true;
}

Status OpenCallerLogon(const std::string& host, Authenticator* out, Trace*) {
  SspiLogon* logon = new (std::nothrow) SspiLogon();
  if (logon == nullptr) return NtFailure(kStatusNoMemory);
  logon->host = host;
  out->state = logon;
  out->step = Step;
  out->session_key = SessionKeyOf;
  out->mechanism = MechanismOf;
  out->close = Close;
  out->may_wait = true;  // a KDC, and the DNS records that find it
  out->first_step_asks_kdc = !HostIsAddress(host);
  return OkStatus();
}

}  // namespace net
