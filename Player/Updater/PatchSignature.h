#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>

struct crypto_generichash_blake2b_state;

// Why a patch was not trusted; the updater ends silently with it.
class SignatureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The station's update key: the base64 line of the public key file that
// `minisign -G` writes (Ed25519, with an 8-byte key id).
struct UpdateKey {
    std::array<std::uint8_t, 8> id{};
    std::array<std::uint8_t, 32> publicKey{};

    // Throws SignatureError when the line is not a minisign public key.
    static UpdateKey Parse(const QByteArray& base64Line);
};

// A minisign signature file: untrusted comment, signature line, trusted
// comment, global signature over the signature and the trusted comment.
struct PatchSignature {
    static constexpr qint64 MaxFileBytes = 8 * 1024;

    std::array<std::uint8_t, 2> algorithm{}; // "ED": over the file's BLAKE2b-512; "Ed": the legacy form
    std::array<std::uint8_t, 8> keyId{};
    std::array<std::uint8_t, 64> signature{};
    QByteArray trustedComment;               // without its "trusted comment: " label
    std::array<std::uint8_t, 64> globalSignature{};

    // Throws SignatureError for anything that is not such a file.
    static PatchSignature Parse(const QByteArray& file);
};

// BLAKE2b-512 of a file, fed as it downloads.
class PatchHash {
public:
    PatchHash();
    ~PatchHash();
    PatchHash(const PatchHash&) = delete;
    PatchHash& operator=(const PatchHash&) = delete;
    void Add(const QByteArray& bytes);
    std::array<std::uint8_t, 64> Final();

private:
    std::unique_ptr<crypto_generichash_blake2b_state> m_state;
};

// The version the trusted comment names with "version=": digits only, else empty.
QString SignedVersion(const QByteArray& trustedComment);

// Checks that the signature is the key's over the file's hash, that its
// trusted comment is the key's too, and that it names a version newer than
// the installed one (both compared as numbers). Throws SignatureError saying
// which check failed.
void VerifyPatch(const UpdateKey& key, const PatchSignature& signature, const std::array<std::uint8_t, 64>& fileHash,
    const QString& installedVersion);
