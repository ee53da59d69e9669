// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// The operator's identity, made with OpenSSL: an elliptic-curve key and a certificate signed by
// it, shaped as `openssl req -x509` makes them, which is what ser2net's allowed certificates are;
// and the certificates' fingerprints, the one other part of the pins that needs OpenSSL.
#include "station/OperatorIdentity.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "serial/PortsDirectory.h"
#include "station/NetworkAddress.h"
#include "station/PrivateFile.h"
#include "station/StationPins.h"

namespace {

constexpr const char* kKeyName = "operator.key";
constexpr const char* kCertName = "operator.crt";
constexpr long kValiditySeconds = 20L * 365 * 24 * 3600;

template <auto Free>
struct TFreeWith {
  template <typename T>
  void operator()(T* pointer) const {
    Free(pointer);
  }
};
using TKey = std::unique_ptr<EVP_PKEY, TFreeWith<EVP_PKEY_free>>;
using TCertificate = std::unique_ptr<X509, TFreeWith<X509_free>>;
using TBio = std::unique_ptr<BIO, TFreeWith<BIO_free_all>>;
using TExtension = std::unique_ptr<X509_EXTENSION, TFreeWith<X509_EXTENSION_free>>;
using TBignum = std::unique_ptr<BIGNUM, TFreeWith<BN_free>>;

std::string LoginName() {
  if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name) return entry->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

// ser2net looks for the allowed certificates in a folder named after the common name.
bool UsableCommonName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.' || name[0] == '-') return false;
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-' || c == '@';
    if (!plain) return false;
  }
  return true;
}

// A regular file of the user's own, not a link, in a private folder; the key besides readable
// by nobody else.
bool SoundFile(const std::string& path, bool secret, bool& present, std::string& reason) {
  const int fd = OpenPrivateFile(path, secret ? 077 : 022, reason);
  present = fd >= 0 || !reason.empty();
  if (fd >= 0) ::close(fd);
  return reason.empty();
}

bool AddExtension(X509* certificate, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  TExtension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

TCertificate SelfSigned(EVP_PKEY* key, const std::string& commonName) {
  TCertificate certificate(X509_new());
  unsigned char random[16];
  if (!certificate || RAND_bytes(random, sizeof random) != 1) return nullptr;
  random[0] &= 0x7F;  // a positive serial number
  TBignum serial(BN_bin2bn(random, sizeof random, nullptr));
  X509_NAME* name = X509_get_subject_name(certificate.get());
  const bool made =
      serial && X509_set_version(certificate.get(), 2) == 1 &&
      BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())) &&
      X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0) &&
      X509_gmtime_adj(X509_getm_notAfter(certificate.get()), kValiditySeconds) &&
      X509_set_pubkey(certificate.get(), key) == 1 &&
      X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                 reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                                 0) == 1 &&
      X509_set_issuer_name(certificate.get(), name) == 1 &&
      AddExtension(certificate.get(), NID_subject_key_identifier, "hash") &&
      AddExtension(certificate.get(), NID_authority_key_identifier, "keyid:always") &&
      AddExtension(certificate.get(), NID_basic_constraints, "critical,CA:TRUE") &&
      X509_sign(certificate.get(), key, EVP_sha256()) > 0;
  return made ? std::move(certificate) : nullptr;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

TCertificate ReadCertificate(const std::string& certFile) {
  TBio file(BIO_new_file(certFile.c_str(), "r"));
  return TCertificate(file ? PEM_read_bio_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
}

}  // namespace

std::optional<TOperatorIdentity> ExistingOperatorIdentity(std::string& reason) {
  reason.clear();
  const std::string directory = UserConfigDirectory();
  if (directory.empty()) return std::nullopt;
  TOperatorIdentity identity{directory + "/" + kCertName, directory + "/" + kKeyName};
  bool keyPresent = false;
  bool certPresent = false;
  if (!SoundFile(identity.KeyFile, true, keyPresent, reason) ||
      !SoundFile(identity.CertFile, false, certPresent, reason))
    return std::nullopt;
  if (keyPresent && certPresent) return identity;
  if (keyPresent != certPresent)
    reason = (keyPresent ? identity.CertFile : identity.KeyFile) + " is missing; remove " +
             (keyPresent ? identity.KeyFile : identity.CertFile) + " to make a new identity";
  return std::nullopt;
}

std::optional<TOperatorIdentity> EnsureOperatorIdentity(const std::string& commonName,
                                                        std::string& reason) {
  if (std::optional<TOperatorIdentity> identity = ExistingOperatorIdentity(reason)) return identity;
  if (!reason.empty()) return std::nullopt;
  const std::string directory = UserConfigDirectory();
  if (directory.empty()) {
    reason = "Neither XDG_CONFIG_HOME nor HOME names a place for the operator's identity";
    return std::nullopt;
  }
  const std::string name = commonName.empty() ? LoginName() : commonName;
  if (!UsableCommonName(name)) {
    reason =
        "\"" + name + "\" cannot name an operator: use letters, digits and . _ - @ (at most 64)";
    return std::nullopt;
  }
  if (!MakePrivateFolder(directory, reason)) return std::nullopt;
  TKey key(EVP_EC_gen("P-256"));
  TCertificate certificate = key ? SelfSigned(key.get(), name) : nullptr;
  TBio keyText(BIO_new(BIO_s_mem()));
  TBio certText(BIO_new(BIO_s_mem()));
  if (!certificate || !keyText || !certText ||
      PEM_write_bio_PrivateKey(keyText.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
          1 ||
      PEM_write_bio_X509(certText.get(), certificate.get()) != 1) {
    reason = "OpenSSL could not make the operator's key and certificate";
    return std::nullopt;
  }
  const TOperatorIdentity identity{directory + "/" + kCertName, directory + "/" + kKeyName};
  // The key first: a certificate without its key is never left as the only file.
  if (!WritePrivateFile(identity.KeyFile, BioText(keyText.get()), 0600, reason))
    return std::nullopt;
  if (!WritePrivateFile(identity.CertFile, BioText(certText.get()), 0644, reason)) {
    ::unlink(identity.KeyFile.c_str());
    return std::nullopt;
  }
  return identity;
}

bool UseOperatorIdentity(TNetworkAddress& address, std::string& reason) {
  if (address.Kind != TNetworkKind::Rfc2217Tls || !address.CertFile.empty() ||
      !address.KeyFile.empty())
    return true;
  std::optional<TOperatorIdentity> identity = ExistingOperatorIdentity(reason);
  if (!identity) return reason.empty();
  address.CertFile = identity->CertFile;
  address.KeyFile = identity->KeyFile;
  return true;
}

std::string CertificateCommonName(const std::string& certFile) {
  const TCertificate certificate = ReadCertificate(certFile);
  if (!certificate) return {};
  char name[256] = {};
  const int size = X509_NAME_get_text_by_NID(X509_get_subject_name(certificate.get()),
                                             NID_commonName, name, sizeof name);
  return size > 0 ? std::string(name, static_cast<std::size_t>(size)) : std::string();
}

std::string PemFingerprint(std::string_view pem) {
  BIO* memory = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509* certificate = memory ? PEM_read_bio_X509(memory, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(memory);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  const bool made = certificate && X509_digest(certificate, EVP_sha256(), digest, &size) == 1;
  X509_free(certificate);
  if (!made) return {};
  std::string text;
  for (unsigned i = 0; i < size; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
    text += pair;
  }
  return text;
}

std::string CertificateFingerprint(const std::string& certFile) {
  std::ifstream file(certFile);
  std::ostringstream text;
  text << file.rdbuf();
  return PemFingerprint(text.str());
}
