#include "PatchSignature.h"

#include <QList>
#include <algorithm>
#include <cstring>
#include <sodium.h>

namespace {

constexpr std::array<std::uint8_t, 2> Prehashed{'E', 'D'};
constexpr std::array<std::uint8_t, 2> Legacy{'E', 'd'};
constexpr int MaxVersionDigits = 18; // fits a signed 64-bit number

template <std::size_t N> std::array<std::uint8_t, N> Take(const QByteArray& bytes, qsizetype from)
{
    if (from < 0 || bytes.size() - from < qsizetype(N))
        throw SignatureError("malformed signature");
    std::array<std::uint8_t, N> out{};
    std::memcpy(out.data(), bytes.constData() + from, N);
    return out;
}

QByteArray StrictBase64(const QByteArray& text, qsizetype expectedBytes, const char* what)
{
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != expectedBytes)
        throw SignatureError(std::string("malformed ") + what);
    return decoded.decoded;
}

void InitSodium()
{
    if (sodium_init() < 0)
        throw SignatureError("no cryptography library");
}

bool IsDigits(const QString& text)
{
    return !text.isEmpty() && text.size() <= MaxVersionDigits
        && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

UpdateKey UpdateKey::Parse(const QByteArray& base64Line)
{
    const QByteArray bytes = StrictBase64(base64Line.trimmed(), 42, "update key");
    if (Take<2>(bytes, 0) != Legacy)
        throw SignatureError("the update key is not an Ed25519 minisign key");
    return {Take<8>(bytes, 2), Take<32>(bytes, 10)};
}

PatchSignature PatchSignature::Parse(const QByteArray& file)
{
    if (file.size() > MaxFileBytes)
        throw SignatureError("signature file too large");
    QList<QByteArray> lines = file.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    static const QByteArray untrusted = "untrusted comment: ";
    static const QByteArray trusted = "trusted comment: ";
    if (lines.size() != 4 || !lines[0].startsWith(untrusted) || !lines[2].startsWith(trusted))
        throw SignatureError("malformed signature file");
    const QByteArray signatureLine = StrictBase64(lines[1], 74, "signature");
    PatchSignature parsed;
    parsed.algorithm = Take<2>(signatureLine, 0);
    parsed.keyId = Take<8>(signatureLine, 2);
    parsed.signature = Take<64>(signatureLine, 10);
    parsed.trustedComment = lines[2].mid(trusted.size());
    parsed.globalSignature = Take<64>(StrictBase64(lines[3], 64, "global signature"), 0);
    return parsed;
}

PatchHash::PatchHash()
    : m_state(std::make_unique<crypto_generichash_blake2b_state>())
{
    InitSodium();
    crypto_generichash_blake2b_init(m_state.get(), nullptr, 0, 64);
}

PatchHash::~PatchHash() = default;

void PatchHash::Add(const QByteArray& bytes)
{
    crypto_generichash_blake2b_update(m_state.get(), reinterpret_cast<const unsigned char*>(bytes.constData()),
        std::size_t(bytes.size()));
}

std::array<std::uint8_t, 64> PatchHash::Final()
{
    std::array<std::uint8_t, 64> hash{};
    crypto_generichash_blake2b_final(m_state.get(), hash.data(), hash.size());
    return hash;
}

QString SignedVersion(const QByteArray& trustedComment)
{
    // The comment may carry more, as minisign's own does (timestamp:…\tfile:…).
    for (const QByteArray& word : trustedComment.simplified().split(' ')) {
        if (!word.startsWith("version="))
            continue;
        const QString version = QString::fromLatin1(word.mid(8));
        return IsDigits(version) ? version : QString();
    }
    return {};
}

void VerifyPatch(const UpdateKey& key, const PatchSignature& signature, const std::array<std::uint8_t, 64>& fileHash,
    const QString& installedVersion)
{
    InitSodium();
    if (signature.algorithm == Legacy)
        throw SignatureError("legacy signature (not over the file's hash) refused");
    if (signature.algorithm != Prehashed)
        throw SignatureError("unknown signature algorithm");
    if (signature.keyId != key.id)
        throw SignatureError("signed by another key");
    if (crypto_sign_verify_detached(signature.signature.data(), fileHash.data(), fileHash.size(), key.publicKey.data()) != 0)
        throw SignatureError("the signature does not match the patch");
    QByteArray signedComment(reinterpret_cast<const char*>(signature.signature.data()), qsizetype(signature.signature.size()));
    signedComment += signature.trustedComment;
    if (crypto_sign_verify_detached(signature.globalSignature.data(),
            reinterpret_cast<const unsigned char*>(signedComment.constData()), std::size_t(signedComment.size()),
            key.publicKey.data()) != 0)
        throw SignatureError("the trusted comment does not match its signature");
    const QString version = SignedVersion(signature.trustedComment);
    if (version.isEmpty())
        throw SignatureError("the trusted comment names no version");
    if (!IsDigits(installedVersion))
        throw SignatureError("the installed version is not a number to compare with");
    if (version.toLongLong() <= installedVersion.toLongLong())
        throw SignatureError("the patch is not newer than the installed version");
}
