// The caller's own logon through GSSAPI (MIT Kerberos), in SPNEGO: a
// Kerberos ticket from the ticket cache (KRB5CCNAME, or the default cache
// that kinit, SSSD or pam_krb5 fill) and, when NTLM_USER_FILE names the
// gss-ntlmssp mechanism's credentials file, NTLM. SPNEGO prefers Kerberos
// when both are there. MS-SMB2 3.2.4.2.3; RFC 2743, 4178.
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <stdlib.h>
#include <string.h>

#include <new>

#include "net/authenticator.h"
#include "net/crypto.h"

namespace net {
namespace {

/// SPNEGO, 1.3.6.1.5.5.2.
const gss_OID_desc kSpnego = {6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};
/// Kerberos 5 (1.2.840.113554.1.2.2), its older Microsoft twin
/// (1.2.840.48018.1.2.2) and NTLMSSP (1.3.6.1.4.1.311.2.2.10).
const char kKerberosOid[] = "\x2a\x86\x48\x86\xf7\x12\x01\x02\x02";
const char kMsKerberosOid[] = "\x2a\x86\x48\x82\xf7\x12\x01\x02\x02";
const char kNtlmOid[] = "\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a";
const gss_OID_desc kKerberos = {9, const_cast<char*>(kKerberosOid)};
/// The largest server token we hand on: a Kerberos AP-REP is a few hundred
/// bytes, an NTLM CHALLENGE less; SecurityBufferLength caps it anyway.
constexpr size_t kMaxServerToken = 0xFFFF;

struct GssLogon {
  gss_name_t target = GSS_C_NO_NAME;
  gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;  // none: every mechanism's default
  gss_ctx_id_t context = GSS_C_NO_CONTEXT;
  bool sent = false;  // a token has gone to the server
  bool done = false;
  LogonMechanism mechanism = LogonMechanism::kOther;
};

bool OidIs(gss_const_OID oid, const char* bytes, size_t size) {
  return oid != GSS_C_NO_OID && oid->length == size && memcmp(oid->elements, bytes, size) == 0;
}

LogonMechanism MechanismOf(gss_const_OID oid) {
  if (OidIs(oid, kKerberosOid, sizeof kKerberosOid - 1) ||
      OidIs(oid, kMsKerberosOid, sizeof kMsKerberosOid - 1)) {
    return LogonMechanism::kKerberos;
  }
  if (OidIs(oid, kNtlmOid, sizeof kNtlmOid - 1)) return LogonMechanism::kNtlm;
  return LogonMechanism::kOther;
}

/// What a failed gss_init_sec_context means for the query. Before anything
/// was sent it only says that no credential fits this target (none in the
/// cache, an expired ticket, no service principal for an address): the
/// query goes on anonymously. Afterwards it is the logon's answer.
Status GssFailure(const GssLogon& logon, OM_uint32 major) {
  if (!logon.sent) return SecurityFailure(kNoCredential);
  switch (GSS_ROUTINE_ERROR(major)) {
    case GSS_S_BAD_SIG:  // also GSS_S_BAD_MIC
      return SecurityFailure(kMutualAuthFailed);
    case GSS_S_DEFECTIVE_TOKEN:
      return Malformed();
    default:
      return SecurityFailure(kLogonFailed);
  }
}

/// The credentials to offer. Without an NTLM credentials file only Kerberos
/// can log on, so only Kerberos is asked: the NTLM mechanism's module and
/// the crypto library under it cost several milliseconds to load, which a
/// query that goes on anonymously should not pay. False when there is no
/// Kerberos ticket either.
bool AcquireCredential(GssLogon* logon) {
  const char* ntlm_file = getenv("NTLM_USER_FILE");
  if (ntlm_file != nullptr && ntlm_file[0] != '\0') return true;
  gss_OID_set_desc kerberos_only = {1, const_cast<gss_OID>(&kKerberos)};
  OM_uint32 minor = 0;
  OM_uint32 major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &kerberos_only,
                                     GSS_C_INITIATE, &logon->credential, nullptr, nullptr);
  return !GSS_ERROR(major);
}

// RFC 2743 2.2.1, RFC 4178 3.2: one call per token. Mutual authentication
// makes the server prove itself in its last token (an AP-REP, or NTLM's
// mechListMIC); integrity asks for the key that signing needs.
Status Step(void* state, const uint8_t* in, size_t in_size, std::vector<uint8_t>* out,
            bool* done) {
  GssLogon* logon = static_cast<GssLogon*>(state);
  *done = false;
  bool first = logon->context == GSS_C_NO_CONTEXT && !logon->sent;
  if (logon->done || (first && in != nullptr) || in_size > kMaxServerToken) return Malformed();
  if (first && !AcquireCredential(logon)) return SecurityFailure(kNoCredential);
  gss_buffer_desc input = {in_size, const_cast<uint8_t*>(in)};
  gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
  gss_OID actual_mech = GSS_C_NO_OID;
  OM_uint32 minor = 0;
  OM_uint32 major = gss_init_sec_context(
      &minor, logon->credential, &logon->context, logon->target, const_cast<gss_OID>(&kSpnego),
      GSS_C_MUTUAL_FLAG | GSS_C_INTEG_FLAG, 0, GSS_C_NO_CHANNEL_BINDINGS,
      first ? GSS_C_NO_BUFFER : &input, &actual_mech, &output, nullptr, nullptr);
  if (output.length > 0) {
    const uint8_t* bytes = static_cast<const uint8_t*>(output.value);
    out->insert(out->end(), bytes, bytes + output.length);
  }
  gss_release_buffer(&minor, &output);
  if (GSS_ERROR(major)) return GssFailure(*logon, major);
  logon->sent = logon->sent || !out->empty();
  if (major == GSS_S_COMPLETE) {
    logon->done = *done = true;
    logon->mechanism = MechanismOf(actual_mech);
  }
  return OkStatus();
}

/// The key SSPI would give (GSS_C_INQ_SSPI_SESSION_KEY): for Kerberos the
/// subkey of the session, for NTLM the exported session key.
void GetSessionKey(void* state, SessionKey* key) {
  GssLogon* logon = static_cast<GssLogon*>(state);
  key->size = 0;
  if (!logon->done) return;
  gss_buffer_set_t set = GSS_C_NO_BUFFER_SET;
  OM_uint32 minor = 0;
  OM_uint32 major =
      gss_inquire_sec_context_by_oid(&minor, logon->context, GSS_C_INQ_SSPI_SESSION_KEY, &set);
  if (!GSS_ERROR(major) && set != GSS_C_NO_BUFFER_SET && set->count >= 1) {
    gss_buffer_desc* value = &set->elements[0];
    size_t size = value->length < kMaxSessionKey ? value->length : kMaxSessionKey;
    memcpy(key->bytes, value->value, size);
    key->size = size;
    WipeBytes(value->value, value->length);
  }
  if (set != GSS_C_NO_BUFFER_SET) gss_release_buffer_set(&minor, &set);
}

LogonMechanism Mechanism(void* state) { return static_cast<GssLogon*>(state)->mechanism; }

void Close(void* state) {
  GssLogon* logon = static_cast<GssLogon*>(state);
  OM_uint32 minor = 0;
  if (logon->context != GSS_C_NO_CONTEXT) {
    gss_delete_sec_context(&minor, &logon->context, GSS_C_NO_BUFFER);
  }
  if (logon->target != GSS_C_NO_NAME) gss_release_name(&minor, &logon->target);
  if (logon->credential != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &logon->credential);
  delete logon;
}

}  // namespace

// The service is named "cifs@host" (RFC 2743 4.1); the library turns it into
// the principal cifs/host@REALM by its own rules (krb5.conf).
Status OpenCallerLogon(const std::string& host, Authenticator* out) {
  GssLogon* logon = new (std::nothrow) GssLogon();
  if (logon == nullptr) return NtFailure(0xC0000017);  // STATUS_NO_MEMORY
  std::string service = "cifs@" + host;
  gss_buffer_desc name = {service.size(), const_cast<char*>(service.data())};
  OM_uint32 minor = 0;
  if (GSS_ERROR(gss_import_name(&minor, &name, GSS_C_NT_HOSTBASED_SERVICE, &logon->target))) {
    Close(logon);
    return SecurityFailure(kNoCredential);
  }
  *out = Authenticator{logon, Step, GetSessionKey, Mechanism, Close};
  return OkStatus();
}

}  // namespace net
