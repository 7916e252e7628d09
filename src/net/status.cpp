// The one mapping from a query's status to the platform's error numbers.
//
// Server statuses follow the platform's standard NTSTATUS translation; RPC
// faults follow MS-RPCE 3.1.1.5.5. Failures seen on the socket have no
// server status, so they get what the platform's own redirector shows users:
//
//   name does not resolve            kResolveFailed    53  ERROR_BAD_NETPATH
//   connection refused               kConnectRefused   53  ERROR_BAD_NETPATH
//   host or network unreachable      kUnreachable      53  ERROR_BAD_NETPATH
//   no answer to connecting          kConnectTimeout   53  ERROR_BAD_NETPATH
//   closed before NEGOTIATE's answer kClosedEarly      53  ERROR_BAD_NETPATH (not SMB2)
//   NetBIOS negative session         kNegativeSession  53  ERROR_BAD_NETPATH
//   connected, no reply in time      kReplyTimeout    121  ERROR_SEM_TIMEOUT
//   closed or reset later on         kClosed           64  ERROR_NETNAME_DELETED
//   any other socket error           kSocketFailure    59  ERROR_UNEXP_NET_ERR
//   no memory, thread or socket here kNoResources       8  ERROR_NOT_ENOUGH_MEMORY
//   a reply that breaks the protocol (kMalformed)      58  ERROR_BAD_NET_RESP
//
// Failures of the logon and of message integrity on our side get the
// numbers the platform's security packages use for them; where that is an
// HRESULT (SEC_E_...), it prints as a negative number like an NTSTATUS.
//
// A negative session response means the session service would not take us
// (a "hosts deny" list, or no such called name): the path cannot be reached
// as given, which is 53, rather than a refusal of credentials (5).
#include "net/status.h"

