// SPDX-License-Identifier: Apache-2.0
// The caller's own logon through GSSAPI (MIT Kerberos), in SPNEGO: a
// Kerberos ticket from the ticket cache (KRB5CCNAME, or the default cache
// that kinit, SSSD or pam_krb5 fill) and, when NTLM_USER_FILE names the
// gss-ntlmssp mechanism's credentials file, NTLM. SPNEGO prefers Kerberos
// when both are there. MS-SMB2 3.2.4.2.3; RFC 2743, 4178.
#include <krb5/krb5.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <new>

#include "auth/authenticator.h"
#include "base/ntstatus.h"
#include "auth/authenticator_gssapi.h"
#include "base/crypto.h"
#include "auth/gssapi_library.h"
#include "transport/host_address.h"

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
const gss_OID_desc kNtlm = {10, const_cast<char*>(kNtlmOid)};
/// The largest server token we hand on: a Kerberos AP-REP is a few hundred
/// bytes, an NTLM CHALLENGE less; SecurityBufferLength caps it anyway.
constexpr size_t kMaxServerToken = 0xFFFF;

struct GssLogon {
  std::string host;
  gss_name_t kerberos_target = GSS_C_NO_NAME;      // the principal cifs/host
  gss_name_t ntlm_target = GSS_C_NO_NAME;          // the service cifs@host
  gss_name_t target = GSS_C_NO_NAME;               // one of the two, for the logon
  gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;  // SPNEGO's, held to the one mechanism
  gss_ctx_id_t context = GSS_C_NO_CONTEXT;
  bool sent = false;  // a token has gone to the server
  bool done = false;
  LogonMechanism mechanism = LogonMechanism::kOther;
};

/// The loaded library; only called once OpenCallerLogon has found it.
const GssApi& Gss() { return *GssLibrary(); }

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

/// What a Kerberos failure means once the caller's ticket cache has been
/// found to apply. Whatever the KDC said (it is not authenticated: anyone
/// who answers in its place can say it, and MIT's library adds its
/// error-code to the table's base unchecked, so it can land on any of the
/// library's own numbers), it is the answer; none of it makes the query
/// anonymous, and none of it is the SMB server's malformed reply.
Status KerberosFailure(OM_uint32 major, OM_uint32 minor) {
  if (GSS_ROUTINE_ERROR(major) == GSS_S_CREDENTIALS_EXPIRED)
    return SecurityFailure(kContextExpired);
  switch (static_cast<krb5_error_code>(minor)) {
    case KRB5_KDC_UNREACH:
    case KRB5_REALM_CANT_RESOLVE:
    case KRB5_REALM_UNKNOWN: return SecurityFailure(kNoAuthority);
    case KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN: return SecurityFailure(kTargetUnknown);
    case KRB5KRB_AP_ERR_TKT_EXPIRED: return SecurityFailure(kContextExpired);
    default: return SecurityFailure(kKerberosFailed);
  }
}

/// Appends the library's words for `code` (a GSS `kind` status) to `text`.
void AppendGssText(OM_uint32 code, int kind, char* text, size_t size, size_t* used) {
  OM_uint32 context = 0, ignored = 0;
  do {
    gss_buffer_desc b = GSS_C_EMPTY_BUFFER;
    if (GSS_ERROR(Gss().display_status(&ignored, code, kind, GSS_C_NO_OID, &context, &b))) break;
    int n = snprintf(text + *used, size - *used, "%s%.*s", *used > 0 ? "; " : "",
                     static_cast<int>(b.length), static_cast<const char*>(b.value));
    Gss().release_buffer(&ignored, &b);
    if (n < 0 || static_cast<size_t>(n) >= size - *used) return;
    *used += static_cast<size_t>(n);
  } while (context != 0);
}

/// The library's words for a failure, for the trace: names of principals
/// and caches at most, nothing secret (TraceLine escapes what is not text).
void TraceGss(Trace* trace, const char* what, OM_uint32 major, OM_uint32 minor) {
  if (!Tracing(trace)) return;
  char text[320] = "";
  size_t used = 0;
  AppendGssText(major, GSS_C_GSS_CODE, text, sizeof text, &used);
  if (minor != 0) AppendGssText(minor, GSS_C_MECH_CODE, text, sizeof text, &used);
  TraceLine(trace, "%s: %s", what, text);
}

