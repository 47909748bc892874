// How a WHOIS answer's text falls into lines.
#include "whois/AnswerLines.h"

namespace tarnwick {

// The one rule of what ends a line. A text box shows U+2028 as a line break like the others and
// lays out every line it makes (uncounted, 8 MiB of them took it 135 MiB), so the limit counts
// it; the box gets a paragraph break in its place, which looks the same and keeps a paragraph of
// such lines within kLongestShownLine.
bool EndsLine(QChar character) {
    switch (character.unicode()) {
    case u'\n':
    case u'\r':
    case QChar::LineSeparator:
    case QChar::ParagraphSeparator:
    case 0xFDD0: // start of a frame
    case 0xFDD1: // end of a frame
        return true;
    default:
        return false;
    }
}

QString ShownLines::Next(QStringView piece) {
    QString shown;
    qsizetype copied = 0;
    for (qsizetype at = 0; at < piece.size(); ++at) {
        const QChar character = piece[at];
        const LineEnds::Kind kind = lineEnds_.Read(character);
        if (kind == LineEnds::Kind::CrLfTail && at == 0) {
            copied = 1; // its CR ended the line in the piece before
        }
        if (kind != LineEnds::Kind::Text) {
            lineLength_ = 0;
            if (character == QChar::LineSeparator) {
                shown += piece.sliced(copied, at - copied);
                shown += u'\n';
                copied = at + 1;
            }
            continue;
        }
        const bool secondHalf =
            character.isLowSurrogate() && at > 0 && piece[at - 1].isHighSurrogate();
        if (lineLength_ >= kLongestShownLine && !secondHalf) {
            shown += piece.sliced(copied, at - copied);
            shown += u'\n';
            copied = at;
            lineLength_ = 0;
        }
        ++lineLength_;
    }
    if (shown.isEmpty() && copied == 0) {
        return piece.toString(); // nothing left out, no line broken
    }
    shown += piece.sliced(copied);
    return shown;
}

} // namespace tarnwick