namespace net {
namespace {

using K = StatusKind;

constexpr uint32_t kErrorBadNetResp = 58;
constexpr uint32_t kErrorUnexpNetErr = 59;

constexpr PlatformErrorRow kTable[] = {
    // Server statuses (NTSTATUS).
    {K::kNtStatus, 0xC0000022, 5, "STATUS_ACCESS_DENIED", "ERROR_ACCESS_DENIED"},
    {K::kNtStatus, 0xC0000008, 6, "STATUS_INVALID_HANDLE", "ERROR_INVALID_HANDLE"},
    {K::kNtStatus, 0xC0000128, 6, "STATUS_FILE_CLOSED", "ERROR_INVALID_HANDLE"},
    {K::kNtStatus, 0xC0000017, 8, "STATUS_NO_MEMORY", "ERROR_NOT_ENOUGH_MEMORY"},
    {K::kNtStatus, 0xC0000034, 2, "STATUS_OBJECT_NAME_NOT_FOUND", "ERROR_FILE_NOT_FOUND"},
    {K::kNtStatus, 0xC000003A, 3, "STATUS_OBJECT_PATH_NOT_FOUND", "ERROR_PATH_NOT_FOUND"},
    {K::kNtStatus, 0xC00000BB, 50, "STATUS_NOT_SUPPORTED", "ERROR_NOT_SUPPORTED"},
    {K::kNtStatus, 0xC00000BE, 53, "STATUS_BAD_NETWORK_PATH", "ERROR_BAD_NETPATH"},
    {K::kNtStatus, 0xC00000C3, 58, "STATUS_INVALID_NETWORK_RESPONSE", "ERROR_BAD_NET_RESP"},
    {K::kNtStatus, 0xC00000C4, 59, "STATUS_UNEXPECTED_NETWORK_ERROR", "ERROR_UNEXP_NET_ERR"},
    {K::kNtStatus, 0xC0000203, 59, "STATUS_USER_SESSION_DELETED", "ERROR_UNEXP_NET_ERR"},
    {K::kNtStatus, 0xC00000C9, 64, "STATUS_NETWORK_NAME_DELETED", "ERROR_NETNAME_DELETED"},
    {K::kNtStatus, 0xC00000CA, 65, "STATUS_NETWORK_ACCESS_DENIED", "ERROR_NETWORK_ACCESS_DENIED"},
    {K::kNtStatus, 0xC00000CC, 67, "STATUS_BAD_NETWORK_NAME", "ERROR_BAD_NET_NAME"},
    {K::kNtStatus, 0xC000000D, 87, "STATUS_INVALID_PARAMETER", "ERROR_INVALID_PARAMETER"},
    {K::kNtStatus, 0xC0000003, 87, "STATUS_INVALID_INFO_CLASS", "ERROR_INVALID_PARAMETER"},
    {K::kNtStatus, 0xC00000B5, 121, "STATUS_IO_TIMEOUT", "ERROR_SEM_TIMEOUT"},
    {K::kNtStatus, 0xC00000AC, 231, "STATUS_PIPE_NOT_AVAILABLE", "ERROR_PIPE_BUSY"},
    {K::kNtStatus, 0xC00000B0, 233, "STATUS_PIPE_DISCONNECTED", "ERROR_PIPE_NOT_CONNECTED"},
    {K::kNtStatus, 0xC0000016, 234, "STATUS_MORE_PROCESSING_REQUIRED", "ERROR_MORE_DATA"},
    {K::kNtStatus, 0xC0000236, 1225, "STATUS_CONNECTION_REFUSED", "ERROR_CONNECTION_REFUSED"},
    {K::kNtStatus, 0xC000023C, 1231, "STATUS_NETWORK_UNREACHABLE", "ERROR_NETWORK_UNREACHABLE"},
    {K::kNtStatus, 0xC000023D, 1232, "STATUS_HOST_UNREACHABLE", "ERROR_HOST_UNREACHABLE"},
    {K::kNtStatus, 0xC000006D, 1326, "STATUS_LOGON_FAILURE", "ERROR_LOGON_FAILURE"},
    {K::kNtStatus, 0xC000006E, 1327, "STATUS_ACCOUNT_RESTRICTION", "ERROR_ACCOUNT_RESTRICTION"},
    {K::kNtStatus, 0xC0000071, 1330, "STATUS_PASSWORD_EXPIRED", "ERROR_PASSWORD_EXPIRED"},
    {K::kNtStatus, 0xC0000072, 1331, "STATUS_ACCOUNT_DISABLED", "ERROR_ACCOUNT_DISABLED"},
    {K::kNtStatus, 0xC0000073, 1332, "STATUS_NONE_MAPPED", "ERROR_NONE_MAPPED"},
    {K::kNtStatus, 0xC00000DF, 1355, "STATUS_NO_SUCH_DOMAIN", "ERROR_NO_SUCH_DOMAIN"},
    {K::kNtStatus, 0xC00000E5, 1359, "STATUS_INTERNAL_ERROR", "ERROR_INTERNAL_ERROR"},
    {K::kNtStatus, 0xC000015B, 1385, "STATUS_LOGON_TYPE_NOT_GRANTED", "ERROR_LOGON_TYPE_NOT_GRANTED"},
    {K::kNtStatus, 0xC000009A, 1450, "STATUS_INSUFFICIENT_RESOURCES", "ERROR_NO_SYSTEM_RESOURCES"},
    {K::kNtStatus, 0xC0000234, 1909, "STATUS_ACCOUNT_LOCKED_OUT", "ERROR_ACCOUNT_LOCKED_OUT"},
    // RPC faults and bind rejections (MS-RPCE 3.1.1.5.5).
    {K::kRpcFault, 0x1C010002, 1745, "nca_s_op_rng_error", "RPC_S_PROCNUM_OUT_OF_RANGE"},
    {K::kRpcFault, kBindRejectedInterface, 1717, "nca_s_unk_if / bind reason 1", "RPC_S_UNKNOWN_IF"},
    {K::kRpcFault, 0x1C01000B, 1728, "nca_s_proto_error / bind_nak 4", "RPC_S_PROTOCOL_ERROR"},
    {K::kRpcFault, 0x1C00001A, 6, "nca_s_fault_context_mismatch", "ERROR_INVALID_HANDLE"},
    {K::kRpcFault, 0x000006F7, 1783, "nca_s_fault_ndr", "RPC_X_BAD_STUB_DATA"},
    {K::kRpcFault, 0x00000005, 5, "access denied", "ERROR_ACCESS_DENIED"},
    {K::kRpcFault, 0x1C000012, 1726, "nca_s_fault_unspec", "RPC_S_CALL_FAILED"},
    {K::kRpcFault, kBindRejectedOther, 1726, "nca_unspec_reject / bind rejected", "RPC_S_CALL_FAILED"},
    {K::kRpcFault, kBindRejectedTransfer, 1730, "bind reason 2", "RPC_S_UNSUPPORTED_TRANS_SYN"},
    // Failures on the socket (see the top of this file).
    {K::kTransport, kResolveFailed, 53, "name does not resolve", "ERROR_BAD_NETPATH"},
    {K::kTransport, kConnectRefused, 53, "connection refused", "ERROR_BAD_NETPATH"},
    {K::kTransport, kUnreachable, 53, "host or network unreachable", "ERROR_BAD_NETPATH"},
    {K::kTransport, kConnectTimeout, 53, "no answer to connecting", "ERROR_BAD_NETPATH"},
    {K::kTransport, kClosedEarly, 53, "closed before NEGOTIATE was answered", "ERROR_BAD_NETPATH"},
    {K::kTransport, kNegativeSession, 53, "NetBIOS negative session response", "ERROR_BAD_NETPATH"},
    {K::kTransport, kReplyTimeout, 121, "no reply in time", "ERROR_SEM_TIMEOUT"},
    {K::kTransport, kClosed, 64, "closed or reset later on", "ERROR_NETNAME_DELETED"},
    {K::kTransport, kSocketFailure, 59, "other socket error", "ERROR_UNEXP_NET_ERR"},
    {K::kTransport, kNoResources, 8, "no memory, thread or socket on our side", "ERROR_NOT_ENOUGH_MEMORY"},
    {K::kMalformed, 0, kErrorBadNetResp, "malformed reply", "ERROR_BAD_NET_RESP"},
    // Our side of the logon and of signing.
    {K::kSecurity, kNoCredential, 0x8009030E, "no credential for the target", "SEC_E_NO_CREDENTIALS"},
    {K::kSecurity, kLogonFailed, 1326, "logon failed on our side", "ERROR_LOGON_FAILURE"},
    {K::kSecurity, kGuestSession, 1326, "credentials not accepted: guest or null session", "ERROR_LOGON_FAILURE"},
    {K::kSecurity, kMutualAuthFailed, 0x80090363, "server did not prove itself", "SEC_E_MUTUAL_AUTH_FAILED"},
    {K::kSecurity, kBadSignature, 0x8009030F, "signature missing or wrong", "SEC_E_MESSAGE_ALTERED"},
    {K::kSecurity, kDowngradeDetected, 1265, "negotiation altered", "ERROR_DOWNGRADE_DETECTED"},
    {K::kSecurity, kNoSessionKey, 0x80090302, "signing needed, no session key", "SEC_E_UNSUPPORTED_FUNCTION"},
    {K::kSecurity, kCryptoUnavailable, 0x80090304, "cryptographic library unusable", "SEC_E_INTERNAL_ERROR"},
    {K::kSecurity, kDecryptFailed, 0x80090330, "encrypted answer does not decrypt", "SEC_E_DECRYPT_FAILURE"},
    {K::kSecurity, kNotEncrypted, 0x8009030F, "answer in clear where encryption is in force", "SEC_E_MESSAGE_ALTERED"},
    {K::kSecurity, kNoCipher, 0x80090331, "encryption required, no cipher agreed", "SEC_E_ALGORITHM_MISMATCH"},
};

}  // namespace

const PlatformErrorRow* PlatformErrorTable(size_t* count) {
  *count = sizeof kTable / sizeof kTable[0];
  return kTable;
}

uint32_t ToPlatformError(Status s) {
  if (s.kind == StatusKind::kOk) return 0;
  if (s.kind == StatusKind::kMalformed) return kErrorBadNetResp;
  for (const PlatformErrorRow& row : kTable) {
    if (row.kind == s.kind && row.code == s.code) return row.platform;
  }
  // Our own codes that the table lacks cannot come from a server.
  if (s.kind == StatusKind::kTransport) return kErrorUnexpNetErr;
  if (s.kind == StatusKind::kSecurity) return 1326;  // ERROR_LOGON_FAILURE
  // A failure must never read as success, even when a server sent 0.
  if (s.code == 0) return kErrorBadNetResp;
  return s.code;
}

}  // namespace net