/// What a failed gss_init_sec_context means once a token has gone out.
Status FailureAfterToken(OM_uint32 major) {
  switch (GSS_ROUTINE_ERROR(major)) {
    case GSS_S_BAD_SIG:  // also GSS_S_BAD_MIC
      return SecurityFailure(kMutualAuthFailed);
    case GSS_S_DEFECTIVE_TOKEN: return Malformed();
    default: return SecurityFailure(kLogonFailed);
  }
}

/// The caller's credential for the one mechanism `mech`, or none.
bool AcquireFor(gss_OID mech, gss_cred_id_t* credential, OM_uint32* major, OM_uint32* minor) {
  gss_OID_set_desc mechs = {1, mech};
  *major = Gss().acquire_cred(minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechs, GSS_C_INITIATE,
                              credential, nullptr, nullptr);
  return !GSS_ERROR(*major);
}

/// What the ticket cache holds for the target, read from the cache alone.
enum class CachedTicket : uint8_t { kNone, kValid, kExpired };

/// Whether a ticket ending at `end` is still good at `now` (krb5 times are
/// 32-bit and compared as the library does, across their wrap).
bool StillValid(krb5_timestamp end, krb5_timestamp now) {
  return static_cast<int32_t>(static_cast<uint32_t>(end) - static_cast<uint32_t>(now)) > 0;
}

/// `seen`, bettered by the cache's ticket for `server` (its realm ignored
/// when `name_only`): a valid ticket makes it kValid, an expired one makes
/// kNone kExpired.
CachedTicket Lookup(krb5_context context, krb5_ccache cache, krb5_principal client,
                    krb5_principal server, bool name_only, CachedTicket seen) {
  const GssApi& g = Gss();
  krb5_creds wanted, found;
  memset(&wanted, 0, sizeof wanted);
  memset(&found, 0, sizeof found);
  wanted.client = client;
  wanted.server = server;
  krb5_flags match = name_only ? KRB5_TC_MATCH_SRV_NAMEONLY : 0;
  if (g.k5_cc_retrieve_cred(context, cache, match, &wanted, &found) != 0) return seen;
  bool valid = StillValid(found.times.endtime, static_cast<krb5_timestamp>(time(nullptr)));
  WipeBytes(found.keyblock.contents, found.keyblock.length);
  g.k5_free_cred_contents(context, &found);
  if (valid || seen == CachedTicket::kValid) return CachedTicket::kValid;
  return CachedTicket::kExpired;
}

/// Every KDC answer passes here before the library reads it. The library
/// makes a KRB-ERROR's error-code its own number by adding the code to its
/// table's base unchecked: a code past the KDC's own range (0 to 127) lands
/// on another of its numbers ("no matching credential", "KDC unreachable"),
/// and one that makes the sum 0 leaves it without error and without ticket,
/// which crashes it (1.20). Such an answer is no KDC error: a generic one.
krb5_error_code CheckKdcAnswer(krb5_context context, void*, krb5_error_code code, const krb5_data*,
                               const krb5_data*, const krb5_data* reply, krb5_data**) {
  if (code != 0 || reply == nullptr || reply->length == 0 ||
      static_cast<uint8_t>(reply->data[0]) != 0x7E) {  // [APPLICATION 30], KRB-ERROR
    return code;
  }
  krb5_error* error = nullptr;
  if (Gss().k5_rd_error(context, reply, &error) != 0) return KRB5KRB_ERR_GENERIC;
  krb5_ui_4 value = error->error;
  Gss().k5_free_error(context, error);
  return value >= 1 && value <= 127 ? 0 : KRB5KRB_ERR_GENERIC;
}

/// The cache's principal and ticket for `host`, in the library's terms.
struct KerberosCache {
  krb5_context context = nullptr;
  krb5_ccache cache = nullptr;
  krb5_principal client = nullptr;
};

void CloseCache(KerberosCache* k) {
  const GssApi& g = Gss();
  if (k->client != nullptr) g.k5_free_principal(k->context, k->client);
  if (k->cache != nullptr) g.k5_cc_close(k->context, k->cache);
  if (k->context != nullptr) g.k5_free_context(k->context);
}

