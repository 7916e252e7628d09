// SPDX-License-Identifier: Apache-2.0
// The one mapping from a query's status to the platform's error numbers.
//
// Server statuses follow the platform's standard NTSTATUS translation, for
// every status a server may end the exchange with (NEGOTIATE, the logon,
// TREE_CONNECT, CREATE, pipe IOCTL and READ, the LSA calls' own statuses),
// in the order of the numbers they map to; RPC faults follow MS-RPCE
// 3.1.1.5.5. Failures seen on the socket have no
// server status, so they get what the platform's own redirector shows users:
//
//   name does not resolve            kResolveFailed    53  ERROR_BAD_NETPATH
//   connection refused               kConnectRefused   53  ERROR_BAD_NETPATH
//   host or network unreachable      kUnreachable      53  ERROR_BAD_NETPATH
//   no answer to connecting          kConnectTimeout   53  ERROR_BAD_NETPATH
//   closed before NEGOTIATE's answer kClosedEarly      53  ERROR_BAD_NETPATH (not SMB2)
//   NetBIOS negative session         kNegativeSession  53  ERROR_BAD_NETPATH
//   connected, no reply in time      kReplyTimeout    121  ERROR_SEM_TIMEOUT
//   the query's time ran out here    kOutOfTime       121  ERROR_SEM_TIMEOUT
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
#include "base/status.h"

