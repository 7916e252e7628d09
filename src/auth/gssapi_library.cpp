// SPDX-License-Identifier: Apache-2.0
#include "auth/gssapi_library.h"

#include <dlfcn.h>

namespace net {
namespace {

/// The library's name with its ABI version, as Debian's libgssapi-krb5-2
/// installs it.
constexpr char kLibraryName[] = "libgssapi_krb5.so.2";

template <typename T>
bool Find(void* library, const char* name, T* out) {
  *out = reinterpret_cast<T>(dlsym(library, name));
  return *out != nullptr;
}

/// A name type the library exports as a variable holding an OID pointer.
bool FindOid(void* library, const char* name, gss_OID* out) {
  gss_OID* variable = nullptr;
  if (!Find(library, name, &variable)) return false;
  *out = *variable;
  return *out != nullptr;
}

/// Loads the library and looks up every call; the library stays loaded for
/// the life of the process (its mechanisms keep state).
bool Load(GssApi* api) {
  void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  bool found = Find(library, "gss_acquire_cred", &api->acquire_cred) &&
               Find(library, "gss_delete_sec_context", &api->delete_sec_context) &&
               Find(library, "gss_display_status", &api->display_status) &&
               Find(library, "gss_import_name", &api->import_name) &&
               Find(library, "gss_init_sec_context", &api->init_sec_context) &&
               Find(library, "gss_inquire_sec_context_by_oid", &api->inquire_sec_context_by_oid) &&
               Find(library, "gss_release_buffer", &api->release_buffer) &&
               Find(library, "gss_release_buffer_set", &api->release_buffer_set) &&
               Find(library, "gss_release_cred", &api->release_cred) &&
               Find(library, "gss_release_name", &api->release_name) &&
               Find(library, "gss_set_neg_mechs", &api->set_neg_mechs) &&
               FindOid(library, "GSS_C_NT_HOSTBASED_SERVICE", &api->nt_hostbased_service) &&
               FindOid(library, "GSS_KRB5_NT_PRINCIPAL_NAME", &api->krb5_nt_principal_name) &&
               FindOid(library, "GSS_C_INQ_SSPI_SESSION_KEY", &api->inq_sspi_session_key) &&
               // Found through the GSSAPI library's own dependency, libkrb5.so.3.
               Find(library, "krb5_init_context", &api->k5_init_context) &&
               Find(library, "krb5_free_context", &api->k5_free_context) &&
               Find(library, "krb5_cc_default", &api->k5_cc_default) &&
               Find(library, "krb5_cc_close", &api->k5_cc_close) &&
               Find(library, "krb5_cc_get_principal", &api->k5_cc_get_principal) &&
               Find(library, "krb5_cc_retrieve_cred", &api->k5_cc_retrieve_cred) &&
               Find(library, "krb5_build_principal_ext", &api->k5_build_principal_ext) &&
               Find(library, "krb5_free_principal", &api->k5_free_principal) &&
               Find(library, "krb5_free_cred_contents", &api->k5_free_cred_contents) &&
               Find(library, "krb5_parse_name", &api->k5_parse_name) &&
               Find(library, "krb5_get_credentials", &api->k5_get_credentials) &&
               Find(library, "krb5_free_creds", &api->k5_free_creds) &&
               Find(library, "krb5_set_kdc_recv_hook", &api->k5_set_kdc_recv_hook) &&
               Find(library, "krb5_rd_error", &api->k5_rd_error) &&
               Find(library, "krb5_free_error", &api->k5_free_error);
  if (!found) dlclose(library);
  return found;
}

}  // namespace

const GssApi* GssLibrary() {
  static GssApi api;
  static const bool loaded = Load(&api);  // initialised once, under the runtime's guard
  return loaded ? &api : nullptr;
}

}  // namespace net