/// Whether the default ticket cache holds a ticket-granting ticket for its
/// principal's realm, or a ticket for `host`'s SMB service itself: read
/// from the cache, before anything that could ask a KDC.
CachedTicket ReadTicketCache(const std::string& host, KerberosCache* k, Trace* trace) {
  const GssApi& g = Gss();
  if (g.k5_init_context(&k->context) != 0) {
    k->context = nullptr;
    TraceLine(trace, "logon: Kerberos: no usable configuration (krb5.conf)");
    return CachedTicket::kNone;
  }
  if (g.k5_cc_default(k->context, &k->cache) != 0 ||
      g.k5_cc_get_principal(k->context, k->cache, &k->client) != 0) {
    TraceLine(trace, "logon: Kerberos: no ticket cache, or none with a principal");
    return CachedTicket::kNone;
  }
  CachedTicket seen = CachedTicket::kNone;
  krb5_principal tgt = nullptr, service = nullptr;
  const krb5_data& realm = k->client->realm;
  if (g.k5_build_principal_ext(k->context, &tgt, realm.length, realm.data, 6, "krbtgt",
                               realm.length, realm.data, 0) == 0) {
    seen = Lookup(k->context, k->cache, k->client, tgt, false, seen);
    g.k5_free_principal(k->context, tgt);
  }
  if (g.k5_build_principal_ext(k->context, &service, realm.length, realm.data, 4, "cifs",
                               static_cast<unsigned>(host.size()), host.c_str(), 0) == 0) {
    seen = Lookup(k->context, k->cache, k->client, service, true, seen);
    g.k5_free_principal(k->context, service);
  }
  TraceLine(trace, "logon: Kerberos: the ticket cache holds %s",
            seen == CachedTicket::kNone      ? "no ticket-granting ticket, nor one for the server"
            : seen == CachedTicket::kExpired ? "expired tickets only"
                                             : "a ticket that applies");
  return seen;
}

/// The service ticket for `host`, from the cache or from the KDC, with
/// every answer checked (CheckKdcAnswer); the library stores it in the
/// cache, where the SPNEGO logon that follows finds it. The library's own
/// code on failure.
krb5_error_code GetServiceTicket(const KerberosCache& k, const std::string& host) {
  const GssApi& g = Gss();
  g.k5_set_kdc_recv_hook(k.context, CheckKdcAnswer, nullptr);
  krb5_creds wanted, *got = nullptr;
  memset(&wanted, 0, sizeof wanted);
  wanted.client = k.client;
  krb5_error_code code =
      g.k5_parse_name(k.context, KerberosServiceName(host).c_str(), &wanted.server);
  if (code != 0) return code;
  code = g.k5_get_credentials(k.context, 0, k.cache, &wanted, &got);
  g.k5_free_principal(k.context, wanted.server);
  if (got != nullptr) {
    WipeBytes(got->keyblock.contents, got->keyblock.length);
    g.k5_free_creds(k.context, got);
  }
  return code;
}

/// The library's words for a krb5 code, for the trace: names of
/// principals at most, nothing secret (TraceLine escapes what is not text).
void TraceKrb5(Trace* trace, krb5_context context, krb5_error_code code) {
  if (!Tracing(trace)) return;
  const char* text = Gss().k5_get_error_message(context, code);
  TraceLine(trace, "logon: Kerberos: %s", text != nullptr ? text : "");
  if (text != nullptr) Gss().k5_free_error_message(context, text);
}

/// Kerberos for the target. Whether it applies is decided first, on this
/// computer alone: not for an address (no service principal), and only with
/// a ticket in the cache (ReadTicketCache); kNoCredential otherwise, and
/// only then. Once it applies, a service ticket (GetServiceTicket), or why
/// there is none, as KerberosFailure says: SPNEGO would hide why.
Status KerberosFits(GssLogon* logon, Trace* trace) {
  if (HostIsAddress(logon->host)) {
    TraceLine(trace, "logon: Kerberos: an address has no service principal");
    return SecurityFailure(kNoCredential);
  }
  KerberosCache k;
  CachedTicket cached = ReadTicketCache(logon->host, &k, trace);
  Status s = OkStatus();
  if (cached == CachedTicket::kNone) {
    s = SecurityFailure(kNoCredential);
  } else if (cached == CachedTicket::kExpired) {
    s = SecurityFailure(kContextExpired);
  } else {
    // From here on the answer is Kerberos', whatever happens.
    krb5_error_code code = GetServiceTicket(k, logon->host);
    if (code == 0) {
      TraceLine(trace, "logon: Kerberos has a ticket for %s",
                KerberosServiceName(logon->host).c_str());
    } else {
      TraceKrb5(trace, k.context, code);
      s = KerberosFailure(GSS_S_FAILURE, static_cast<OM_uint32>(code));
    }
  }
  CloseCache(&k);
  return s;
}

