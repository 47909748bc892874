// Turns the bytes of a WHOIS answer into text, piece by piece.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tarnwick {

// The symbol shown in place of a NUL byte, which text widgets would not show.
inline constexpr char16_t kNulSymbol = u'\u2400';

// UTF-8 (so ASCII is one byte per character); a character split between two pieces comes out
// whole with the second, invalid bytes become U+FFFD, NUL bytes become kNulSymbol, nothing is
// dropped, not even a leading byte-order mark.
class AnswerDecoder {
public:
    QString Decode(QByteArrayView bytes);
    // What is left of a character that the answer ended in the middle of, and a fresh start.
    QString Finish();

private:
    // The start of a character whose last bytes are still to come. Kept by hand: Qt 6.4's
    // stateful decoder drops the byte after a character cut short at a piece boundary.
    QByteArray unfinished_;
};

} // namespace tarnwick
