// SPDX-License-Identifier: Apache-2.0
// MIT Kerberos' GSSAPI library, loaded when a logon first needs it rather
// than when the program starts: a query that finds no credential, or never
// gets as far as a logon, does not pay for mapping and binding the seven
// libraries it brings.
#ifndef KESTRIN_AUTH_GSSAPI_LIBRARY_H_
#define KESTRIN_AUTH_GSSAPI_LIBRARY_H_

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5/krb5.h>

namespace net {

/// The library's calls and name types that the logon uses.
struct GssApi {
  decltype(&gss_acquire_cred) acquire_cred;
  decltype(&gss_delete_sec_context) delete_sec_context;
  decltype(&gss_display_status) display_status;
  decltype(&gss_import_name) import_name;
  decltype(&gss_init_sec_context) init_sec_context;
  decltype(&gss_inquire_sec_context_by_oid) inquire_sec_context_by_oid;
  decltype(&gss_release_buffer) release_buffer;
  decltype(&gss_release_buffer_set) release_buffer_set;
  decltype(&gss_release_cred) release_cred;
  decltype(&gss_release_name) release_name;
  decltype(&gss_set_neg_mechs) set_neg_mechs;
  gss_OID nt_hostbased_service;    // GSS_C_NT_HOSTBASED_SERVICE
  gss_OID krb5_nt_principal_name;  // GSS_KRB5_NT_PRINCIPAL_NAME
  gss_OID inq_sspi_session_key;    // GSS_C_INQ_SSPI_SESSION_KEY
  // The krb5 library, which the GSSAPI library brings with it: its ticket
  // cache, read to decide on this computer alone whether Kerberos applies,
  // and the service ticket's request, made with a check of every KDC answer.
  decltype(&krb5_init_context) k5_init_context;
  decltype(&krb5_free_context) k5_free_context;
  decltype(&krb5_cc_default) k5_cc_default;
  decltype(&krb5_cc_close) k5_cc_close;
  decltype(&krb5_cc_get_principal) k5_cc_get_principal;
  decltype(&krb5_cc_retrieve_cred) k5_cc_retrieve_cred;
  decltype(&krb5_build_principal_ext) k5_build_principal_ext;
  decltype(&krb5_free_principal) k5_free_principal;
  decltype(&krb5_free_cred_contents) k5_free_cred_contents;
  decltype(&krb5_parse_name) k5_parse_name;
  decltype(&krb5_get_credentials) k5_get_credentials;
  decltype(&krb5_free_creds) k5_free_creds;
  decltype(&krb5_set_kdc_recv_hook) k5_set_kdc_recv_hook;
  decltype(&krb5_rd_error) k5_rd_error;
  decltype(&krb5_free_error) k5_free_error;
};

/// The library, loaded on the first call (once per process, thread-safe);
/// null when it is not installed or lacks a call, and then no logon with
/// credentials is possible.
const GssApi* GssLibrary();

}  // namespace net

#endif  // KESTRIN_AUTH_GSSAPI_LIBRARY_H_