/// Whether NTLM applies: NTLM_USER_FILE names the gss-ntlmssp mechanism's
/// credentials file, and it gives a credential. Its name for the target is
/// a host-based service name: gss-ntlmssp does not go to DNS for it.
bool NtlmFits(GssLogon* logon, Trace* trace) {
  const char* ntlm_file = getenv("NTLM_USER_FILE");
  if (ntlm_file == nullptr || ntlm_file[0] == '\0') {
    TraceLine(trace, "logon: NTLM_USER_FILE is not set");
    return false;
  }
  std::string service = "cifs@" + logon->host;
  gss_buffer_desc name = {service.size(), const_cast<char*>(service.data())};
  OM_uint32 major = 0, minor = 0, ignored = 0;
  if (GSS_ERROR(
          Gss().import_name(&minor, &name, Gss().nt_hostbased_service, &logon->ntlm_target))) {
    return false;
  }
  gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;
  if (!AcquireFor(const_cast<gss_OID>(&kNtlm), &credential, &major, &minor)) {
    TraceGss(trace, "logon: NTLM", major, minor);
    return false;
  }
  Gss().release_cred(&ignored, &credential);
  TraceLine(trace, "logon: NTLM with the credentials of NTLM_USER_FILE");
  return true;
}

/// SPNEGO's credential, held to `mech` alone (RFC 4178 mechTypes): MIT's
/// SPNEGO would otherwise offer every mechanism that has a default
/// credential, whatever credential it was given.
Status HoldToMechanism(GssLogon* logon, const gss_OID_desc& mech, Trace* trace) {
  gss_OID_set_desc spnego = {1, const_cast<gss_OID>(&kSpnego)};
  OM_uint32 minor = 0;
  OM_uint32 major = Gss().acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &spnego,
                                       GSS_C_INITIATE, &logon->credential, nullptr, nullptr);
  gss_OID_set_desc only = {1, const_cast<gss_OID>(&mech)};
  if (!GSS_ERROR(major)) major = Gss().set_neg_mechs(&minor, logon->credential, &only);
  if (!GSS_ERROR(major)) return OkStatus();
  TraceGss(trace, "logon: SPNEGO", major, minor);
  return SecurityFailure(kLogonFailed);
}

/// The one mechanism to offer: Kerberos when it can serve the target;
/// otherwise NTLM when NTLM_USER_FILE names the gss-ntlmssp mechanism's
/// credentials (as the platform's Negotiate falls back to NTLM), checked
/// only then: its module and the crypto library under it take milliseconds
/// to load. When neither applies, the query goes on anonymously only if
/// Kerberos did not apply either; a Kerberos failure is the answer.
Status AcquireCredential(GssLogon* logon, Trace* trace) {
  // The library is loaded here, while the server works on the NEGOTIATE,
  // rather than before it goes out.
  if (GssLibrary() == nullptr) {
    TraceLine(trace, "logon: no GSSAPI library (libgssapi_krb5.so.2), so no credential");
    return SecurityFailure(kNoCredential);
  }
  std::string service = KerberosServiceName(logon->host);
  gss_buffer_desc name = {service.size(), const_cast<char*>(service.data())};
  OM_uint32 minor = 0;
  if (GSS_ERROR(Gss().import_name(&minor, &name, Gss().krb5_nt_principal_name,
                                  &logon->kerberos_target))) {
    return SecurityFailure(kNoCredential);
  }
  Status kerberos = KerberosFits(logon, trace);
  if (IsOk(kerberos)) {
    logon->target = logon->kerberos_target;
    return HoldToMechanism(logon, kKerberos, trace);
  }
  if (!NtlmFits(logon, trace)) return kerberos;
  if (!IsSecurity(kerberos, kNoCredential)) {
    TraceLine(trace, "logon: NTLM, as Kerberos failed: %s", StatusReason(kerberos));
  }
  logon->target = logon->ntlm_target;
  return HoldToMechanism(logon, kNtlm, trace);
}

