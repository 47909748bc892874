// Fuzzes what reads a WHOIS server's bytes: the answer cut at places the input chooses must
// decode to the same text as the whole (and as Qt's own decoding, with the byte-order mark and
// NUL shown), and must name the same referral; so must the answer with its lines ending in CR.
#include "fuzz/Require.h"
#include "whois/AnswerDecoder.h"
#include "whois/WhoisReferral.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

namespace {

using tarnwick::AnswerDecoder;
using tarnwick::ReferralScanner;
using tarnwick::fuzz::Require;

QString Reference(const QByteArray& bytes) {
    // fromUtf8 drops a leading byte-order mark, which the answer keeps as text.
    QString text = bytes.startsWith("\xEF\xBB\xBF") ? QStringLiteral("\uFEFF") : QString();
    text += QString::fromUtf8(bytes);
    return text.replace(QChar(u'\0'), QChar(tarnwick::kNulSymbol));
}

QString Found(const ReferralScanner& scanner) {
    const auto& referral = scanner.Referral();
    return referral ? referral->host + u':' + QString::number(referral->port.value_or(0))
                    : QStringLiteral("none");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::size_t> cuts(input.ConsumeIntegralInRange<std::size_t>(0, 16));
    for (std::size_t& cut : cuts) {
        cut = input.ConsumeIntegralInRange<std::size_t>(0, 64);
    }
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray answer(rest.data(), static_cast<qsizetype>(rest.size()));

    AnswerDecoder whole;
    const QString text = whole.Decode(answer) + whole.Finish();
    Require(text == Reference(answer), "decoded text differs from Qt's decoding");

    AnswerDecoder decoder;
    ReferralScanner inPieces;
    QString pieces;
    qsizetype at = 0;
    for (const std::size_t cut : cuts) {
        const qsizetype length =
            std::min<qsizetype>(static_cast<qsizetype>(cut), answer.size() - at);
        pieces += decoder.Decode(QByteArrayView(answer).sliced(at, length));
        at += length;
        inPieces.Scan(pieces);
    }
    pieces += decoder.Decode(QByteArrayView(answer).sliced(at));
    pieces += decoder.Finish();
    Require(pieces == text, "text decoded in pieces differs from the whole");

    inPieces.Scan(pieces);
    ReferralScanner atOnce;
    // Its lines ending in CR alone, the whole answer must refer as the pieces did.
    atOnce.Scan(QString(text).replace(u'\n', u'\r'));
    Require(Found(inPieces) == Found(atOnce), "referral read in pieces differs from the whole");
    return 0;
}