namespace net {
namespace {

using K = StatusKind;

constexpr uint32_t kErrorBadNetResp = 58;
constexpr uint32_t kErrorUnexpNetErr = 59;

constexpr PlatformErrorRow kTable[] = {
    // Server statuses (NTSTATUS).
    {K::kNtStatus, 0xC0000002, 1, "STATUS_NOT_IMPLEMENTED", "ERROR_INVALID_FUNCTION"},
    {K::kNtStatus, 0xC0000010, 1, "STATUS_INVALID_DEVICE_REQUEST", "ERROR_INVALID_FUNCTION"},
    {K::kNtStatus, 0xC0000034, 2, "STATUS_OBJECT_NAME_NOT_FOUND", "ERROR_FILE_NOT_FOUND"},
    {K::kNtStatus, 0xC000003A, 3, "STATUS_OBJECT_PATH_NOT_FOUND", "ERROR_PATH_NOT_FOUND"},
    {K::kNtStatus, 0xC000011F, 4, "STATUS_TOO_MANY_OPENED_FILES", "ERROR_TOO_MANY_OPEN_FILES"},
    {K::kNtStatus, 0xC0000022, 5, "STATUS_ACCESS_DENIED", "ERROR_ACCESS_DENIED"},
    {K::kNtStatus, 0xC0000008, 6, "STATUS_INVALID_HANDLE", "ERROR_INVALID_HANDLE"},
    {K::kNtStatus, 0xC0000024, 6, "STATUS_OBJECT_TYPE_MISMATCH", "ERROR_INVALID_HANDLE"},
    {K::kNtStatus, 0xC0000128, 6, "STATUS_FILE_CLOSED", "ERROR_INVALID_HANDLE"},
    {K::kNtStatus, 0xC0000017, 8, "STATUS_NO_MEMORY", "ERROR_NOT_ENOUGH_MEMORY"},
    {K::kNtStatus, 0xC0000184, 22, "STATUS_INVALID_DEVICE_STATE", "ERROR_BAD_COMMAND"},
    {K::kNtStatus, 0xC0000004, 24, "STATUS_INFO_LENGTH_MISMATCH", "ERROR_BAD_LENGTH"},
    {K::kNtStatus, 0xC0000001, 31, "STATUS_UNSUCCESSFUL", "ERROR_GEN_FAILURE"},
    {K::kNtStatus, 0xC0000043, 32, "STATUS_SHARING_VIOLATION", "ERROR_SHARING_VIOLATION"},
    {K::kNtStatus, 0xC0000011, 38, "STATUS_END_OF_FILE", "ERROR_HANDLE_EOF"},
    {K::kNtStatus, 0xC00000BB, 50, "STATUS_NOT_SUPPORTED", "ERROR_NOT_SUPPORTED"},
    {K::kNtStatus, 0xC00000BE, 53, "STATUS_BAD_NETWORK_PATH", "ERROR_BAD_NETPATH"},
    {K::kNtStatus, 0xC00000BF, 54, "STATUS_NETWORK_BUSY", "ERROR_NETWORK_BUSY"},
    {K::kNtStatus, 0xC00000C3, 58, "STATUS_INVALID_NETWORK_RESPONSE", "ERROR_BAD_NET_RESP"},
    {K::kNtStatus, 0xC00000C4, 59, "STATUS_UNEXPECTED_NETWORK_ERROR", "ERROR_UNEXP_NET_ERR"},
    {K::kNtStatus, 0xC0000203, 59, "STATUS_USER_SESSION_DELETED", "ERROR_UNEXP_NET_ERR"},
    {K::kNtStatus, 0xC00000C9, 64, "STATUS_NETWORK_NAME_DELETED", "ERROR_NETNAME_DELETED"},
    {K::kNtStatus, 0xC00000CA, 65, "STATUS_NETWORK_ACCESS_DENIED", "ERROR_NETWORK_ACCESS_DENIED"},
    {K::kNtStatus, 0xC00000CB, 66, "STATUS_BAD_DEVICE_TYPE", "ERROR_BAD_DEV_TYPE"},
    {K::kNtStatus, 0xC00000CC, 67, "STATUS_BAD_NETWORK_NAME", "ERROR_BAD_NET_NAME"},
    {K::kNtStatus, 0xC00000CE, 69, "STATUS_TOO_MANY_SESSIONS", "ERROR_TOO_MANY_SESS"},
    {K::kNtStatus, 0xC00000CF, 70, "STATUS_SHARING_PAUSED", "ERROR_SHARING_PAUSED"},
    {K::kNtStatus, 0xC00000D0, 71, "STATUS_REQUEST_NOT_ACCEPTED", "ERROR_REQ_NOT_ACCEP"},
    {K::kNtStatus, 0xC000006A, 86, "STATUS_WRONG_PASSWORD", "ERROR_INVALID_PASSWORD"},
    {K::kNtStatus, 0xC0000003, 87, "STATUS_INVALID_INFO_CLASS", "ERROR_INVALID_PARAMETER"},
    {K::kNtStatus, 0xC000000D, 87, "STATUS_INVALID_PARAMETER", "ERROR_INVALID_PARAMETER"},
    {K::kNtStatus, 0xC000014B, 109, "STATUS_PIPE_BROKEN", "ERROR_BROKEN_PIPE"},
    {K::kNtStatus, 0xC00000B5, 121, "STATUS_IO_TIMEOUT", "ERROR_SEM_TIMEOUT"},
    {K::kNtStatus, 0xC0000023, 122, "STATUS_BUFFER_TOO_SMALL", "ERROR_INSUFFICIENT_BUFFER"},
    {K::kNtStatus, 0xC0000033, 123, "STATUS_OBJECT_NAME_INVALID", "ERROR_INVALID_NAME"},
    {K::kNtStatus, 0xC0000148, 124, "STATUS_INVALID_LEVEL", "ERROR_INVALID_LEVEL"},
    {K::kNtStatus, 0xC000003B, 161, "STATUS_OBJECT_PATH_SYNTAX_BAD", "ERROR_BAD_PATHNAME"},
    {K::kNtStatus, 0xC00000AD, 230, "STATUS_INVALID_PIPE_STATE", "ERROR_BAD_PIPE"},
    {K::kNtStatus, 0xC00000AB, 231, "STATUS_INSTANCE_NOT_AVAILABLE", "ERROR_PIPE_BUSY"},
    {K::kNtStatus, 0xC00000AC, 231, "STATUS_PIPE_NOT_AVAILABLE", "ERROR_PIPE_BUSY"},
    {K::kNtStatus, 0xC00000AE, 231, "STATUS_PIPE_BUSY", "ERROR_PIPE_BUSY"},
    {K::kNtStatus, 0xC00000B1, 232, "STATUS_PIPE_CLOSING", "ERROR_NO_DATA"},
    {K::kNtStatus, 0xC00000D9, 232, "STATUS_PIPE_EMPTY", "ERROR_NO_DATA"},
    {K::kNtStatus, 0xC00000B0, 233, "STATUS_PIPE_DISCONNECTED", "ERROR_PIPE_NOT_CONNECTED"},
    {K::kNtStatus, 0xC0000016, 234, "STATUS_MORE_PROCESSING_REQUIRED", "ERROR_MORE_DATA"},
    {K::kNtStatus, 0xC00000D6, 240, "STATUS_VIRTUAL_CIRCUIT_CLOSED", "ERROR_VC_DISCONNECTED"},
    {K::kNtStatus, 0xC0000120, 995, "STATUS_CANCELLED", "ERROR_OPERATION_ABORTED"},
    {K::kNtStatus, 0xC0000205, 1130, "STATUS_INSUFF_SERVER_RESOURCES",
     "ERROR_NOT_ENOUGH_SERVER_MEMORY"},
    {K::kNtStatus, 0xC0000225, 1168, "STATUS_NOT_FOUND", "ERROR_NOT_FOUND"},
    {K::kNtStatus, 0xC0000236, 1225, "STATUS_CONNECTION_REFUSED", "ERROR_CONNECTION_REFUSED"},
    {K::kNtStatus, 0xC000023C, 1231, "STATUS_NETWORK_UNREACHABLE", "ERROR_NETWORK_UNREACHABLE"},
    {K::kNtStatus, 0xC000023D, 1232, "STATUS_HOST_UNREACHABLE", "ERROR_HOST_UNREACHABLE"},
    {K::kNtStatus, 0xC0000240, 1235, "STATUS_REQUEST_ABORTED", "ERROR_REQUEST_ABORTED"},
    {K::kNtStatus, 0xC0000388, 1265, "STATUS_DOWNGRADE_DETECTED", "ERROR_DOWNGRADE_DETECTED"},
    {K::kNtStatus, 0xC000005E, 1311, "STATUS_NO_LOGON_SERVERS", "ERROR_NO_LOGON_SERVERS"},
    {K::kNtStatus, 0xC000005F, 1312, "STATUS_NO_SUCH_LOGON_SESSION", "ERROR_NO_SUCH_LOGON_SESSION"},
    {K::kNtStatus, 0xC0000061, 1314, "STATUS_PRIVILEGE_NOT_HELD", "ERROR_PRIVILEGE_NOT_HELD"},
    {K::kNtStatus, 0xC0000064, 1317, "STATUS_NO_SUCH_USER", "ERROR_NO_SUCH_USER"},
    {K::kNtStatus, 0xC000006D, 1326, "STATUS_LOGON_FAILURE", "ERROR_LOGON_FAILURE"},
    {K::kNtStatus, 0xC000006E, 1327, "STATUS_ACCOUNT_RESTRICTION", "ERROR_ACCOUNT_RESTRICTION"},
    {K::kNtStatus, 0xC000006F, 1328, "STATUS_INVALID_LOGON_HOURS", "ERROR_INVALID_LOGON_HOURS"},
    {K::kNtStatus, 0xC0000070, 1329, "STATUS_INVALID_WORKSTATION", "ERROR_INVALID_WORKSTATION"},
    {K::kNtStatus, 0xC0000071, 1330, "STATUS_PASSWORD_EXPIRED", "ERROR_PASSWORD_EXPIRED"},
    {K::kNtStatus, 0xC0000072, 1331, "STATUS_ACCOUNT_DISABLED", "ERROR_ACCOUNT_DISABLED"},
    {K::kNtStatus, 0xC0000073, 1332, "STATUS_NONE_MAPPED", "ERROR_NONE_MAPPED"},
    {K::kNtStatus, 0xC0000078, 1337, "STATUS_INVALID_SID", "ERROR_INVALID_SID"},
    {K::kNtStatus, 0xC00000A5, 1346, "STATUS_BAD_IMPERSONATION_LEVEL",
     "ERROR_BAD_IMPERSONATION_LEVEL"},
    {K::kNtStatus, 0xC00000A6, 1347, "STATUS_CANT_OPEN_ANONYMOUS", "ERROR_CANT_OPEN_ANONYMOUS"},
    {K::kNtStatus, 0xC00000DA, 1351, "STATUS_CANT_ACCESS_DOMAIN_INFO",
     "ERROR_CANT_ACCESS_DOMAIN_INFO"},
    {K::kNtStatus, 0xC00000DC, 1352, "STATUS_INVALID_SERVER_STATE", "ERROR_INVALID_SERVER_STATE"},
    {K::kNtStatus, 0xC00000DD, 1353, "STATUS_INVALID_DOMAIN_STATE", "ERROR_INVALID_DOMAIN_STATE"},
    {K::kNtStatus, 0xC00000DE, 1354, "STATUS_INVALID_DOMAIN_ROLE", "ERROR_INVALID_DOMAIN_ROLE"},
    {K::kNtStatus, 0xC00000DF, 1355, "STATUS_NO_SUCH_DOMAIN", "ERROR_NO_SUCH_DOMAIN"},
    {K::kNtStatus, 0xC00000E4, 1358, "STATUS_INTERNAL_DB_CORRUPTION",
     "ERROR_INTERNAL_DB_CORRUPTION"},
    {K::kNtStatus, 0xC00000E5, 1359, "STATUS_INTERNAL_ERROR", "ERROR_INTERNAL_ERROR"},
    {K::kNtStatus, 0xC000015B, 1385, "STATUS_LOGON_TYPE_NOT_GRANTED",
     "ERROR_LOGON_TYPE_NOT_GRANTED"},
    {K::kNtStatus, 0xC000035C, 1394, "STATUS_NETWORK_SESSION_EXPIRED", "ERROR_NO_USER_SESSION_KEY"},
    {K::kNtStatus, 0xC0000133, 1398, "STATUS_TIME_DIFFERENCE_AT_DC", "ERROR_TIME_SKEW"},
    {K::kNtStatus, 0xC000009A, 1450, "STATUS_INSUFFICIENT_RESOURCES", "ERROR_NO_SYSTEM_RESOURCES"},
    {K::kNtStatus, 0xC00000E8, 1784, "STATUS_INVALID_USER_BUFFER", "ERROR_INVALID_USER_BUFFER"},
    {K::kNtStatus, 0xC000018B, 1787, "STATUS_NO_TRUST_SAM_ACCOUNT", "ERROR_NO_TRUST_SAM_ACCOUNT"},
    {K::kNtStatus, 0xC000018C, 1788, "STATUS_TRUSTED_DOMAIN_FAILURE",
     "ERROR_TRUSTED_DOMAIN_FAILURE"},
    {K::kNtStatus, 0xC000018D, 1789, "STATUS_TRUSTED_RELATIONSHIP_FAILURE",
     "ERROR_TRUSTED_RELATIONSHIP_FAILURE"},
    {K::kNtStatus, 0xC0000192, 1792, "STATUS_NETLOGON_NOT_STARTED", "ERROR_NETLOGON_NOT_STARTED"},
    {K::kNtStatus, 0xC0000193, 1793, "STATUS_ACCOUNT_EXPIRED", "ERROR_ACCOUNT_EXPIRED"},
    {K::kNtStatus, 0xC0000199, 1808, "STATUS_NOLOGON_WORKSTATION_TRUST_ACCOUNT",
     "ERROR_NOLOGON_WORKSTATION_TRUST_ACCOUNT"},
    {K::kNtStatus, 0xC0000224, 1907, "STATUS_PASSWORD_MUST_CHANGE", "ERROR_PASSWORD_MUST_CHANGE"},
    {K::kNtStatus, 0xC0000233, 1908, "STATUS_DOMAIN_CONTROLLER_NOT_FOUND",
     "ERROR_DOMAIN_CONTROLLER_NOT_FOUND"},
    {K::kNtStatus, 0xC0000234, 1909, "STATUS_ACCOUNT_LOCKED_OUT", "ERROR_ACCOUNT_LOCKED_OUT"},
    {K::kNtStatus, 0xC0000413, 1935, "STATUS_AUTHENTICATION_FIREWALL_FAILED",
     "ERROR_AUTHENTICATION_FIREWALL_FAILED"},
    // RPC faults and bind rejections (MS-RPCE 3.1.1.5.5).
    {K::kRpcFault, 0x1C010002, 1745, "nca_s_op_rng_error", "RPC_S_PROCNUM_OUT_OF_RANGE"},
    {K::kRpcFault, kBindRejectedInterface, 1717, "nca_s_unk_if / bind reason 1",
     "RPC_S_UNKNOWN_IF"},
    {K::kRpcFault, 0x1C01000B, 1728, "nca_s_proto_error / bind_nak 4", "RPC_S_PROTOCOL_ERROR"},
    {K::kRpcFault, 0x1C00001A, 6, "nca_s_fault_context_mismatch", "ERROR_INVALID_HANDLE"},
    {K::kRpcFault, 0x000006F7, 1783, "nca_s_fault_ndr", "RPC_X_BAD_STUB_DATA"},
    {K::kRpcFault, 0x00000005, 5, "access denied", "ERROR_ACCESS_DENIED"},
    {K::kRpcFault, 0x1C000012, 1726, "nca_s_fault_unspec", "RPC_S_CALL_FAILED"},
    {K::kRpcFault, kBindRejectedOther, 1726, "nca_unspec_reject / bind rejected",
     "RPC_S_CALL_FAILED"},
    {K::kRpcFault, kBindRejectedTransfer, 1730, "bind reason 2", "RPC_S_UNSUPPORTED_TRANS_SYN"},
    // Failures on the socket (see the top of this file).
    {K::kTransport, kResolveFailed, 53, "name does not resolve", "ERROR_BAD_NETPATH"},
    {K::kTransport, kConnectRefused, 53, "connection refused", "ERROR_BAD_NETPATH"},
    {K::kTransport, kUnreachable, 53, "host or network unreachable", "ERROR_BAD_NETPATH"},
    {K::kTransport, kConnectTimeout, 53, "no answer to connecting", "ERROR_BAD_NETPATH"},
    {K::kTransport, kClosedEarly, 53, "closed before NEGOTIATE was answered", "ERROR_BAD_NETPATH"},
    {K::kTransport, kNegativeSession, 53, "NetBIOS negative session response", "ERROR_BAD_NETPATH"},
    {K::kTransport, kReplyTimeout, 121, "no reply in time", "ERROR_SEM_TIMEOUT"},
    {K::kTransport, kOutOfTime, 121, "the query's time ran out on our side", "ERROR_SEM_TIMEOUT"},
    {K::kTransport, kClosed, 64, "closed or reset later on", "ERROR_NETNAME_DELETED"},
    {K::kTransport, kSocketFailure, 59, "other socket error", "ERROR_UNEXP_NET_ERR"},
    {K::kTransport, kNoResources, 8, "no memory, thread or socket on our side",
     "ERROR_NOT_ENOUGH_MEMORY"},
    {K::kMalformed, 0, kErrorBadNetResp, "malformed reply", "ERROR_BAD_NET_RESP"},
    // Our side of the logon and of signing.
    {K::kSecurity, kNoCredential, 0x8009030E, "no credential for the target",
     "SEC_E_NO_CREDENTIALS"},
    {K::kSecurity, kNoAuthority, 0x80090311, "no answer from the KDC",
     "SEC_E_NO_AUTHENTICATING_AUTHORITY"},
    {K::kSecurity, kTargetUnknown, 0x80090303, "the KDC knows no principal for the server",
     "SEC_E_TARGET_UNKNOWN"},
    {K::kSecurity, kContextExpired, 0x80090317, "the ticket has expired", "SEC_E_CONTEXT_EXPIRED"},
    {K::kSecurity, kKerberosFailed, 0x8009030C,
     "Kerberos failed: the KDC refused, or gave no ticket", "SEC_E_LOGON_DENIED"},
    {K::kSecurity, kLogonFailed, 1326, "logon failed on our side", "ERROR_LOGON_FAILURE"},
    {K::kSecurity, kGuestSession, 1326, "credentials not accepted: guest or null session",
     "ERROR_LOGON_FAILURE"},
    {K::kSecurity, kMutualAuthFailed, 0x80090363, "server did not prove itself",
     "SEC_E_MUTUAL_AUTH_FAILED"},
    {K::kSecurity, kBadSignature, 0x8009030F, "signature missing or wrong",
     "SEC_E_MESSAGE_ALTERED"},
    {K::kSecurity, kDowngradeDetected, 1265, "negotiation altered", "ERROR_DOWNGRADE_DETECTED"},
    {K::kSecurity, kNoSessionKey, 0x80090302, "signing needed, no session key",
     "SEC_E_UNSUPPORTED_FUNCTION"},
    {K::kSecurity, kCryptoUnavailable, 0x80090304, "cryptographic library unusable",
     "SEC_E_INTERNAL_ERROR"},
    {K::kSecurity, kDecryptFailed, 0x80090330, "encrypted answer does not decrypt",
     "SEC_E_DECRYPT_FAILURE"},
    {K::kSecurity, kNotEncrypted, 0x8009030F, "answer in clear where encryption is in force",
     "SEC_E_MESSAGE_ALTERED"},
    {K::kSecurity, kNoCipher, 0x80090331, "encryption required, no cipher agreed",
     "SEC_E_ALGORITHM_MISMATCH"},
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
  // An exception in the server's routine comes back as a fault that
  // carries its NTSTATUS: the same number as that status anywhere else.
  if (s.kind == StatusKind::kRpcFault && s.code >> 30 == 3)
    return ToPlatformError(NtFailure(s.code));
  // Our own codes that the table lacks cannot come from a server.
  if (s.kind == StatusKind::kTransport) return kErrorUnexpNetErr;
  if (s.kind == StatusKind::kSecurity) return 1326;  // ERROR_LOGON_FAILURE
  // A failure must never read as success, even when a server sent 0.
  if (s.code == 0) return kErrorBadNetResp;
  return s.code;
}

}  // namespace net
