// Turns the bytes of a WHOIS answer into text, piece by piece.
#include "whois/AnswerDecoder.h"

#include <QStringDecoder>

namespace tarnwick {

namespace {

QString TextOf(QByteArrayView bytes) {
    // Stateless: unfinished characters are held back by hand. A byte-order mark is text too
    // (QString::fromUtf8 would drop one at the start of every piece).
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    return text.replace(QChar(u'\0'), QChar(kNulSymbol));
}

// How many bytes a character takes that starts with `lead`; 1 for ASCII and for bytes that
// cannot start one (the decoder turns those into U+FFFD).
int CharacterLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 1;
}

// The length of `bytes` without a character at its end that still lacks bytes.
qsizetype CompleteLength(QByteArrayView bytes) {
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes[size - back]);
        if ((byte & 0xC0) != 0x80) {
            return CharacterLength(byte) > back ? size - back : size;
        }
    }
    return size;
}

} // namespace

QString AnswerDecoder::Decode(QByteArrayView bytes) {
    QByteArray joined;
    if (!unfinished_.isEmpty()) {
        joined = unfinished_;
        joined.append(bytes);
        bytes = joined;
    }
    const qsizetype complete = CompleteLength(bytes);
    unfinished_ = bytes.sliced(complete).toByteArray();
    return TextOf(bytes.first(complete));
}

QString AnswerDecoder::Finish() {
    const QString rest = TextOf(unfinished_);
    unfinished_.clear();
    return rest;
}

} // namespace tarnwick