// RFC 2743 2.2.1, RFC 4178 3.2: one call per token. Mutual authentication
// makes the server prove itself in its last token (an AP-REP, or NTLM's
// mechListMIC); integrity asks for the key that signing needs.
Status Step(void* state, const uint8_t* in, size_t in_size, std::vector<uint8_t>* out, bool* done,
            Trace* trace) {
  GssLogon* logon = static_cast<GssLogon*>(state);
  *done = false;
  bool first = logon->context == GSS_C_NO_CONTEXT && !logon->sent;
  if (logon->done || (first && in != nullptr) || in_size > kMaxServerToken) return Malformed();
  if (first) {
    Status s = AcquireCredential(logon, trace);
    if (!IsOk(s)) return s;
  }
  gss_buffer_desc input = {in_size, const_cast<uint8_t*>(in)};
  gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
  gss_OID actual_mech = GSS_C_NO_OID;
  OM_uint32 minor = 0;
  OM_uint32 major = Gss().init_sec_context(
      &minor, logon->credential, &logon->context, logon->target, const_cast<gss_OID>(&kSpnego),
      GSS_C_MUTUAL_FLAG | GSS_C_INTEG_FLAG, 0, GSS_C_NO_CHANNEL_BINDINGS,
      first ? GSS_C_NO_BUFFER : &input, &actual_mech, &output, nullptr, nullptr);
  OM_uint32 release_minor = 0;
  if (GSS_ERROR(major)) {
    Gss().release_buffer(&release_minor, &output);  // an error token is not for the server
    TraceGss(trace, "logon: GSSAPI", major, minor);
    // Before anything went out the credential had already been found to
    // apply: this failure, too, is the answer.
    if (logon->sent) return FailureAfterToken(major);
    return logon->target == logon->kerberos_target ? KerberosFailure(major, minor)
                                                   : SecurityFailure(kLogonFailed);
  }
  if (output.length > 0) {
    const uint8_t* bytes = static_cast<const uint8_t*>(output.value);
    out->insert(out->end(), bytes, bytes + output.length);
    WipeBytes(output.value, output.length);  // an NTLM AUTHENTICATE can be attacked offline
  }
  Gss().release_buffer(&release_minor, &output);
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
      Gss().inquire_sec_context_by_oid(&minor, logon->context, Gss().inq_sspi_session_key, &set);
  if (!GSS_ERROR(major) && set != GSS_C_NO_BUFFER_SET && set->count >= 1) {
    gss_buffer_desc* value = &set->elements[0];
    size_t size = value->length < kMaxSessionKey ? value->length : kMaxSessionKey;
    memcpy(key->bytes, value->value, size);
    key->size = size;
    WipeBytes(value->value, value->length);
  }
  if (set != GSS_C_NO_BUFFER_SET) Gss().release_buffer_set(&minor, &set);
}

LogonMechanism Mechanism(void* state) { return static_cast<GssLogon*>(state)->mechanism; }

void Close(void* state) {
  GssLogon* logon = static_cast<GssLogon*>(state);
  OM_uint32 minor = 0;
  if (logon->context != GSS_C_NO_CONTEXT) {
    Gss().delete_sec_context(&minor, &logon->context, GSS_C_NO_BUFFER);
  }
  if (logon->kerberos_target != GSS_C_NO_NAME) Gss().release_name(&minor, &logon->kerberos_target);
  if (logon->ntlm_target != GSS_C_NO_NAME) Gss().release_name(&minor, &logon->ntlm_target);
  if (logon->credential != GSS_C_NO_CREDENTIAL) Gss().release_cred(&minor, &logon->credential);
  delete logon;
}

}  // namespace

// The principal "cifs/host", the host as the connection uses it: the name
// the platform's SSPI gives the target. A host-based service name would be
// canonicalised through DNS under MIT's defaults (a reverse lookup among
// it), which would let whoever answers DNS pick the server whose ticket
// proves the logon. RFC 1964 2.1.1 escapes.
std::string KerberosServiceName(const std::string& host) {
  std::string name = "cifs/";
  for (char c : host) {
    if (c == '@' || c == '\\' || c == '/') name += '\\';
    name += c;
  }
  return name;
}

Status OpenCallerLogon(const std::string& host, Authenticator* out, Trace*) {
  GssLogon* logon = new (std::nothrow) GssLogon();
  if (logon == nullptr) return NtFailure(kStatusNoMemory);
  logon->host = host;
  *out = Authenticator{logon, Step, GetSessionKey, Mechanism, Close};
  out->may_wait = true;  // a KDC, and the DNS records that find it
  out->first_step_asks_kdc = !HostIsAddress(host);
  return OkStatus();
}

}  // namespace net
